#include <gtest/gtest.h>

#include <map>

#include "../support/error_recorder.h"
#include "dbclient/dbclient.h"
#include "zorbanectl/zorbanectl.h"

namespace {

// Records what arrives at the interface: id, kind and argument count.
class Recorder : public ole::DispatchInterface {
 public:
  ole::HResult GetIDsOfNames(std::string_view, ole::DispId& id) override {
    id = 99;
    return ole::S_OK;
  }
  ole::HResult Invoke(ole::DispId id, unsigned kind, std::vector<ole::Variant>& args, ole::Variant& result,
                      ole::ExcepInfo&) override {
    lastId = id;
    lastKind = kind;
    lastArgs = args;
    result = answer;
    return ole::S_OK;
  }
  ole::DispId lastId = 0;
  unsigned lastKind = 0;
  std::vector<ole::Variant> lastArgs;
  ole::Variant answer;
};

rt::Value holderOf(ole::DispatchInterface* d) { return rt::Value(std::make_shared<ole::IDispatch>(ole::DispatchPtr(d))); }

TEST(WrapperInvoke, FewerOptionalArgumentsPassTheCountGiven) {
  auto* rec = new Recorder();
  dbclient::ZClass cls(holderOf(rec));
  cls.invoke("Methods", dbclient::Access::Call, {rt::Value(false), rt::Value(4)}, 1);
  EXPECT_EQ(rec->lastId, 8);
  EXPECT_EQ(rec->lastKind, ole::DISPATCH_METHOD);
  EXPECT_EQ(rec->lastArgs.size(), 1u);
  cls.invoke("Methods", dbclient::Access::Call, {}, 0);
  EXPECT_EQ(rec->lastArgs.size(), 0u);
  EXPECT_EQ(cls.openArgBlocks(), 0u);  // descriptor blocks released after each call
}

TEST(WrapperInvoke, DeclaredNamesGoEarlyBoundInAnyCase) {
  auto* rec = new Recorder();
  dbclient::ZClassFamily fam(holderOf(rec));
  EXPECT_EQ(fam.dwFuncs, 2u);
  EXPECT_EQ(fam.dwVars, 3u);
  EXPECT_EQ(fam.className(), "ZCLASSFAMILY");
  fam.send(rt::Symbol("CLASSES"), {});
  EXPECT_EQ(rec->lastId, 2);
  EXPECT_EQ(rec->lastKind, ole::DISPATCH_PROPERTYGET);
  fam.put(rt::Symbol("name"), rt::Value("x"));
  EXPECT_EQ(rec->lastId, 1);
  EXPECT_EQ(rec->lastKind, ole::DISPATCH_PROPERTYPUT);
  fam.send(rt::Symbol("Undeclared"), {});
  EXPECT_EQ(rec->lastId, 99);  // late bound through the name look-up
}

TEST(WrapperInvoke, DispatchResultsBecomePlainAutomationObjectsOrNil) {
  auto* rec = new Recorder();
  dbclient::ZClassFamily fam(holderOf(rec));
  rec->answer = ole::Variant::dispatch(ole::DispatchPtr(new Recorder()));
  rt::Value classes = fam.invoke("Classes", dbclient::Access::Get, {}, 0);
  auto obj = classes.as<ole::OLEAutoObject>();
  ASSERT_TRUE(obj);
  EXPECT_EQ(obj->className(), "OLEAUTOOBJECT");
  EXPECT_FALSE(classes.as<dbclient::SchemaWrapper>());
  rec->answer = ole::Variant::dispatch(ole::DispatchPtr());
  EXPECT_TRUE(fam.invoke("ClassFromName", dbclient::Access::Call, {rt::Value("X")}, 1).isNil());
}

TEST(WrapperInvoke, UnknownResultIsReturnedUnconverted) {
  auto* rec = new Recorder();
  dbclient::ZMethods methods(holderOf(rec));
  rec->answer = ole::Variant::unknown(ole::UnknownPtr(new Recorder()));
  EXPECT_TRUE(methods.invoke("_NewEnum", dbclient::Access::Get, {}, 0).as<ole::IUnknown>());
}

TEST(WrapperInvoke, UndeclaredOrWrongKindOfAccessIsRaised) {
  ErrorRecorder errors;
  auto* rec = new Recorder();
  dbclient::ZQuery query(holderOf(rec));
  query.invoke("Nope", dbclient::Access::Call, {}, 0);
  query.invoke("Edit", dbclient::Access::Put, {rt::Value(1)}, 1);
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0]->genCode, rt::EG_NOVAR);
  EXPECT_NE(errors.errors[0]->description.find("Nope"), std::string::npos);
}

