// The expression compiler: turns an expression text (optionally in the block form "{|| expr }")
// into a reusable Block, evaluated against a resolver that supplies field values by name.
// Syntax errors, unknown functions and type mismatches are raised (EG_SYNTAX, EG_NOFUNC,
// EG_ARG) with a description naming the offending text and its position.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/value.h"

namespace rt {

class FieldResolver {
 public:
  virtual ~FieldResolver() = default;
  // The value of a field (or variable) named `name`, nullopt when there is none.
  virtual std::optional<Value> field(Symbol name) = 0;
  // Fast path for resolvers that keep their values: a pointer to the field's current value,
  // valid until the next call on this resolver; nullptr means "ask field()".
  virtual const Value* fieldRef(Symbol) { return nullptr; }
};

class Block {
 public:
  virtual ~Block() = default;
  virtual Value eval(FieldResolver* resolver) const = 0;
  // Evaluates into `out` (replacing its content, reusing its capacity) when the result is a
  // string, the fast path for index keys; answers false and leaves `out` empty otherwise.
  virtual bool evalString(FieldResolver* resolver, std::string& out) const {
    out.clear();
    Value v = eval(resolver);
    if (!v.isString()) return false;
    out = v.asString();
    return true;
  }
  virtual const std::string& text() const = 0;
  // A deterministic text dump of the compiled tree, for tests.
  virtual std::string dump() const = 0;
};
using BlockPtr = std::shared_ptr<const Block>;

// Compiles `text`; on a syntax error raises and answers null (the default outcome).
BlockPtr compile(std::string_view text);

}  // namespace rt
