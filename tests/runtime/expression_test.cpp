// The expression compiler: what it builds, what evaluation answers, and how faults are raised.
#include <gtest/gtest.h>

#include <map>

#include "error_recorder.h"

using namespace rt;

namespace {

class MapResolver : public FieldResolver {
 public:
  explicit MapResolver(bool byReference = false) : byReference_(byReference) {}
  std::map<Symbol, Value> values;
  int lookups = 0;
  std::optional<Value> field(Symbol name) override {
    ++lookups;
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  const Value* fieldRef(Symbol name) override {
    if (!byReference_) return nullptr;
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }

 private:
  bool byReference_;
};

class Expressions : public ::testing::Test {
 protected:
  void SetUp() override {
    applyStartupSettings(2026);
    registerGeneralLibrary();
    fields.values[Symbol("MODELVERS")] = Value("V1             ");
    fields.values[Symbol("CLASSNAME")] = Value("Person    ");
    fields.values[Symbol("COUNT")] = Value(7);
    fields.values[Symbol("FLAG")] = Value(true);
    fields.values[Symbol("BORN")] = Value(makeDate(1999, 7, 4));
  }
  Value eval(const std::string& text) {
    BlockPtr b = compile(text);
    EXPECT_TRUE(b) << text;
    return b ? b->eval(&fields) : Value();
  }
  std::string dump(const std::string& text) {
    BlockPtr b = compile(text);
    return b ? b->dump() : "<null>";
  }
  MapResolver fields;
};

}  // namespace

TEST_F(Expressions, LiteralsOfEveryKind) {
  EXPECT_EQ(eval("'abc'").asString(), "abc");
  EXPECT_EQ(eval("\"it's\"").asString(), "it's");
  EXPECT_EQ(eval("42").asLong(), 42);
  EXPECT_TRUE(eval("42").isLong());
  Value f = eval("1.50");
  EXPECT_TRUE(f.isFloat());
  EXPECT_EQ(f.decimals(), 2);
  EXPECT_TRUE(eval(".T.").asLogical());
  EXPECT_FALSE(eval(".f.").asLogical());
  EXPECT_TRUE(eval("NIL").isNil());
  EXPECT_EQ(eval("CToD('07/04/99')").asDate(), makeDate(1999, 7, 4));
}

TEST_F(Expressions, ArithmeticPrecedenceAndAssociativity) {
  EXPECT_EQ(eval("2 + 3 * 4").asLong(), 14);
  EXPECT_EQ(eval("(2 + 3) * 4").asLong(), 20);
  EXPECT_EQ(eval("10 - 4 - 3").asLong(), 3);
  EXPECT_EQ(eval("17 % 5").asLong(), 2);
  EXPECT_EQ(eval("-2 * 3").asLong(), -6);
  EXPECT_EQ(eval("- -2").asLong(), 2);
  EXPECT_DOUBLE_EQ(eval("7 / 2").asNumber(), 3.5);
  EXPECT_DOUBLE_EQ(eval("2 ^ 10").asNumber(), 1024);
  EXPECT_EQ(eval("COUNT * 2").asLong(), 14);
}

TEST_F(Expressions, DecimalsFollowTheOperands) {
  EXPECT_EQ(toText(eval("1.5 + 2.25")), "3.75");
  EXPECT_EQ(toText(eval("1.5 * 1.5")), "2.25");
}

TEST_F(Expressions, LongOverflowBecomesFloatNotWrap) {
  Value v = eval("9223372036854775807 + 1");
  EXPECT_TRUE(v.isFloat());
  EXPECT_GT(v.asNumber(), 9.2e18);
}

TEST_F(Expressions, DateArithmetic) {
  EXPECT_EQ(eval("BORN + 1").asDate(), makeDate(1999, 7, 5));
  EXPECT_EQ(eval("BORN - CToD('07/01/99')").asLong(), 3);
  EXPECT_EQ(eval("BORN - 4").asDate(), makeDate(1999, 6, 30));
}

TEST_F(Expressions, DateBeyondTheCalendarIsNumericOverflow) {
  ErrorRecorder recorder;
  EXPECT_TRUE(eval("BORN + 9223372036854775807").isNil());
  EXPECT_TRUE(eval("BORN - 99999999999.5").isNil());
  ASSERT_EQ(recorder.errors.size(), 2u);
  EXPECT_EQ(recorder.errors[0]->genCode, EG_NUMOVERFLOW);
}

TEST_F(Expressions, ComparisonsAndLogicalPrecedence) {
  EXPECT_TRUE(eval("1 < 2 .AND. 3 >= 3").asLogical());
  EXPECT_TRUE(eval(".F. .OR. .T. .AND. .T.").asLogical());
  EXPECT_FALSE(eval(".NOT. .T. .OR. .F.").asLogical());
  EXPECT_TRUE(eval("!FLAG = .F.").asLogical());  // .NOT. binds looser than "="
  EXPECT_TRUE(eval("1 <> 2 .and. 1 # 2 .and. 1 != 2").asLogical());
  EXPECT_TRUE(eval("'er' $ 'Person'").asLogical());
  EXPECT_FALSE(eval("'' $ 'Person'").asLogical());
  EXPECT_TRUE(eval("NIL == NIL").asLogical());
  EXPECT_FALSE(eval("COUNT == NIL").asLogical());
}

TEST_F(Expressions, LooseAndExactStringEquality) {
  EXPECT_TRUE(eval("'Person' = 'Per'").asLogical());
  EXPECT_FALSE(eval("'Per' = 'Person'").asLogical());
  EXPECT_TRUE(eval("'Person' = ''").asLogical());
  EXPECT_FALSE(eval("'Person' == 'Per'").asLogical());
  EXPECT_TRUE(eval("MODELVERS == 'V1             '").asLogical());
  EXPECT_FALSE(eval("MODELVERS == 'V1'").asLogical());
}

TEST_F(Expressions, LogicalOperatorsShortCircuit) {
  EXPECT_FALSE(eval(".F. .AND. NOSUCH").asLogical());
  EXPECT_TRUE(eval(".T. .OR. NOSUCH").asLogical());
}

TEST_F(Expressions, ConcatenationWithPlusAndMinus) {
  EXPECT_EQ(eval("MODELVERS + CLASSNAME").asString(), "V1             Person    ");
  EXPECT_EQ(eval("MODELVERS - CLASSNAME").asString(), "V1Person                 ");
  EXPECT_EQ(eval("'a  ' - 'b ' - 'c'").asString(), "abc   ");
}

TEST_F(Expressions, InlineConditionalEvaluatesOnlyTheChosenBranch) {
  EXPECT_EQ(eval("IIF(FLAG, 'yes', NOSUCH)").asString(), "yes");
  EXPECT_EQ(eval("if(COUNT > 10, NOSUCH, 'small')").asString(), "small");
}

TEST_F(Expressions, FunctionCallsThroughTheTable) {
  EXPECT_EQ(eval("Upper(Trim(CLASSNAME)) + '!'").asString(), "PERSON!");
  EXPECT_EQ(eval("SubStr(CLASSNAME, 2)").asString(), "erson    ");
  EXPECT_EQ(eval("DToS(BORN)").asString(), "19990704");
  EXPECT_EQ(eval("Time()").asString().size(), 8u);
}

TEST_F(Expressions, BlockFormAndAliasedFields) {
  EXPECT_EQ(eval("{|| COUNT + 1 }").asLong(), 8);
  EXPECT_EQ(eval("{||FIELD->COUNT}").asLong(), 7);
  EXPECT_EQ(dump("{|| a }"), "A");
  fields.values[Symbol("MPDMS->CLASSNAME")] = Value("aliased");
  EXPECT_EQ(eval("Mpdms->ClassName").asString(), "aliased");
}

TEST_F(Expressions, DumpShowsTreeDeterministically) {
  EXPECT_EQ(dump("a + b * 2"), "(+ A (* B 2))");
  EXPECT_EQ(dump("(a + b) * 2.50"), "(* (+ A B) 2.50)");
  EXPECT_EQ(dump(".not. x .and. y <> 'q'"), "(and (not X) (!= Y \"q\"))");
  EXPECT_EQ(dump("IIF(-x > 1, .T., NIL)"), "(iif (> (neg X) 1) .T. NIL)");
  EXPECT_EQ(dump("Upper(Left(n, 3))"), "(call UPPER (call LEFT N 3))");
  EXPECT_EQ(dump("'say \"hi\"'"), "'say \"hi\"'");
}

TEST_F(Expressions, CompiledBlockIsReusableAcrossRows) {
  BlockPtr key = compile("MODELVERS + CLASSNAME");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->eval(&fields).asString(), "V1             Person    ");
  fields.values[Symbol("CLASSNAME")] = Value("Address   ");
  EXPECT_EQ(key->eval(&fields).asString(), "V1             Address   ");
  EXPECT_EQ(key->text(), "MODELVERS + CLASSNAME");
}

