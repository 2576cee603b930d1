#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "diagnostics/sdk_allocator.h"

namespace Tesk::Memory {
namespace {

TEST(SdkAllocatorConcurrency, CountsEveryBlockFromSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  const AllocationCounters before = ReadAllocationCounters();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kRounds; ++i) {
        void* block = Allocate(static_cast<size_t>(16 + (i + t) % 200));
        block = Reallocate(block, 300);
        Free(block);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const AllocationCounters after = ReadAllocationCounters();
  EXPECT_EQ(after.allocations - before.allocations, uint64_t{2} * kThreads * kRounds);
  EXPECT_EQ(after.frees - before.frees, uint64_t{2} * kThreads * kRounds);
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, after.bytesFreed - before.bytesFreed);
  EXPECT_GE(after.peakLiveBytes, after.bytesAllocated - after.bytesFreed);
  // Never more than was ever allocated: a peak taken from a wrapped live size
  // would be near 2^64.
  EXPECT_LE(after.peakLiveBytes, after.bytesAllocated);
}

}  // namespace
}  // namespace Tesk::Memory
