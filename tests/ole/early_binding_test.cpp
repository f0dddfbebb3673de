#include <gtest/gtest.h>

#include "fake_server.h"

namespace {

// Builds a member descriptor for `name` with parameters of the given types (the last
// `optional` of them optional) on `on`.
rt::Value describe(ole::OLEAutoObject& on, const char* name, ole::DispId id, unsigned kind,
                   std::vector<ole::VarType> types, int optional, rt::Pointer* block) {
  rt::Value params;
  if (!types.empty()) {
    *block = on.AllocArgDescs(types.size());
    ole::ArgDesc* d = on.argDescs(*block);
    for (std::size_t i = 0; i < types.size(); ++i) {
      d[i].vartype = types[i];
      d[i].name = rt::Symbol("P" + std::to_string(i + 1));
      if (static_cast<int>(i) >= static_cast<int>(types.size()) - optional) d[i].flags = ole::PARAMFLAG_FOPT;
    }
    params = rt::Value(*block);
  }
  rt::Pointer result = on.AllocArgDescs(1);
  return rt::Value::array({rt::Value(rt::Symbol(name)), rt::Value(id), rt::Value(static_cast<int>(kind)),
                           rt::Value(static_cast<int>(types.size())), rt::Value(optional),
                           rt::Value(kind == 1 && !types.empty()), params, rt::Value(result)});
}

struct EarlyBinding : ::testing::Test {
  void SetUp() override {
    server = new FakeServer();
    server->add("Methods", 8, [](unsigned, auto& args, auto& result, auto&) {
      result = ole::Variant::i4(static_cast<std::int32_t>(args.size()));
      return ole::S_OK;
    });
    server->add("Child", 9, [](unsigned, auto&, auto& result, auto&) {
      result = ole::Variant::dispatch(ole::DispatchPtr());
      return ole::S_OK;
    });
    object = std::make_shared<ole::OLEAutoObject>(ole::DispatchPtr(server));
  }
  FakeServer* server = nullptr;
  ole::AutoObjectPtr object;
  rt::Pointer block;
};

TEST_F(EarlyBinding, FewerOptionalArgumentsPassOnlyThoseGiven) {
  rt::Value desc = describe(*object, "Methods", 8, 1, {ole::VT_VARIANT, ole::VT_VARIANT}, 2, &block);
  EXPECT_EQ(object->InvokeMethod(desc, {rt::Value(false), rt::Value(1)}, 1).asLong(), 1);
  EXPECT_EQ(server->calls.back().args.size(), 1u);
  EXPECT_EQ(object->InvokeMethod(desc, {}, 0).asLong(), 0);
  EXPECT_EQ(object->InvokeMethod(desc, {rt::Value(false), rt::Value(4)}, 2).asLong(), 2);
  EXPECT_EQ(server->calls.back().args[1].lVal, 4);
}

TEST_F(EarlyBinding, ArgumentsAreConvertedToTheirDeclaredTypes) {
  rt::Value desc =
      describe(*object, "Methods", 8, 1, {ole::VT_DISPATCH, ole::VT_BOOL, ole::VT_I2}, 0, &block);
  object->InvokeMethod(desc, {rt::Value(object), rt::Value(true), rt::Value(4.0)}, 3);
  const auto& args = server->calls.back().args;
  EXPECT_EQ(args[0].vt, ole::VT_DISPATCH);
  EXPECT_EQ(args[1].vt, ole::VT_BOOL);
  EXPECT_EQ(args[2].vt, ole::VT_I2);
  EXPECT_EQ(args[2].lVal, 4);
  server->calls.clear();  // the recorded call holds the server itself: a cycle that would leak
}

TEST_F(EarlyBinding, MissingRequiredArgumentIsRaisedNamingMemberAndParameter) {
  ErrorRecorder errors;
  rt::Value desc = describe(*object, "Methods", 8, 1, {ole::VT_BSTR, ole::VT_VARIANT}, 1, &block);
  EXPECT_TRUE(object->InvokeMethod(desc, {}, 0).isNil());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_ARG);
  EXPECT_NE(errors.last()->description.find("METHODS"), std::string::npos);
  EXPECT_NE(errors.last()->description.find("P1"), std::string::npos);
  EXPECT_TRUE(server->calls.empty());
}

