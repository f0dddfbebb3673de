#include "value_ops.h"

#include <cmath>
#include <limits>

#include "runtime/format.h"

namespace rt::ops {
namespace {

// Date arithmetic stays inside the calendar the run-time can show (years 1 to 9999).
bool dateInRange(std::int64_t julian) {
  static const std::int32_t kFirst = makeDate(1, 1, 1).julian;
  static const std::int32_t kLast = makeDate(9999, 12, 31).julian;
  return julian >= kFirst && julian <= kLast;
}

// Decimals of a sum or difference: the larger of the two; unknown (-1) when either is unknown.
int sumDecimals(const Value& a, const Value& b) {
  int da = a.decimals(), db = b.decimals();
  if (da < 0 || db < 0) return -1;
  return da > db ? da : db;
}

int productDecimals(const Value& a, const Value& b) {
  int da = a.decimals(), db = b.decimals();
  if (da < 0 || db < 0) return -1;
  return da + db;
}

Result number(double v, int decimals) {
  if (!std::isfinite(v)) return {{}, Fault::Overflow};
  return {Value(Float{v, decimals}), Fault::None};
}

Result arithmetic(Op op, const Value& a, const Value& b) {
  if (a.isLong() && b.isLong()) {
    std::int64_t x = a.asLong(), y = b.asLong(), r = 0;
    switch (op) {
      case Op::Add:
        if (!__builtin_add_overflow(x, y, &r)) return {Value(static_cast<long long>(r))};
        return number(static_cast<double>(x) + static_cast<double>(y), 0);
      case Op::Sub:
        if (!__builtin_sub_overflow(x, y, &r)) return {Value(static_cast<long long>(r))};
        return number(static_cast<double>(x) - static_cast<double>(y), 0);
      case Op::Mul:
        if (!__builtin_mul_overflow(x, y, &r)) return {Value(static_cast<long long>(r))};
        return number(static_cast<double>(x) * static_cast<double>(y), 0);
      case Op::Mod:
        if (y == 0) return {{}, Fault::ZeroDivide};
        if (y == -1) return {Value(0)};  // avoids the overflow of INT64_MIN % -1
        return {Value(static_cast<long long>(x % y))};
      default:
        break;
    }
  }
  double x = a.asNumber(), y = b.asNumber();
  switch (op) {
    case Op::Add: return number(x + y, sumDecimals(a, b));
    case Op::Sub: return number(x - y, sumDecimals(a, b));
    case Op::Mul: return number(x * y, productDecimals(a, b));
    case Op::Div:
      if (y == 0) return {{}, Fault::ZeroDivide};
      return number(x / y, -1);
    case Op::Mod:
      if (y == 0) return {{}, Fault::ZeroDivide};
      return number(std::fmod(x, y), sumDecimals(a, b));
    case Op::Pow: return number(std::pow(x, y), -1);
    default: return {{}, Fault::TypeMismatch};
  }
}

// A day count for date arithmetic, bounded far beyond the calendar so sums cannot overflow.
std::int64_t days(const Value& n) {
  std::int64_t d = saturatedLong(n.asNumber());
  constexpr std::int64_t kBound = 100'000'000;
  return d > kBound ? kBound : d < -kBound ? -kBound : d;
}

Result dateArithmetic(Op op, const Value& a, const Value& b) {
  std::int64_t julian = 0;
  if (op == Op::Add && a.isDate() && b.isNumber()) {
    julian = static_cast<std::int64_t>(a.asDate().julian) + days(b);
  } else if (op == Op::Add && a.isNumber() && b.isDate()) {
    julian = static_cast<std::int64_t>(b.asDate().julian) + days(a);
  } else if (op == Op::Sub && a.isDate() && b.isNumber()) {
    julian = static_cast<std::int64_t>(a.asDate().julian) - days(b);
  } else if (op == Op::Sub && a.isDate() && b.isDate()) {
    return {Value(static_cast<long long>(a.asDate().julian) - b.asDate().julian)};
  } else {
    return {{}, Fault::TypeMismatch};
  }
  // An empty date plus days stays empty, as the run-time shows no date for it.
  if ((a.isDate() && a.asDate().empty()) || (b.isDate() && b.asDate().empty())) return {Value(Date{})};
  if (!dateInRange(julian)) return {{}, Fault::Overflow};
  return {Value(Date{static_cast<std::int32_t>(julian)})};
}

Result join(Op op, const std::string& a, const std::string& b) {
  if (a.size() + b.size() > kMaxString) return {{}, Fault::StringOverflow};
  std::string out;
  out.reserve(a.size() + b.size());
  out = a;
  if (op == Op::Add)
    out += b;
  else
    appendTrimmedJoin(out, b);
  return {Value(std::move(out))};
}

// "=" on strings: true when the right one is a prefix of the left one (an empty right always
// matches); "==" asks for the same bytes.
bool looselyEqual(const Value& a, const Value& b) {
  if (a.isString() && b.isString()) {
    const std::string& x = a.asString();
    const std::string& y = b.asString();
    return y.size() <= x.size() && x.compare(0, y.size(), y) == 0;
  }
  return exactlyEqual(a, b);
}

Result comparison(Op op, const Value& a, const Value& b) {
  if (op == Op::Contains) {
    if (!a.isString() || !b.isString()) return {{}, Fault::TypeMismatch};
    const std::string& needle = a.asString();
    return {Value(!needle.empty() && b.asString().find(needle) != std::string::npos)};
  }
  // NIL may be tested for (in)equality against any kind.
  if (a.isNil() || b.isNil()) {
    bool same = a.isNil() && b.isNil();
    if (op == Op::Eq || op == Op::ExactEq) return {Value(same)};
    if (op == Op::Ne) return {Value(!same)};
    if (!same) return {{}, Fault::TypeMismatch};
    return {Value(op == Op::Le || op == Op::Ge)};
  }
  bool comparable = (a.isNumber() && b.isNumber()) || a.type() == b.type();
  if (!comparable) return {{}, Fault::TypeMismatch};
  if (op == Op::Eq) return {Value(looselyEqual(a, b))};
  if (op == Op::Ne) return {Value(!looselyEqual(a, b))};
  if (op == Op::ExactEq) return {Value(exactlyEqual(a, b))};
  std::optional<int> c = compareValues(a, b);
  if (!c) return {{}, Fault::TypeMismatch};
  switch (op) {
    case Op::Lt: return {Value(*c < 0)};
    case Op::Le: return {Value(*c <= 0)};
    case Op::Gt: return {Value(*c > 0)};
    case Op::Ge: return {Value(*c >= 0)};
    default: return {{}, Fault::TypeMismatch};
  }
}

}  // namespace

std::int64_t saturatedLong(double d) {
  if (d != d) return 0;
  if (d >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
  if (d <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

void appendTrimmedJoin(std::string& left, const std::string& right) {
  std::size_t end = left.find_last_not_of(' ');
  std::size_t blanks = end == std::string::npos ? left.size() : left.size() - end - 1;
  left.resize(left.size() - blanks);
  left += right;
  left.append(blanks, ' ');
}

Result apply(Op op, const Value& a, const Value& b) {
  switch (op) {
    case Op::Add: case Op::Sub:
      if (a.isString() && b.isString()) return join(op, a.asString(), b.asString());
      if (a.isDate() || b.isDate()) return dateArithmetic(op, a, b);
      [[fallthrough]];
    case Op::Mul: case Op::Div: case Op::Mod: case Op::Pow:
      if (!a.isNumber() || !b.isNumber()) return {{}, Fault::TypeMismatch};
      return arithmetic(op, a, b);
    default:
      return comparison(op, a, b);
  }
}

Result negate(const Value& a) {
  if (a.isLong()) {
    std::int64_t x = a.asLong();
    if (x == std::numeric_limits<std::int64_t>::min()) return number(-static_cast<double>(x), 0);
    return {Value(static_cast<long long>(-x))};
  }
  if (a.isFloat()) return {Value(Float{-a.asNumber(), a.decimals()})};
  return {{}, Fault::TypeMismatch};
}

const char* opText(Op op) {
  switch (op) {
    case Op::Add: return "+";
    case Op::Sub: return "-";
    case Op::Mul: return "*";
    case Op::Div: return "/";
    case Op::Mod: return "%";
    case Op::Pow: return "^";
    case Op::Eq: return "=";
    case Op::ExactEq: return "==";
    case Op::Ne: return "!=";
    case Op::Lt: return "<";
    case Op::Le: return "<=";
    case Op::Gt: return ">";
    case Op::Ge: return ">=";
    case Op::Contains: return "$";
  }
  return "?";
}

}  // namespace rt::ops
