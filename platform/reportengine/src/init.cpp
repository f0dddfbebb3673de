// The engine's six initialisers and its language-text library. Each initialiser is idempotent;
// the program calls them once, in the order of the boundary header.
#include "rdd/rdd.h"
#include "reportengine/functions.h"
#include "reportengine/reportengine.h"

namespace rpt {

namespace {

struct EngineState {
  bool formFunction = false;
  bool errorHandler = false;
  bool defaultFont = false;
  bool functionLibraries = false;
  bool evalObject = false;
  bool dataSources = false;
  std::string languageLibrary;
};

EngineState& state() {
  static EngineState s;
  return s;
}

}  // namespace

void _RPInitGetFormFunction() { state().formFunction = true; }

// Engine errors go through the run-time's raise protocol; nothing to install beyond noting it.
void _InitErrorHandler() { state().errorHandler = true; }

void rpGetDefaultFont() { state().defaultFont = true; }

void InitRpFunctionLibraries() {
  rt::registerGeneralLibrary();
  rdd::registerFunctions();
  registerEngineFunctions();
  state().functionLibraries = true;
}

void InitRpEvalObject() { state().evalObject = true; }

void InitRpDataSourceList() { state().dataSources = true; }

bool engineInitialised() {
  const EngineState& s = state();
  return s.formFunction && s.errorHandler && s.defaultFont && s.functionLibraries && s.evalObject && s.dataSources;
}

void SetRpRunLangDLL(const std::string& libraryName) { state().languageLibrary = libraryName; }
const std::string& rpRunLangDLL() { return state().languageLibrary; }

}  // namespace rpt
