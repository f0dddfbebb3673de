#include "runtime/value.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "runtime/format.h"
#include "runtime/object.h"
#include "runtime/settings.h"

namespace rt {

std::string typeName(int typeCode) {
  switch (typeCode) {
    case 0: return "NIL";
    case 1: return "LONGINT";
    case 2: return "DATE";
    case 3: return "FLOAT";
    case 5: return "ARRAY";
    case 6: return "OBJECT";
    case 7: return "STRING";
    case 8: return "LOGIC";
    case 10: return "SYMBOL";
    case 18: return "PTR";
    default: return "UNKNOWN";
  }
}

Value::Value(ObjectPtr v) {
  if (v) data_ = std::move(v);
}

Value::Value(ArrayPtr v) {
  if (v) data_ = std::move(v);
}

Value Value::array(Array items) { return Value(std::make_shared<Array>(std::move(items))); }

Type Value::type() const {
  static constexpr Type kByIndex[] = {Type::Nil,    Type::Long,   Type::Date,    Type::Float,
                                      Type::Array,  Type::Object, Type::String,  Type::Logical,
                                      Type::Symbol, Type::Pointer};
  return kByIndex[data_.index()];
}

std::int64_t Value::asLong() const {
  if (auto* l = std::get_if<std::int64_t>(&data_)) return *l;
  if (auto* f = std::get_if<Float>(&data_)) {
    // Saturates instead of overflowing; NaN reads as 0.
    double d = f->value;
    if (d != d) return 0;
    if (d >= 9223372036854775807.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(d);
  }
  return 0;
}

double Value::asNumber() const {
  if (auto* l = std::get_if<std::int64_t>(&data_)) return static_cast<double>(*l);
  if (auto* f = std::get_if<Float>(&data_)) return f->value;
  return 0;
}

int Value::decimals() const {
  if (auto* f = std::get_if<Float>(&data_)) return f->decimals;
  return 0;
}

bool Value::asLogical() const {
  auto* b = std::get_if<bool>(&data_);
  return b && *b;
}

const std::string& Value::asString() const {
  static const std::string kEmpty;
  auto* s = std::get_if<std::string>(&data_);
  return s ? *s : kEmpty;
}

Symbol Value::asSymbol() const {
  auto* s = std::get_if<Symbol>(&data_);
  return s ? *s : Symbol();
}

Date Value::asDate() const {
  auto* d = std::get_if<Date>(&data_);
  return d ? *d : Date();
}

Pointer Value::asPointer() const {
  auto* p = std::get_if<Pointer>(&data_);
  return p ? *p : Pointer();
}

ObjectPtr Value::asObject() const {
  auto* o = std::get_if<ObjectPtr>(&data_);
  return o ? *o : nullptr;
}

ArrayPtr Value::asArray() const {
  auto* a = std::get_if<ArrayPtr>(&data_);
  return a ? *a : nullptr;
}

bool exactlyEqual(const Value& a, const Value& b) {
  if (a.isNumber() && b.isNumber()) return a.asNumber() == b.asNumber();
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Type::Nil: return true;
    case Type::Date: return a.asDate() == b.asDate();
    case Type::String: return a.asString() == b.asString();
    case Type::Logical: return a.asLogical() == b.asLogical();
    case Type::Symbol: return a.asSymbol() == b.asSymbol();
    case Type::Pointer: return a.asPointer().address == b.asPointer().address;
    case Type::Array: return a.asArray() == b.asArray();
    case Type::Object: return a.asObject() == b.asObject();
    default: return false;
  }
}

namespace {

int compareStrings(const std::string& a, const std::string& b) {
  // Fixed byte order; the locale collation falls back to byte order for bytes outside ASCII.
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (settings().collation == Collation::Locale) {
      ca = static_cast<unsigned char>(std::tolower(ca));
      cb = static_cast<unsigned char>(std::tolower(cb));
    }
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <class T>
int threeWay(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

std::optional<int> compareValues(const Value& a, const Value& b) {
  if (a.isNumber() && b.isNumber()) return threeWay(a.asNumber(), b.asNumber());
  if (a.type() != b.type()) return std::nullopt;
  switch (a.type()) {
    case Type::Nil: return 0;
    case Type::String: return compareStrings(a.asString(), b.asString());
    case Type::Date: return threeWay(a.asDate().julian, b.asDate().julian);
    case Type::Logical: return threeWay(a.asLogical(), b.asLogical());
    case Type::Symbol: return compareStrings(a.asSymbol().name(), b.asSymbol().name());
    default: return std::nullopt;
  }
}

std::string toText(const Value& v) {
  switch (v.type()) {
    case Type::Nil: return "NIL";
    case Type::Long: return std::to_string(v.asLong());
    case Type::Float: return formatNumber(v.asNumber(), v.decimals());
    case Type::Date: return dtoc(v.asDate());
    case Type::String: return v.asString();
    case Type::Logical: return v.asLogical() ? ".T." : ".F.";
    case Type::Symbol: return v.asSymbol().name();
    case Type::Array: return "{...}";
    case Type::Object: return "{" + v.asObject()->className() + "}";
    case Type::Pointer: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v.asPointer().address));
      return buf;
    }
  }
  return {};
}

Value emptyValueOf(int typeCode) {
  switch (static_cast<Type>(typeCode)) {
    case Type::Long: return Value(0);
    case Type::Date: return Value(Date{});
    case Type::Float: return Value(0.0);
    case Type::Array: return Value::array();
    case Type::String: return Value(std::string());
    case Type::Logical: return Value(false);
    case Type::Symbol: return Value(Symbol());
    case Type::Pointer: return Value(Pointer{});
    default: return Value();
  }
}

}  // namespace rt
