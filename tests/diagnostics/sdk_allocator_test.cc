#include <gtest/gtest.h>

#include <cstring>

#include "diagnostics/sdk_allocator.h"

namespace Tesk::Memory {
namespace {

// Counter changes across one operation. The test program's own operator new
// does not go through the SDK allocator, so only the calls below count.
struct Delta {
  int64_t allocations, frees, bytesAllocated, bytesFreed;
};

Delta Between(const AllocationCounters& before, const AllocationCounters& after) {
  return {static_cast<int64_t>(after.allocations - before.allocations),
          static_cast<int64_t>(after.frees - before.frees),
          static_cast<int64_t>(after.bytesAllocated - before.bytesAllocated),
          static_cast<int64_t>(after.bytesFreed - before.bytesFreed)};
}

TEST(SdkAllocator, CountsUsableSizesOfEveryOperation) {
  AllocationCounters before = ReadAllocationCounters();
  void* block = Allocate(100);
  ASSERT_NE(block, nullptr);
  const size_t usable = UsableSize(block);
  EXPECT_GE(usable, 100u);
  Delta d = Between(before, ReadAllocationCounters());
  EXPECT_EQ(d.allocations, 1);
  EXPECT_EQ(d.bytesAllocated, static_cast<int64_t>(usable));

  before = ReadAllocationCounters();
  void* moved = Reallocate(block, 5000);
  ASSERT_NE(moved, nullptr);
  d = Between(before, ReadAllocationCounters());
  EXPECT_EQ(d.frees, 1);
  EXPECT_EQ(d.bytesFreed, static_cast<int64_t>(usable));
  EXPECT_EQ(d.allocations, 1);
  EXPECT_EQ(d.bytesAllocated, static_cast<int64_t>(UsableSize(moved)));

  before = ReadAllocationCounters();
  Free(moved);
  Free(nullptr);
  d = Between(before, ReadAllocationCounters());
  EXPECT_EQ(d.frees, 1);
  EXPECT_EQ(d.allocations, 0);
}

TEST(SdkAllocator, ReallocatingNothingCountsAFreeOfZeroBytes) {
  const AllocationCounters before = ReadAllocationCounters();
  void* block = Reallocate(nullptr, 64);
  ASSERT_NE(block, nullptr);
  const Delta d = Between(before, ReadAllocationCounters());
  EXPECT_EQ(d.frees, 1);
  EXPECT_EQ(d.bytesFreed, 0);
  EXPECT_EQ(d.allocations, 1);
  Free(block);
}

TEST(SdkAllocator, DuplicatesTextsAndRaisesThePeak) {
  const AllocationCounters before = ReadAllocationCounters();
  char* copy = DuplicateString("offers");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "offers");
  // A block far larger than anything alive raises the peak to at least its size.
  void* large = Allocate(1 << 20);
  const AllocationCounters during = ReadAllocationCounters();
  EXPECT_EQ(Between(before, during).allocations, 2);
  EXPECT_GE(during.peakLiveBytes, during.bytesAllocated - during.bytesFreed);
  EXPECT_GE(during.peakLiveBytes, uint64_t{1} << 20);
  EXPECT_LE(during.liveBlocksAtPeak, during.allocations - during.frees);
  Free(large);
  Free(copy);
  const AllocationCounters after = ReadAllocationCounters();
  EXPECT_EQ(after.peakLiveBytes, during.peakLiveBytes);
}

}  // namespace
}  // namespace Tesk::Memory
