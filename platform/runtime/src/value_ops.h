// Operators on dynamic values as the expression evaluator applies them. Each answers the result
// or a fault kind; the caller (a tree node) turns a fault into a raised error with its position.
#pragma once
#include <cstddef>
#include <string>

#include "runtime/value.h"

namespace rt::ops {

// Longest string an operator or library function builds; longer results are a string overflow.
inline constexpr std::size_t kMaxString = 16u << 20;

enum class Op {
  Add, Sub, Mul, Div, Mod, Pow,                  // arithmetic, + and - also join strings
  Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Contains,     // comparisons
};

enum class Fault { None, TypeMismatch, ZeroDivide, Overflow, StringOverflow };

struct Result {
  Value value;
  Fault fault = Fault::None;
};

Result apply(Op op, const Value& a, const Value& b);
Result negate(const Value& a);

// "+", "==", ... as the dump and error descriptions show an operator.
const char* opText(Op op);

// Appends `right` to `left` for the "-" join: trailing blanks of the left move to the end.
void appendTrimmedJoin(std::string& left, const std::string& right);

// A double as a saturated 64-bit integer (truncated; NaN is 0).
std::int64_t saturatedLong(double d);

}  // namespace rt::ops
