#include "workflow/late_call.h"

namespace mainwin::detail {
namespace {

rt::ObjectPtr objectFor(const rt::Value& on, const char* member, const char* operation) {
  if (on.isObject() && on.asObject()) return on.asObject();
  auto e = rt::makeError(rt::EG_NOVAR, "ZORBANE",
                         std::string("member ") + member + " asked of a value that is not an object (" +
                             rt::toText(on) + ")",
                         operation);
  e->canDefault = true;
  (void)rt::raise(e);
  return nullptr;
}

}  // namespace

rt::Value lateSend(const rt::Value& on, const char* member, const std::vector<rt::Value>& args) {
  auto object = objectFor(on, member, "SEND");
  return object ? object->send(rt::Symbol(member), args) : rt::Value();
}

rt::Value lateGet(const rt::Value& on, const char* member) {
  auto object = objectFor(on, member, "GET");
  return object ? object->get(rt::Symbol(member)) : rt::Value();
}

rt::Value latePut(const rt::Value& on, const char* member, const rt::Value& value) {
  auto object = objectFor(on, member, "PUT");
  return object ? object->put(rt::Symbol(member), value) : rt::Value();
}

}  // namespace mainwin::detail
