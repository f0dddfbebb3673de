// What a test of memory given back needs: the process's resident heap, and whether the address
// sanitizer's allocator (which holds freed memory back on purpose) is in use.
#pragma once
#include <cstdlib>
#include <fstream>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZMC_ADDRESS_SANITIZER 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define ZMC_ADDRESS_SANITIZER 1
#endif
#ifdef ZMC_ADDRESS_SANITIZER
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

// Resident anonymous memory (the heap and large blocks), in KiB; -1 when it cannot be read.
inline long residentHeapKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("RssAnon:")) return std::atol(line.c_str() + 8);
  return -1;
}
