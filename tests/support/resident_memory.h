// What a test of memory given back needs: the process's resident heap, and whether a sanitizer's
// allocator (the address or the thread sanitizer's, which hold freed memory back) is in use.
#pragma once
#include <cstdlib>
#include <fstream>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZMC_SANITIZER_ALLOCATOR 1
#endif
#elif defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZMC_SANITIZER_ALLOCATOR 1
#endif
#ifdef ZMC_SANITIZER_ALLOCATOR
inline constexpr bool kSanitizerAllocator = true;
#else
inline constexpr bool kSanitizerAllocator = false;
#endif

// Resident anonymous memory (the heap and large blocks), in KiB; -1 when it cannot be read.
inline long residentHeapKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("RssAnon:")) return std::atol(line.c_str() + 8);
  return -1;
}
