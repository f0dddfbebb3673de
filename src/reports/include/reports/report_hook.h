// ReportHook: the program's two hooks into the report engine.
#pragma once
#include <string>
#include <vector>

#include "reportengine/reportengine.h"

namespace reports {

// Hands a non-empty library name to the engine's SetRpRunLangDLL; an empty name changes nothing.
void SetRpLangDLL(const std::string& libraryName);

// Makes every function report formulas may call present in the run-time's function table (the
// general library's, the table driver's and the engine's), and registers itself there with no
// parameters. Never called by the program's own code paths; safe to call any number of times.
void RpForceLink();

// The functions formulas may call, with the parameter counts they are registered with.
const std::vector<rpt::FunctionSpec>& formulaFunctionTable();

}  // namespace reports
