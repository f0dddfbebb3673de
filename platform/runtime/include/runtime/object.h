// The base of every run-time object. Calls, reads and writes of member names that a class does
// not handle itself arrive at noMethod / noIVarGet / noIVarPut: this is late binding by name.
// The defaults raise GenCode 14 (undeclared member) naming the class and the member.
#pragma once
#include <string>
#include <vector>

#include "runtime/value.h"

namespace rt {

class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  virtual std::string className() const { return "OBJECT"; }

  // Late-bound entry points; subclasses override to resolve names at run time.
  virtual Value send(Symbol member, const std::vector<Value>& args);
  virtual Value get(Symbol member);
  virtual Value put(Symbol member, const Value& value);

 protected:
  Value noMethod(Symbol member);
  Value noIVarGet(Symbol member);
  Value noIVarPut(Symbol member, const Value& value);
};

}  // namespace rt
