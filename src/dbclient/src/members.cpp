// The member tables of the object database's automation interface, one row per member.
#include "dbclient/members.h"

#include "runtime/runtime.h"

namespace dbclient {

namespace {

using namespace ole;
constexpr auto M = MemberKind::Method;
constexpr auto P = MemberKind::Property;
constexpr auto G = MemberKind::GetOnly;
constexpr bool OPT = true;

// Columns: name, id, kind, result type, result's referenced type, flags, parameter count,
// parameters {name, type, referenced type, optional}, put type, put's referenced type.
constexpr MemberRow kZorbane[] = {
    {"Connect", 24, M, VT_VOID, 0, 0, 0, {}},
    {"Disconnect", 25, M, VT_VOID, 0, 0, 0, {}},
    {"TransactionRollback", 26, M, VT_VOID, 0, 0, 0, {}},
    {"ExecuteStatement", 27, M, VT_VOID, 0, 0, 1, {{"Statement", VT_BSTR}}},
    {"ClassFamilyFromName", 30, M, VT_DISPATCH, 0, 0, 1, {{"ClassFamily", VT_BSTR}}},
    {"ClassFamilyFromInstance", 31, M, VT_DISPATCH, 0, 0, 1, {{"Instance", VT_DISPATCH}}},
    {"ClassFromInstance", 32, M, VT_DISPATCH, 0, 0, 1, {{"Instance", VT_DISPATCH}}},
    {"PropertiesFromInstance", 33, M, VT_DISPATCH, 0, 0, 3,
     {{"Instance", VT_DISPATCH}, {"IncludeInherited", VT_BOOL}, {"Filter", VT_I2}}},
    {"MethodsFromInstance", 34, M, VT_DISPATCH, 0, 0, 3,
     {{"Instance", VT_DISPATCH}, {"IncludeInherited", VT_BOOL}, {"Filter", VT_I2}}},
    {"TransactionStart", 35, M, VT_I4, 0, 0, 1, {{"ReadOnly", VT_VARIANT, 0, OPT}}},
    {"TransactionCommit", 36, M, VT_VOID, 0, 0, 1, {{"Flag", VT_VARIANT, 0, OPT}}},
    {"ClassFamily", 37, M, VT_DISPATCH, 0, 0, 1, {{"NameOrIndex", VT_VARIANT}}},
    {"RunQueryExpression", 38, M, VT_DISPATCH, 0, 0, 1, {{"Expression", VT_VARIANT, 0, OPT}}},
    {"GetClassObject", 39, M, VT_DISPATCH, 0, 0, 2, {{"ClassFamily", VT_BSTR}, {"Class", VT_BSTR}}},
    {"IsWithinTransaction", 40, M, VT_BOOL, 0, 0, 0, {}},
    {"AboutBox", DISPID_ABOUTBOX, M, VT_VOID, 0, 0, 0, {}},
    {"ShowToolTip", 1, P, VT_BOOL, 0, 0x40, 0, {}},
    {"ToolTipText", 2, P, VT_BSTR, 0, 0, 0, {}},
    {"UserName", 3, P, VT_BSTR, 0, 0, 0, {}},
    {"Password", 4, P, VT_BSTR, 0, 0x40, 0, {}},
    {"ClassFamilies", 5, P, VT_DISPATCH, 0, 0x40, 0, {}},
    {"QueryExpression", 6, P, VT_BSTR, 0, 0, 0, {}},
    {"Environment", 10, P, VT_BSTR, 0, 0, 0, {}},
    {"HostName", 11, P, VT_BSTR, 0, 0, 0, {}},
    {"ShowLogon", 12, P, VT_BOOL, 0, 0, 0, {}},
    {"UseConnectionManager", 13, P, VT_BOOL, 0, 0, 0, {}},
    {"Query", 14, P, VT_DISPATCH, 0, 0x40, 0, {}},
    {"RemoteNode", 15, P, VT_BSTR, 0, 0, 0, {}},
    {"Protocol", 16, P, VT_BSTR, 0, 0, 0, {}},
    {"ListenAddress", 17, P, VT_BSTR, 0, 0, 0, {}},
    {"ServerPortID", 18, P, VT_BSTR, 0, 0x40, 0, {}},
    {"ConnectionName", 19, P, VT_BSTR, 0, 0, 0, {}},
    {"TransactionState", 20, P, VT_I4, 0, 0x40, 0, {}},
    {"ConnectionState", 21, P, VT_I4, 0, 0x40, 0, {}},
    {"ContainerType", 22, P, VT_I2, 0, 0x40, 0, {}},
    {"SessionHandle", 23, P, VT_I4, 0, 0x40, 0, {}},
    {"Caption", DISPID_CAPTION, P, VT_BSTR, 0, 0x0C, 0, {}},
    {"Font", DISPID_FONT, P, VT_PTR, VT_USERDEFINED, 0x04, 0, {}, VT_PTR, VT_VARIANT},
    {"Enabled", DISPID_ENABLED, P, VT_BOOL, 0, 0x0C, 0, {}},
};

// The collection protocol; the index parameters carry no name and no flags.
constexpr MemberRow kCollection[] = {
    {"Item", 2, P, VT_DISPATCH, 0, 0, 1, {{nullptr, VT_VARIANT}}},
    {"_Item", DISPID_VALUE, G, VT_DISPATCH, 0, 0, 1, {{nullptr, VT_VARIANT}}},
    {"_NewEnum", DISPID_NEWENUM, G, VT_UNKNOWN, 0, 0, 0, {}},
    {"Count", 1, P, VT_I4, 0, 0, 0, {}},
};

constexpr MemberRow kQueries[] = {
    {"Item", 2, P, VT_DISPATCH, 0, 0, 1, {{nullptr, VT_VARIANT}}},
    {"Count", 1, P, VT_I4, 0, 0, 0, {}},
};

constexpr MemberRow kClassFamily[] = {
    {"Name", 1, P, VT_BSTR, 0, 0, 0, {}},
    {"Classes", 2, P, VT_DISPATCH, 0, 0, 0, {}},
    {"TopClasses", 3, P, VT_DISPATCH, 0, 0, 0, {}},
    {"ClassFromName", 4, M, VT_DISPATCH, 0, 0, 1, {{"ClassName", VT_BSTR}}},
    {"Class_", 5, M, VT_DISPATCH, 0, 0, 1, {{"VarClass", VT_VARIANT}}},
};

constexpr MemberRow kClass[] = {
    {"Name", 1, P, VT_BSTR, 0, 0, 0, {}},
    {"SuperClasses", 2, P, VT_DISPATCH, 0, 0, 0, {}},
    {"SubClasses", 3, P, VT_DISPATCH, 0, 0, 0, {}},
    {"Method_", 4, M, VT_DISPATCH, 0, 0, 3,
     {{"MethodVar", VT_VARIANT}, {"IncludeInherited", VT_VARIANT, 0, OPT}, {"SearchFilter", VT_VARIANT, 0, OPT}}},
    {"Property", 5, M, VT_DISPATCH, 0, 0, 3,
     {{"PropVar", VT_VARIANT}, {"IncludeInherited", VT_VARIANT, 0, OPT}, {"SearchFilter", VT_VARIANT, 0, OPT}}},
    {"MethodFromName", 6, M, VT_DISPATCH, 0, 0, 3,
     {{"Name", VT_BSTR}, {"IncludeInherited", VT_BOOL}, {"SearchFilter", VT_I4}}},
    {"PropertyFromName", 7, M, VT_DISPATCH, 0, 0, 3,
     {{"Name", VT_BSTR}, {"IncludeInherited", VT_BOOL}, {"SearchFilter", VT_I4}}},
    {"Methods", 8, M, VT_DISPATCH, 0, 0, 2,
     {{"IncludeInherited", VT_VARIANT, 0, OPT}, {"Filter", VT_VARIANT, 0, OPT}}},
    {"Properties", 9, M, VT_DISPATCH, 0, 0, 2,
     {{"IncludeInherited", VT_VARIANT, 0, OPT}, {"Filter", VT_VARIANT, 0, OPT}}},
    {"NewInstance", 10, M, VT_DISPATCH, 0, 0, 0, {}},
};

constexpr MemberRow kProperty[] = {
    {"Name", 1, P, VT_BSTR, 0, 0, 0, {}},          {"ClassFamilyName", 2, P, VT_BSTR, 0, 0, 0, {}},
    {"PropertyType", 3, P, VT_I4, 0, 0, 0, {}},    {"ClassName", 4, P, VT_BSTR, 0, 0, 0, {}},
    {"IsClass", 5, P, VT_BOOL, 0, 0, 0, {}},       {"IsSet", 6, P, VT_BOOL, 0, 0, 0, {}},
    {"IsMandatory", 7, P, VT_BOOL, 0, 0, 0, {}},   {"IsUnique", 8, P, VT_BOOL, 0, 0, 0, {}},
    {"Description", 9, P, VT_BSTR, 0, 0, 0, {}},   {"Precision", 10, P, VT_I4, 0, 0, 0, {}},
    {"Scale", 11, P, VT_I4, 0, 0, 0, {}},          {"DefaultValue", 12, P, VT_BSTR, 0, 0, 0, {}},
};

constexpr MemberRow kMethod[] = {
    {"Name", 1, P, VT_BSTR, 0, 0, 0, {}},
    {"ClassFamilyName", 2, P, VT_BSTR, 0, 0, 0, {}},
    {"MethodType", 3, P, VT_I4, 0, 0, 0, {}},
    {"ClassName", 4, P, VT_BSTR, 0, 0, 0, {}},
    {"IsSet", 5, P, VT_BOOL, 0, 0, 0, {}},
    {"Description", 6, P, VT_BSTR, 0, 0, 0, {}},
    {"Precision", 7, P, VT_I4, 0, 0, 0, {}},
    {"Scale", 8, P, VT_I4, 0, 0, 0, {}},
    {"Parameters_", 9, P, VT_DISPATCH, 0, 0, 0, {}},
    {"ParameterFromName", 10, M, VT_DISPATCH, 0, 0, 1, {{"ParamName", VT_BSTR}}},
    {"Parameter_", 11, M, VT_DISPATCH, 0, 0, 1, {{"VarParam", VT_VARIANT}}},
};

constexpr MemberRow kParameter[] = {
    {"Name", 1, P, VT_BSTR, 0, 0, 0, {}},       {"Position", 2, P, VT_I4, 0, 0, 0, {}},
    {"ClassName", 3, P, VT_BSTR, 0, 0, 0, {}},  {"ClassFamilyName", 4, P, VT_BSTR, 0, 0, 0, {}},
    {"Precision", 5, P, VT_I4, 0, 0, 0, {}},    {"Scale", 6, P, VT_I4, 0, 0, 0, {}},
    {"IsSet", 7, P, VT_BOOL, 0, 0, 0, {}},      {"ParameterType", 8, P, VT_I4, 0, 0, 0, {}},
    {"DefaultValue", 9, P, VT_BSTR, 0, 0, 0, {}},
};

constexpr MemberRow kQuery[] = {
    {"Edit", 1, M, VT_VOID, 0, 0, 1, {{"QueryId", VT_VARIANT}}},
    {"Save", 2, M, VT_VOID, 0, 0, 1, {{"QueryId", VT_VARIANT}}},
    {"Execute", 3, M, VT_DISPATCH, 0, 0, 1, {{"QueryId", VT_VARIANT}}},
    {"Create", 4, M, VT_I4, 0, 0, 0, {}},
    {"Delete", 5, M, VT_I4, 0, 0, 1, {{"QueryId", VT_VARIANT}}},
    {"GetQueryText", 6, M, VT_BSTR, 0, 0, 1, {{"QueryId", VT_VARIANT}}},
    {"Run", 7, M, VT_DISPATCH, 0, 0, 1, {{"QueryId", VT_VARIANT}}},
    {"Load", 8, M, VT_I4, 0, 0, 1, {{"QueryFileName", VT_VARIANT, 0, OPT}}},
};

const InterfaceTable kZorbaneTable{"Zorbane", 16, 23, kZorbane};
const InterfaceTable kTables[] = {
    {"ZClassFamilies", 5, 1, kCollection}, {"ZClassFamily", 2, 3, kClassFamily}, {"ZClasses", 5, 1, kCollection},
    {"ZClass", 7, 3, kClass},              {"ZProperties", 5, 1, kCollection},  {"ZProperty", 0, 12, kProperty},
    {"ZMethods", 5, 1, kCollection},       {"ZMethod", 2, 9, kMethod},          {"ZParameters", 5, 1, kCollection},
    {"ZParameter", 0, 9, kParameter},      {"ZQueries", 2, 1, kQueries},        {"ZQuery", 8, 0, kQuery},
};
const InterfaceTable* const kTableList[] = {&kTables[0], &kTables[1], &kTables[2],  &kTables[3],  &kTables[4],  &kTables[5],
                                          &kTables[6], &kTables[7], &kTables[8],  &kTables[9],  &kTables[10], &kTables[11]};

}  // namespace

const MemberRow* InterfaceTable::find(std::string_view name) const {
  std::string upper = rt::toUpper(name);
  for (const auto& m : members)
    if (rt::toUpper(m.name) == upper) return &m;
  return nullptr;
}

const InterfaceTable& zorbaneTable() { return kZorbaneTable; }
const InterfaceTable& zClassFamiliesTable() { return kTables[0]; }
const InterfaceTable& zClassFamilyTable() { return kTables[1]; }
const InterfaceTable& zClassesTable() { return kTables[2]; }
const InterfaceTable& zClassTable() { return kTables[3]; }
const InterfaceTable& zPropertiesTable() { return kTables[4]; }
const InterfaceTable& zPropertyTable() { return kTables[5]; }
const InterfaceTable& zMethodsTable() { return kTables[6]; }
const InterfaceTable& zMethodTable() { return kTables[7]; }
const InterfaceTable& zParametersTable() { return kTables[8]; }
const InterfaceTable& zParameterTable() { return kTables[9]; }
const InterfaceTable& zQueriesTable() { return kTables[10]; }
const InterfaceTable& zQueryTable() { return kTables[11]; }
std::span<const InterfaceTable* const> schemaTables() { return kTableList; }

}  // namespace dbclient
