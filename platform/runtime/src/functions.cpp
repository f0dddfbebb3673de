#include "runtime/functions.h"

#include <algorithm>
#include <map>

#include "runtime/error.h"

namespace rt {
namespace {

std::map<Symbol, FunctionEntry>& table() {
  static std::map<Symbol, FunctionEntry> t;
  return t;
}

}  // namespace

void registerFunction(std::string_view name, int paramCount, Function body) {
  Symbol sym(name);
  // Replacing in place keeps the entry's address, which compiled expressions hold.
  auto [it, inserted] = table().try_emplace(sym);
  it->second = FunctionEntry{sym, paramCount, std::move(body)};
}

const FunctionEntry* findFunction(Symbol name) {
  auto it = table().find(name);
  return it == table().end() ? nullptr : &it->second;
}

std::vector<const FunctionEntry*> registeredFunctions() {
  std::vector<const FunctionEntry*> out;
  for (auto& [sym, entry] : table()) out.push_back(&entry);
  std::sort(out.begin(), out.end(), [](auto* a, auto* b) { return a->name.name() < b->name.name(); });
  return out;
}

Value callFunction(Symbol name, std::span<const Value> args) {
  if (const FunctionEntry* f = findFunction(name)) return f->body(args);
  auto e = makeError(EG_NOFUNC, "BASE", "Undefined function: " + name.name(), name.name());
  e->funcSym = name;
  e->canSubstitute = true;
  Answer a = raise(e);
  return a.kind == Answer::Substitute ? a.substitute : Value();
}

}  // namespace rt
