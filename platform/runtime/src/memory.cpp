#include "runtime/memory.h"

#include <malloc.h>

namespace rt {

namespace {

// Below this the blocks are a page's drawing buffers and the like (the PDF export frees and takes
// some of 1 to 4 MB for every page): mapped afresh each time, they made an export 10 % slower.
constexpr int kLargeBlockBytes = 4 << 20;

}  // namespace

void setAllocationPolicy() {
  (void)::mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
  (void)::mallopt(M_ARENA_MAX, 1);
}

}  // namespace rt
