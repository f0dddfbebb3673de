#include <gtest/gtest.h>

#include "dbclient/dbclient.h"
#include "zorbanectl/zorbanectl.h"

namespace {

using dbclient::Access;
using dbclient::MemberKind;

// The wrappers' tables against the control component: every declared member exists there with
// the same id and the same kind, and nothing the component answers is left undeclared.
TEST(MemberTables, WrappersAndControlAgreeOnEveryNameAndId) {
  std::vector<const dbclient::InterfaceTable*> tables(dbclient::schemaTables().begin(), dbclient::schemaTables().end());
  tables.push_back(&dbclient::zorbaneTable());
  for (const auto* table : tables) {
    auto served = zctl::interfaceMembers(table->className);
    ASSERT_EQ(served.size(), table->members.size()) << table->className;
    for (const auto& m : table->members) {
      auto it = std::find_if(served.begin(), served.end(), [&](const auto& s) { return s.name == m.name; });
      ASSERT_NE(it, served.end()) << table->className << "." << m.name;
      EXPECT_EQ(it->id, m.id) << table->className << "." << m.name;
      EXPECT_EQ(it->property, m.kind != MemberKind::Method) << table->className << "." << m.name;
    }
  }
}

TEST(MemberTables, SchemaClassesCarryTheirFunctionAndVariableCounts) {
  const std::vector<std::tuple<std::string, unsigned, unsigned>> expected = {
      {"ZClassFamilies", 5, 1}, {"ZClassFamily", 2, 3}, {"ZClasses", 5, 1},    {"ZClass", 7, 3},
      {"ZProperties", 5, 1},    {"ZProperty", 0, 12},   {"ZMethods", 5, 1},    {"ZMethod", 2, 9},
      {"ZParameters", 5, 1},    {"ZParameter", 0, 9},   {"ZQueries", 2, 1},    {"ZQuery", 8, 0}};
  auto tables = dbclient::schemaTables();
  ASSERT_EQ(tables.size(), expected.size());
  for (std::size_t i = 0; i < tables.size(); ++i) {
    EXPECT_EQ(tables[i]->className, std::get<0>(expected[i]));
    EXPECT_EQ(tables[i]->dwFuncs, std::get<1>(expected[i])) << tables[i]->className;
    EXPECT_EQ(tables[i]->dwVars, std::get<2>(expected[i])) << tables[i]->className;
  }
}

TEST(MemberTables, SingleObjectIdsNumberPropertiesFirstThenMethods) {
  for (const auto* table : {&dbclient::zClassFamilyTable(), &dbclient::zClassTable(), &dbclient::zPropertyTable(),
                           &dbclient::zMethodTable(), &dbclient::zParameterTable(), &dbclient::zQueryTable()}) {
    for (std::size_t i = 0; i < table->members.size(); ++i) {
      EXPECT_EQ(table->members[i].id, static_cast<ole::DispId>(i + 1)) << table->className << "." << table->members[i].name;
      if (i > 0 && table->members[i - 1].kind == MemberKind::Method) {
        EXPECT_EQ(table->members[i].kind, MemberKind::Method) << table->className;
      }
    }
  }
}

TEST(MemberTables, NamesResolveWithoutRegardToCase) {
  EXPECT_EQ(dbclient::zorbaneTable().find("CLASSFAMILIES"), dbclient::zorbaneTable().find("ClassFamilies"));
  EXPECT_NE(dbclient::zorbaneTable().find("classfamilies"), nullptr);
  EXPECT_EQ(dbclient::zClassTable().find("Nope"), nullptr);
}

// ---- descriptors as the wrappers build them ----

struct Descriptors : ::testing::Test {
  ole::OLEAutoObject on{ole::DispatchPtr()};
  struct Built {
    dbclient::BuiltFuncDesc b;
    const rt::Array& items() const { return *b.desc.asArray(); }
  };
  Built build(const dbclient::InterfaceTable& table, const char* name, Access access) {
    return {dbclient::buildFuncDesc(on, *table.find(name), access)};
  }
  const ole::ArgDesc& param(const Built& d, int i) { return on.argDescs(d.b.params)[i]; }
  const ole::ArgDesc& result(const Built& d) { return *on.argDescs(d.b.result); }
};

TEST_F(Descriptors, PropertyGetWithoutParametersHasNilBlockAndZeroCount) {
  auto d = build(dbclient::zPropertyTable(), "PropertyType", Access::Get);
  ASSERT_EQ(d.items().size(), 8u);
  EXPECT_EQ(d.items()[0].asSymbol(), rt::Symbol("PropertyType"));
  EXPECT_EQ(d.items()[1].asLong(), 3);
  EXPECT_EQ(d.items()[2].asLong(), 2);
  EXPECT_EQ(d.items()[3].asLong(), 0);
  EXPECT_EQ(d.items()[4].asLong(), 0);
  EXPECT_FALSE(d.items()[5].asLogical());
  EXPECT_TRUE(d.items()[6].isNil());
  EXPECT_EQ(result(d).vartype, ole::VT_I4);
}

TEST_F(Descriptors, MethodWithParametersCarriesNamesAndItemSix) {
  auto d = build(dbclient::zClassTable(), "Methods", Access::Call);
  EXPECT_EQ(d.items()[2].asLong(), 1);
  EXPECT_EQ(d.items()[3].asLong(), 2);
  EXPECT_EQ(d.items()[4].asLong(), 2);
  EXPECT_TRUE(d.items()[5].asLogical());
  EXPECT_EQ(param(d, 0).name, rt::Symbol("IncludeInherited"));
  EXPECT_EQ(param(d, 0).flags, ole::PARAMFLAG_FOPT);
  EXPECT_EQ(param(d, 1).name, rt::Symbol("Filter"));
  EXPECT_EQ(param(d, 1).vartype, ole::VT_VARIANT);
  EXPECT_EQ(result(d).vartype, ole::VT_DISPATCH);
}

TEST_F(Descriptors, MethodsWithoutParametersHaveItemSixFalse) {
  for (const char* name : {"Connect", "Disconnect", "TransactionRollback", "IsWithinTransaction", "AboutBox"}) {
    auto d = build(dbclient::zorbaneTable(), name, Access::Call);
    EXPECT_FALSE(d.items()[5].asLogical()) << name;
    EXPECT_TRUE(d.items()[6].isNil()) << name;
  }
  EXPECT_EQ(build(dbclient::zorbaneTable(), "AboutBox", Access::Call).items()[1].asLong(), -552);
}

TEST_F(Descriptors, PropertyPutHasOneMoreParameterAndANullResultPointer) {
  auto d = build(dbclient::zorbaneTable(), "Password", Access::Put);
  EXPECT_EQ(d.items()[2].asLong(), 4);
  EXPECT_EQ(d.items()[3].asLong(), 1);
  EXPECT_FALSE(d.items()[5].asLogical());
  EXPECT_TRUE(d.items()[7].isPointer());
  EXPECT_EQ(d.items()[7].asPointer().address, 0u);
  EXPECT_EQ(param(d, 0).flags, 0x40u);
  EXPECT_EQ(param(d, 0).vartype, ole::VT_BSTR);
  EXPECT_TRUE(param(d, 0).name.isNull());
}

TEST_F(Descriptors, ControlPropertyFlagsSitOnGetResultAndPutParameter) {
  EXPECT_EQ(result(build(dbclient::zorbaneTable(), "Caption", Access::Get)).flags, 0x0Cu);
  EXPECT_EQ(param(build(dbclient::zorbaneTable(), "Enabled", Access::Put), 0).flags, 0x0Cu);
  EXPECT_EQ(result(build(dbclient::zorbaneTable(), "ClassFamilies", Access::Get)).flags, 0x40u);
  EXPECT_EQ(result(build(dbclient::zorbaneTable(), "HostName", Access::Get)).flags, 0u);
  EXPECT_EQ(result(build(dbclient::zClassTable(), "Name", Access::Get)).flags, 0u);
}

TEST_F(Descriptors, FontGetAndPutUsePointerTypes) {
  auto get = build(dbclient::zorbaneTable(), "Font", Access::Get);
  EXPECT_EQ(get.items()[1].asLong(), -512);
  EXPECT_EQ(result(get).vartype, ole::VT_PTR);
  EXPECT_EQ(result(get).refType, ole::VT_USERDEFINED);
  EXPECT_EQ(result(get).flags, 0x04u);
  auto put = build(dbclient::zorbaneTable(), "Font", Access::Put);
  EXPECT_EQ(param(put, 0).vartype, ole::VT_PTR);
  EXPECT_EQ(param(put, 0).refType, ole::VT_VARIANT);
  EXPECT_EQ(param(put, 0).flags, 0x04u);
}

TEST_F(Descriptors, CollectionIndexHasNoNameAndNoFlags) {
  auto d = build(dbclient::zClassesTable(), "Item", Access::Get);
  EXPECT_EQ(d.items()[3].asLong(), 1);
  EXPECT_FALSE(d.items()[5].asLogical());
  EXPECT_TRUE(param(d, 0).name.isNull());
  EXPECT_EQ(param(d, 0).flags, 0u);
  auto put = build(dbclient::zClassesTable(), "Item", Access::Put);
  EXPECT_EQ(put.items()[3].asLong(), 2);
  EXPECT_EQ(param(put, 1).vartype, ole::VT_DISPATCH);
  EXPECT_EQ(build(dbclient::zClassesTable(), "_NewEnum", Access::Get).items()[1].asLong(), -4);
  EXPECT_EQ(build(dbclient::zClassesTable(), "_Item", Access::Get).items()[1].asLong(), 0);
}

TEST_F(Descriptors, OptionalCountsOfTheControlsMethods) {
  EXPECT_EQ(build(dbclient::zorbaneTable(), "TransactionStart", Access::Call).items()[4].asLong(), 1);
  EXPECT_EQ(build(dbclient::zorbaneTable(), "ClassFamily", Access::Call).items()[4].asLong(), 0);
  auto props = build(dbclient::zorbaneTable(), "PropertiesFromInstance", Access::Call);
  EXPECT_EQ(props.items()[3].asLong(), 3);
  EXPECT_EQ(param(props, 2).vartype, ole::VT_I2);
  EXPECT_EQ(build(dbclient::zClassTable(), "Method_", Access::Call).items()[4].asLong(), 2);
  EXPECT_EQ(build(dbclient::zQueryTable(), "Load", Access::Call).items()[4].asLong(), 1);
}

}  // namespace
