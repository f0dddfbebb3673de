// The program's hooks into the report engine: the language-text library and the functions that
// report formulas can call by name.
#include <gtest/gtest.h>

#include "reports/reports.h"

namespace {

TEST(ReportHook, AnEmptyLanguageLibraryNameChangesNothing) {
  reports::SetRpLangDLL("texts-de");
  EXPECT_EQ(rpt::rpRunLangDLL(), "texts-de");
  reports::SetRpLangDLL("");
  EXPECT_EQ(rpt::rpRunLangDLL(), "texts-de");
  rpt::SetRpRunLangDLL("");
}

TEST(ReportHook, ForceLinkRegistersEveryFormulaFunctionWithItsParameterCount) {
  reports::RpForceLink();
  // Counts fixed for formulas, beside the engine's own table.
  const std::map<std::string, int> fixed = {
      {"MEMOLINE", 5}, {"MEMOTRAN", 3}, {"MLCOUNT", 4}, {"PAD", 3},     {"PADC", 3},    {"PADL", 3},
      {"PADR", 3},     {"RAND", 1},     {"STR", 3},     {"STRTRAN", 5}, {"STRZERO", 3}, {"SUBSTR", 3},
      {"RPFORCELINK", 0}, {"PGNO", 0},  {"MINUTESBETWEEN", 5}, {"ADDRESSBLK", 6}};
  for (const auto& [name, count] : fixed) {
    const rt::FunctionEntry* entry = rt::findFunction(rt::Symbol(name));
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->paramCount, count) << name;
  }
  for (const rpt::FunctionSpec& function : reports::formulaFunctionTable()) {
    const rt::FunctionEntry* entry = rt::findFunction(rt::Symbol(rt::toUpper(function.name)));
    ASSERT_NE(entry, nullptr) << function.name;
    EXPECT_EQ(entry->paramCount, function.paramCount) << function.name;
  }
  ASSERT_NE(rt::findFunction(rt::Symbol("DELETED")), nullptr);
  // Pad is PadR under a second name.
  const rt::Value args[] = {rt::Value("ab"), rt::Value(5), rt::Value("*")};
  EXPECT_EQ(rt::callFunction(rt::Symbol("PAD"), args).asString(), "ab***");
  EXPECT_EQ(rt::callFunction(rt::Symbol("PADR"), args).asString(), "ab***");
}

}  // namespace
