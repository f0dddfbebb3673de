// The general library as formulas call it: results at the edges and wrong-kind arguments.
#include <gtest/gtest.h>

#include "error_recorder.h"

using namespace rt;

namespace {

class Library : public ::testing::Test {
 protected:
  void SetUp() override {
    applyStartupSettings(2026);
    registerGeneralLibrary();
  }
  Value eval(const std::string& text) {
    BlockPtr b = compile(text);
    EXPECT_TRUE(b) << text;
    return b ? b->eval(nullptr) : Value();
  }
  std::string s(const std::string& text) { return eval(text).asString(); }
  long long n(const std::string& text) { return eval(text).asLong(); }
};

}  // namespace

TEST_F(Library, EveryListedFunctionIsRegisteredWithItsParameterCount) {
  const std::pair<const char*, int> expected[] = {
      {"ABS", 1},      {"ALLTRIM", 1},  {"ASC", 1},     {"AT", 2},       {"CDOW", 1},    {"CHR", 1},
      {"CMONTH", 1},   {"CTOD", 1},     {"DAY", 1},     {"DESCEND", 1},  {"DOW", 1},     {"DTOC", 1},
      {"DTOS", 1},     {"EMPTY", 1},    {"HARDCR", 1},  {"INTEGER", 1},  {"ISALPHA", 1}, {"ISDIGIT", 1},
      {"ISLOWER", 1},  {"ISNIL", 1},    {"ISUPPER", 1}, {"LEFT", 2},     {"LEN", 1},     {"LOG", 1},
      {"LOWER", 1},    {"LTRIM", 1},    {"MAX", 2},     {"MEMOLINE", 5}, {"MEMOTRAN", 3}, {"MIN", 2},
      {"MLCOUNT", 4},  {"MONTH", 1},    {"PAD", 3},     {"PADC", 3},     {"PADL", 3},    {"PADR", 3},
      {"RAND", 1},     {"RAT", 2},      {"REPLICATE", 2}, {"RIGHT", 2},  {"ROUND", 2},   {"SPACE", 1},
      {"SQRT", 1},     {"STR", 3},      {"STRTRAN", 5}, {"STRZERO", 3},  {"STUFF", 4},   {"SUBSTR", 3},
      {"TIME", 0},     {"TODAY", 0},    {"TRIM", 1},    {"UPPER", 1},    {"VAL", 1},     {"VALTYPE", 1},
      {"YEAR", 1}};
  for (auto [name, count] : expected) {
    const FunctionEntry* f = findFunction(Symbol(name));
    ASSERT_TRUE(f) << name;
    EXPECT_EQ(f->paramCount, count) << name;
  }
  registerGeneralLibrary();  // idempotent
  EXPECT_EQ(findFunction(Symbol("PAD"))->paramCount, 3);
}

TEST_F(Library, TrimmingAndCase) {
  EXPECT_EQ(s("AllTrim('  ab  ')"), "ab");
  EXPECT_EQ(s("LTrim('  ab  ')"), "ab  ");
  EXPECT_EQ(s("Trim('  ab  ')"), "  ab");
  EXPECT_EQ(s("Upper('aBc1')"), "ABC1");
  EXPECT_EQ(s("Lower('aBc1')"), "abc1");
}

TEST_F(Library, SubstringsClampToTheString) {
  EXPECT_EQ(s("SubStr('Person', 2, 3)"), "ers");
  EXPECT_EQ(s("SubStr('Person', -3)"), "son");
  EXPECT_EQ(s("SubStr('Person', 10)"), "");
  EXPECT_EQ(s("SubStr('Person', 0, 2)"), "Pe");
  EXPECT_EQ(s("Left('abc', 5)"), "abc");
  EXPECT_EQ(s("Left('abc', -1)"), "");
  EXPECT_EQ(s("Right('abc', 2)"), "bc");
  EXPECT_EQ(s("Right('abc', 9)"), "abc");
  EXPECT_EQ(s("Stuff('abcdef', 2, 3, 'XY')"), "aXYef");
  EXPECT_EQ(s("Stuff('abc', 9, 9, 'Z')"), "abcZ");
}

TEST_F(Library, SearchingAndReplacing) {
  EXPECT_EQ(n("At('b', 'abcb')"), 2);
  EXPECT_EQ(n("RAt('b', 'abcb')"), 4);
  EXPECT_EQ(n("At('', 'abc')"), 0);
  EXPECT_EQ(n("At('z', 'abc')"), 0);
  EXPECT_EQ(s("StrTran('a.b.c', '.')"), "abc");
  EXPECT_EQ(s("StrTran('a.b.c', '.', '-', 2)"), "a.b-c");
  EXPECT_EQ(s("StrTran('a.b.c.d', '.', '-', 1, 2)"), "a-b-c.d");
  EXPECT_EQ(s("StrTran('abc', '', 'x')"), "abc");
}

