// The formula functions the engine supplies, as a table of names and parameter counts, and
// their registration in the run-time's table of functions callable by name.
#pragma once
#include <string>
#include <vector>

namespace rpt {

struct FunctionSpec {
  std::string name;
  int paramCount = 0;
};

// The engine's own functions (AddressBlk 6, AtNoCase 2, ... PgNo 0), in table order.
std::vector<FunctionSpec> engineFunctionTable();

// Registers the engine's own functions (idempotent: a second call replaces them with themselves).
void registerEngineFunctions();

}  // namespace rpt
