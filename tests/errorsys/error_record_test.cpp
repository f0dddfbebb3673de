// The raw error record and the factory DefErrorGen: every field survives the trip from record
// to error object, and foreign structures are refused with a box instead of a crash.
#include "errorsys_fixture.h"

namespace {

using ErrorRecordTest = ErrorSysTest;

TEST_F(ErrorRecordTest, EveryFieldTravelsFromRecordToErrorObject) {
  rt::Value arg(42);
  rt::Value args = rt::Value::array({rt::Value("a"), rt::Value(2)});
  rt::RawErrorRecord r;
  r.write<std::uint8_t>(rt::raw::kTag, rt::kRawErrorTag);
  r.write<std::uint8_t>(rt::raw::kSeverity, 1);
  r.write<std::uint16_t>(rt::raw::kGenCode, rt::EG_WRITE);
  r.write<std::uint16_t>(rt::raw::kSubCode, 1012);
  r.write<std::uint8_t>(rt::raw::kFlags, rt::raw::kCanRetry | rt::raw::kCanSubstitute | rt::raw::kArgIsValue);
  r.write<std::uint8_t>(rt::raw::kTries, 3);
  r.write<std::int32_t>(rt::raw::kOsCode, -28);
  r.write<std::uint32_t>(rt::raw::kFuncPtr, 0xDEADBEEF);
  r.write<std::int32_t>(rt::raw::kFileHandle, 7);
  r.write<std::uint32_t>(rt::raw::kMaxSize, 65535);
  r.write<std::uint8_t>(rt::raw::kArgNum, 2);
  r.write<std::uint8_t>(rt::raw::kArgType, 1);
  r.write<std::uint8_t>(rt::raw::kArgTypeReq, 7);
  r.write<std::uint8_t>(rt::raw::kSubstituteType, 3);
  r.writeText(rt::raw::kSubSystem, "DBFCDX");
  r.writeText(rt::raw::kSubCodeText, "disk full");
  r.writeText(rt::raw::kOperation, "Append");
  r.writeText(rt::raw::kDescription, "Write failed");
  r.writeText(rt::raw::kFileName, "Mpdms.dbf");
  r.writeText(rt::raw::kFuncSym, "Append");
  r.writeText(rt::raw::kCallFuncSym, "LoadDbf");
  r.writeValue(rt::raw::kArg, &arg);
  r.writeValue(rt::raw::kArgs, &args);

  rt::ErrorPtr e = rt::buildErrorFromRecord(&r);
  EXPECT_EQ(e->severity, 1);
  EXPECT_EQ(e->genCode, rt::EG_WRITE);
  EXPECT_EQ(e->subCode, 1012);
  EXPECT_FALSE(e->canDefault);
  EXPECT_TRUE(e->canRetry);
  EXPECT_TRUE(e->canSubstitute);
  EXPECT_EQ(e->tries, 3);
  EXPECT_EQ(e->osCode, -28);
  EXPECT_EQ(e->funcPtr, 0xDEADBEEFu);
  EXPECT_EQ(e->fileHandle, 7);
  EXPECT_EQ(e->maxSize, 65535);
  EXPECT_EQ(e->argNum, 2);
  EXPECT_EQ(e->argType, 1);
  EXPECT_EQ(e->argTypeReq, 7);
  EXPECT_EQ(e->substituteType, 3);
  EXPECT_EQ(e->subSystem, "DBFCDX");
  EXPECT_EQ(e->subCodeText, "disk full");
  EXPECT_EQ(e->operation, "Append");
  EXPECT_EQ(e->description, "Write failed");
  EXPECT_EQ(e->fileName, "Mpdms.dbf");
  EXPECT_EQ(e->funcSym, rt::Symbol("APPEND"));
  EXPECT_EQ(e->callFuncSym, rt::Symbol("LOADDBF"));
  EXPECT_TRUE(e->arg.isLong() && e->arg.asLong() == 42);
  ASSERT_TRUE(e->args.isArray());
  EXPECT_EQ(e->args.asArray()->size(), 2u);
  EXPECT_EQ(rt::staticErrorRecord().bytes, r.bytes);  // copied into the one static buffer
  EXPECT_TRUE(plainBoxes.empty());
}

TEST_F(ErrorRecordTest, TextArgumentAndMissingArgumentListBecomeStringAndEmptyArray) {
  rt::RawErrorRecord r;
  r.write<std::uint8_t>(rt::raw::kTag, rt::kRawErrorTag);
  r.writeText(rt::raw::kArg, "C:\\NOPE");
  rt::ErrorPtr e = rt::buildErrorFromRecord(&r);
  EXPECT_TRUE(e->arg.isString());
  EXPECT_EQ(e->arg.asString(), "C:\\NOPE");
  ASSERT_TRUE(e->args.isArray());
  EXPECT_TRUE(e->args.asArray()->empty());
  EXPECT_TRUE(e->funcSym.isNull());
}

TEST_F(ErrorRecordTest, ValueThatIsNotARecordPointerIsRefusedWithWrongTagBox) {
  rt::Value made = app::DefErrorGen(rt::Value("not a record"));
  ASSERT_EQ(plainBoxes.size(), 1u);
  EXPECT_EQ(plainBoxes[0].text, "Error structure has wrong tag");
  EXPECT_EQ(plainBoxes[0].caption, "FROM DefErrorGen");
  EXPECT_TRUE(made.as<rt::Error>() != nullptr);  // an empty error object all the same
}

TEST_F(ErrorRecordTest, NullOrForeignRecordIsRefusedInsteadOfRead) {
  (void)rt::buildErrorFromRecord(nullptr);
  rt::RawErrorRecord foreign;
  foreign.write<std::uint8_t>(rt::raw::kTag, 0x42);
  foreign.writeText(rt::raw::kDescription, "ignored");
  rt::ErrorPtr e = rt::buildErrorFromRecord(&foreign);
  EXPECT_EQ(plainBoxes.size(), 2u);
  EXPECT_TRUE(e->description.empty());
}

TEST_F(ErrorRecordTest, RecordLayoutIsOneHundredBytesWithFieldsInPlace) {
  rt::RawErrorRecord r;
  r.write<std::uint16_t>(rt::raw::kGenCode, 0x1234);
  r.write<std::int32_t>(rt::raw::kOsCode, 32);
  EXPECT_EQ(sizeof r, 100u);
  EXPECT_EQ(r.bytes[2], 0x34);  // little-endian
  EXPECT_EQ(r.bytes[3], 0x12);
  EXPECT_EQ(r.bytes[8], 32);
  EXPECT_EQ(rt::raw::kArgs + 8, 100u);
}

TEST_F(ErrorRecordTest, InstalledHandlerReceivesEveryRaisedError) {
  EXPECT_EQ(rt::instanceCount(), 1);
  (void)rt::raise(openError());
  EXPECT_EQ(boxes.size(), 1u);
  rt::setErrorBlock({});
  (void)rt::raise(openError());
  EXPECT_EQ(boxes.size(), 1u);
  app::InstallErrorSys();
  (void)rt::raise(openError());
  EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(ErrorRecordTest, DefaultErrorBoxAnswersTheFirstOfferedChoice) {
  rt::setErrorBoxHandler({});
  EXPECT_EQ(rt::errorMessageBox("t", "c", 0, 2, 0x80000000u), 2u);
  EXPECT_EQ(rt::errorMessageBox("t", "c", 0, 0, 0x80000003u), 0x80000003u);
  EXPECT_EQ(rt::errorMessageBox("t", "c", 1, 2, 0x80000000u), 1u);
}

}  // namespace