TEST_F(Expressions, EvalStringFastPathMatchesEval) {
  MapResolver byRef(true);
  byRef.values = fields.values;
  std::string out = "stale";
  for (const char* text : {"MODELVERS + CLASSNAME", "MODELVERS - CLASSNAME + 'x'", "Upper(CLASSNAME) + MODELVERS",
                           "'A' + Str(COUNT, 3)"}) {
    BlockPtr b = compile(text);
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->evalString(&byRef, out)) << text;
    EXPECT_EQ(out, b->eval(&fields).asString()) << text;
  }
  EXPECT_EQ(byRef.lookups, 0);  // served by reference, no copies
  BlockPtr number = compile("COUNT + 1");
  EXPECT_FALSE(number->evalString(&byRef, out));
  EXPECT_TRUE(out.empty());
}

TEST_F(Expressions, EvalStringFallsBackWhenPartsAreNotStrings) {
  ErrorRecorder recorder;
  std::string out;
  BlockPtr b = compile("COUNT + MODELVERS");
  EXPECT_FALSE(b->evalString(&fields, out));
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.last()->genCode, EG_ARG);
  BlockPtr dates = compile("BORN + 1 + MODELVERS");
  EXPECT_FALSE(dates->evalString(&fields, out));
}

// ---- faults ----

