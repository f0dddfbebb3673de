// DefError: silent sharing conflicts, captions and message, call stack, tones, choice values,
// outcomes, and errors raised while the handler itself runs.
#include <cfenv>

#include "errorsys_fixture.h"

namespace {

using HandlerTest = ErrorSysTest;

// ---- Message and caption -------------------------------------------------------------------

TEST_F(HandlerTest, WarningGetsWarningCaptionAndTwoSpaceHead) {
  auto e = openError();
  e->severity = 1;
  app::DefError(rt::Value(e));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "WARNING");
  EXPECT_EQ(boxes[0].text.rfind("WARNING :  OPEN ERROR\r\n", 0), 0u) << boxes[0].text;
}

TEST_F(HandlerTest, ErrorGetsErrorCaptionAndCodeHead) {
  app::DefError(rt::Value(openError()));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "ERROR");
  EXPECT_EQ(boxes[0].text.rfind("Error Code:  OPEN ERROR\r\nCannot open table\r\n", 0), 0u);
}

TEST_F(HandlerTest, GenCodeZeroShowsDescriptionFirstAndAgainOnDescriptionLine) {
  auto e = rt::makeError(rt::EG_NONE, "", "Something odd happened");
  e->canDefault = true;
  app::DefError(rt::Value(e));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.rfind("Error Code:  Something odd happened\r\n", 0), 0u);
  EXPECT_NE(boxes[0].text.find("Description: Something odd happened\r\n"), std::string::npos);
  EXPECT_EQ(countOf(boxes[0].text, "Something odd happened"), 2u);
}

TEST_F(HandlerTest, MessageListsEachPresentFieldOnItsLine) {
  auto e = rt::makeError(rt::EG_DATATYPE, "BASE", "Wrong type", "Add",
                         "/a/very/long/directory/name/that/goes/on/and/on/Mpdms.dbf");
  e->subCode = 1085;
  e->subCodeText = "operand";
  e->funcSym = rt::Symbol("Add");
  e->arg = rt::Value("abc");
  e->argType = 7;
  e->argNum = 2;
  e->argTypeReq = 1;
  EXPECT_EQ(app::BuildErrorMessage(*e),
            "Error Code:  DATA TYPE ERROR\r\n"
            "Wrong type\r\n"
            "Subsystem: BASE\r\n"
            "Error Subcode: 1085 (operand)\r\n"
            "Operation: Add\r\n"
            "Function: ADD\r\n"
            "Filename: /a/very/long/directory/name/that/goes/on\r\n"
            "Argument: abc\r\n"
            "Type: STRING\r\n"
            "Argument Number: 2\r\n"
            "Requested type: LONGINT\r\n"
            "Description: Wrong type\r\n");
}

TEST_F(HandlerTest, RequestedTypeEqualToArgumentTypeIsNotRepeated) {
  auto e = rt::makeError(rt::EG_ARG, "", "");
  e->arg = rt::Value(5);
  e->argType = 1;
  e->argTypeReq = 1;
  std::string m = app::BuildErrorMessage(*e);
  EXPECT_NE(m.find("Type: LONGINT\r\n"), std::string::npos);
  EXPECT_EQ(m.find("Requested type"), std::string::npos);
  EXPECT_EQ(m.find("Description"), std::string::npos);
}

TEST_F(HandlerTest, SubstituteTypePointerRaisesSeverityButKeepsTheCaption) {
  auto e = openError();
  e->severity = 1;
  e->substituteType = 18;
  app::DefError(rt::Value(e));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "WARNING");
  EXPECT_EQ(e->severity, 3);
  EXPECT_EQ(boxes[0].text.rfind("Error Code:  ", 0), 0u);
}

TEST_F(HandlerTest, NonErrorArgumentBecomesArgumentErrorNamingDefError) {
  rt::Value answer = app::DefError(rt::Value("not an error"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].text.find("ARGUMENT ERROR"), std::string::npos);
  EXPECT_NE(boxes[0].text.find("Error Subcode: 28\r\n"), std::string::npos);
  EXPECT_NE(boxes[0].text.find("Function: DEFERROR\r\n"), std::string::npos);
  EXPECT_NE(boxes[0].text.find("Argument: not an error\r\n"), std::string::npos);
  EXPECT_EQ(boxes[0].c1, 1u);
  EXPECT_TRUE(answer.isLogical() && !answer.asLogical());
}

// ---- Silent sharing conflicts --------------------------------------------------------------

TEST_F(HandlerTest, SharingConflictsThatCanDefaultAreSettledSilently) {
  auto sharing = openError();
  sharing->osCode = 32;
  auto appendLock = rt::makeError(rt::EG_APPENDLOCK, "DBFCDX", "Append lock failed");
  appendLock->canDefault = true;
  for (const auto& e : {sharing, appendLock}) {
    rt::settings().netErr = false;
    rt::Value answer = app::DefError(rt::Value(e));
    EXPECT_TRUE(answer.isLogical() && !answer.asLogical());
    EXPECT_TRUE(rt::netErr());
  }
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(tones.empty());
  EXPECT_FALSE(logExists());
}

