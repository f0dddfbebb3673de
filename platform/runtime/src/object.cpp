#include "runtime/object.h"

#include "runtime/error.h"

namespace rt {

Value Object::send(Symbol member, const std::vector<Value>&) { return noMethod(member); }
Value Object::get(Symbol member) { return noIVarGet(member); }
Value Object::put(Symbol member, const Value& value) { return noIVarPut(member, value); }

namespace {

Value raiseNoMember(const std::string& className, Symbol member, const char* what) {
  auto e = makeError(EG_NOVAR, "BASE", std::string(what) + " " + member.name() + " of class " + className,
                     className + ":" + member.name());
  e->funcSym = member;
  e->canDefault = true;
  e->canSubstitute = true;
  Answer a = raise(e);
  return a.kind == Answer::Substitute ? a.substitute : Value();
}

}  // namespace

Value Object::noMethod(Symbol member) { return raiseNoMember(className(), member, "No exported method"); }
Value Object::noIVarGet(Symbol member) {
  return raiseNoMember(className(), member, "No exported variable");
}
Value Object::noIVarPut(Symbol member, const Value&) {
  return raiseNoMember(className(), member, "No exported variable");
}

}  // namespace rt
