#include <gtest/gtest.h>

#include "dbclient/dbclient.h"
#include "zorbanectl/zorbanectl.h"

namespace {

using dbclient::Access;
using dbclient::MemberKind;

// The wrappers' tables against the control component: every declared member exists there with
// the same id and the same kind, and nothing the component answers is left undeclared.
TEST(MemberTables, WrappersAndControlAgreeOnEveryNameAndId) {
  std::vector<const dbclient::InterfaceSpec*> specs(dbclient::schemaSpecs().begin(), dbclient::schemaSpecs().end());
  specs.push_back(&dbclient::zorbaneSpec());
  for (const auto* spec : specs) {
    auto served = zctl::interfaceMembers(spec->className);
    ASSERT_EQ(served.size(), spec->members.size()) << spec->className;
    for (const auto& m : spec->members) {
      auto it = std::find_if(served.begin(), served.end(), [&](const auto& s) { return s.name == m.name; });
      ASSERT_NE(it, served.end()) << spec->className << "." << m.name;
      EXPECT_EQ(it->id, m.id) << spec->className << "." << m.name;
      EXPECT_EQ(it->property, m.kind != MemberKind::Method) << spec->className << "." << m.name;
    }
  }
}

TEST(MemberTables, SchemaClassesCarryTheirFunctionAndVariableCounts) {
  const std::vector<std::tuple<std::string, unsigned, unsigned>> expected = {
      {"ZClassFamilies", 5, 1}, {"ZClassFamily", 2, 3}, {"ZClasses", 5, 1},    {"ZClass", 7, 3},
      {"ZProperties", 5, 1},    {"ZProperty", 0, 12},   {"ZMethods", 5, 1},    {"ZMethod", 2, 9},
      {"ZParameters", 5, 1},    {"ZParameter", 0, 9},   {"ZQueries", 2, 1},    {"ZQuery", 8, 0}};
  auto specs = dbclient::schemaSpecs();
  ASSERT_EQ(specs.size(), expected.size());
  for (std::size_t i = 0; i < specs.size(); ++i) {
    EXPECT_EQ(specs[i]->className, std::get<0>(expected[i]));
    EXPECT_EQ(specs[i]->dwFuncs, std::get<1>(expected[i])) << specs[i]->className;
    EXPECT_EQ(specs[i]->dwVars, std::get<2>(expected[i])) << specs[i]->className;
  }
}

TEST(MemberTables, SingleObjectIdsNumberPropertiesFirstThenMethods) {
  for (const auto* spec : {&dbclient::zClassFamilySpec(), &dbclient::zClassSpec(), &dbclient::zPropertySpec(),
                           &dbclient::zMethodSpec(), &dbclient::zParameterSpec(), &dbclient::zQuerySpec()}) {
    for (std::size_t i = 0; i < spec->members.size(); ++i) {
      EXPECT_EQ(spec->members[i].id, static_cast<ole::DispId>(i + 1)) << spec->className << "." << spec->members[i].name;
      if (i > 0 && spec->members[i - 1].kind == MemberKind::Method) {
        EXPECT_EQ(spec->members[i].kind, MemberKind::Method) << spec->className;
      }
    }
  }
}

TEST(MemberTables, NamesResolveWithoutRegardToCase) {
  EXPECT_EQ(dbclient::zorbaneSpec().find("CLASSFAMILIES"), dbclient::zorbaneSpec().find("ClassFamilies"));
  EXPECT_NE(dbclient::zorbaneSpec().find("classfamilies"), nullptr);
  EXPECT_EQ(dbclient::zClassSpec().find("Nope"), nullptr);
}

// ---- descriptors as the wrappers build them ----

struct Descriptors : ::testing::Test {
  ole::OLEAutoObject on{ole::DispatchPtr()};
  struct Built {
    dbclient::BuiltFuncDesc b;
    const rt::Array& items() const { return *b.desc.asArray(); }
  };
  Built build(const dbclient::InterfaceSpec& spec, const char* name, Access access) {
    return {dbclient::buildFuncDesc(on, *spec.find(name), access)};
  }
  const ole::ArgDesc& param(const Built& d, int i) { return on.argDescs(d.b.params)[i]; }
  const ole::ArgDesc& result(const Built& d) { return *on.argDescs(d.b.result); }
};

TEST_F(Descriptors, PropertyGetWithoutParametersHasNilBlockAndZeroCount) {
  auto d = build(dbclient::zPropertySpec(), "PropertyType", Access::Get);
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
  auto d = build(dbclient::zClassSpec(), "Methods", Access::Call);
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
    auto d = build(dbclient::zorbaneSpec(), name, Access::Call);
    EXPECT_FALSE(d.items()[5].asLogical()) << name;
    EXPECT_TRUE(d.items()[6].isNil()) << name;
  }
  EXPECT_EQ(build(dbclient::zorbaneSpec(), "AboutBox", Access::Call).items()[1].asLong(), -552);
}

