// The raise protocol: how the error block's answer reaches the raiser, breaks and quits.
#include <gtest/gtest.h>

#include "error_recorder.h"

using namespace rt;

namespace {

// A raiser in the shape every layer uses: retries while the block says so.
int openWithRetries(int failuresBeforeSuccess, int& attempts) {
  attempts = 0;
  ErrorPtr e;  // one error object across retries, so its Tries counts them
  for (;;) {
    ++attempts;
    if (attempts > failuresBeforeSuccess) return 1;
    if (!e) {
      e = makeError(EG_OPEN, "DBFCDX", "Cannot open MPDMS.DBF", "open", "MPDMS.DBF");
      e->canRetry = true;
      e->canDefault = true;
    }
    if (!raise(e).retry()) return 0;
  }
}

}  // namespace

TEST(RaiseProtocol, WithoutInstalledBlockTheDefaultIsTaken) {
  setErrorBlock({});
  auto e = makeError(EG_READ, "DBFCDX", "Read failed");
  e->canRetry = e->canSubstitute = true;
  EXPECT_EQ(raise(e).kind, Answer::Default);
  EXPECT_EQ(e->tries, 1);
}

TEST(RaiseProtocol, RetryLoopEndsWhenBlockAnswersFalse) {
  int calls = 0;
  setErrorBlock([&](const ErrorPtr& e) {
    ++calls;
    return Value(e->tries < 3);
  });
  int attempts = 0;
  EXPECT_EQ(openWithRetries(100, attempts), 0);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(attempts, 3);
  setErrorBlock({});
}

TEST(RaiseProtocol, RetrySucceedsWhenOperationRecovers) {
  ErrorRecorder recorder(Value(true));
  int attempts = 0;
  EXPECT_EQ(openWithRetries(2, attempts), 1);
  EXPECT_EQ(attempts, 3);
  EXPECT_EQ(recorder.errors.size(), 2u);
}

TEST(RaiseProtocol, RetryIsIgnoredWhenErrorCannotRetry) {
  ErrorRecorder recorder(Value(true));
  auto e = makeError(EG_WRITE, "DBFCDX", "Write failed");
  EXPECT_EQ(raise(e).kind, Answer::Default);
}

TEST(RaiseProtocol, SubstituteValueReachesRaiser) {
  ErrorRecorder recorder(Value("replacement"));
  auto e = makeError(EG_NOVAR, "BASE", "No variable X");
  e->canSubstitute = true;
  Answer a = raise(e);
  ASSERT_EQ(a.kind, Answer::Substitute);
  EXPECT_EQ(a.substitute.asString(), "replacement");
}

TEST(RaiseProtocol, SubstituteRefusedWhenErrorDoesNotAcceptOne) {
  ErrorRecorder recorder(Value(42));
  auto e = makeError(EG_CORRUPTION, "DBFCDX", "Bad header");
  e->canDefault = true;
  EXPECT_EQ(raise(e).kind, Answer::Default);
}

TEST(RaiseProtocol, NilSubstituteIsAnEmptyValueWhenAllowed) {
  ErrorRecorder recorder{Value()};
  auto e = makeError(EG_ARG, "BASE", "bad");
  e->canSubstitute = true;
  Answer a = raise(e);
  EXPECT_EQ(a.kind, Answer::Substitute);
  EXPECT_TRUE(a.substitute.isNil());
}

TEST(RecoveryPoints, BreakReachesRecoveryPointWithTheError) {
  setErrorBlock([](const ErrorPtr& e) -> Value { breakToRecovery(Value(e)); });
  bool afterRaise = false;
  ErrorPtr caught = withRecovery([&] {
    EXPECT_TRUE(recoveryPointExists());
    raise(makeError(EG_OPEN, "DBFCDX", "Cannot open", "open", "X.DBF"));
    afterRaise = true;
  });
  setErrorBlock({});
  ASSERT_TRUE(caught);
  EXPECT_FALSE(afterRaise);
  EXPECT_EQ(caught->genCode, EG_OPEN);
  EXPECT_EQ(caught->fileName, "X.DBF");
  EXPECT_FALSE(recoveryPointExists());
}

TEST(RecoveryPoints, InnermostRecoveryPointTakesTheBreak) {
  ErrorPtr inner;
  ErrorPtr outer = withRecovery([&] {
    inner = withRecovery([] { breakToRecovery(Value(makeError(EG_READ, "T", "inner"))); });
    EXPECT_TRUE(recoveryPointExists());
  });
  EXPECT_FALSE(outer);
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->description, "inner");
}

