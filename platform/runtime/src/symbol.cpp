#include "runtime/symbol.h"

#include <algorithm>
#include <deque>
#include <unordered_map>

namespace rt {
namespace {

struct SymbolTable {
  std::deque<std::string> names{""};  // id 0 is the null symbol
  std::unordered_map<std::string, std::uint32_t> ids{{"", 0}};
};

SymbolTable& table() {
  static SymbolTable t;
  return t;
}

}  // namespace

std::string toUpper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
  return upper;
}

Symbol::Symbol(std::string_view name) {
  auto& t = table();
  std::string upper = toUpper(name);
  auto [it, inserted] = t.ids.try_emplace(upper, static_cast<std::uint32_t>(t.names.size()));
  if (inserted) t.names.push_back(upper);
  id_ = it->second;
}

const std::string& Symbol::name() const { return table().names[id_]; }

}  // namespace rt
