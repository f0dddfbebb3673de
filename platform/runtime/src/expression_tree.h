// The compiled form of an expression: a tree of nodes, built once by the parser and evaluated
// many times. Nodes are immutable after construction; evaluation allocates nothing beyond the
// values it produces. Each node keeps the 1-based position of its text for error descriptions.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "runtime/expression.h"
#include "runtime/functions.h"
#include "value_ops.h"

namespace rt::expr {

// What one evaluation needs besides the tree: the resolver and the source text for errors.
struct Context {
  FieldResolver* resolver;
  const std::string& text;
};

class Node {
 public:
  explicit Node(int position) : position_(position) {}
  virtual ~Node() = default;
  virtual Value eval(Context& ctx) const = 0;
  virtual void dump(std::string& out) const = 0;
  // Appends a string result to `out` and answers true; any other result is stored in `other`.
  virtual bool appendText(Context& ctx, std::string& out, Value& other) const;
  int position() const { return position_; }
  int depth() const { return depth_; }

 protected:
  int position_;
  int depth_ = 1;  // height of the subtree; the parser bounds it so evaluation cannot overflow
};
using NodePtr = std::unique_ptr<Node>;

class Literal final : public Node {
 public:
  Literal(int position, Value value) : Node(position), value_(std::move(value)) {}
  Value eval(Context&) const override { return value_; }
  void dump(std::string& out) const override;
  bool appendText(Context& ctx, std::string& out, Value& other) const override;

 private:
  Value value_;
};

class FieldRef final : public Node {
 public:
  FieldRef(int position, Symbol name) : Node(position), name_(name) {}
  Value eval(Context& ctx) const override;
  void dump(std::string& out) const override { out += name_.name(); }
  bool appendText(Context& ctx, std::string& out, Value& other) const override;

 private:
  Value unresolved(Context& ctx) const;
  Symbol name_;
};

class Binary final : public Node {
 public:
  Binary(int position, ops::Op op, NodePtr left, NodePtr right);
  Value eval(Context& ctx) const override;
  void dump(std::string& out) const override;
  bool appendText(Context& ctx, std::string& out, Value& other) const override;

 private:
  Value finish(Context& ctx, const Value& a, const Value& b) const;
  ops::Op op_;
  NodePtr left_, right_;
};

// .AND. and .OR., evaluated left to right with short circuit.
class Logical final : public Node {
 public:
  Logical(int position, bool isAnd, NodePtr left, NodePtr right);
  Value eval(Context& ctx) const override;
  void dump(std::string& out) const override;

 private:
  bool isAnd_;
  NodePtr left_, right_;
};

// Unary minus and .NOT.
class Unary final : public Node {
 public:
  Unary(int position, bool isNot, NodePtr operand);
  Value eval(Context& ctx) const override;
  void dump(std::string& out) const override;

 private:
  bool isNot_;
  NodePtr operand_;
};

class Conditional final : public Node {
 public:
  Conditional(int position, NodePtr condition, NodePtr whenTrue, NodePtr whenFalse);
  Value eval(Context& ctx) const override;
  void dump(std::string& out) const override;

 private:
  NodePtr condition_, whenTrue_, whenFalse_;
};

class Call final : public Node {
 public:
  Call(int position, const FunctionEntry* function, std::vector<NodePtr> args);
  Value eval(Context& ctx) const override;
  void dump(std::string& out) const override;

 private:
  const FunctionEntry* function_;  // entries of the function table never move
  std::vector<NodePtr> args_;
};

// Raises a fault of an operator at `position`; answers the substitute or NIL.
Value raiseFault(Context& ctx, int genCode, int position, const std::string& what, Value args);

}  // namespace rt::expr
