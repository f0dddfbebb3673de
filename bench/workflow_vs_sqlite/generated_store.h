// The generated schema store the bench loads: family "Generated" (the original) and
// "Generated Two" (a changed copy), `classes` classes with `members` own members each.
#pragma once
#include <filesystem>

namespace bench {

inline constexpr const char* kFirstFamily = "Generated";
inline constexpr const char* kSecondFamily = "Generated Two";

void generateStore(const std::filesystem::path& file, int classes, int members);

}  // namespace bench
