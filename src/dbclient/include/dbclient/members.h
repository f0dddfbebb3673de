// The typed description of the object database's automation interface: one row per member
// (id, kind, parameters, result, flags). The wrappers build their member descriptors from it.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "ole/ole.h"

namespace dbclient {

enum class MemberKind : std::uint8_t {
  Method,    // called
  Property,  // a get and a put; the put takes one more parameter of the get's result type
  GetOnly,   // a get without a put
};

struct ParamRow {
  const char* name = nullptr;  // carried only by methods
  std::uint16_t vartype = 0;
  std::uint16_t refType = 0;   // with VT_PTR only
  bool optional = false;
};

struct MemberRow {
  const char* name;
  ole::DispId id;
  MemberKind kind;
  std::uint16_t resultType;
  std::uint16_t resultRef;  // with VT_PTR only
  std::uint32_t flags;      // member flags of the control's properties; 0 elsewhere
  int paramCount;
  ParamRow params[3];
  std::uint16_t putType = 0;  // the put parameter's type when it differs from the get's result
  std::uint16_t putRef = 0;
};

struct InterfaceTable {
  const char* className;  // "Zorbane", "ZClass", ...
  std::uint32_t dwFuncs;
  std::uint32_t dwVars;
  std::span<const MemberRow> members;
  const MemberRow* find(std::string_view name) const;  // without regard to case
};

// The control's interface and the twelve schema interfaces.
const InterfaceTable& zorbaneTable();
const InterfaceTable& zClassFamiliesTable();
const InterfaceTable& zClassFamilyTable();
const InterfaceTable& zClassesTable();
const InterfaceTable& zClassTable();
const InterfaceTable& zPropertiesTable();
const InterfaceTable& zPropertyTable();
const InterfaceTable& zMethodsTable();
const InterfaceTable& zMethodTable();
const InterfaceTable& zParametersTable();
const InterfaceTable& zParameterTable();
const InterfaceTable& zQueriesTable();
const InterfaceTable& zQueryTable();
std::span<const InterfaceTable* const> schemaTables();  // the twelve, in the order above

// How one access of a member is invoked.
enum class Access { Call, Get, Put };

}  // namespace dbclient