TEST(RecoveryPoints, BreakWithPlainValueIsWrappedInAnError) {
  ErrorPtr caught = withRecovery([] { breakToRecovery(Value("stop")); });
  ASSERT_TRUE(caught);
  EXPECT_EQ(caught->arg.asString(), "stop");
}

TEST(RecoveryPoints, BodyEndingNormallyReturnsNull) {
  EXPECT_FALSE(withRecovery([] {}));
}

TEST(QuitPath, QuitUnwindsToRunMainWithExitCode) {
  bool after = false;
  int code = runMain([&] {
    withRecovery([&] { quit(21); });  // a quit passes recovery points by
    after = true;
    return 0;
  });
  EXPECT_EQ(code, 21);
  EXPECT_FALSE(after);
  EXPECT_EQ(exitCode(), 21);
  setExitCode(0);
}

TEST(QuitPath, BreakWithoutRecoveryPointEndsProgramWithErrorCode) {
  int code = runMain([] {
    breakToRecovery(Value(makeError(EG_CORRUPTION, "DBFCDX", "bad")));
    return 0;
  });
  EXPECT_EQ(code, EG_CORRUPTION);
  setExitCode(0);
}

TEST(QuitPath, ExitCodeSetBeforeNormalEndIsReturned) {
  setExitCode(3);
  EXPECT_EQ(runMain([] { return 0; }), 3);
  setExitCode(0);
  EXPECT_EQ(runMain([] { return 7; }), 7);
}

TEST(ErrorObject, FieldsReadableAndWritableByName) {
  auto e = makeError(EG_OPEN, "DBFCDX", "Cannot open", "open", "MPDMS.DBF");
  e->osCode = 32;
  EXPECT_EQ(e->get(Symbol("genCode")).asLong(), EG_OPEN);
  EXPECT_EQ(e->get(Symbol("OSCODE")).asLong(), 32);
  EXPECT_EQ(e->get(Symbol("FileName")).asString(), "MPDMS.DBF");
  e->put(Symbol("CanRetry"), Value(true));
  EXPECT_TRUE(e->canRetry);
  e->put(Symbol("FuncSym"), Value("dbUseArea"));
  EXPECT_EQ(e->funcSym, Symbol("DBUSEAREA"));
  e->put(Symbol("Severity"), Value(1));
  EXPECT_EQ(e->severity, 1);
}

TEST(ErrorObject, UnknownMemberRaisesNoVarNamingIt) {
  ErrorRecorder recorder;
  auto e = makeError(EG_OPEN, "DBFCDX", "x");
  EXPECT_TRUE(e->get(Symbol("NOSUCHFIELD")).isNil());
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.last()->genCode, EG_NOVAR);
  EXPECT_NE(recorder.last()->description.find("NOSUCHFIELD"), std::string::npos);
  EXPECT_NE(recorder.last()->description.find("ERROR"), std::string::npos);
}

TEST(ErrorObject, GenericCodesHaveTexts) {
  EXPECT_EQ(genCodeText(EG_OPEN), "Open error");
  EXPECT_EQ(genCodeText(EG_APPENDLOCK), "Append lock failed");
  EXPECT_EQ(genCodeText(EG_NOVAR), "Variable does not exist");
  EXPECT_EQ(genCodeText(9999), "Unknown error");
}

TEST(CallStack, FramesRecordNamesAndLinesOutward) {
  int depth = callDepth();
  {
    RT_FRAME("App:Start");
    RT_LINE();
    int outerLine = __LINE__ - 1;
    {
      RT_FRAME("ZorbaneWin:PostInit");
      EXPECT_EQ(procName(0), "ZorbaneWin:PostInit");
      EXPECT_EQ(procName(1), "App:Start");
      EXPECT_EQ(procLine(1), outerLine);
      EXPECT_EQ(procName(7), "");
      EXPECT_EQ(procLine(7), 0);
    }
    EXPECT_EQ(procName(0), "App:Start");
  }
  EXPECT_EQ(callDepth(), depth);
}

TEST(CallStack, BreakUnwindsFramesToRecoveryPoint) {
  int depth = callDepth();
  withRecovery([] {
    RT_FRAME("Mpdms:Append");
    breakToRecovery(Value(makeError(EG_WRITE, "DBFCDX", "w")));
  });
  EXPECT_EQ(callDepth(), depth);
}
