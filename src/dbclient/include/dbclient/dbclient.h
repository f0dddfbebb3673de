// The object database's automation client: typed wrappers over OLEAutoObject that describe the
// control (Zorbane) and its twelve schema interfaces member by member and invoke through member
// descriptors; object results become plain OLEAutoObjects. Wrappers own only their interface
// reference. GUI thread only.
// A typed library for other callers of the control: neither program links it (the workflow calls
// the control late-bound, by member name); its own tests (tests/dbclient) are its users here.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "dbclient/members.h"
#include "ole/ole.h"
#include "runtime/runtime.h"

namespace dbclient {

// Builds the descriptor of `access` on member `row` for invoking on `on`: the 8-item array, with the
// parameter block allocated on `on` (freed by the caller with on.FreeArgs) and a result record.
struct BuiltFuncDesc {
  rt::Value desc;
  rt::Pointer params;  // address 0 when the member declares no parameter
  rt::Pointer result;  // address 0 for a property put
};
BuiltFuncDesc buildFuncDesc(ole::OLEAutoObject& on, const MemberRow& row, Access access);

// Invokes a declared member through the early-binding path and converts the result: VT_DISPATCH
// becomes a new OLEAutoObject (nil for an empty interface), the Font get likewise when it
// delivers an interface, everything else as delivered.
rt::Value invokeTyped(ole::OLEAutoObject& on, const MemberRow& row, Access access,
                      const std::vector<rt::Value>& args, std::size_t countPassed);

// Base of the twelve schema wrappers. Declared members are invoked early-bound (send: a method
// call, or a property get with its index arguments; get; put); other names go late-bound.
class SchemaWrapper : public ole::OLEAutoObject {
 public:
  SchemaWrapper(const InterfaceTable& table, const rt::Value& wrapped);
  std::string className() const override;
  const InterfaceTable& table() const { return table_; }

  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;
  rt::Value get(rt::Symbol member) override;
  rt::Value put(rt::Symbol member, const rt::Value& value) override;
  // A declared member with the first countPassed of args (trailing optional ones left out).
  rt::Value invoke(std::string_view member, Access access, const std::vector<rt::Value>& args,
                   std::size_t countPassed);

 private:
  const InterfaceTable& table_;
};

#define DBCLIENT_WRAPPER(Name, tableFn)                                             \
  class Name : public SchemaWrapper {                                              \
   public:                                                                         \
    explicit Name(const rt::Value& wrapped) : SchemaWrapper(tableFn(), wrapped) {}  \
  };
DBCLIENT_WRAPPER(ZClassFamilies, zClassFamiliesTable)
DBCLIENT_WRAPPER(ZClassFamily, zClassFamilyTable)
DBCLIENT_WRAPPER(ZClasses, zClassesTable)
DBCLIENT_WRAPPER(ZClass, zClassTable)
DBCLIENT_WRAPPER(ZProperties, zPropertiesTable)
DBCLIENT_WRAPPER(ZProperty, zPropertyTable)
DBCLIENT_WRAPPER(ZMethods, zMethodsTable)
DBCLIENT_WRAPPER(ZMethod, zMethodTable)
DBCLIENT_WRAPPER(ZParameters, zParametersTable)
DBCLIENT_WRAPPER(ZParameter, zParameterTable)
DBCLIENT_WRAPPER(ZQueries, zQueriesTable)
DBCLIENT_WRAPPER(ZQuery, zQueryTable)
#undef DBCLIENT_WRAPPER

// The control class. Not a window here: it holds the hosted control's handle (ControlSite: an
// OLEAutoObject, an IDispatch or IUnknown holder) and, after InitAutoObject, AutoObject, through
// which every declared member is invoked early-bound. Other names are forwarded late-bound.
class Zorbane : public rt::Object {
 public:
  Zorbane() = default;
  std::string className() const override { return "ZORBANE"; }

  // Asks ControlSite for its dispatch interface; when there is none AutoObject stays unset.
  void InitAutoObject();

  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;
  rt::Value get(rt::Symbol member) override;
  rt::Value put(rt::Symbol member, const rt::Value& value) override;
  rt::Value invoke(std::string_view member, Access access, const std::vector<rt::Value>& args,
                   std::size_t countPassed);

  rt::Value ControlSite;
  ole::AutoObjectPtr AutoObject;
};

}  // namespace dbclient