TEST_F(Library, PaddingAndRepetition) {
  EXPECT_EQ(s("PadR('ab', 4)"), "ab  ");
  EXPECT_EQ(s("Pad('ab', 4, '*')"), "ab**");
  EXPECT_EQ(s("PadL('ab', 4)"), "  ab");
  EXPECT_EQ(s("PadC('ab', 5, '-')"), "-ab--");
  EXPECT_EQ(s("PadR('abcdef', 3)"), "abc");
  EXPECT_EQ(s("PadL(42, 5)"), "   42");
  EXPECT_EQ(s("Replicate('ab', 3)"), "ababab");
  EXPECT_EQ(s("Space(3)"), "   ");
  EXPECT_EQ(s("Space(-3)"), "");
}

TEST_F(Library, HugeStringRequestsAreStringOverflowNotAllocation) {
  ErrorRecorder recorder;
  EXPECT_TRUE(eval("Space(1000000000000)").isNil());
  EXPECT_TRUE(eval("Replicate('ab', 999999999)").isNil());
  EXPECT_TRUE(eval("PadL('x', 2000000000)").isNil());
  ASSERT_EQ(recorder.errors.size(), 3u);
  for (const auto& e : recorder.errors) EXPECT_EQ(e->genCode, EG_STROVERFLOW);
}

TEST_F(Library, NumbersToText) {
  EXPECT_EQ(s("Str(123)"), "       123");
  EXPECT_EQ(s("Str(3.14159, 8, 2)"), "    3.14");
  EXPECT_EQ(s("Str(2.5)"), "         2.5");
  EXPECT_EQ(s("Str(7, 3)"), "  7");
  EXPECT_EQ(s("StrZero(42, 5)"), "00042");
  EXPECT_EQ(s("StrZero(-5, 5)"), "-0005");
  EXPECT_EQ(s("Str(12345, 3)"), "***");
}

TEST_F(Library, NumberFunctions) {
  EXPECT_EQ(n("Abs(-4)"), 4);
  EXPECT_DOUBLE_EQ(eval("Abs(-4.5)").asNumber(), 4.5);
  EXPECT_EQ(n("Integer(-7.9)"), -7);
  EXPECT_TRUE(eval("Integer(99999999999999999999.0)").isFloat());
  EXPECT_DOUBLE_EQ(eval("Round(2.345, 2)").asNumber(), 2.35);
  EXPECT_DOUBLE_EQ(eval("Round(-2.5, 0)").asNumber(), -3);
  EXPECT_DOUBLE_EQ(eval("Round(1234, -2)").asNumber(), 1200);
  EXPECT_DOUBLE_EQ(eval("Sqrt(16)").asNumber(), 4);
  EXPECT_DOUBLE_EQ(eval("Sqrt(-1)").asNumber(), 0);
  EXPECT_EQ(n("Max(3, 9)"), 9);
  EXPECT_EQ(n("Min(3, 9)"), 3);
  EXPECT_DOUBLE_EQ(eval("Val('12.50')").asNumber(), 12.5);
  EXPECT_EQ(eval("Val('12.50')").decimals(), 2);
  EXPECT_EQ(n("Val(' -42abc')"), -42);
  EXPECT_EQ(n("Val('abc')"), 0);
}

TEST_F(Library, LogOfNonPositiveNumberIsNumericError) {
  ErrorRecorder recorder;
  EXPECT_DOUBLE_EQ(eval("Log(0)").asNumber(), 0);
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.last()->genCode, EG_NUMERR);
  EXPECT_NEAR(eval("Log(2.718281828)").asNumber(), 1.0, 1e-6);
}

TEST_F(Library, RandRepeatsForTheSameSeed) {
  double a = eval("Rand(5)").asNumber();
  double b = eval("Rand(5)").asNumber();
  EXPECT_EQ(a, b);
  EXPECT_GE(a, 0.0);
  EXPECT_LT(a, 1.0);
}