TEST(WrapperInvoke, WrongArgumentTypeIsRaisedBeforeTheCall) {
  ErrorRecorder errors;
  auto* rec = new Recorder();
  dbclient::ZClass cls(holderOf(rec));
  cls.invoke("MethodFromName", dbclient::Access::Call, {rt::Value(5), rt::Value(false), rt::Value(1)}, 3);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0]->argNum, 1);
  EXPECT_EQ(rec->lastId, 0);
}

// ---- the control class over the real component ----

struct ControlClass : ::testing::Test {
  void SetUp() override {
    ole::setStorageDirectories({ZMC_DEMO_DIR});
    zctl::registerControl();
    site = ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
    ASSERT_TRUE(site);
    control.ControlSite = rt::Value(site);
    control.InitAutoObject();
  }
  void TearDown() override { ole::setStorageDirectories({}); }
  ole::AutoObjectPtr site;
  dbclient::Zorbane control;
};

TEST_F(ControlClass, ConnectsAndAnswersTheWorkflowContract) {
  ASSERT_TRUE(control.AutoObject);
  control.put(rt::Symbol("USECONNECTIONMANAGER"), rt::Value(false));
  control.put(rt::Symbol("SHOWLOGON"), rt::Value(false));
  control.put(rt::Symbol("ENVIRONMENT"), rt::Value(""));
  control.send(rt::Symbol("CONNECT"), {});
  rt::Value families = control.get(rt::Symbol("CLASSFAMILIES"));
  auto obj = families.as<ole::OLEAutoObject>();
  ASSERT_TRUE(obj);
  EXPECT_EQ(obj->send(rt::Symbol("COUNT"), {}).asLong(), 5);  // the demo store's five families
  rt::Value fam = control.send(rt::Symbol("CLASSFAMILY"), {rt::Value("Library")});
  EXPECT_EQ(fam.as<ole::OLEAutoObject>()->send(rt::Symbol("NAME"), {}).asString(), "Library");
  EXPECT_EQ(control.invoke("TransactionStart", dbclient::Access::Call, {}, 0).asLong(), 1);
  EXPECT_TRUE(control.invoke("IsWithinTransaction", dbclient::Access::Call, {}, 0).asLogical());
}

TEST_F(ControlClass, FontGetGivesAnAutomationObject) {
  rt::Value font = control.get(rt::Symbol("Font"));
  ASSERT_TRUE(font.as<ole::OLEAutoObject>());
  EXPECT_EQ(font.as<ole::OLEAutoObject>()->get(rt::Symbol("Name")).asString(), "Arial");
}

TEST_F(ControlClass, TypedSchemaWrapperOverARealClass) {
  control.send(rt::Symbol("Connect"), {});
  rt::Value raw = control.invoke("GetClassObject", dbclient::Access::Call, {rt::Value("Library"), rt::Value("Loan")}, 2);
  dbclient::ZClass loan(raw);
  rt::Value methods = loan.invoke("Methods", dbclient::Access::Call, {rt::Value(false), rt::Value(4)}, 2);
  EXPECT_EQ(methods.as<ole::OLEAutoObject>()->get(rt::Symbol("Count")).asLong(), 2);
  dbclient::ZMethods typed(methods);
  rt::Value first = typed.invoke("Item", dbclient::Access::Get, {rt::Value(1)}, 1);
  dbclient::ZMethod renew(first);
  EXPECT_EQ(renew.invoke("Name", dbclient::Access::Get, {}, 0).asString(), "Renew");
  EXPECT_EQ(renew.invoke("MethodType", dbclient::Access::Get, {}, 0).asLong(), 1);
}

TEST(ControlWithoutInterface, InitAutoObjectLeavesItUnsetAndCallsRaise) {
  ErrorRecorder errors;
  dbclient::Zorbane control;
  control.ControlSite = rt::Value("no control here");
  control.InitAutoObject();
  EXPECT_FALSE(control.AutoObject);
  EXPECT_TRUE(control.send(rt::Symbol("Connect"), {}).isNil());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0]->genCode, rt::EG_OLE);
}

}  // namespace
