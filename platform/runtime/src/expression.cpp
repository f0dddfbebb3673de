// The expression compiler: a lexer and a recursive-descent parser that build the node tree.
//
// Grammar, lowest precedence first (all binary operators associate to the left):
//   block      := "{" "|" "|" expr "}" | expr
//   or         := and { ".OR." and }
//   and        := not { ".AND." not }
//   not        := (".NOT." | "!") not | compare
//   compare    := sum { ("=" | "==" | "!=" | "<>" | "#" | "<" | "<=" | ">" | ">=" | "$") sum }
//   sum        := product { ("+" | "-") product }
//   product    := power { ("*" | "/" | "%") power }
//   power      := unary { ("^" | "**") unary }
//   unary      := ("-" | "+") unary | primary
//   primary    := number | string | ".T." | ".F." | ".Y." | ".N." | "NIL" | "(" expr ")"
//               | name "(" [expr {"," expr}] ")" | name ["->" name]
// IIF and IF calls are the inline conditional, evaluated lazily. "FIELD->X" names field X; any
// other "ALIAS->X" is handed to the resolver as the name "ALIAS->X".
#include <cctype>
#include <exception>

#include "expression_tree.h"
#include "runtime/error.h"

namespace rt {
namespace {

using expr::NodePtr;

// Deepest tree the compiler accepts: keeps evaluation and destruction far from the stack's end.
constexpr int kMaxDepth = 256;

enum class Tok { End, Number, String, Name, Op, DotWord };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // operator or name (names and dot words in upper case), string content
  int position = 0;  // 1-based
};

// A compile failure: raised by compile() with the code, position and what was found.
struct CompileFault {
  int genCode;
  int position;
  std::string what;
};

bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Token next() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    Token t;
    t.position = static_cast<int>(pos_) + 1;
    if (pos_ >= text_.size()) return t;
    char c = text_[pos_];
    if (c == '.' && dotWord(t)) return t;
    if (isDigit(c) || (c == '.' && pos_ + 1 < text_.size() && isDigit(text_[pos_ + 1]))) {
      std::size_t start = pos_;
      while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '.' && pos_ + 1 < text_.size() && isDigit(text_[pos_ + 1])) {
        ++pos_;
        while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
      }
      t.kind = Tok::Number;
      t.text = std::string(text_.substr(start, pos_ - start));
      return t;
    }
    if (c == '"' || c == '\'') {
      std::size_t end = text_.find(c, pos_ + 1);
      if (end == std::string_view::npos)
        throw CompileFault{EG_SYNTAX, t.position, "Unterminated string"};
      t.kind = Tok::String;
      t.text = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return t;
    }
    if (isNameStart(c)) {
      std::size_t start = pos_;
      while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
      t.kind = Tok::Name;
      t.text = toUpper(text_.substr(start, pos_ - start));
      return t;
    }
    static const char* const kOps[] = {"==", "!=", "<>", "<=", ">=", "**", "->", "=", "#", "<", ">",
                                       "$",  "+",  "-",  "*",  "/",  "%",  "^",  "!", "(", ")", ",",
                                       "{",  "}",  "|"};
    for (const char* op : kOps) {
      std::string_view o(op);
      if (text_.substr(pos_, o.size()) == o) {
        t.kind = Tok::Op;
        t.text = std::string(o);
        pos_ += o.size();
        return t;
      }
    }
    throw CompileFault{EG_SYNTAX, t.position, std::string("Unexpected character \"") + c + "\""};
  }

 private:
  // ".AND.", ".OR.", ".NOT.", ".T.", ".F.", ".Y.", ".N." in any case.
  bool dotWord(Token& t) {
    std::size_t end = pos_ + 1;
    while (end < text_.size() && std::isalpha(static_cast<unsigned char>(text_[end]))) ++end;
    if (end >= text_.size() || text_[end] != '.' || end == pos_ + 1) return false;
    std::string word = toUpper(text_.substr(pos_ + 1, end - pos_ - 1));
    if (word != "AND" && word != "OR" && word != "NOT" && word != "T" && word != "F" && word != "Y" &&
        word != "N")
      return false;
    t.kind = Tok::DotWord;
    t.text = word;
    pos_ = end + 1;
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) { advance(); }

  NodePtr parseAll() {
    bool blockForm = false;
    if (isOp("{")) {
      blockForm = true;
      advance();
      expectOp("|", "\"|\" of the block's parameter list");
      if (!isOp("|"))
        throw CompileFault{EG_SYNTAX, tok_.position, "A block takes no parameters here, found " + found()};
      advance();
    }
    if (tok_.kind == Tok::End)
      throw CompileFault{EG_SYNTAX, tok_.position, "Empty expression"};
    NodePtr root = parseOr();
    if (blockForm) expectOp("}", "\"}\" closing the block");
    if (tok_.kind != Tok::End)
      throw CompileFault{EG_SYNTAX, tok_.position, "Unexpected " + found() + " after the expression"};
    return root;
  }

 private:
  void advance() { tok_ = lexer_.next(); }
  bool isOp(const char* op) const { return tok_.kind == Tok::Op && tok_.text == op; }
  bool isDotWord(const char* w) const { return tok_.kind == Tok::DotWord && tok_.text == w; }

  std::string found() const {
    switch (tok_.kind) {
      case Tok::End: return "end of text";
      case Tok::String: return "string \"" + tok_.text + "\"";
      case Tok::DotWord: return "\"." + tok_.text + ".\"";
      default: return "\"" + tok_.text + "\"";
    }
  }

  void expectOp(const char* op, const std::string& what) {
    if (!isOp(op)) throw CompileFault{EG_SYNTAX, tok_.position, "Expected " + what + ", found " + found()};
    advance();
  }

  NodePtr checked(NodePtr node) {
    if (node->depth() > kMaxDepth)
      throw CompileFault{EG_COMPLEXITY, node->position(), "Expression nested too deeply"};
    return node;
  }

  // Guards the parser's own recursion, which nested parentheses and prefixes drive.
  struct Nesting {
    explicit Nesting(Parser& p) : parser(p) {
      if (++parser.nesting_ > kMaxDepth)
        throw CompileFault{EG_COMPLEXITY, parser.tok_.position, "Expression nested too deeply"};
    }
    ~Nesting() { --parser.nesting_; }
    Parser& parser;
  };

  NodePtr parseOr() {
    NodePtr left = parseAnd();
    while (isDotWord("OR")) {
      int at = tok_.position;
      advance();
      left = checked(std::make_unique<expr::Logical>(at, false, std::move(left), parseAnd()));
    }
    return left;
  }

  NodePtr parseAnd() {
    NodePtr left = parseNot();
    while (isDotWord("AND")) {
      int at = tok_.position;
      advance();
      left = checked(std::make_unique<expr::Logical>(at, true, std::move(left), parseNot()));
    }
    return left;
  }

  NodePtr parseNot() {
    if (isDotWord("NOT") || isOp("!")) {
      Nesting guard(*this);
      int at = tok_.position;
      advance();
      return checked(std::make_unique<expr::Unary>(at, true, parseNot()));
    }
    return parseCompare();
  }

  bool compareOp(ops::Op& op) const {
    if (tok_.kind != Tok::Op) return false;
    const std::string& t = tok_.text;
    if (t == "=") op = ops::Op::Eq;
    else if (t == "==") op = ops::Op::ExactEq;
    else if (t == "!=" || t == "<>" || t == "#") op = ops::Op::Ne;
    else if (t == "<") op = ops::Op::Lt;
    else if (t == "<=") op = ops::Op::Le;
    else if (t == ">") op = ops::Op::Gt;
    else if (t == ">=") op = ops::Op::Ge;
    else if (t == "$") op = ops::Op::Contains;
    else return false;
    return true;
  }

  NodePtr parseCompare() {
    NodePtr left = parseSum();
    ops::Op op;
    while (compareOp(op)) {
      int at = tok_.position;
      advance();
      left = checked(std::make_unique<expr::Binary>(at, op, std::move(left), parseSum()));
    }
    return left;
  }

  NodePtr parseSum() {
    NodePtr left = parseProduct();
    while (isOp("+") || isOp("-")) {
      ops::Op op = tok_.text == "+" ? ops::Op::Add : ops::Op::Sub;
      int at = tok_.position;
      advance();
      left = checked(std::make_unique<expr::Binary>(at, op, std::move(left), parseProduct()));
    }
    return left;
  }

  NodePtr parseProduct() {
    NodePtr left = parsePower();
    while (isOp("*") || isOp("/") || isOp("%")) {
      ops::Op op = tok_.text == "*" ? ops::Op::Mul : tok_.text == "/" ? ops::Op::Div : ops::Op::Mod;
      int at = tok_.position;
      advance();
      left = checked(std::make_unique<expr::Binary>(at, op, std::move(left), parsePower()));
    }
    return left;
  }

  NodePtr parsePower() {
    NodePtr left = parseUnary();
    while (isOp("^") || isOp("**")) {
      int at = tok_.position;
      advance();
      left = checked(std::make_unique<expr::Binary>(at, ops::Op::Pow, std::move(left), parseUnary()));
    }
    return left;
  }

  NodePtr parseUnary() {
    if (isOp("-") || isOp("+")) {
      Nesting guard(*this);
      bool minus = tok_.text == "-";
      int at = tok_.position;
      advance();
      NodePtr operand = parseUnary();
      if (!minus) return operand;
      return checked(std::make_unique<expr::Unary>(at, false, std::move(operand)));
    }
    return parsePrimary();
  }

  NodePtr number() {
    const std::string& t = tok_.text;
    int at = tok_.position;
    auto point = t.find('.');
    Value v;
    if (point == std::string::npos && t.size() <= 18) {
      v = Value(std::stoll(t));
    } else {
      int decimals = point == std::string::npos ? 0 : static_cast<int>(t.size() - point - 1);
      v = Value(Float{std::strtod(t.c_str(), nullptr), decimals});
    }
    advance();
    return std::make_unique<expr::Literal>(at, std::move(v));
  }

  NodePtr parsePrimary() {
    int at = tok_.position;
    switch (tok_.kind) {
      case Tok::Number: return number();
      case Tok::String: {
        Value v(tok_.text);
        advance();
        return std::make_unique<expr::Literal>(at, std::move(v));
      }
      case Tok::DotWord:
        if (tok_.text == "T" || tok_.text == "Y" || tok_.text == "F" || tok_.text == "N") {
          bool truth = tok_.text == "T" || tok_.text == "Y";
          advance();
          return std::make_unique<expr::Literal>(at, Value(truth));
        }
        break;
      case Tok::Name: return nameOrCall();
      case Tok::Op:
        if (isOp("(")) {
          Nesting guard(*this);
          advance();
          NodePtr inner = parseOr();
          expectOp(")", "\")\"");
          return inner;
        }
        break;
      case Tok::End: break;
    }
    throw CompileFault{EG_SYNTAX, at, "Unexpected " + found()};
  }

  NodePtr nameOrCall() {
    std::string name = tok_.text;
    int at = tok_.position;
    advance();
    if (isOp("(")) return call(name, at);
    if (isOp("->")) {
      advance();
      if (tok_.kind != Tok::Name)
        throw CompileFault{EG_SYNTAX, tok_.position, "Expected a field name after \"->\", found " + found()};
      std::string field = tok_.text;
      advance();
      if (name == "FIELD" || name == "_FIELD") return std::make_unique<expr::FieldRef>(at, Symbol(field));
      return std::make_unique<expr::FieldRef>(at, Symbol(name + "->" + field));
    }
    if (name == "NIL") return std::make_unique<expr::Literal>(at, Value());
    return std::make_unique<expr::FieldRef>(at, Symbol(name));
  }

  NodePtr call(const std::string& name, int at) {
    Nesting guard(*this);
    advance();  // "("
    std::vector<NodePtr> args;
    if (!isOp(")")) {
      args.push_back(parseOr());
      while (isOp(",")) {
        advance();
        args.push_back(parseOr());
      }
    }
    expectOp(")", "\",\" or \")\" in the arguments of " + name);
    if (name == "IIF" || name == "IF") {
      if (args.size() != 3)
        throw CompileFault{EG_ARG, at, name + " takes 3 arguments, found " + std::to_string(args.size())};
      return checked(std::make_unique<expr::Conditional>(at, std::move(args[0]), std::move(args[1]),
                                                         std::move(args[2])));
    }
    const FunctionEntry* f = findFunction(Symbol(name));
    if (!f) throw CompileFault{EG_NOFUNC, at, "Unknown function " + name};
    if (static_cast<int>(args.size()) > f->paramCount)
      throw CompileFault{EG_ARG, at,
                         name + " takes at most " + std::to_string(f->paramCount) + " arguments, found " +
                             std::to_string(args.size())};
    return checked(std::make_unique<expr::Call>(at, f, std::move(args)));
  }

  Lexer lexer_;
  Token tok_;
  int nesting_ = 0;
};