TEST_F(Library, DatesAndTheirParts) {
  EXPECT_EQ(n("Year(CToD('07/04/99'))"), 1999);
  EXPECT_EQ(n("Month(CToD('07/04/99'))"), 7);
  EXPECT_EQ(n("Day(CToD('07/04/99'))"), 4);
  EXPECT_EQ(n("DoW(CToD('07/04/99'))"), 1);
  EXPECT_EQ(s("CDoW(CToD('07/04/99'))"), "Sunday");
  EXPECT_EQ(s("CMonth(CToD('07/04/99'))"), "July");
  EXPECT_EQ(s("DToC(CToD('07/04/99'))"), "07/04/99");
  EXPECT_EQ(s("CDoW(CToD(''))"), "");
  EXPECT_EQ(n("Year(CToD(''))"), 0);
  EXPECT_TRUE(eval("Today()").isDate());
}

TEST_F(Library, ValuesAndTheirKinds) {
  EXPECT_TRUE(eval("Empty('  ')").asLogical());
  EXPECT_TRUE(eval("Empty(0)").asLogical());
  EXPECT_TRUE(eval("Empty(NIL)").asLogical());
  EXPECT_FALSE(eval("Empty('a')").asLogical());
  EXPECT_TRUE(eval("Empty(CToD(''))").asLogical());
  EXPECT_TRUE(eval("IsNil(NIL)").asLogical());
  EXPECT_EQ(s("ValType('a') + ValType(1) + ValType(.T.) + ValType(NIL) + ValType(Today())"), "CNLUD");
  EXPECT_EQ(n("Len('abc')"), 3);
  EXPECT_EQ(n("Asc('A')"), 65);
  EXPECT_EQ(n("Asc('')"), 0);
  EXPECT_EQ(s("Chr(65)"), "A");
  EXPECT_EQ(s("Chr(321)"), "A");
  EXPECT_TRUE(eval("IsAlpha('a1') .AND. IsDigit('1a') .AND. IsLower('ab') .AND. IsUpper('Ab')").asLogical());
  EXPECT_FALSE(eval("IsAlpha('')").asLogical());
}

TEST_F(Library, DescendReversesOrder) {
  EXPECT_GT(*compareValues(eval("Descend('A')"), eval("Descend('B')")), 0);
  EXPECT_EQ(n("Descend(5)"), -5);
  EXPECT_FALSE(eval("Descend(.T.)").asLogical());
}

TEST_F(Library, MemoLinesWrapAtWordsAndHardReturns) {
  std::string text = "'The quick brown fox' + Chr(13) + Chr(10) + 'jumps'";
  EXPECT_EQ(n("MLCount(" + text + ", 10)"), 3);
  EXPECT_EQ(s("MemoLine(" + text + ", 10, 1)"), "The quick ");
  EXPECT_EQ(s("MemoLine(" + text + ", 10, 2)"), "brown fox ");
  EXPECT_EQ(s("MemoLine(" + text + ", 10, 3)"), "jumps     ");
  EXPECT_EQ(s("MemoLine(" + text + ", 10, 9)"), "          ");
  EXPECT_EQ(s("MemoTran(" + text + ")"), "The quick brown fox;jumps");
  EXPECT_EQ(s("MemoTran('a' + Chr(141) + Chr(10) + 'b', '|', '_')"), "a_b");
  EXPECT_EQ(s("HardCR('a' + Chr(141) + Chr(10) + 'b')"), "a\r\nb");
  EXPECT_EQ(n("MLCount('abcdefghij', 4)"), 3);
}

TEST_F(Library, WrongArgumentKindIsRaisedNamingFunctionAndArgument) {
  ErrorRecorder recorder;
  EXPECT_TRUE(eval("Upper(5)").isNil());
  EXPECT_TRUE(eval("SubStr('abc', 'x')").isNil());
  ASSERT_EQ(recorder.errors.size(), 2u);
  const ErrorPtr& e = recorder.errors[0];
  EXPECT_EQ(e->genCode, EG_ARG);
  EXPECT_EQ(e->funcSym, Symbol("UPPER"));
  EXPECT_EQ(e->argNum, 1);
  EXPECT_EQ(e->argType, static_cast<int>(Type::Long));
  EXPECT_EQ(e->argTypeReq, static_cast<int>(Type::String));
  EXPECT_NE(e->description.find("UPPER"), std::string::npos);
  EXPECT_EQ(recorder.errors[1]->argNum, 2);
}

TEST_F(Library, MissingArgumentsArriveAsNil) {
  ErrorRecorder recorder;
  EXPECT_EQ(s("PadR('ab')"), "");
  EXPECT_EQ(s("Left('abc')"), "");
  EXPECT_TRUE(eval("Upper()").isNil());
  EXPECT_EQ(recorder.errors.size(), 1u);
}
