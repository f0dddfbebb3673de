// Dates, numbers and times as they show after start-up, and the checked epoch arithmetic.
#include <gtest/gtest.h>

#include <clocale>

#include "error_recorder.h"

using namespace rt;

class StartupSettings : public ::testing::Test {
 protected:
  void SetUp() override { applyStartupSettings(2026); }
};

TEST_F(StartupSettings, DateShowsMonthDayTwoDigitYearWithSlashes) {
  EXPECT_EQ(dtoc(makeDate(1999, 7, 4)), "07/04/99");
  EXPECT_FALSE(settings().century);
  EXPECT_EQ(settings().dateFormat, "MM/DD/YY");
}

TEST_F(StartupSettings, EmptyDateShowsBlanksInFormatShape) {
  EXPECT_EQ(dtoc(Date{}), "  /  /  ");
  EXPECT_EQ(dtos(Date{}), "        ");
}

TEST_F(StartupSettings, TwoDigitYearsReadInsideEpochWindow) {
  EXPECT_EQ(settings().epoch, 1976);
  EXPECT_EQ(ctod("01/01/76"), makeDate(1976, 1, 1));
  EXPECT_EQ(ctod("12/31/75"), makeDate(2075, 12, 31));
  EXPECT_EQ(ctod("07/04/1999"), makeDate(1999, 7, 4));
}

TEST_F(StartupSettings, InvalidDateTextReadsAsEmptyDate) {
  EXPECT_TRUE(ctod("02/30/99").empty());
  EXPECT_TRUE(ctod("").empty());
  EXPECT_TRUE(ctod("ab/cd/ef").empty());
  EXPECT_TRUE(ctod("13/01/99").empty());
}

TEST_F(StartupSettings, NumbersUsePointCommaAndTwoDecimals) {
  EXPECT_EQ(formatNumber(1234567.891, -1, true), "1,234,567.89");
  EXPECT_EQ(formatNumber(-1234.5, -1, true), "-1,234.50");
  EXPECT_EQ(formatNumber(0.5), "0.50");
  EXPECT_EQ(toText(Value(2.0)), "2.00");
}

TEST_F(StartupSettings, NegativeValueRoundingToZeroShowsNoSign) {
  EXPECT_EQ(formatNumber(-0.001), "0.00");
}

TEST_F(StartupSettings, TimeOnTwentyFourHourClockWithoutSuffix) {
  EXPECT_EQ(timeText(0, 5, 9), "00:05:09");
  EXPECT_EQ(timeText(23, 59, 1), "23:59:01");
  EXPECT_EQ(timeText().size(), 8u);
}

TEST_F(StartupSettings, TableDriverSlotAndSharingSettings) {
  EXPECT_TRUE(rddInfo(111).asLogical());
  EXPECT_FALSE(settings().exclusive);
  EXPECT_TRUE(settings().deleted);
  EXPECT_EQ(settings().collation, Collation::FixedByteOrder);
  EXPECT_EQ(settings().international, InternationalMode::Fixed);
  EXPECT_FALSE(settings().amPm);
  EXPECT_EQ(settings().pmExt, "");
}

TEST_F(StartupSettings, LocaleModeIsReplacedByFixedModeCompletely) {
  setInternational(InternationalMode::Locale);
  setInternational(InternationalMode::Fixed);
  EXPECT_EQ(settings().decimalSep, '.');
  EXPECT_EQ(settings().thousandsSep, ',');
  EXPECT_EQ(settings().timeSep, ':');
  EXPECT_EQ(settings().dateFormat, "MM/DD/YY");
  EXPECT_EQ(settings().collation, Collation::FixedByteOrder);
}

TEST(InternationalSettings, LocaleModeLeavesProcessLocaleAsItWas) {
  std::string before = std::setlocale(LC_ALL, nullptr);
  setInternational(InternationalMode::Locale);
  EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), before);
  EXPECT_GE(settings().dateFormat.size(), 8u);
  setInternational(InternationalMode::Fixed);
}

TEST(CenturySetting, SwitchesYearDigitsOfDateFormat) {
  applyStartupSettings(2026);
  setCentury(true);
  EXPECT_EQ(dtoc(makeDate(1999, 7, 4)), "07/04/1999");
  setCentury(false);
  EXPECT_EQ(dtoc(makeDate(1999, 7, 4)), "07/04/99");
}

TEST(DateFormat, LongFieldRunsAreZeroPaddedNotCrashing) {
  applyStartupSettings(2026);
  setDateFormat("YYYYYYYYYYYYYYYYYYYY-MM-DD");
  EXPECT_EQ(dtoc(makeDate(1999, 7, 4)), "00000000000000001999-07-04");
  setInternational(InternationalMode::Fixed);
}

TEST(AmPmClock, TwelveHourClockUsesSuffixes) {
  applyStartupSettings(2026);
  setAmPm(true);
  setAMExt(" am");
  setPMExt(" pm");
  EXPECT_EQ(timeText(0, 0, 0), "12:00:00 am");
  EXPECT_EQ(timeText(13, 30, 0), "01:30:00 pm");
  applyStartupSettings(2026);
}

TEST(EpochArithmetic, YearBelowFiftyRaisesNumericOverflow) {
  ErrorRecorder recorder;
  EXPECT_EQ(checkedYearMinus(49, 50), 0);
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.last()->genCode, EG_NUMOVERFLOW);
  EXPECT_EQ(recorder.last()->arg.asLong(), 49);
}

TEST(EpochArithmetic, YearFiftyAndAboveSubtractsWithoutError) {
  ErrorRecorder recorder;
  EXPECT_EQ(checkedYearMinus(50, 50), 0);
  EXPECT_EQ(checkedYearMinus(1999, 50), 1949);
  EXPECT_TRUE(recorder.errors.empty());
}

TEST(EpochArithmetic, SubstituteAnswerBecomesTheYear) {
  ErrorRecorder recorder(Value(1950));
  EXPECT_EQ(checkedYearMinus(10, 50), 1950);
}

TEST(Calendar, JulianRoundTripAndWeekday) {
  Date d = makeDate(2000, 2, 29);
  int y, m, dd;
  splitDate(d, y, m, dd);
  EXPECT_EQ(y * 10000 + m * 100 + dd, 20000229);
  EXPECT_TRUE(makeDate(1900, 2, 29).empty());
  EXPECT_EQ(dayOfWeek(makeDate(1999, 7, 4)), 1);  // a Sunday
  EXPECT_EQ(dtos(makeDate(1999, 7, 4)), "19990704");
}

TEST(NumberDisplay, StrRightAlignsAndOverflowsToStars) {
  applyStartupSettings(2026);
  EXPECT_EQ(strNumber(3.14159, 8, 2), "    3.14");
  EXPECT_EQ(strNumber(123456, 3, 0), "***");
}
