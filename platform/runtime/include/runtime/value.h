// The dynamic value that crosses every late-bound call, control value and error object.
// Kinds and their type codes: nil 0, long 1, date 2, float 3, array 5, object 6, string 7,
// logical 8, symbol 10, pointer 18. Arrays and objects are shared by reference; the rest by value.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "runtime/symbol.h"

namespace rt {

enum class Type : int {
  Nil = 0, Long = 1, Date = 2, Float = 3, Array = 5, Object = 6,
  String = 7, Logical = 8, Symbol = 10, Pointer = 18,
};

// The run-time's name for a type code ("NIL", "LONGINT", "STRING", ...); "UNKNOWN" for others.
std::string typeName(int typeCode);

// A calendar date as a Julian day number; 0 is the empty date.
struct Date {
  std::int32_t julian = 0;
  bool empty() const { return julian == 0; }
  friend auto operator<=>(Date, Date) = default;
};

// A floating number keeps the decimals it is shown with (-1: the default decimals setting).
struct Float {
  double value = 0;
  int decimals = -1;
};

struct Pointer {
  std::uintptr_t address = 0;
};

class Object;
class Value;
using ObjectPtr = std::shared_ptr<Object>;
using Array = std::vector<Value>;
using ArrayPtr = std::shared_ptr<Array>;

class Value {
 public:
  Value() = default;
  Value(int v) : data_(static_cast<std::int64_t>(v)) {}
  Value(long v) : data_(static_cast<std::int64_t>(v)) {}
  Value(long long v) : data_(static_cast<std::int64_t>(v)) {}
  Value(unsigned v) : data_(static_cast<std::int64_t>(v)) {}
  Value(double v) : data_(Float{v, -1}) {}
  Value(Float v) : data_(v) {}
  Value(bool v) : data_(v) {}
  Value(const char* v) : data_(std::string(v ? v : "")) {}  // a null pointer makes ""
  Value(std::string v) : data_(std::move(v)) {}
  Value(std::string_view v) : data_(std::string(v)) {}
  Value(Symbol v) : data_(v) {}
  Value(Date v) : data_(v) {}
  Value(Pointer v) : data_(v) {}
  Value(ObjectPtr v);  // a null pointer makes nil
  template <class T>
    requires std::is_base_of_v<Object, T>
  Value(std::shared_ptr<T> v) : Value(ObjectPtr(std::move(v))) {}
  Value(unsigned long v) : data_(static_cast<std::int64_t>(v)) {}
  Value(unsigned long long v) : data_(static_cast<std::int64_t>(v)) {}
  Value(ArrayPtr v);  // a null pointer makes nil
  static Value array(Array items = {});

  Type type() const;
  int typeCode() const { return static_cast<int>(type()); }

  bool isNil() const { return type() == Type::Nil; }
  bool isLong() const { return type() == Type::Long; }
  bool isFloat() const { return type() == Type::Float; }
  bool isNumber() const { return isLong() || isFloat(); }
  bool isString() const { return type() == Type::String; }
  bool isLogical() const { return type() == Type::Logical; }
  bool isDate() const { return type() == Type::Date; }
  bool isArray() const { return type() == Type::Array; }
  bool isObject() const { return type() == Type::Object; }
  bool isSymbol() const { return type() == Type::Symbol; }
  bool isPointer() const { return type() == Type::Pointer; }

  // Accessors answer the kind's neutral value (0, "", false, null) when the kind differs.
  std::int64_t asLong() const;      // floats are truncated (saturating; NaN is 0)
  double asNumber() const;
  int decimals() const;              // of a float; 0 for a long
  bool asLogical() const;
  const std::string& asString() const;
  Symbol asSymbol() const;
  Date asDate() const;
  Pointer asPointer() const;
  ObjectPtr asObject() const;
  ArrayPtr asArray() const;
  template <class T>
  std::shared_ptr<T> as() const { return std::dynamic_pointer_cast<T>(asObject()); }

 private:
  std::variant<std::monostate, std::int64_t, Date, Float, ArrayPtr, ObjectPtr, std::string, bool,
               Symbol, Pointer>
      data_;
};

// Exact equality ("=="): same kind (longs and floats compare as numbers) and same content;
// strings byte for byte, arrays and objects by identity.
bool exactlyEqual(const Value& a, const Value& b);

// Ordering of two values of comparable kinds under the current collation; nullopt when the kinds
// cannot be compared. Strings compare over their common length first, then the shorter is less.
std::optional<int> compareValues(const Value& a, const Value& b);

// The general conversion of any value to text, as the error log and "text of" a value use it.
std::string toText(const Value& v);

// The empty value of a type code: NIL, 0, empty date, 0.0, {}, NIL object, "", .F., null symbol.
Value emptyValueOf(int typeCode);

}  // namespace rt
