// Late-bound calls on values the database control hands out. A member asked of something that
// is not an object (a failed call answered nil) is raised naming the member, and answers nil,
// so a broken walk ends instead of crashing.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/runtime.h"

namespace workflow::detail {

// A member name with its symbol made once, for calls repeated in a loop.
struct LateMember {
  explicit LateMember(const char* member) : name(member), symbol(member) {}
  const char* name;
  rt::Symbol symbol;
};

// The arguments travel in a vector kept from one call to the next, so a call in a loop makes none.
rt::Value lateSend(const rt::Value& on, const char* member, std::initializer_list<rt::Value> args = {});
rt::Value lateSend(const rt::Value& on, const LateMember& member, std::initializer_list<rt::Value> args = {});
rt::Value lateGet(const rt::Value& on, const char* member);
rt::Value lateGet(const rt::Value& on, const LateMember& member);
rt::Value latePut(const rt::Value& on, const char* member, const rt::Value& value);

}  // namespace workflow::detail
