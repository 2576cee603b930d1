// The memory of value trees: every byte comes back, freed blocks are reused,
// and strings read back whether held inline or in a block.
#include <gtest/gtest.h>

#include <cstdio>
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
}  // namespace Tesk