TEST_F(Expressions, SyntaxErrorNamesTextAndPosition) {
  ErrorRecorder recorder;
  EXPECT_FALSE(compile("A + * B"));
  ASSERT_EQ(recorder.errors.size(), 1u);
  const ErrorPtr& e = recorder.last();
  EXPECT_EQ(e->genCode, EG_SYNTAX);
  EXPECT_NE(e->description.find("\"*\""), std::string::npos) << e->description;
  EXPECT_NE(e->description.find("position 5"), std::string::npos) << e->description;
  EXPECT_NE(e->description.find("\"A + * B\""), std::string::npos) << e->description;
  EXPECT_EQ(e->arg.asString(), "A + * B");
}

TEST_F(Expressions, MalformedTextsAreSyntaxErrors) {
  for (const char* text : {"", "   ", "(a", "a)", "'open", "a b", "f(", "{|| a", "{|x| x}", "1 +", "a->", "@",
                           ".and.", "Upper(a,)"}) {
    ErrorRecorder recorder;
    EXPECT_FALSE(compile(text)) << text;
    ASSERT_EQ(recorder.errors.size(), 1u) << text;
    EXPECT_EQ(recorder.last()->genCode, EG_SYNTAX) << text << ": " << recorder.last()->description;
  }
}

TEST_F(Expressions, UnknownFunctionIsRaisedAtCompileTime) {
  ErrorRecorder recorder;
  EXPECT_FALSE(compile("Trim(a) + Frobnicate(b)"));
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.last()->genCode, EG_NOFUNC);
  EXPECT_NE(recorder.last()->description.find("FROBNICATE"), std::string::npos);
  EXPECT_NE(recorder.last()->description.find("position 11"), std::string::npos);
}

