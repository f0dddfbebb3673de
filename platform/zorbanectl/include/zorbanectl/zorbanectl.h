// The object database's control: a dispatch component over an SQLite schema store (opened
// read-only) that answers the control's members and hands out schema objects (families,
// classes, members, parameters, queries). It registers itself with the automation layer under
// kControlClassName; a stored-state section names that class and the store to open.
// Objects are reference-counted dispatch interfaces. GUI thread only.
#pragma once
#include <span>
#include <string_view>
#include <vector>

#include "ole/ole.h"

namespace zctl {

inline constexpr const char* kControlClassName = "Zorbane.Control";

// Registers the control class with the automation layer (idempotent). Call once at start.
void registerControl();

// Creates a control from a stored-state section; null with excep filled when a key is unknown
// or a value malformed.
ole::DispatchPtr createControl(const ole::StoredState& state, ole::ExcepInfo& excep);

// The members an interface of this component answers: name, id and whether it is a property.
struct MemberInfo {
  std::string_view name;
  ole::DispId id;
  bool property;
};
// Interfaces: "Zorbane", "ZClassFamilies" (any collection), "ZQueries", "ZClassFamily", "ZClass",
// "ZProperty", "ZMethod", "ZParameter", "ZQuery". Unknown names give an empty list.
std::vector<MemberInfo> interfaceMembers(std::string_view interfaceName);

}  // namespace zctl
