// Trees built, copied and dropped on several threads, each in its own storage.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "binding/binding_property.h"
#include "diagnostics/sdk_allocator.h"

namespace Tesk {
namespace {

int64_t LiveBytes() {
  const Memory::AllocationCounters counters = Memory::ReadAllocationCounters();
  return static_cast<int64_t>(counters.bytesAllocated - counters.bytesFreed);
}

TEST(BindingStorageConcurrency, TreesOnSeveralThreads) {
  const int64_t before = LiveBytes();
  std::vector<std::thread> threads;
  std::vector<BindingProperty> results(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &results] {
      for (int round = 0; round < 20; ++round) {
        BindingProperty tree;
        for (int i = 0; i < 2000; ++i) {
          BindingProperty& item = tree.Append();
          item.MemberRef("id").SetSigned(i);
          item.MemberRef("name").SetString("item " + std::to_string(i % 50));
        }
        BindingProperty copy(tree);
        // Handing a whole root to another thread is allowed.
        results[t] = std::move(copy);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const BindingProperty& result : results) EXPECT_EQ(result.Size(), 2000u);
  results.clear();
  results.shrink_to_fit();
  EXPECT_EQ(LiveBytes(), before);
}

}  // namespace
}  // namespace Tesk
