// Symbols: interned names, kept in upper case and compared without regard to case.
// A default-constructed Symbol is the null symbol. Interning is process-wide and not thread-safe.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

class Symbol {
 public:
  Symbol() = default;
  explicit Symbol(std::string_view name);
  Symbol(const char* name) : Symbol(std::string_view(name)) {}

  const std::string& name() const;
  bool isNull() const { return id_ == 0; }
  std::uint32_t id() const { return id_; }

  friend bool operator==(Symbol a, Symbol b) { return a.id_ == b.id_; }
  friend auto operator<=>(Symbol a, Symbol b) { return a.id_ <=> b.id_; }

 private:
  std::uint32_t id_ = 0;
};

std::string toUpper(std::string_view text);

}  // namespace rt

template <>
struct std::hash<rt::Symbol> {
  std::size_t operator()(rt::Symbol s) const noexcept { return s.id(); }
};
