// The table of functions callable by name (report formulas, index keys). Each entry keeps its
// registered parameter count; callers may pass fewer arguments (missing ones arrive as NIL).
#pragma once
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/value.h"

namespace rt {

using Function = std::function<Value(std::span<const Value> args)>;

struct FunctionEntry {
  Symbol name;
  int paramCount = 0;
  Function body;
};

void registerFunction(std::string_view name, int paramCount, Function body);
const FunctionEntry* findFunction(Symbol name);
std::vector<const FunctionEntry*> registeredFunctions();  // sorted by name

// Calls a registered function; an unknown name raises EG_NOFUNC naming it.
Value callFunction(Symbol name, std::span<const Value> args);

// Registers the general library's string, number and date functions (idempotent).
void registerGeneralLibrary();

}  // namespace rt
