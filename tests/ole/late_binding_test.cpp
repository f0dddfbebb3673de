#include <gtest/gtest.h>

#include "fake_server.h"

namespace {

// A server with a readable and writable Name, an Echo method, a child object, an empty result
// and a member that always fails.
struct LateBinding : ::testing::Test {
  void SetUp() override {
    server = new FakeServer();
    iface = ole::DispatchPtr(server);
    server->add("Name", 1, [this](unsigned kind, auto& args, auto& result, auto&) {
      if (kind & ole::DISPATCH_PROPERTYPUT) {
        name = args.back().bstrVal;
        return ole::S_OK;
      }
      result = ole::Variant::bstr(name);
      return ole::S_OK;
    });
    server->add("Echo", 2, [](unsigned, auto& args, auto& result, auto&) {
      result = args.empty() ? ole::Variant() : args[0];
      return ole::S_OK;
    });
    server->add("Child", 3, [](unsigned, auto&, auto& result, auto&) {
      result = ole::Variant::dispatch(ole::DispatchPtr(new FakeServer()));
      return ole::S_OK;
    });
    server->add("Nothing", 4, [](unsigned, auto&, auto& result, auto&) {
      result = ole::Variant::dispatch(ole::DispatchPtr());
      return ole::S_OK;
    });
    server->add("Broken", 5, [this](unsigned, auto&, auto&, ole::ExcepInfo& excep) {
      ++brokenCalls;
      excep.description = "the store went away";
      return ole::DISP_E_EXCEPTION;
    });
    object = std::make_shared<ole::OLEAutoObject>(iface);
  }
  FakeServer* server = nullptr;
  ole::DispatchPtr iface;
  ole::AutoObjectPtr object;
  std::string name = "Library";
  int brokenCalls = 0;
};

TEST_F(LateBinding, NamesInAnotherCaseResolveToTheSameMember) {
  EXPECT_EQ(object->get(rt::Symbol("name")).asString(), "Library");
  EXPECT_EQ(object->get(rt::Symbol("NAME")).asString(), "Library");
  EXPECT_EQ(object->send(rt::Symbol("eChO"), {rt::Value(7)}).asLong(), 7);
}

TEST_F(LateBinding, CallWithoutArgumentsReachesAReadableProperty) {
  EXPECT_EQ(object->send(rt::Symbol("Name"), {}).asString(), "Library");
  EXPECT_EQ(server->calls.back().kind, ole::DISPATCH_METHOD | ole::DISPATCH_PROPERTYGET);
}

TEST_F(LateBinding, AssignmentWritesThroughThePropertyPut) {
  object->put(rt::Symbol("Name"), rt::Value("Fleet"));
  EXPECT_EQ(name, "Fleet");
  EXPECT_EQ(server->calls.back().kind, ole::DISPATCH_PROPERTYPUT);
}

TEST_F(LateBinding, ArgumentsArriveAsVariantsOfTheirNaturalType) {
  object->send(rt::Symbol("Echo"), {rt::Value(true)});
  EXPECT_EQ(server->calls.back().args[0].vt, ole::VT_BOOL);
  object->send(rt::Symbol("Echo"), {rt::Value("x")});
  EXPECT_EQ(server->calls.back().args[0].vt, ole::VT_BSTR);
  object->send(rt::Symbol("Echo"), {rt::Value(12)});
  EXPECT_EQ(server->calls.back().args[0].vt, ole::VT_I4);
  EXPECT_TRUE(object->send(rt::Symbol("Echo"), {rt::Value(false)}).isLogical());
}

TEST_F(LateBinding, ObjectResultsBecomeAutomationObjectsAndEmptyOnesNil) {
  rt::Value child = object->send(rt::Symbol("Child"), {});
  ASSERT_TRUE(child.as<ole::OLEAutoObject>());
  EXPECT_TRUE(child.as<ole::OLEAutoObject>()->hasInterface());
  EXPECT_TRUE(object->send(rt::Symbol("Nothing"), {}).isNil());
}

TEST_F(LateBinding, AnAutomationObjectPassedAsArgumentTravelsAsItsInterface) {
  auto other = std::make_shared<ole::OLEAutoObject>(ole::DispatchPtr(new FakeServer()));
  object->send(rt::Symbol("Echo"), {rt::Value(other)});
  ASSERT_EQ(server->calls.back().args[0].vt, ole::VT_DISPATCH);
  EXPECT_EQ(server->calls.back().args[0].pdispVal, other->dispatch());
}

TEST_F(LateBinding, UnknownMemberIsRaisedNamingIt) {
  ErrorRecorder errors;
  EXPECT_TRUE(object->send(rt::Symbol("ClassFamilies"), {}).isNil());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_NOVAR);
  EXPECT_NE(errors.last()->description.find("CLASSFAMILIES"), std::string::npos);
  EXPECT_EQ(errors.last()->operation, "CLASSFAMILIES");
}

TEST_F(LateBinding, UnknownMemberAnswersTheSubstitute) {
  ErrorRecorder errors(rt::Value(42));
  EXPECT_EQ(object->get(rt::Symbol("Missing")).asLong(), 42);
}

TEST_F(LateBinding, FailedInvokeIsRaisedWithMemberAndServerText) {
  ErrorRecorder errors;
  EXPECT_TRUE(object->send(rt::Symbol("Broken"), {}).isNil());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_OLE);
  EXPECT_EQ(errors.last()->description, "BROKEN: the store went away");
  EXPECT_TRUE(errors.last()->canRetry);
}

TEST_F(LateBinding, RetryAnswerInvokesAgain) {
  ErrorRecorder errors;
  errors.retriesLeft = 2;
  object->send(rt::Symbol("Broken"), {});
  EXPECT_EQ(brokenCalls, 3);
  EXPECT_EQ(errors.errors.size(), 3u);
}

