// Dynamic values: kinds, equality, ordering and their text, where mix-ups corrupt comparisons.
#include <gtest/gtest.h>

#include <cmath>

#include "error_recorder.h"

using namespace rt;

TEST(ValueKinds, TypeCodesMatchTheRunTime) {
  EXPECT_EQ(Value().typeCode(), 0);
  EXPECT_EQ(Value(1).typeCode(), 1);
  EXPECT_EQ(Value(Date{5}).typeCode(), 2);
  EXPECT_EQ(Value(1.5).typeCode(), 3);
  EXPECT_EQ(Value::array().typeCode(), 5);
  EXPECT_EQ(Value("x").typeCode(), 7);
  EXPECT_EQ(Value(true).typeCode(), 8);
  EXPECT_EQ(Value(Symbol("a")).typeCode(), 10);
  EXPECT_EQ(Value(Pointer{1}).typeCode(), 18);
  EXPECT_EQ(Value(std::size_t{3}).asLong(), 3);
}

TEST(ValueKinds, NullObjectAndNullArrayAreNil) {
  EXPECT_TRUE(Value(ObjectPtr()).isNil());
  EXPECT_TRUE(Value(ArrayPtr()).isNil());
  EXPECT_EQ(Value(static_cast<const char*>(nullptr)).asString(), "");
}

TEST(ValueKinds, HugeOrNaNFloatsReadAsSaturatedLongs) {
  EXPECT_EQ(Value(1e300).asLong(), INT64_MAX);
  EXPECT_EQ(Value(-1e300).asLong(), INT64_MIN);
  EXPECT_EQ(Value(std::nan("")).asLong(), 0);
  EXPECT_EQ(Value(-2.9).asLong(), -2);
}

TEST(ValueKinds, TypeNamesForErrorLog) {
  EXPECT_EQ(typeName(7), "STRING");
  EXPECT_EQ(typeName(18), "PTR");
  EXPECT_EQ(typeName(4), "UNKNOWN");
}

TEST(ValueEquality, LongAndFloatCompareAsNumbers) {
  EXPECT_TRUE(exactlyEqual(Value(2), Value(2.0)));
  EXPECT_FALSE(exactlyEqual(Value(2), Value("2")));
  EXPECT_TRUE(exactlyEqual(Value(), Value()));
}

TEST(ValueEquality, ArraysCompareByIdentity) {
  Value a = Value::array({Value(1)});
  Value b = Value::array({Value(1)});
  EXPECT_TRUE(exactlyEqual(a, a));
  EXPECT_FALSE(exactlyEqual(a, b));
}

TEST(ValueOrdering, StringsCompareCommonLengthThenShorterFirst) {
  EXPECT_EQ(*compareValues(Value("AB"), Value("ABC")), -1);
  EXPECT_EQ(*compareValues(Value("B"), Value("ABC")), 1);
  EXPECT_EQ(*compareValues(Value("a"), Value("B")), 1);  // fixed byte order
  EXPECT_FALSE(compareValues(Value("a"), Value(1)).has_value());
}

TEST(ValueOrdering, LocaleCollationIgnoresCase) {
  setCollation(Collation::Locale);
  EXPECT_EQ(*compareValues(Value("a"), Value("B")), -1);
  setCollation(Collation::FixedByteOrder);
}

TEST(ValueText, GeneralConversion) {
  applyStartupSettings(2026);
  EXPECT_EQ(toText(Value()), "NIL");
  EXPECT_EQ(toText(Value(42)), "42");
  EXPECT_EQ(toText(Value(Float{3.14159, 3})), "3.142");
  EXPECT_EQ(toText(Value(true)), ".T.");
  EXPECT_EQ(toText(Value(makeDate(1999, 7, 4))), "07/04/99");
  EXPECT_EQ(toText(Value(Symbol("abc"))), "ABC");
  EXPECT_EQ(toText(Value(Pointer{0xBEEF})), "0x0000BEEF");
}

TEST(ValueText, EmptyValuesOfEveryTypeCode) {
  EXPECT_TRUE(emptyValueOf(0).isNil());
  EXPECT_EQ(emptyValueOf(7).asString(), "");
  EXPECT_TRUE(emptyValueOf(2).asDate().empty());
  EXPECT_TRUE(emptyValueOf(8).isLogical());
  EXPECT_TRUE(emptyValueOf(18).isPointer());
}

TEST(Symbols, InternedUpperCaseAndCaseBlind) {
  EXPECT_EQ(Symbol("modelvers"), Symbol("MODELVERS"));
  EXPECT_EQ(Symbol("ModelVers").name(), "MODELVERS");
  EXPECT_NE(Symbol("A"), Symbol("B"));
  EXPECT_TRUE(Symbol().isNull());
}
