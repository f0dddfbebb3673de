// Parser of the resource-script text; the accepted grammar is written down in
// docs/formats/resource-script.md.
#include <cctype>
#include <cstdlib>

#include "gui/resource_script.h"
#include "runtime/symbol.h"

namespace gui {
namespace {

// Pop-ups deeper than this are refused: real menus nest a few levels, and each level is one
// recursion of the reader.
constexpr int kMaxMenuDepth = 16;

struct StyleWord {
  const char* name;
  std::uint32_t value;
};

// Window, dialog and control style words with their numeric values.
constexpr StyleWord kStyleWords[] = {
    {"WS_OVERLAPPED", 0x00000000}, {"WS_POPUP", 0x80000000},     {"WS_CHILD", 0x40000000},
    {"WS_MINIMIZE", 0x20000000},   {"WS_VISIBLE", 0x10000000},   {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000}, {"WS_CLIPCHILDREN", 0x02000000}, {"WS_MAXIMIZE", 0x01000000},
    {"WS_CAPTION", 0x00C00000},    {"WS_BORDER", 0x00800000},    {"WS_DLGFRAME", 0x00400000},
    {"WS_VSCROLL", 0x00200000},    {"WS_HSCROLL", 0x00100000},   {"WS_SYSMENU", 0x00080000},
    {"WS_THICKFRAME", 0x00040000}, {"WS_GROUP", 0x00020000},     {"WS_TABSTOP", 0x00010000},
    {"WS_MINIMIZEBOX", 0x00020000}, {"WS_MAXIMIZEBOX", 0x00010000},
    {"DS_ABSALIGN", 0x01},         {"DS_SYSMODAL", 0x02},        {"DS_3DLOOK", 0x04},
    {"DS_FIXEDSYS", 0x08},         {"DS_NOFAILCREATE", 0x10},    {"DS_LOCALEDIT", 0x20},
    {"DS_SETFONT", 0x40},          {"DS_MODALFRAME", 0x80},      {"DS_NOIDLEMSG", 0x100},
    {"DS_SETFOREGROUND", 0x200},   {"DS_CONTROL", 0x400},        {"DS_CENTER", 0x800},
    {"DS_CENTERMOUSE", 0x1000},    {"DS_CONTEXTHELP", 0x2000},   {"DS_SHELLFONT", 0x48},
    {"SS_LEFT", 0x0},              {"SS_CENTER", 0x1},           {"SS_RIGHT", 0x2},
    {"SS_ICON", 0x3},              {"SS_BLACKRECT", 0x4},        {"SS_SIMPLE", 0xB},
    {"SS_LEFTNOWORDWRAP", 0xC},    {"SS_BITMAP", 0xE},           {"SS_NOPREFIX", 0x80},
    {"SS_NOTIFY", 0x100},          {"SS_CENTERIMAGE", 0x200},    {"SS_SUNKEN", 0x1000},
    {"ES_LEFT", 0x0},              {"ES_CENTER", 0x1},           {"ES_RIGHT", 0x2},
    {"ES_MULTILINE", 0x4},         {"ES_UPPERCASE", 0x8},        {"ES_LOWERCASE", 0x10},
    {"ES_PASSWORD", 0x20},         {"ES_AUTOVSCROLL", 0x40},     {"ES_AUTOHSCROLL", 0x80},
    {"ES_NOHIDESEL", 0x100},       {"ES_READONLY", 0x800},       {"ES_WANTRETURN", 0x1000},
    {"ES_NUMBER", 0x2000},
    {"BS_PUSHBUTTON", 0x0},        {"BS_DEFPUSHBUTTON", 0x1},    {"BS_CHECKBOX", 0x2},
    {"BS_AUTOCHECKBOX", 0x3},      {"BS_RADIOBUTTON", 0x4},      {"BS_3STATE", 0x5},
    {"BS_AUTO3STATE", 0x6},        {"BS_GROUPBOX", 0x7},         {"BS_AUTORADIOBUTTON", 0x9},
    {"BS_LEFTTEXT", 0x20},         {"BS_MULTILINE", 0x2000},     {"BS_NOTIFY", 0x4000},
    {"CBS_SIMPLE", 0x1},           {"CBS_DROPDOWN", 0x2},        {"CBS_DROPDOWNLIST", 0x3},
    {"CBS_OWNERDRAWFIXED", 0x10},  {"CBS_AUTOHSCROLL", 0x40},    {"CBS_OEMCONVERT", 0x80},
    {"CBS_SORT", 0x100},           {"CBS_HASSTRINGS", 0x200},    {"CBS_NOINTEGRALHEIGHT", 0x400},
    {"CBS_DISABLENOSCROLL", 0x800}, {"CBS_UPPERCASE", 0x2000},   {"CBS_LOWERCASE", 0x4000},
    {"LBS_NOTIFY", 0x1},           {"LBS_SORT", 0x2},            {"LBS_NOREDRAW", 0x4},
    {"LBS_MULTIPLESEL", 0x8},      {"LBS_HASSTRINGS", 0x40},     {"LBS_USETABSTOPS", 0x80},
    {"LBS_NOINTEGRALHEIGHT", 0x100}, {"LBS_MULTICOLUMN", 0x200}, {"LBS_WANTKEYBOARDINPUT", 0x400},
    {"LBS_EXTENDEDSEL", 0x800},    {"LBS_DISABLENOSCROLL", 0x1000}, {"LBS_NOSEL", 0x4000},
    {"LBS_STANDARD", 0x00A00003},
    {"PBS_SMOOTH", 0x1},           {"PBS_VERTICAL", 0x4},
    {"WS_EX_DLGMODALFRAME", 0x1},  {"WS_EX_NOPARENTNOTIFY", 0x4}, {"WS_EX_TOPMOST", 0x8},
    {"WS_EX_TRANSPARENT", 0x20},   {"WS_EX_TOOLWINDOW", 0x80},   {"WS_EX_WINDOWEDGE", 0x100},
    {"WS_EX_CLIENTEDGE", 0x200},   {"WS_EX_CONTEXTHELP", 0x400}, {"WS_EX_RIGHT", 0x1000},
    {"WS_EX_CONTROLPARENT", 0x10000}, {"WS_EX_STATICEDGE", 0x20000}, {"WS_EX_APPWINDOW", 0x40000},
};

// Window classes of CONTROL statements and the kinds they make (style decides for Static/Button).
ControlKind kindFor(const std::string& className, const StyleSet& style) {
  const std::string cls = rt::toUpper(className);
  const std::uint32_t low = style.value & 0xF;
  if (cls == "STATIC") return (low == 0x3) ? ControlKind::Icon : ControlKind::FixedText;
  if (cls == "BUTTON") {
    if (low == 0x7) return ControlKind::GroupBox;
    if (low == 0x2 || low == 0x3 || low == 0x5 || low == 0x6) return ControlKind::CheckBox;
    if (low == 0x0 || low == 0x1) return ControlKind::PushButton;
    return ControlKind::Unknown;
  }
  if (cls == "COMBOBOX") return ControlKind::ComboBox;
  if (cls == "EDIT") return ControlKind::SingleLineEdit;
  if (cls == "LISTBOX") return ControlKind::ListBox;
  if (cls == "MSCTLS_PROGRESS32") return ControlKind::ProgressBar;
  if (cls == "OLECONTAINER") return ControlKind::OleControl;
  return ControlKind::Unknown;
}

enum class Tok { End, Ident, Number, String, Punct };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifier as written, string contents, punctuation char
  long long number = 0;
  int line = 0;
};

struct ParseFailure {
  int line;
  std::string message;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  // Next token; preprocessor lines are handed back as an Ident token "#define" etc.
  Token next() {
    skipSpaceAndComments();
    Token t;
    t.line = line_;
    if (pos_ >= text_.size()) return t;
    const char c = text_[pos_];
    if (c == '#') {
      std::size_t start = pos_++;
      while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      t.kind = Tok::Ident;
      t.text = std::string(text_.substr(start, pos_ - start));
      return t;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t start = pos_;
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
        ++pos_;
      t.kind = Tok::Ident;
      t.text = std::string(text_.substr(start, pos_ - start));
      return t;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      std::size_t start = pos_;
      int base = 10;
      if (c == '0' && pos_ + 1 < text_.size() && (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
        base = 16;
        pos_ += 2;
        start = pos_;
      }
      while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
        if (base == 10 && !std::isdigit(static_cast<unsigned char>(text_[pos_]))) break;
        ++pos_;
      }
      const std::string digits(text_.substr(start, pos_ - start));
      if (digits.empty()) throw ParseFailure{line_, "malformed number"};
      if (pos_ < text_.size() && (text_[pos_] == 'L' || text_[pos_] == 'l')) ++pos_;  // long suffix
      if (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
        throw ParseFailure{line_, "malformed number"};
      t.kind = Tok::Number;
      t.number = std::strtoll(digits.c_str(), nullptr, base);
      t.text = digits;
      return t;
    }
    if (c == '"') return readString();
    if (c == ',' || c == '|' || c == '{' || c == '}' || c == '-' || c == '(' || c == ')') {
      ++pos_;
      t.kind = Tok::Punct;
      t.text = std::string(1, c);
      return t;
    }
    throw ParseFailure{line_, std::string("unexpected character '") + c + "'"};
  }

  // The rest of the current line (used by #define).
  std::string restOfLine() {
    std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  int line() const { return line_; }

 private:
  void skipSpaceAndComments() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
        const int startLine = line_;
        pos_ += 2;
        while (pos_ + 1 < text_.size() && !(text_[pos_] == '*' && text_[pos_ + 1] == '/')) {
          if (text_[pos_] == '\n') ++line_;
          ++pos_;
        }
        if (pos_ + 1 >= text_.size()) throw ParseFailure{startLine, "unterminated comment"};
        pos_ += 2;
      } else {
        break;
      }
    }
  }

