#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace Tesk::Platform {
namespace {

TEST(PlatformRegions, AreAlignedZeroedAndWritable) {
  void* region = ReserveRegion(kRegionSize);
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(region) % kRegionSize, 0u);
  auto* bytes = static_cast<unsigned char*>(region);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[kRegionSize - 1], 0);
  bytes[kRegionSize - 1] = 0xAB;
  ReleaseRegion(region, kRegionSize);
}

TEST(PlatformClock, UtcNowIsPastTheYear2020AndMonotonicCounterAdvances) {
  EXPECT_GT(UtcNowSeconds(), int64_t{1577836800});
  const int64_t first = PerformanceCounter();
  EXPECT_GE(PerformanceCounter(), first);
  EXPECT_GT(PerformanceFrequency(), 0);
  const LocalTime now = CurrentLocalTime();
  EXPECT_GE(now.year, 2020);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LT(now.millisecond, 1000);
}

TEST(PlatformProcess, KnowsItsExecutableAndThread) {
  EXPECT_NE(ExecutablePath().find("platform_tests"), std::string::npos);
  EXPECT_NE(CurrentThreadId(), 0u);
  void* block = std::malloc(100);
  EXPECT_GE(UsableSize(block), 100u);
  std::free(block);
}

TEST(PlatformLock, ExcludesOtherThreads) {
  Lock lock;
  bool otherGotIt = true;
  {
    std::lock_guard<Lock> guard(lock);
    std::thread other([&] {
      otherGotIt = lock.try_lock();
      if (otherGotIt) lock.unlock();
    });
    other.join();
  }
  EXPECT_FALSE(otherGotIt);
  EXPECT_TRUE(lock.try_lock());
  lock.unlock();
}

}  // namespace
}  // namespace Tesk::Platform
