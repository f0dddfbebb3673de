#include "runtime/memory.h"

#include <malloc.h>

namespace rt {

namespace {

constexpr int kLargeBlockBytes = 1 << 20;

}  // namespace

void takeLargeBlocksFromTheSystem() { (void)::mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes); }

}  // namespace rt
