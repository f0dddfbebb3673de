// APPERROR.LOG: the byte-exact block, creation and appending, the processor-exception lines,
// logs that cannot be opened, and the hexadecimal form of values.
#include <regex>

#include "../support/fifo.h"
#include "errorsys_fixture.h"

namespace {

using ErrorLogTest = ErrorSysTest;

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Replaces the version and the date-and-time lines (lines 2 and 3) of every block with the
// golden file's placeholders, after checking their form.
std::string maskVolatileLines(const std::string& log) {
  static const std::regex kStamp(R"(\r\n\d\d/\d\d/\d\d \d\d:\d\d:\d\d\r\n)");
  std::string out = log;
  for (auto at = out.find(rt::versionText() + "\r\n"); at != std::string::npos;
       at = out.find(rt::versionText() + "\r\n", at)) {
    out.replace(at, rt::versionText().size(), "<VERSION>");
    auto stampAt = at + std::string("<VERSION>").size();
    std::smatch m;
    std::string rest = out.substr(stampAt, 21);
    EXPECT_TRUE(std::regex_match(rest, m, kStamp)) << "date line: " << rest;
    out.replace(stampAt, 21, "\r\n<DATE> <TIME>\r\n");
  }
  return out;
}

TEST_F(ErrorLogTest, MissingTableBlockIsByteExact) {
  (void)rt::raise(openError());
  EXPECT_EQ(maskVolatileLines(logText()), readFile(ZMC_ERRORSYS_GOLDEN_DIR "/missing-table.log"));
}

TEST_F(ErrorLogTest, FirstErrorCreatesLogAndLaterOnesAppendAfterOneEmptyLine) {
  EXPECT_FALSE(logExists());
  (void)rt::raise(openError("first.dbf"));
  std::string first = logText();
  EXPECT_EQ(first.rfind("***********************ERROR", 0), 0u);
  (void)rt::raise(openError("second.dbf"));
  std::string both = logText();
  ASSERT_EQ(both.rfind(first, 0), 0u);
  EXPECT_EQ(both.substr(first.size()).rfind("\r\n***********************ERROR", 0), 0u);
  EXPECT_EQ(countOf(both, "***********************ERROR"), 2u);
  EXPECT_NE(both.find("FileName        :second.dbf\r\n"), std::string::npos);
}

TEST_F(ErrorLogTest, LogIsWrittenBeforeTheBoxIsShown) {
  std::string seen;
  onBox = [&] { seen = logText(); };
  (void)rt::raise(openError());
  EXPECT_NE(seen.find("--------------------\r\n", seen.size() - 22), std::string::npos);
}

TEST_F(ErrorLogTest, ErrorLogSettingOffWritesNothingButStillAsks) {
  rt::setErrorLog(false);
  (void)rt::raise(openError());
  EXPECT_FALSE(logExists());
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(ErrorLogTest, ProcessorExceptionLogsTheFiveExceptionLines) {
  auto e = rt::makeError(rt::EG_NUMERR, "BASE", "Access violation");
  e->subCode = rt::kExceptionSubCode;
  e->osCode = 0xC0000005;
  e->argType = 0;
  e->funcPtr = 0x00401A2B;
  e->argNum = 2;
  e->canDefault = true;
  (void)rt::raise(e);
  std::string log = logText();
  EXPECT_NE(log.find("SubCode         :4660\r\n"
                     "GenCode         :Numeric error\r\n"
                     "ExceptionCode   :C0000005\r\n"
                     "ExceptionFlags  :00000000\r\n"
                     "ExceptionAddress:00401A2B\r\n"
                     "ParamNumber     :2\r\n"
                     "ExceptionInfo   :00000000\r\n"
                     "Severity        :2\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("OsCode          :"), std::string::npos);
  EXPECT_EQ(log.find("FuncPtr         :"), std::string::npos);
}

TEST_F(ErrorLogTest, StartUpInternationalErrorIsLoggedWithItsArgument) {
  auto e = rt::makeError(rt::EG_ARG, "International", "");
  e->arg = rt::Value("#LOCALE");
  e->canDefault = true;
  (void)rt::raise(e);
  std::string log = logText();
  EXPECT_NE(log.find("SubSystem       :International\r\n"), std::string::npos);
  EXPECT_NE(log.find("Arg             :#LOCALE\r\n"), std::string::npos);
  EXPECT_NE(log.find("Subsystem: International\r\nArgument: #LOCALE\r\n"), std::string::npos);
}

// ---- Logs that cannot be written -----------------------------------------------------------

TEST_F(ErrorLogTest, UnopenableLogCostsOnlyTheLogEntry) {
  std::filesystem::create_directory(logPath());  // a directory where the log should be
  (void)rt::raise(openError());
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(plainBoxes.empty());
  EXPECT_TRUE(std::filesystem::is_directory(logPath()));
}

TEST_F(ErrorLogTest, PipeInPlaceOfTheLogIsNotWaitedOnAndFeedsItsReader) {
  Fifo fifo(logPath().string());
  ASSERT_TRUE(fifo.made());
  (void)rt::raise(openError());  // nobody reads the pipe: the entry is lost, the box still shows
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(plainBoxes.empty());
  EXPECT_FALSE(fifo.blockedAReader());
  const int reader = ::open(fifo.path().c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  (void)rt::raise(openError());
  char block[4096];
  const ssize_t n = ::read(reader, block, sizeof block);
  ::close(reader);
  ASSERT_GT(n, 0);
  EXPECT_NE(std::string(block, static_cast<std::size_t>(n)).find("*****ERROR*****"), std::string::npos);
  EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(ErrorLogTest, MissingDirectoryReportsAndClearsTheDefaultDirectory) {
  rt::setDefaultDir("D:\\MODELS");
  EXPECT_EQ(app::OpenErrorLog((dir_ / "gone" / "").string()), -1);
  ASSERT_EQ(plainBoxes.size(), 1u);
  EXPECT_EQ(plainBoxes[0].text, "Internal error 1: SetDefaultDir: D:\\MODELS");
  EXPECT_EQ(plainBoxes[0].caption, "Internal Error");
  EXPECT_TRUE(rt::settings().defaultDir.empty());
}

TEST_F(ErrorLogTest, MissingDirectoryWithoutDefaultDirectoryReportsAndClearsThePath) {
  rt::setDefaultPath("C:\\DATA;C:\\MORE");
  EXPECT_EQ(app::OpenErrorLog((dir_ / "gone" / "").string()), -1);
  ASSERT_EQ(plainBoxes.size(), 1u);
  EXPECT_EQ(plainBoxes[0].text, "Internal error 1: SetDefault: C:\\DATA;C:\\MORE");
  EXPECT_TRUE(rt::settings().defaultPath.empty());
}

// ---- HexString -----------------------------------------------------------------------------

TEST_F(ErrorLogTest, HexStringOfFloatsWithDecimalsOrOutOfRangeShowsTheEightBytesLowHalfFirst) {
  EXPECT_EQ(app::HexString(rt::Value(1.5)), "000000003FF80000");
  EXPECT_EQ(app::HexString(rt::Value(rt::Float{4294967296.0, 0})), "0000000041F00000");
  EXPECT_EQ(app::HexString(rt::Value(rt::Float{-2147483648.0, 0})), "00000000C1E00000");
  EXPECT_EQ(app::HexString(rt::Value(rt::Float{0.1, 1})), "9999999A3FB99999");
}

TEST_F(ErrorLogTest, HexStringOfWholeFloatsInRangeShowsDigitsWithoutLeadingZeros) {
  EXPECT_EQ(app::HexString(rt::Value(rt::Float{255.0, 0})), "FF");
  EXPECT_EQ(app::HexString(rt::Value(rt::Float{0.0, 0})), "0");
  EXPECT_EQ(app::HexString(rt::Value(rt::Float{4294967295.0, 0})), "FFFFFFFF");
  EXPECT_EQ(app::HexString(rt::Value(rt::Float{-1.0, 0})), "FFFFFFFF");
}

TEST_F(ErrorLogTest, HexStringOfStringsShowsEachByteAndASpace) {
  EXPECT_EQ(app::HexString(rt::Value("AB\xff")), "41 42 FF ");
  EXPECT_EQ(app::HexString(rt::Value("")), "");
}

TEST_F(ErrorLogTest, HexStringOfOtherValuesShowsTheirEightDigit32BitContent) {
  EXPECT_EQ(app::HexString(rt::Value(4660)), "00001234");
  EXPECT_EQ(app::HexString(rt::Value(-1)), "FFFFFFFF");
  EXPECT_EQ(app::HexString(rt::Value(0x1C0000005LL)), "C0000005");
  EXPECT_EQ(app::HexString(rt::Value(true)), "00000001");
  EXPECT_EQ(app::HexString(rt::Value()), "00000000");
  EXPECT_EQ(app::HexString(rt::Value(rt::Pointer{0x12345678})), "12345678");
}

}  // namespace
