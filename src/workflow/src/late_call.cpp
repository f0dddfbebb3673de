#include "workflow/late_call.h"

namespace workflow::detail {
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

// The vector the last call's arguments travelled in. A call made while another runs (from the
// server or an error handler) finds none spare and makes its own.
thread_local std::vector<rt::Value> spareArguments;

}  // namespace

rt::Value lateSend(const rt::Value& on, const char* member, std::initializer_list<rt::Value> args) {
  return lateSend(on, LateMember(member), args);
}

rt::Value lateSend(const rt::Value& on, const LateMember& member, std::initializer_list<rt::Value> args) {
  auto object = objectFor(on, member.name, "SEND");
  if (!object) return rt::Value();
  std::vector<rt::Value> arguments = std::move(spareArguments);
  arguments.assign(args);
  rt::Value result = object->send(member.symbol, arguments);
  arguments.clear();
  spareArguments = std::move(arguments);
  return result;
}

rt::Value lateGet(const rt::Value& on, const char* member) { return lateGet(on, LateMember(member)); }

rt::Value lateGet(const rt::Value& on, const LateMember& member) {
  auto object = objectFor(on, member.name, "GET");
  return object ? object->get(member.symbol) : rt::Value();
}

rt::Value latePut(const rt::Value& on, const char* member, const rt::Value& value) {
  auto object = objectFor(on, member, "PUT");
  return object ? object->put(rt::Symbol(member), value) : rt::Value();
}

}  // namespace workflow::detail
