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

struct ParamSpec {
  const char* name = nullptr;  // carried only by methods
  std::uint16_t vartype = 0;
  std::uint16_t refType = 0;   // with VT_PTR only
  bool optional = false;
};

struct MemberSpec {
  const char* name;
  ole::DispId id;
  MemberKind kind;
  std::uint16_t resultType;
  std::uint16_t resultRef;  // with VT_PTR only
  std::uint32_t flags;      // member flags of the control's properties; 0 elsewhere
  int paramCount;
  ParamSpec params[3];
  std::uint16_t putType = 0;  // the put parameter's type when it differs from the get's result
  std::uint16_t putRef = 0;
};

struct InterfaceSpec {
  const char* className;  // "Zorbane", "ZClass", ...
  std::uint32_t dwFuncs;
  std::uint32_t dwVars;
  std::span<const MemberSpec> members;
  const MemberSpec* find(std::string_view name) const;  // without regard to case
};

// The control's interface and the twelve schema interfaces.
const InterfaceSpec& zorbaneSpec();
const InterfaceSpec& zClassFamiliesSpec();
const InterfaceSpec& zClassFamilySpec();
const InterfaceSpec& zClassesSpec();
const InterfaceSpec& zClassSpec();
const InterfaceSpec& zPropertiesSpec();
const InterfaceSpec& zPropertySpec();
const InterfaceSpec& zMethodsSpec();
const InterfaceSpec& zMethodSpec();
const InterfaceSpec& zParametersSpec();
const InterfaceSpec& zParameterSpec();
const InterfaceSpec& zQueriesSpec();
const InterfaceSpec& zQuerySpec();
std::span<const InterfaceSpec* const> schemaSpecs();  // the twelve, in the order above

// How one access of a member is invoked.
enum class Access { Call, Get, Put };

}  // namespace dbclient
