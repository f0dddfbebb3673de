#include <exception>

#include "expression_tree.h"
#include "runtime/error.h"
#include "runtime/format.h"

namespace rt::expr {
namespace {

// The expression text as error descriptions quote it, shortened when very long.
std::string quoted(const std::string& text) {
  constexpr std::size_t kShown = 120;
  if (text.size() <= kShown) return "\"" + text + "\"";
  return "\"" + text.substr(0, kShown) + "...\"";
}

int childDepth(std::initializer_list<const Node*> children) {
  int d = 0;
  for (const Node* n : children)
    if (n && n->depth() > d) d = n->depth();
  return d + 1;
}

const char* faultText(ops::Fault f) {
  switch (f) {
    case ops::Fault::ZeroDivide: return "Division by zero";
    case ops::Fault::Overflow: return "Numeric overflow";
    case ops::Fault::StringOverflow: return "String too long";
    default: return "Type mismatch";
  }
}

int faultCode(ops::Fault f) {
  switch (f) {
    case ops::Fault::ZeroDivide: return EG_ZERODIV;
    case ops::Fault::Overflow: return EG_NUMOVERFLOW;
    case ops::Fault::StringOverflow: return EG_STROVERFLOW;
    default: return EG_ARG;
  }
}

void dumpValue(const Value& v, std::string& out) {
  switch (v.type()) {
    case Type::String: {
      const std::string& s = v.asString();
      char quote = s.find('"') == std::string::npos ? '"' : '\'';
      out += quote;
      out += s;
      out += quote;
      break;
    }
    case Type::Float:
      out += formatNumber(v.asNumber(), v.decimals() < 0 ? 2 : v.decimals());
      break;
    case Type::Date:
      out += "date:" + dtos(v.asDate());
      break;
    default:
      out += toText(v);
  }
}

}  // namespace

Value raiseFault(Context& ctx, int genCode, int position, const std::string& what, Value args) {
  auto e = makeError(genCode, "BASE",
                     what + " at position " + std::to_string(position) + " of " + quoted(ctx.text),
                     "evaluate");
  e->args = std::move(args);
  if (auto a = e->args.asArray(); a && !a->empty()) {
    e->arg = a->front();
    e->argType = e->arg.typeCode();
  }
  e->canSubstitute = true;
  Answer answer = raise(e);
  return answer.kind == Answer::Substitute ? answer.substitute : Value();
}

bool Node::appendText(Context& ctx, std::string& out, Value& other) const {
  Value v = eval(ctx);
  if (!v.isString()) {
    other = std::move(v);
    return false;
  }
  out += v.asString();
  return true;
}

void Literal::dump(std::string& out) const { dumpValue(value_, out); }

bool Literal::appendText(Context&, std::string& out, Value& other) const {
  if (!value_.isString()) {
    other = value_;
    return false;
  }
  out += value_.asString();
  return true;
}

Value FieldRef::unresolved(Context& ctx) const {
  auto e = makeError(EG_NOVAR, "BASE",
                     "Unknown field or variable " + name_.name() + " at position " +
                         std::to_string(position_) + " of " + quoted(ctx.text),
                     name_.name());
  e->funcSym = name_;
  e->canDefault = true;
  e->canSubstitute = true;
  Answer answer = raise(e);
  return answer.kind == Answer::Substitute ? answer.substitute : Value();
}

Value FieldRef::eval(Context& ctx) const {
  if (ctx.resolver) {
    if (const Value* v = ctx.resolver->fieldRef(name_)) return *v;
    if (std::optional<Value> v = ctx.resolver->field(name_)) return std::move(*v);
  }
  return unresolved(ctx);
}

bool FieldRef::appendText(Context& ctx, std::string& out, Value& other) const {
  if (ctx.resolver) {
    if (const Value* v = ctx.resolver->fieldRef(name_)) {
      if (!v->isString()) {
        other = *v;
        return false;
      }
      out += v->asString();
      return true;
    }
  }
  return Node::appendText(ctx, out, other);
}

Binary::Binary(int position, ops::Op op, NodePtr left, NodePtr right)
    : Node(position), op_(op), left_(std::move(left)), right_(std::move(right)) {
  depth_ = childDepth({left_.get(), right_.get()});
}

Value Binary::finish(Context& ctx, const Value& a, const Value& b) const {
  ops::Result r = ops::apply(op_, a, b);
  if (r.fault == ops::Fault::None) return std::move(r.value);
  std::string what = std::string(faultText(r.fault)) + " in \"" + ops::opText(op_) + "\"";
  if (r.fault == ops::Fault::TypeMismatch)
    what += " (" + typeName(a.typeCode()) + " and " + typeName(b.typeCode()) + ")";
  return raiseFault(ctx, faultCode(r.fault), position_, what, Value::array({a, b}));
}

Value Binary::eval(Context& ctx) const {
  if (op_ == ops::Op::Add || op_ == ops::Op::Sub) {
    // A chain of joins builds its result in one string instead of one per step.
    std::string out;
    Value other;
    if (appendText(ctx, out, other)) return Value(std::move(out));
    return other;
  }
  Value a = left_->eval(ctx);
  Value b = right_->eval(ctx);
  return finish(ctx, a, b);
}

// Joins strings straight into `out`; falls back to the general operator for other kinds.
bool Binary::appendText(Context& ctx, std::string& out, Value& other) const {
  if (op_ != ops::Op::Add && op_ != ops::Op::Sub) return Node::appendText(ctx, out, other);
  std::size_t start = out.size();
  // The general operator on two values, its string result appended in place of the parts.
  auto settle = [&](const Value& a, const Value& b) {
    out.resize(start);
    other = finish(ctx, a, b);
    if (!other.isString()) return false;
    out += other.asString();
    other = Value();
    return true;
  };
  Value leftValue;
  if (!left_->appendText(ctx, out, leftValue)) return settle(leftValue, right_->eval(ctx));
  std::size_t leftEnd = out.size();
  Value rightValue;
  if (!right_->appendText(ctx, out, rightValue))
    return settle(Value(out.substr(start, leftEnd - start)), rightValue);
  if (out.size() - start > ops::kMaxString)
    return settle(Value(out.substr(start, leftEnd - start)), Value(out.substr(leftEnd)));
  if (op_ == ops::Op::Sub) {
    // Move the left part's trailing blanks behind the right part.
    std::size_t blanks = 0;
    while (leftEnd - blanks > start && out[leftEnd - blanks - 1] == ' ') ++blanks;
    if (blanks > 0) {
      out.erase(leftEnd - blanks, blanks);
      out.append(blanks, ' ');
    }
  }
  return true;
}

void Binary::dump(std::string& out) const {
  out += '(';
  out += ops::opText(op_);
  out += ' ';
  left_->dump(out);
  out += ' ';
  right_->dump(out);
  out += ')';
}

Logical::Logical(int position, bool isAnd, NodePtr left, NodePtr right)
    : Node(position), isAnd_(isAnd), left_(std::move(left)), right_(std::move(right)) {
  depth_ = childDepth({left_.get(), right_.get()});
}

Value Logical::eval(Context& ctx) const {
  const char* name = isAnd_ ? ".AND." : ".OR.";
  Value a = left_->eval(ctx);
  if (!a.isLogical())
    return raiseFault(ctx, EG_ARG, position_,
                      std::string("Type mismatch in \"") + name + "\" (" + typeName(a.typeCode()) + ")",
                      Value::array({a}));
  if (a.asLogical() != isAnd_) return a;  // decided by the left operand
  Value b = right_->eval(ctx);
  if (!b.isLogical())
    return raiseFault(ctx, EG_ARG, position_,
                      std::string("Type mismatch in \"") + name + "\" (" + typeName(b.typeCode()) + ")",
                      Value::array({b}));
  return b;
}

void Logical::dump(std::string& out) const {
  out += isAnd_ ? "(and " : "(or ";
  left_->dump(out);
  out += ' ';
  right_->dump(out);
  out += ')';
}

Unary::Unary(int position, bool isNot, NodePtr operand)
    : Node(position), isNot_(isNot), operand_(std::move(operand)) {
  depth_ = childDepth({operand_.get()});
}

Value Unary::eval(Context& ctx) const {
  Value a = operand_->eval(ctx);
  if (isNot_) {
    if (a.isLogical()) return Value(!a.asLogical());
  } else {
    ops::Result r = ops::negate(a);
    if (r.fault == ops::Fault::None) return std::move(r.value);
  }
  return raiseFault(ctx, EG_ARG, position_,
                    std::string("Type mismatch in \"") + (isNot_ ? ".NOT." : "-") + "\" (" +
                        typeName(a.typeCode()) + ")",
                    Value::array({a}));
}

void Unary::dump(std::string& out) const {
  out += isNot_ ? "(not " : "(neg ";
  operand_->dump(out);
  out += ')';
}

Conditional::Conditional(int position, NodePtr condition, NodePtr whenTrue, NodePtr whenFalse)
    : Node(position),
      condition_(std::move(condition)),
      whenTrue_(std::move(whenTrue)),
      whenFalse_(std::move(whenFalse)) {
  depth_ = childDepth({condition_.get(), whenTrue_.get(), whenFalse_.get()});
}

Value Conditional::eval(Context& ctx) const {
  Value c = condition_->eval(ctx);
  if (!c.isLogical()) {
    c = raiseFault(ctx, EG_ARG, position_,
                   "Condition of IIF is " + typeName(c.typeCode()) + ", not logical", Value::array({c}));
    if (!c.isLogical()) return Value();
  }
  return c.asLogical() ? whenTrue_->eval(ctx) : whenFalse_->eval(ctx);
}

void Conditional::dump(std::string& out) const {
  out += "(iif ";
  condition_->dump(out);
  out += ' ';
  whenTrue_->dump(out);
  out += ' ';
  whenFalse_->dump(out);
  out += ')';
}

Call::Call(int position, const FunctionEntry* function, std::vector<NodePtr> args)
    : Node(position), function_(function), args_(std::move(args)) {
  int d = 0;
  for (const auto& a : args_) d = a->depth() > d ? a->depth() : d;
  depth_ = d + 1;
}

Value Call::eval(Context& ctx) const {
  // Arguments live on the stack for the usual small calls; no allocation per evaluation.
  constexpr std::size_t kInline = 8;
  Value inlineArgs[kInline];
  std::vector<Value> spilled;
  Value* args = inlineArgs;
  if (args_.size() > kInline) {
    spilled.resize(args_.size());
    args = spilled.data();
  }
  for (std::size_t i = 0; i < args_.size(); ++i) args[i] = args_[i]->eval(ctx);
  try {
    return function_->body(std::span<const Value>(args, args_.size()));
  } catch (const std::exception& failure) {
    return raiseFault(ctx, EG_INTERNAL, position_,
                      "Function " + function_->name.name() + " failed (" + failure.what() + ")",
                      Value::array(Array(args, args + args_.size())));
  }
}

void Call::dump(std::string& out) const {
  out += "(call ";
  out += function_->name.name();
  for (const auto& a : args_) {
    out += ' ';
    a->dump(out);
  }
  out += ')';
}

}  // namespace rt::expr