TEST_F(EarlyBinding, WrongArgumentTypeIsRaisedWithMemberAndArgumentNumber) {
  ErrorRecorder errors;
  rt::Value desc = describe(*object, "Methods", 8, 1, {ole::VT_BSTR, ole::VT_I2}, 0, &block);
  object->InvokeMethod(desc, {rt::Value("x"), rt::Value("four")}, 2);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_ARG);
  EXPECT_EQ(errors.last()->argNum, 2);
  EXPECT_EQ(errors.last()->operation, "METHODS");  // names travel in upper case
  EXPECT_TRUE(server->calls.empty());
}

TEST_F(EarlyBinding, ShortIntegerOutOfRangeIsATypeError) {
  ErrorRecorder errors;
  rt::Value desc = describe(*object, "Methods", 8, 1, {ole::VT_I2}, 0, &block);
  object->InvokeMethod(desc, {rt::Value(70000)}, 1);
  ASSERT_EQ(errors.errors.size(), 1u);
  object->InvokeMethod(desc, {rt::Value(2.5)}, 1);
  EXPECT_EQ(errors.errors.size(), 2u);
  EXPECT_TRUE(server->calls.empty());
}

TEST_F(EarlyBinding, MoreArgumentsThanDeclaredAreRefused) {
  ErrorRecorder errors;
  rt::Value desc = describe(*object, "Methods", 8, 1, {ole::VT_VARIANT}, 1, &block);
  object->InvokeMethod(desc, {rt::Value(1), rt::Value(2)}, 2);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_ARG);
}

TEST_F(EarlyBinding, EmptyDispatchResultArrivesAsAHolderWithNullInterface) {
  rt::Value desc = describe(*object, "Child", 9, 2, {}, 0, &block);
  rt::Value result = object->InvokeMethod(desc, {}, 0);
  auto holder = result.as<ole::IDispatch>();
  ASSERT_TRUE(holder);
  EXPECT_FALSE(holder->pInterface);
  EXPECT_EQ(holder->get(rt::Symbol("pInterface")).asPointer().address, 0u);
}

TEST_F(EarlyBinding, MalformedDescriptorsAreRaisedNotFollowed) {
  ErrorRecorder errors;
  object->InvokeMethod(rt::Value::array({rt::Value(rt::Symbol("Methods"))}), {}, 0);
  // A parameter pointer this object never handed out is not dereferenced.
  rt::Value forged = rt::Value::array({rt::Value(rt::Symbol("Methods")), rt::Value(8), rt::Value(1), rt::Value(1),
                                       rt::Value(0), rt::Value(true), rt::Value(rt::Pointer{0x1234}),
                                       rt::Value(rt::Pointer{0})});
  object->InvokeMethod(forged, {rt::Value(1)}, 1);
  rt::Value badKind = rt::Value::array({rt::Value(rt::Symbol("Methods")), rt::Value(8), rt::Value(3), rt::Value(0),
                                        rt::Value(0), rt::Value(false), rt::Value(), rt::Value(rt::Pointer{0})});
  object->InvokeMethod(badKind, {}, 0);
  EXPECT_EQ(errors.errors.size(), 3u);
  for (const auto& e : errors.errors) EXPECT_EQ(e->genCode, rt::EG_ARG);
  EXPECT_TRUE(server->calls.empty());
}

TEST_F(EarlyBinding, ArgumentBlocksAreReleasedByFreeArgs) {
  rt::Pointer p = object->AllocArgDescs(3);
  EXPECT_EQ(object->openArgBlocks(), 1u);
  object->FreeArgs(p);
  EXPECT_EQ(object->openArgBlocks(), 0u);
  EXPECT_EQ(object->argDescs(p), nullptr);
}

TEST_F(EarlyBinding, InvokeMethodIsAlsoReachableByName) {
  rt::Value desc = describe(*object, "Methods", 8, 1, {ole::VT_VARIANT, ole::VT_VARIANT}, 2, &block);
  rt::Value args = rt::Value::array({rt::Value(true), rt::Value(1)});
  EXPECT_EQ(object->send(rt::Symbol("__InvokeMethod"), {desc, args, rt::Value(1)}).asLong(), 1);
}

}  // namespace