  Token readString() {
    Token t;
    t.kind = Tok::String;
    t.line = line_;
    ++pos_;  // opening quote
    for (;;) {
      if (pos_ >= text_.size() || text_[pos_] == '\n') throw ParseFailure{t.line, "unterminated string"};
      const char c = text_[pos_++];
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {  // "" stands for one quote
          t.text += '"';
          ++pos_;
          continue;
        }
        return t;
      }
      if (c == '\\' && pos_ < text_.size()) {
        const char e = text_[pos_++];
        switch (e) {
          case 'n': t.text += '\n'; break;
          case 't': t.text += '\t'; break;
          case 'r': t.text += '\r'; break;
          case '\\': t.text += '\\'; break;
          case '"': t.text += '"'; break;
          default: throw ParseFailure{line_, std::string("unknown escape \\") + e};
        }
        continue;
      }
      t.text += c;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

bool isKeyword(const Token& t, std::string_view word) {
  return t.kind == Tok::Ident && rt::toUpper(t.text) == word;
}

class Parser {
 public:
  Parser(std::string_view text, const ResourceFileReader& reader) : lex_(text), reader_(reader) {
    advance();
  }

  ResourceScript parse() {
    while (cur_.kind != Tok::End) statement();
    return std::move(script_);
  }

 private:
  void advance() { cur_ = lex_.next(); }

  [[noreturn]] void fail(const std::string& message) { throw ParseFailure{cur_.line, message}; }

  std::string describe(const Token& t) {
    switch (t.kind) {
      case Tok::End: return "end of script";
      case Tok::String: return "string \"" + t.text + "\"";
      default: return "'" + t.text + "'";
    }
  }

  void expectPunct(char c) {
    if (cur_.kind != Tok::Punct || cur_.text[0] != c)
      fail(std::string("expected '") + c + "' but found " + describe(cur_));
    advance();
  }

  bool acceptPunct(char c) {
    if (cur_.kind == Tok::Punct && cur_.text[0] == c) {
      advance();
      return true;
    }
    return false;
  }

  std::string expectString(const char* what) {
    if (cur_.kind != Tok::String) fail(std::string("expected ") + what + " but found " + describe(cur_));
    std::string s = cur_.text;
    advance();
    return s;
  }

  // A number, a negative number or a #define'd name.
  int expectNumber(const char* what, std::string* symbol = nullptr) {
    bool negative = acceptPunct('-');
    if (cur_.kind == Tok::Number) {
      long long v = cur_.number;
      advance();
      return static_cast<int>(negative ? -v : v);
    }
    if (cur_.kind == Tok::Ident && !negative) {
      auto it = script_.defines.find(cur_.text);
      if (it == script_.defines.end()) fail("undefined name '" + cur_.text + "' where " + what + " was expected");
      if (symbol) *symbol = cur_.text;
      advance();
      return it->second;
    }
    fail(std::string("expected ") + what + " but found " + describe(cur_));
  }

  void expectBegin() {
    if (isKeyword(cur_, "BEGIN") || (cur_.kind == Tok::Punct && cur_.text == "{")) {
      advance();
      return;
    }
    fail("expected BEGIN but found " + describe(cur_));
  }

  bool atEnd() { return isKeyword(cur_, "END") || (cur_.kind == Tok::Punct && cur_.text == "}"); }

  // style-expr := [NOT] term { "|" [NOT] term }, term a style word or a number.
  StyleSet styleExpression(std::uint32_t implied = 0) {
    StyleSet set;
    set.value = implied;
    for (;;) {
      bool negate = false;
      if (isKeyword(cur_, "NOT")) {
        negate = true;
        advance();
      }
      std::uint32_t v = 0;
      std::string word;
      if (cur_.kind == Tok::Number) {
        v = static_cast<std::uint32_t>(cur_.number);
        advance();
      } else if (cur_.kind == Tok::Ident) {
        word = rt::toUpper(cur_.text);
        auto known = styleWordValue(word);
        if (!known) {
          auto def = script_.defines.find(cur_.text);
          if (def == script_.defines.end()) fail("unknown style '" + cur_.text + "'");
          known = static_cast<std::uint32_t>(def->second);
        }
        v = *known;
        advance();
      } else {
        fail("expected a style but found " + describe(cur_));
      }
      if (negate) {
        set.value &= ~v;
        if (!word.empty()) set.notWords.push_back(word);
      } else {
        set.value |= v;
        if (!word.empty()) set.words.push_back(word);
      }
      if (!acceptPunct('|')) break;
    }
    return set;
  }

  void statement() {
    if (cur_.kind != Tok::Ident) fail("expected a resource name but found " + describe(cur_));
    if (cur_.text == "#define") {
      defineLine();
      return;
    }
    if (!cur_.text.empty() && cur_.text[0] == '#') fail("unsupported directive " + cur_.text);
    if (isKeyword(cur_, "STRINGTABLE")) {
      advance();
      stringTable();
      return;
    }
    Token name = cur_;
    statementLine_ = cur_.line;
    advance();
    if (isKeyword(cur_, "DIALOG") || isKeyword(cur_, "DIALOGEX")) {
      const bool ex = isKeyword(cur_, "DIALOGEX");
      advance();
      dialog(name.text, ex);
    } else if (isKeyword(cur_, "MENU") || isKeyword(cur_, "MENUEX")) {
      advance();
      menu(name.text);
    } else if (isKeyword(cur_, "ICON")) {
      advance();
      icon(name.text);
    } else {
      fail("expected DIALOG, DIALOGEX, MENU or ICON after '" + name.text + "' but found " + describe(cur_));
    }
  }

  void defineLine() {
    const int line = cur_.line;
    std::string rest = lex_.restOfLine();
    // The current token was taken before the rest of the line; re-lex the line's text.
    Lexer sub(rest);
    Token n = sub.next();
    Token v = sub.next();
    bool negative = false;
    if (v.kind == Tok::Punct && v.text == "-") {
      negative = true;
      v = sub.next();
    }
    if (n.kind != Tok::Ident || v.kind != Tok::Number || sub.next().kind != Tok::End)
      throw ParseFailure{line, "malformed #define (expected: #define NAME number)"};
    script_.defines[n.text] = static_cast<int>(negative ? -v.number : v.number);
    advance();
  }

  // x, y, width, height: where a dialog or a control stands, in dialog units.
  template <class Template>
  void rectangle(Template& t) {
    t.x = expectNumber("x");
    expectPunct(',');
    t.y = expectNumber("y");
    expectPunct(',');
    t.cx = expectNumber("width");
    expectPunct(',');
    t.cy = expectNumber("height");
  }

  void dialog(const std::string& name, bool extended) {
    DialogTemplate d;
    d.name = name;
    d.extended = extended;
    rectangle(d);
    if (extended && acceptPunct(',')) expectNumber("help id");
    // Optional statements before BEGIN.
    for (;;) {
      if (isKeyword(cur_, "STYLE")) {
        advance();
        d.style = styleExpression();
      } else if (isKeyword(cur_, "EXSTYLE")) {
        advance();
        d.exStyle = styleExpression();
      } else if (isKeyword(cur_, "FONT")) {
        advance();
        d.fontPointSize = expectNumber("font size");
        expectPunct(',');
        d.fontFace = expectString("font face");
        while (acceptPunct(',')) expectNumber("font weight, italic or charset");
      } else if (isKeyword(cur_, "CAPTION")) {
        advance();
        d.caption = expectString("caption");
      } else if (isKeyword(cur_, "MENU")) {
        advance();
        if (cur_.kind != Tok::Ident && cur_.kind != Tok::String) fail("expected a menu name");
        d.menu = cur_.text;
        advance();
      } else if (isKeyword(cur_, "CLASS")) {
        advance();
        d.windowClass = expectString("class name");
      } else if (isKeyword(cur_, "CHARACTERISTICS") || isKeyword(cur_, "VERSION") ||
                 isKeyword(cur_, "LANGUAGE")) {
        advance();
        expectNumber("number");
        while (acceptPunct(',')) expectNumber("number");
      } else {
        break;
      }
    }
    expectBegin();
    while (!atEnd()) {
      if (cur_.kind == Tok::End) fail("missing END of dialog " + name);
      d.controls.push_back(control());
    }
    advance();
    for (std::size_t i = 0; i < d.controls.size(); ++i)
      for (std::size_t j = i + 1; j < d.controls.size(); ++j)
        if (d.controls[i].id == d.controls[j].id && d.controls[i].id != -1)
          throw ParseFailure{d.controls[j].line, "duplicate control id " + std::to_string(d.controls[j].id) +
                                                     " in dialog " + name};
    addUnique(script_.dialogs, std::move(d), "dialog");
  }

  // CONTROL text, id, class, style, x, y, cx, cy [, exstyle [, helpid]]
  ControlTemplate control() {
    if (!isKeyword(cur_, "CONTROL")) fail("expected CONTROL but found " + describe(cur_));
    ControlTemplate c;
    c.line = cur_.line;
    advance();
    if (cur_.kind == Tok::String || cur_.kind == Tok::Ident) {
      c.text = cur_.text;
      advance();
    } else {
      fail("expected the control's text but found " + describe(cur_));
    }
    expectPunct(',');
    c.id = expectNumber("control id", &c.symbol);
    expectPunct(',');
    c.className = expectString("control class");
    expectPunct(',');
    c.style = styleExpression(0x40000000u | 0x10000000u);  // WS_CHILD | WS_VISIBLE implied
    expectPunct(',');
    rectangle(c);
    if (acceptPunct(',')) {
      c.exStyle = styleExpression();
      if (acceptPunct(',')) expectNumber("help id");
    }
    c.kind = kindFor(c.className, c.style);
    if (c.kind == ControlKind::Unknown)
      throw ParseFailure{c.line, "unsupported control class \"" + c.className + "\""};
    return c;
  }

  void menu(const std::string& name) {
    MenuTemplate m;
    m.name = name;
    expectBegin();
    menuItems(m.items, 0);
    addUnique(script_.menus, std::move(m), "menu");
  }

  // depth counts the pop-ups around these items; the reader recurses once per pop-up.
  void menuItems(std::vector<MenuItemTemplate>& items, int depth) {
    while (!atEnd()) {
      if (cur_.kind == Tok::End) fail("missing END of menu");
      MenuItemTemplate item;
      if (isKeyword(cur_, "POPUP")) {
        if (depth >= kMaxMenuDepth)
          fail("pop-up menus nested deeper than " + std::to_string(kMaxMenuDepth) + " levels");
        advance();
        item.popup = true;
        item.caption = expectString("pop-up caption");
        if (acceptPunct(',')) item.id = expectNumber("pop-up id");
        expectBegin();
        menuItems(item.items, depth + 1);
      } else if (isKeyword(cur_, "MENUITEM")) {
        advance();
        if (isKeyword(cur_, "SEPARATOR")) {
          advance();
          item.separator = true;
        } else {
          item.caption = expectString("item caption");
          expectPunct(',');
          item.id = expectNumber("item id");
          while (acceptPunct(',')) {  // options such as GRAYED, CHECKED
            if (cur_.kind != Tok::Ident) fail("expected an item option");
            advance();
          }
        }
      } else {
        fail("expected POPUP or MENUITEM but found " + describe(cur_));
      }
      items.push_back(std::move(item));
    }
    advance();
  }

  void icon(const std::string& name) {
    IconEntry e;
    e.name = name;
    const int line = cur_.line;
    e.fileName = expectString("icon file name");
    if (reader_) {
      auto data = reader_(e.fileName);
      if (!data) throw ParseFailure{line, "icon file \"" + e.fileName + "\" of " + name + " cannot be read"};
      e.data = std::move(*data);
    }
    addUnique(script_.icons, std::move(e), "icon");
  }

  void stringTable() {
    while (isKeyword(cur_, "LANGUAGE") || isKeyword(cur_, "CHARACTERISTICS") || isKeyword(cur_, "VERSION")) {
      advance();
      expectNumber("number");
      while (acceptPunct(',')) expectNumber("number");
    }
    expectBegin();
    while (!atEnd()) {
      if (cur_.kind == Tok::End) fail("missing END of STRINGTABLE");
      const int line = cur_.line;
      const int id = expectNumber("string id");
      acceptPunct(',');
      std::string text = expectString("string text");
      if (!script_.strings.emplace(id, std::move(text)).second)
        throw ParseFailure{line, "duplicate string id " + std::to_string(id)};
    }
    advance();
  }

  template <class T>
  void addUnique(std::vector<T>& list, T item, const char* what) {
    const std::string key = rt::toUpper(item.name);
    for (const T& existing : list)
      if (rt::toUpper(existing.name) == key)
        throw ParseFailure{statementLine_, std::string("duplicate ") + what + " " + item.name};
    list.push_back(std::move(item));
  }

  Lexer lex_;
  const ResourceFileReader& reader_;
  Token cur_;
  int statementLine_ = 0;
  ResourceScript script_;
};

template <class T>
const T* findByName(const std::vector<T>& list, std::string_view name) {
  const std::string key = rt::toUpper(name);
  for (const T& item : list)
    if (rt::toUpper(item.name) == key) return &item;
  return nullptr;
}

const MenuItemTemplate* findItem(const std::vector<MenuItemTemplate>& items, int id) {
  for (const MenuItemTemplate& item : items) {
    if (!item.separator && item.id == id) return &item;
    if (const MenuItemTemplate* inner = findItem(item.items, id)) return inner;
  }
  return nullptr;
}

}  // namespace

bool StyleSet::has(std::string_view word) const {
  const std::string key = rt::toUpper(word);
  for (const std::string& w : words)
    if (w == key) return true;
  return false;
}

bool StyleSet::hasNot(std::string_view word) const {
  const std::string key = rt::toUpper(word);
  for (const std::string& w : notWords)
    if (w == key) return true;
  return false;
}

std::optional<std::uint32_t> styleWordValue(std::string_view word) {
  const std::string key = rt::toUpper(word);
  for (const StyleWord& w : kStyleWords)
    if (key == w.name) return w.value;
  return std::nullopt;
}

std::string_view controlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::FixedText: return "FixedText";
    case ControlKind::Icon: return "Icon";
    case ControlKind::ComboBox: return "ComboBox";
    case ControlKind::SingleLineEdit: return "SingleLineEdit";
    case ControlKind::PushButton: return "PushButton";
    case ControlKind::CheckBox: return "CheckBox";
    case ControlKind::GroupBox: return "GroupBox";
    case ControlKind::ProgressBar: return "ProgressBar";
    case ControlKind::ListBox: return "ListBox";
    case ControlKind::OleControl: return "OleControl";
    case ControlKind::Unknown: break;
  }
  return "Unknown";
}

const ControlTemplate* DialogTemplate::control(int id) const {
  for (const ControlTemplate& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

const MenuItemTemplate* MenuTemplate::item(int id) const { return findItem(items, id); }

const DialogTemplate* ResourceScript::dialog(std::string_view name) const { return findByName(dialogs, name); }
const MenuTemplate* ResourceScript::menu(std::string_view name) const { return findByName(menus, name); }
const IconEntry* ResourceScript::icon(std::string_view name) const { return findByName(icons, name); }

ScriptParseResult parseResourceScript(std::string_view text, std::string_view scriptName,
                                      const ResourceFileReader& reader) {
  ScriptParseResult result;
  try {
    Parser parser(text, reader);
    result.script = parser.parse();
  } catch (const ParseFailure& f) {
    result.errorLine = f.line;
    result.errorMessage = std::string(scriptName) + "(" + std::to_string(f.line) + "): " + f.message;
  }
  return result;
}

}  // namespace gui