TEST_F(HandlerTest, SharingConflictsThatCannotDefaultOrOtherOsCodesAreShown) {
  auto noDefault = openError();
  noDefault->osCode = 32;
  noDefault->canDefault = false;
  EXPECT_EQ(rt::runMain([&] {  // nothing but the third choice is offered: it quits
    app::DefError(rt::Value(noDefault));
    return 0;
  }), rt::EG_OPEN);
  app::DefError(rt::Value(openError()));  // open error with os code 2
  EXPECT_EQ(boxes.size(), 2u);
  EXPECT_FALSE(rt::netErr());
}

// ---- Call stack ----------------------------------------------------------------------------

void nested(int depth, const std::function<void()>& atBottom) {
  static const char* kNames[] = {"Routine:Level1", "Routine:Level2", "Routine:Level3", "Routine:Level4",
                                 "Routine:Level5", "Routine:Level6", "Routine:Level7"};
  RT_FRAME(kNames[7 - depth]);
  if (depth == 1) {
    RT_LINE();
    atBottom();
    return;
  }
  nested(depth - 1, atBottom);
}

TEST_F(HandlerTest, DeepCallStackListsFiveRoutinesInnermostFirst) {
  nested(7, [] { (void)rt::raise(openError()); });
  ASSERT_EQ(boxes.size(), 1u);
  const std::string& m = boxes[0].text;
  auto at = m.find("CallStack: \r\n");
  ASSERT_NE(at, std::string::npos) << m;
  std::string stack = m.substr(at);
  EXPECT_EQ(countOf(stack, " (Line: "), 5u);
  EXPECT_EQ(stack.find("CallStack: \r\nRoutine:Level7 (Line: "), 0u) << stack;
  EXPECT_NE(stack.find("Routine:Level3 (Line: "), std::string::npos);
  EXPECT_EQ(stack.find("Routine:Level2"), std::string::npos);
  EXPECT_EQ(stack.substr(stack.size() - 3), ")\r\n");
}

TEST_F(HandlerTest, NoCallStackWhenNoRoutineIsRecorded) {
  (void)rt::raise(openError());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.find("CallStack"), std::string::npos);
}

// ---- Tones ---------------------------------------------------------------------------------

TEST_F(HandlerTest, BeepSettingSoundsThreeRisingTones) {
  app::DefError(rt::Value(openError()));
  EXPECT_EQ(tones, (std::vector<std::pair<int, int>>{{440, 1}, {494, 1}, {523, 1}}));
  tones.clear();
  rt::setBeep(false);
  app::DefError(rt::Value(openError()));
  EXPECT_TRUE(tones.empty());
}

// ---- Choice values -------------------------------------------------------------------------

TEST_F(HandlerTest, ChoiceValuesFollowWhatTheErrorAllows) {
  auto e = openError();
  e->canRetry = true;
  app::DefError(rt::Value(e));
  auto sub = rt::makeError(rt::EG_ARG, "BASE", "x");
  sub->canSubstitute = true;
  app::DefError(rt::Value(sub));
  auto none = rt::makeError(rt::EG_ARG, "BASE", "y");
  EXPECT_EQ(rt::runMain([&] {  // only the third choice: quits
    app::DefError(rt::Value(none));
    return 0;
  }), rt::EG_ARG);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].c1, 1u);
  EXPECT_EQ(boxes[0].c2, 2u);
  EXPECT_EQ(boxes[0].c3, 0x80000000u);
  EXPECT_EQ(boxes[1].c1, 1u);
  EXPECT_EQ(boxes[1].c2, 0u);
  EXPECT_EQ(boxes[2].c1, 0u);
  EXPECT_EQ(boxes[2].c2, 0u);
}

TEST_F(HandlerTest, UnknownMemberErrorIsNeverOfferedRetry) {
  auto e = rt::makeError(rt::EG_NOVAR, "BASE", "No member FOO");
  e->canRetry = true;
  e->canDefault = true;
  app::DefError(rt::Value(e));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].c2, 0u);
  EXPECT_FALSE(e->canRetry);
  EXPECT_NE(logText().find("CanRetry        :.F.\r\n"), std::string::npos);
}

TEST_F(HandlerTest, ThirdChoiceOffersBreakInsideRecoveryPoint) {
  answers = {1};
  (void)rt::withRecovery([] { app::DefError(rt::Value(openError())); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].c3, 0x80000003u);
}

// ---- Outcomes ------------------------------------------------------------------------------