class CompiledBlock final : public Block {
 public:
  CompiledBlock(std::string text, NodePtr root) : text_(std::move(text)), root_(std::move(root)) {}

  Value eval(FieldResolver* resolver) const override {
    expr::Context ctx{resolver, text_};
    try {
      return root_->eval(ctx);
    } catch (const std::exception& failure) {
      return expr::raiseFault(ctx, EG_INTERNAL, 1, std::string("Evaluation failed (") + failure.what() + ")",
                              Value());
    }
  }

  bool evalString(FieldResolver* resolver, std::string& out) const override {
    out.clear();
    expr::Context ctx{resolver, text_};
    try {
      Value other;
      if (root_->appendText(ctx, out, other)) return true;
    } catch (const std::exception& failure) {
      expr::raiseFault(ctx, EG_INTERNAL, 1, std::string("Evaluation failed (") + failure.what() + ")", Value());
    }
    out.clear();
    return false;
  }

  const std::string& text() const override { return text_; }

  std::string dump() const override {
    std::string out;
    root_->dump(out);
    return out;
  }

 private:
  std::string text_;
  NodePtr root_;
};

}  // namespace

BlockPtr compile(std::string_view text) {
  std::string quotedText(text.size() > 120 ? std::string(text.substr(0, 120)) + "..." : std::string(text));
  try {
    Parser parser(text);
    NodePtr root = parser.parseAll();
    return std::make_shared<CompiledBlock>(std::string(text), std::move(root));
  } catch (const CompileFault& fault) {
    auto e = makeError(fault.genCode, "BASE",
                       fault.what + " at position " + std::to_string(fault.position) + " of \"" + quotedText + "\"",
                       "compile");
    e->arg = Value(std::string(text));
    e->argType = static_cast<int>(Type::String);
    e->canDefault = true;
    raise(e);
  } catch (const std::exception& failure) {
    auto e = makeError(EG_INTERNAL, "BASE",
                       std::string("Compiling \"") + quotedText + "\" failed (" + failure.what() + ")", "compile");
    e->canDefault = true;
    raise(e);
  }
  return nullptr;
}

}  // namespace rt
