#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "../support/resident_memory.h"
#include "runtime/runtime.h"

namespace {

std::unique_ptr<char[]> touched(std::size_t bytes) {
  auto block = std::make_unique<char[]>(bytes);
  std::memset(block.get(), 'x', bytes);
  return block;
}

}  // namespace

// A load frees a family's member lists of some megabytes while the index it built lives on
// around them. Once a larger block has been freed, the allocator would serve such lists from the
// heap, where they stay resident after they are freed.
TEST(ProcessMemory, ALargeBlockFreedBetweenLiveOnesGoesBackAfterALargerOneWasFreed) {
  if (kSanitizerAllocator) GTEST_SKIP() << "a sanitizer's allocator holds freed memory back on purpose";
  rt::setAllocationPolicy();
  touched(16 << 20).reset();
  const long before = residentHeapKiB();
  auto list = touched(8 << 20);
  const auto later = touched(64 << 10);  // allocated after the list: the heap cannot just shrink
  ASSERT_GT(residentHeapKiB() - before, 7 * 1024);
  list.reset();
  EXPECT_LT(residentHeapKiB() - before, 1024);
  EXPECT_EQ(later[0], 'x');
}
