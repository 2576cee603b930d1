// The memory of value trees: every byte comes back, freed blocks are reused,
// and strings read back whether held inline or in a block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "binding/binding_property.h"
#include "diagnostics/sdk_allocator.h"

namespace Tesk {
namespace {

int64_t LiveBytes() {
  const Memory::AllocationCounters counters = Memory::ReadAllocationCounters();
  return static_cast<int64_t>(counters.bytesAllocated - counters.bytesFreed);
}

void BuildLargeTree(BindingProperty& root, int members) {
  char name[32];
  for (int i = 0; i < members; ++i) {
    std::snprintf(name, sizeof name, "member%06d", (i * 7919) % members);
    BindingProperty& member = root.MemberRef(name);
    switch (i % 5) {
      case 0:
        member.SetString(name + 6);
        break;
      case 1:
        member.SetSigned(i);
        break;
      case 2:
        member.MemberRef("nested").Append().SetString("a text longer than any inline one");
        break;
      case 3:
        member.SetBlob(std::vector<uint8_t>(static_cast<size_t>(i % 300), 7));
        break;
      default:
        member.SetEnum({i, nullptr});
        break;
    }
  }
}

TEST(BindingStorage, LargeTreesGiveBackEveryByte) {
  const int64_t before = LiveBytes();
  {
    BindingProperty original;
    BuildLargeTree(original, 100000);
    ASSERT_EQ(original.Size(), 100000u);

    BindingProperty holder;
    holder.MemberRef("copy") = original;
    EXPECT_EQ(holder.Member("copy"), original);
    // Resetting a child walks its subtree and frees its blocks one by one.
    holder.MemberRef("copy").Reset();
    EXPECT_EQ(holder.Size(), 1u);
    holder.MemberRef("again") = original;
    EXPECT_EQ(holder.Member("again"), original);

    BindingProperty copy(original);
    EXPECT_EQ(copy, original);
  }
  EXPECT_EQ(LiveBytes(), before);
}

TEST(BindingStorage, ALongLivedTreeReusesWhatItsChildrenFreed) {
  // A tree kept for a long time whose parts are replaced again and again
  // (a cache) must not grow with every replacement.
  BindingProperty cache;
  BindingProperty part;
  BuildLargeTree(part, 2000);
  const auto replace = [&] {
    cache.MemberRef("part") = part;
    cache.MemberRef("list").Reset();
    for (int i = 0; i < 300; ++i) cache.MemberRef("list").Append().SetString(std::to_string(i));
  };
  // The first rounds may take a chunk or two more (free lists fill by size
  // class); after that, each round reuses what the last one freed.
  for (int round = 0; round < 5; ++round) replace();
  const int64_t settled = LiveBytes();
  for (int round = 0; round < 50; ++round) replace();
  EXPECT_EQ(LiveBytes(), settled) << "not growing with every round";
  EXPECT_EQ(cache.Member("part"), part);
}

TEST(BindingStorage, InlineAndBlockStringsAtTheirBoundary) {
  // Texts of every length around the inline capacity of either build.
  BindingProperty list;
  std::string text;
  for (int length = 0; length < 40; ++length) {
    list.Append().SetString(text);
    text += static_cast<char>('a' + length % 26);
  }
  const BindingProperty copy(list);
  text.clear();
  for (uint32_t i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(copy.At(i).GetString(), text);
    EXPECT_EQ(copy.At(i).Size(), i);
    EXPECT_EQ(std::string(copy.At(i).CString()), text);
    EXPECT_EQ(copy.At(i).Storage(), copy.Storage());
    text += static_cast<char>('a' + i % 26);
  }
}

}  // namespace
// A size past what the address space holds is refused, never wrapped into a
// small block that the caller then overruns.
TEST(BindingStorage, SizesBeyondTheAddressSpaceThrow) {
  BindingStorage* storage = BindingStorage::Create();
  ASSERT_NE(storage, nullptr);
  constexpr size_t kLarge = 3 * BindingStorage::kLargestChunkBlock;
  void* large = storage->AllocateBlock(kLarge);
  void* small = storage->AllocateBlock(24);
  for (const size_t size : {SIZE_MAX, SIZE_MAX - 3, SIZE_MAX - 16, SIZE_MAX - 31}) {
    SCOPED_TRACE(size);
    EXPECT_THROW((void)storage->AllocateBlock(size), std::bad_alloc);
    EXPECT_THROW((void)storage->ResizeBlock(large, kLarge, size), std::bad_alloc);
    EXPECT_THROW((void)storage->ResizeBlock(small, 24, size), std::bad_alloc);
  }
  storage->FreeBlock(small, 24);
  storage->FreeBlock(large, kLarge);
  BindingStorage::Destroy(storage);
}

// Counts whose arrays need more bytes than a 32-bit size holds: the
// reservation throws and the container keeps its items.
TEST(BindingProperty, ReservationsBeyondTheAddressSpaceThrow) {
  if (sizeof(size_t) > 4) GTEST_SKIP() << "these counts fit a 64-bit address space";
  struct Case {
    const char* what;
    bool members;
    uint32_t count;
  };
  constexpr Case kCases[] = {
      {"members", true, 220000000},
      {"members at the limit", true, kMaxCollectionSize},
      {"elements at the limit", false, kMaxCollectionSize},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    BindingProperty value;
    char name[16];
    // More items than a chunk block holds: the array is a heap block of its own.
    for (int i = 0; i < 1000; ++i) {
      std::snprintf(name, sizeof name, "m%04d", i);
      (c.members ? value.MemberRef(name) : value.Append()).SetSigned(i);
    }
    EXPECT_THROW(c.members ? value.ReserveMembers(c.count) : value.Reserve(c.count),
                 std::bad_alloc);
    ASSERT_EQ(value.Size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
      std::snprintf(name, sizeof name, "m%04d", i);
      ASSERT_EQ((c.members ? value.Member(name) : value.At(static_cast<uint32_t>(i))).GetSigned(),
                i);
    }
  }
}

}  // namespace Tesk