TEST_F(HandlerTest, FirstChoiceDefaultsOrSubstitutesTheEmptyValue) {
  answers = {1, 1};
  rt::Value def = app::DefError(rt::Value(openError()));
  EXPECT_TRUE(def.isLogical() && !def.asLogical());
  auto e = rt::makeError(rt::EG_ARG, "BASE", "x");
  e->canSubstitute = true;
  e->substituteType = 7;
  rt::Value sub = app::DefError(rt::Value(e));
  EXPECT_TRUE(sub.isString() && sub.asString().empty());
}

TEST_F(HandlerTest, SecondChoiceRetriesTheOperation) {
  answers = {2, 1};
  int attempts = 0;
  auto e = openError();
  e->canRetry = true;
  for (;;) {
    ++attempts;
    if (!rt::raise(e).retry()) break;
  }
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(e->tries, 2);
}

TEST_F(HandlerTest, ThirdChoiceBreaksToRecoveryPointWithTheErrorAndResetsMath) {
  auto e = openError();
  answers = {0x80000003u};
  volatile double zero = 0.0;
  rt::ErrorPtr carried = rt::withRecovery([&] {
    volatile double inf = 1.0 / zero;
    (void)inf;
    ASSERT_TRUE(std::fetestexcept(FE_DIVBYZERO));
    (void)rt::raise(e);
    ADD_FAILURE() << "the raise returned";
  });
  EXPECT_EQ(carried, e);
  EXPECT_FALSE(std::fetestexcept(FE_DIVBYZERO));
}

TEST_F(HandlerTest, ThirdChoiceWithoutRecoveryPointQuitsWithGenCode) {
  answers = {0x80000000u};
  int code = rt::runMain([] {
    (void)rt::raise(openError());
    return 0;
  });
  EXPECT_EQ(code, rt::EG_OPEN);
  EXPECT_EQ(rt::exitCode(), rt::EG_OPEN);
}

// ---- Errors inside the handler -------------------------------------------------------------

// An argument whose text cannot be formed without raising (or throwing).
class TroublesomeArg : public rt::Object {
 public:
  explicit TroublesomeArg(bool throws) : throws_(throws) {}
  std::string className() const override {
    if (throws_) throw std::runtime_error("class name unavailable");
    auto e = rt::makeError(rt::EG_NOVAR, "BASE", "Class name lookup failed");
    e->canDefault = true;
    (void)rt::raise(e);
    return "TROUBLE";
  }

 private:
  bool throws_;
};

TEST_F(HandlerTest, ErrorRaisedWhileBuildingMessageIsReportedOnceAndOriginalProceeds) {
  auto e = openError();
  e->arg = rt::Value(std::make_shared<TroublesomeArg>(false));
  answers = {1};
  rt::Value answer = app::DefError(rt::Value(e));
  ASSERT_EQ(plainBoxes.size(), 1u);
  EXPECT_EQ(plainBoxes[0].text.rfind("Error in Error", 0), 0u);
  EXPECT_NE(plainBoxes[0].text.find("Class name lookup failed"), std::string::npos);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].text.find("Argument: {TROUBLE}"), std::string::npos);
  EXPECT_TRUE(answer.isLogical() && !answer.asLogical());
  EXPECT_NE(logText().find("Arg             :{TROUBLE}\r\n"), std::string::npos);
}

TEST_F(HandlerTest, ExceptionWhileBuildingMessageIsReportedOnceAndBoxStillShown) {
  auto e = openError();
  e->arg = rt::Value(std::make_shared<TroublesomeArg>(true));
  app::DefError(rt::Value(e));
  ASSERT_EQ(plainBoxes.size(), 1u);
  EXPECT_EQ(plainBoxes[0].text, "Error in Error\r\nclass name unavailable");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.rfind("Cannot open table\r\n", 0), 0u);
}

TEST_F(HandlerTest, FullLogDiskIsReportedOnceAndTheBoxStillAnswers) {
  std::filesystem::create_symlink("/dev/full", logPath());
  answers = {2};
  auto e = openError();
  e->canRetry = true;
  rt::Value answer = app::DefError(rt::Value(e));
  ASSERT_EQ(plainBoxes.size(), 1u);
  EXPECT_EQ(plainBoxes[0].text.rfind("Error in Error\r\nWrite error: APPERROR.LOG: ", 0), 0u) << plainBoxes[0].text;
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(answer.isLogical() && answer.asLogical());
}

TEST_F(HandlerTest, HandlerIsUsableAgainAfterAnErrorInError) {
  std::filesystem::create_symlink("/dev/full", logPath());
  app::DefError(rt::Value(openError()));
  std::filesystem::remove(logPath());
  app::DefError(rt::Value(openError()));
  EXPECT_EQ(plainBoxes.size(), 1u);
  EXPECT_EQ(boxes.size(), 2u);
  EXPECT_EQ(countOf(logText(), "***********************ERROR"), 1u);
}

}  // namespace