TEST_F(Expressions, TooManyArgumentsIsAnArgumentError) {
  ErrorRecorder recorder;
  EXPECT_FALSE(compile("Upper(a, b)"));
  EXPECT_FALSE(compile("IIF(a, b)"));
  ASSERT_EQ(recorder.errors.size(), 2u);
  EXPECT_EQ(recorder.errors[0]->genCode, EG_ARG);
  EXPECT_EQ(recorder.errors[1]->genCode, EG_ARG);
}

TEST_F(Expressions, TypeMismatchNamesOperatorPositionAndKinds) {
  ErrorRecorder recorder;
  EXPECT_TRUE(eval("COUNT + 'x'").isNil());
  ASSERT_EQ(recorder.errors.size(), 1u);
  const ErrorPtr& e = recorder.last();
  EXPECT_EQ(e->genCode, EG_ARG);
  EXPECT_NE(e->description.find("\"+\""), std::string::npos) << e->description;
  EXPECT_NE(e->description.find("position 7"), std::string::npos) << e->description;
  EXPECT_NE(e->description.find("LONGINT and STRING"), std::string::npos) << e->description;
  ASSERT_TRUE(e->args.asArray());
  EXPECT_EQ(e->args.asArray()->size(), 2u);
}

TEST_F(Expressions, TypeMismatchSubstituteBecomesTheResult) {
  ErrorRecorder recorder(Value("fixed"));
  EXPECT_EQ(eval("'a' + (1 < 'b')").asString(), "afixed");
}

TEST_F(Expressions, NonLogicalOperandsOfLogicOperatorsAreRaised) {
  ErrorRecorder recorder;
  eval("1 .AND. .T.");
  eval(".NOT. 'x'");
  eval("IIF(1, 2, 3)");
  ASSERT_EQ(recorder.errors.size(), 3u);
  for (const auto& e : recorder.errors) EXPECT_EQ(e->genCode, EG_ARG);
}

TEST_F(Expressions, UnresolvedFieldRaisesNoVarNamingIt) {
  ErrorRecorder recorder;
  EXPECT_TRUE(eval("COUNT + NOSUCH").isNil());
  ASSERT_GE(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.errors[0]->genCode, EG_NOVAR);
  EXPECT_NE(recorder.errors[0]->description.find("NOSUCH"), std::string::npos);
  EXPECT_TRUE(compile("A")->eval(nullptr).isNil());
}

TEST_F(Expressions, ZeroDivisorIsRaised) {
  ErrorRecorder recorder;
  eval("1 / 0");
  eval("5 % 0");
  ASSERT_EQ(recorder.errors.size(), 2u);
  EXPECT_EQ(recorder.errors[0]->genCode, EG_ZERODIV);
  EXPECT_EQ(recorder.errors[1]->genCode, EG_ZERODIV);
}

TEST_F(Expressions, DeepNestingIsRejectedNotOverflowingTheStack) {
  ErrorRecorder recorder;
  EXPECT_FALSE(compile(std::string(5000, '(') + "1" + std::string(5000, ')')));
  std::string chain = "1";
  for (int i = 0; i < 5000; ++i) chain += "+1";
  EXPECT_FALSE(compile(chain));
  EXPECT_FALSE(compile(std::string(5000, '-') + "1"));
  ASSERT_EQ(recorder.errors.size(), 3u);
  EXPECT_EQ(recorder.errors[0]->genCode, EG_COMPLEXITY);
}

TEST_F(Expressions, FunctionThrowingIsRaisedNotEscaping) {
  registerFunction("BOOM", 0, [](std::span<const Value>) -> Value { throw std::runtime_error("kaput"); });
  ErrorRecorder recorder;
  EXPECT_TRUE(eval("BOOM()").isNil());
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.last()->genCode, EG_INTERNAL);
  EXPECT_NE(recorder.last()->description.find("kaput"), std::string::npos);
}

TEST_F(Expressions, ReregisteringAFunctionReachesCompiledBlocks) {
  registerFunction("ANSWER", 0, [](std::span<const Value>) { return Value(1); });
  BlockPtr b = compile("ANSWER()");
  registerFunction("ANSWER", 0, [](std::span<const Value>) { return Value(2); });
  EXPECT_EQ(b->eval(&fields).asLong(), 2);
}
