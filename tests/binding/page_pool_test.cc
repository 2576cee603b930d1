#include <gtest/gtest.h>

#include <cstdio>

#include "binding/binding_property.h"
#include "binding/page_pool.h"
#include "diagnostics/sdk_allocator.h"

namespace Tesk {
namespace {

uint64_t LiveBytes() {
  const Memory::AllocationCounters counters = Memory::ReadAllocationCounters();
  return counters.bytesAllocated - counters.bytesFreed;
}

void BuildLargeTree(BindingProperty& root, int members) {
  char name[32];
  for (int i = 0; i < members; ++i) {
    std::snprintf(name, sizeof name, "member%06d", (i * 7919) % members);
    BindingProperty& member = root.MemberRef(name);
    switch (i % 4) {
      case 0:
        member.SetString(name + 6);
        break;
      case 1:
        member.SetSigned(i);
        break;
      case 2:
        member.MemberRef("nested").Append().SetString("shared text");
        break;
      default:
        member.SetEnum({i, nullptr});
        break;
    }
  }
}

void BuildCopyAndDrop() {
  BindingProperty original;
  BuildLargeTree(original, 100000);
  BindingProperty copy(original);
}

TEST(PagePool, LargeTreesGiveBackEveryPageAndByte) {
  // The pool's own book-keeping grows once to the largest number of regions
  // held at a time and lives as long as the process: measure after that.
  BuildCopyAndDrop();
  const PagePoolStatistics poolBefore = PagePool::Statistics();
  const uint64_t bytesBefore = LiveBytes();
  {
    BindingProperty original;
    BuildLargeTree(original, 100000);
    ASSERT_EQ(original.Size(), 100000u);
    EXPECT_GT(PagePool::Statistics().pagesInUse, poolBefore.pagesInUse + 100);

    BindingProperty holder;
    holder.MemberRef("copy") = original;
    EXPECT_EQ(holder.Member("copy"), original);

    // Resetting a child walks its subtree and returns its blocks one by one.
    holder.MemberRef("copy").Reset();
    EXPECT_EQ(holder.Size(), 1u);
    holder.MemberRef("again") = original;
  }
  EXPECT_EQ(PagePool::Statistics().pagesInUse, poolBefore.pagesInUse);
  EXPECT_EQ(LiveBytes(), bytesBefore);
  const PagePoolStatistics after = PagePool::Statistics();
  EXPECT_LE(after.emptyRegions, 256u) << "at most 16 MiB of empty regions kept for reuse";
}

TEST(PagePool, RepeatedSmallTreesReuseTheReserve) {
  const PagePoolStatistics before = PagePool::Statistics();
  for (int i = 0; i < 1000; ++i) {
    BindingProperty value;
    value.MemberRef("error").SetString("message");
  }
  const PagePoolStatistics after = PagePool::Statistics();
  EXPECT_EQ(after.pagesInUse, before.pagesInUse);
  EXPECT_LE(after.regionsReserved, before.regionsReserved + 1) << "the reserve is reused";
}

}  // namespace
}  // namespace Tesk
