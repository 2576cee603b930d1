// Trees built, copied and dropped on several threads share the page pool.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "binding/binding_property.h"
#include "binding/page_pool.h"

namespace Tesk {
namespace {

TEST(PagePoolConcurrency, TreesOnSeveralThreads) {
  const PagePoolStatistics before = PagePool::Statistics();
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
  EXPECT_EQ(PagePool::Statistics().pagesInUse, before.pagesInUse);
}

}  // namespace
}  // namespace Tesk
