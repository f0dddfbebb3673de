// ReportHook: SetRpLangDLL and RpForceLink.
#include "reports/report_hook.h"

#include "rdd/rdd.h"

namespace reports {

void SetRpLangDLL(const std::string& libraryName) {
  RT_FRAME("SetRpLangDLL");
  if (!libraryName.empty()) rpt::SetRpRunLangDLL(libraryName);
}

const std::vector<rpt::FunctionSpec>& formulaFunctionTable() {
  // The general library's functions as formulas see them; counts are those the run-time
  // registers. The engine's own follow from its table.
  static const std::vector<rpt::FunctionSpec> table = [] {
    std::vector<rpt::FunctionSpec> t = rpt::engineFunctionTable();
    const rpt::FunctionSpec general[] = {
        {"Abs", 1},     {"AllTrim", 1},  {"Asc", 1},      {"At", 2},        {"CDoW", 1},     {"Chr", 1},
        {"CMonth", 1},  {"CToD", 1},     {"Day", 1},      {"Deleted", 0},   {"Descend", 1},  {"DoW", 1},
        {"DToC", 1},    {"DToS", 1},     {"Empty", 1},    {"HardCR", 1},    {"Integer", 1},  {"IsAlpha", 1},
        {"IsDigit", 1}, {"IsLower", 1},  {"IsNil", 1},    {"IsUpper", 1},   {"Left", 2},     {"Len", 1},
        {"Log", 1},     {"Lower", 1},    {"LTrim", 1},    {"Max", 2},       {"MemoLine", 5}, {"MemoTran", 3},
        {"Min", 2},     {"MLCount", 4},  {"Month", 1},    {"Pad", 3},       {"PadC", 3},     {"PadL", 3},
        {"PadR", 3},    {"Rand", 1},     {"RAt", 2},      {"Replicate", 2}, {"Right", 2},    {"Round", 2},
        {"Space", 1},   {"Sqrt", 1},     {"Str", 3},      {"StrTran", 5},   {"StrZero", 3},  {"Stuff", 4},
        {"SubStr", 3},  {"Time", 0},     {"Today", 0},    {"Trim", 1},      {"Upper", 1},    {"Val", 1},
        {"ValType", 1}, {"Year", 1},
    };
    t.insert(t.end(), std::begin(general), std::end(general));
    return t;
  }();
  return table;
}

void RpForceLink() {
  RT_FRAME("RpForceLink");
  rt::registerGeneralLibrary();
  rdd::registerFunctions();
  rpt::registerEngineFunctions();
  rt::registerFunction("RpForceLink", 0, [](std::span<const rt::Value>) {
    RpForceLink();
    return rt::Value();
  });
}

}  // namespace reports