TEST_F(LateBinding, ValuesWithoutAVariantFormAreRaisedAsArgumentErrors) {
  ErrorRecorder errors;
  object->send(rt::Symbol("Echo"), {rt::Value(rt::Symbol("X")), rt::Value(rt::Date{2450000})});
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_ARG);
  EXPECT_EQ(errors.last()->argNum, 2);
  EXPECT_TRUE(server->calls.empty());
}

TEST_F(LateBinding, ObjectWithoutInterfaceRaisesInsteadOfCrashing) {
  ErrorRecorder errors;
  ole::OLEAutoObject empty(rt::Value(std::make_shared<ole::IDispatch>()));
  EXPECT_TRUE(empty.send(rt::Symbol("Name"), {}).isNil());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_OLE);
}

TEST_F(LateBinding, WrappingAValueThatHoldsNoInterfaceIsAnArgumentError) {
  ErrorRecorder errors;
  ole::OLEAutoObject bad(rt::Value("not an interface"));
  EXPECT_FALSE(bad.hasInterface());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_ARG);
}

// Servers of one name scope share the ids resolved on any of them; a server without a scope,
// and a name no server knows, are asked every time.
TEST(LateBindingIds, NameScopeLetsAnIdResolvedOnceServeEveryInterfaceOfTheScope) {
  static const int sharedTable = 0;
  auto makeServer = [](const void* scope) {
    auto* server = new FakeServer();
    server->scope = scope;
    server->add("Echo", 2, [](unsigned, auto& args, auto& result, auto&) {
      result = args.empty() ? ole::Variant() : args[0];
      return ole::S_OK;
    });
    return server;
  };
  FakeServer* first = makeServer(&sharedTable);
  FakeServer* second = makeServer(&sharedTable);
  FakeServer* unscoped = makeServer(nullptr);
  auto a = std::make_shared<ole::OLEAutoObject>(ole::DispatchPtr(first));
  auto b = std::make_shared<ole::OLEAutoObject>(ole::DispatchPtr(second));
  auto c = std::make_shared<ole::OLEAutoObject>(ole::DispatchPtr(unscoped));
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(a->send(rt::Symbol("Echo"), {rt::Value(i)}).asLong(), i);
    EXPECT_EQ(b->send(rt::Symbol("echo"), {rt::Value(-i)}).asLong(), -i);
    EXPECT_EQ(c->send(rt::Symbol("Echo"), {rt::Value(i)}).asLong(), i);
  }
  EXPECT_EQ(first->lookups + second->lookups, 1);
  EXPECT_EQ(unscoped->lookups, 3);

  ErrorRecorder errors;
  EXPECT_TRUE(a->get(rt::Symbol("Missing")).isNil());
  EXPECT_TRUE(b->get(rt::Symbol("Missing")).isNil());
  EXPECT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(first->lookups + second->lookups, 3);
}

// A call made while another runs on the same object (from the server) keeps its own arguments,
// and the outer call's arguments are still its own when the server reads them after.
TEST(LateBindingArguments, NestedCallOnTheSameObjectKeepsEachCallsArguments) {
  auto* server = new FakeServer();
  auto object = std::make_shared<ole::OLEAutoObject>(ole::DispatchPtr(server));
  std::vector<std::int64_t> seen;
  server->add("Inner", 1, [&](unsigned, auto& args, auto& result, auto&) {
    seen.push_back(args.at(0).lVal);
    result = ole::Variant::i4(static_cast<std::int32_t>(args.at(0).lVal * 10));
    return ole::S_OK;
  });
  server->add("Outer", 2, [&](unsigned, auto& args, auto& result, auto&) {
    const rt::Value inner = object->send(rt::Symbol("Inner"), {rt::Value(2), rt::Value(3)});
    seen.push_back(args.size());
    seen.push_back(args.at(0).lVal);
    result = ole::Variant::i4(static_cast<std::int32_t>(inner.asLong() + args.at(0).lVal));
    return ole::S_OK;
  });
  EXPECT_EQ(object->send(rt::Symbol("Outer"), {rt::Value(1)}).asLong(), 21);
  EXPECT_EQ(object->send(rt::Symbol("Inner"), {rt::Value(4)}).asLong(), 40);
  EXPECT_EQ(server->calls.back().args.size(), 1u);
  EXPECT_EQ(seen, (std::vector<std::int64_t>{2, 1, 1, 4}));
}

TEST(ReferenceCount, InterfaceLivesWhileAnyHolderDoes) {
  bool destroyed = false;
  auto* server = new FakeServer();
  server->destroyed = &destroyed;
  {
    ole::DispatchPtr first(server);
    EXPECT_EQ(server->refCount(), 1u);
    auto object = std::make_shared<ole::OLEAutoObject>(first);
    auto holder = std::make_shared<ole::IDispatch>(first);
    EXPECT_EQ(server->refCount(), 3u);
    first.reset();
    object.reset();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(server->refCount(), 1u);
  }
  EXPECT_TRUE(destroyed);
}

TEST(ReferenceCount, HolderGivenUpWhenTheObjectTakesItsReference) {
  auto holder = std::make_shared<ole::IDispatch>(ole::DispatchPtr(new FakeServer()));
  auto* raw = holder->pInterface.get();
  ole::OLEAutoObject taken(rt::Value(holder), 0, false);
  EXPECT_FALSE(holder->pInterface);
  EXPECT_EQ(taken.dispatch().get(), raw);
  EXPECT_EQ(raw->refCount(), 1u);
}

}  // namespace