TEST_F(Descriptors, PropertyPutHasOneMoreParameterAndANullResultPointer) {
  auto d = build(dbclient::zorbaneSpec(), "Password", Access::Put);
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
  EXPECT_EQ(result(build(dbclient::zorbaneSpec(), "Caption", Access::Get)).flags, 0x0Cu);
  EXPECT_EQ(param(build(dbclient::zorbaneSpec(), "Enabled", Access::Put), 0).flags, 0x0Cu);
  EXPECT_EQ(result(build(dbclient::zorbaneSpec(), "ClassFamilies", Access::Get)).flags, 0x40u);
  EXPECT_EQ(result(build(dbclient::zorbaneSpec(), "HostName", Access::Get)).flags, 0u);
  EXPECT_EQ(result(build(dbclient::zClassSpec(), "Name", Access::Get)).flags, 0u);
}

TEST_F(Descriptors, FontGetAndPutUsePointerTypes) {
  auto get = build(dbclient::zorbaneSpec(), "Font", Access::Get);
  EXPECT_EQ(get.items()[1].asLong(), -512);
  EXPECT_EQ(result(get).vartype, ole::VT_PTR);
  EXPECT_EQ(result(get).refType, ole::VT_USERDEFINED);
  EXPECT_EQ(result(get).flags, 0x04u);
  auto put = build(dbclient::zorbaneSpec(), "Font", Access::Put);
  EXPECT_EQ(param(put, 0).vartype, ole::VT_PTR);
  EXPECT_EQ(param(put, 0).refType, ole::VT_VARIANT);
  EXPECT_EQ(param(put, 0).flags, 0x04u);
}

TEST_F(Descriptors, CollectionIndexHasNoNameAndNoFlags) {
  auto d = build(dbclient::zClassesSpec(), "Item", Access::Get);
  EXPECT_EQ(d.items()[3].asLong(), 1);
  EXPECT_FALSE(d.items()[5].asLogical());
  EXPECT_TRUE(param(d, 0).name.isNull());
  EXPECT_EQ(param(d, 0).flags, 0u);
  auto put = build(dbclient::zClassesSpec(), "Item", Access::Put);
  EXPECT_EQ(put.items()[3].asLong(), 2);
  EXPECT_EQ(param(put, 1).vartype, ole::VT_DISPATCH);
  EXPECT_EQ(build(dbclient::zClassesSpec(), "_NewEnum", Access::Get).items()[1].asLong(), -4);
  EXPECT_EQ(build(dbclient::zClassesSpec(), "_Item", Access::Get).items()[1].asLong(), 0);
}

TEST_F(Descriptors, OptionalCountsOfTheControlsMethods) {
  EXPECT_EQ(build(dbclient::zorbaneSpec(), "TransactionStart", Access::Call).items()[4].asLong(), 1);
  EXPECT_EQ(build(dbclient::zorbaneSpec(), "ClassFamily", Access::Call).items()[4].asLong(), 0);
  auto props = build(dbclient::zorbaneSpec(), "PropertiesFromInstance", Access::Call);
  EXPECT_EQ(props.items()[3].asLong(), 3);
  EXPECT_EQ(param(props, 2).vartype, ole::VT_I2);
  EXPECT_EQ(build(dbclient::zClassSpec(), "Method_", Access::Call).items()[4].asLong(), 2);
  EXPECT_EQ(build(dbclient::zQuerySpec(), "Load", Access::Call).items()[4].asLong(), 1);
}

}  // namespace
