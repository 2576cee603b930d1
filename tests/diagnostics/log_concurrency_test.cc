// Logging from many threads while others attach, detach and configure targets,
// register groups and take and drop manager references.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/line_format.h"
#include "diagnostics/log_manager.h"
#include "support/recording_log_target.h"

namespace Tesk {
namespace {

using Testing::RecordingLogTarget;

constexpr int kWriters = 4;
constexpr int kLinesPerWriter = 300;

std::string Payload(int writer, int line) {
  return "writer " + std::to_string(writer) + " line " + std::to_string(line) + " " +
         std::string(200, static_cast<char>('a' + writer));
}

// Starts the threads together and joins them.
class ThreadGroup {
 public:
  template <typename Body>
  void Start(Body body) {
    threads_.emplace_back([this, body] {
      while (!go_.load()) std::this_thread::yield();
      body();
    });
  }
  void Run() {
    go_.store(true);
    for (std::thread& thread : threads_) thread.join();
  }

 private:
  std::atomic<bool> go_{false};
  std::vector<std::thread> threads_;
};

TEST(LogConcurrency, LinesFromManyThreadsArriveWholeWhileTargetsChange) {
  LogManagerReference reference;
  RecordingLogTarget steady("Steady");
  steady.Attach();
  std::atomic<int> writersLeft{kWriters};

  ::testing::internal::CaptureStderr();
  ThreadGroup threads;
  for (int writer = 0; writer < kWriters; ++writer) {
    threads.Start([writer, &writersLeft] {
      for (int line = 0; line < kLinesPerWriter; ++line) {
        LogMessage(kLogLevelError, kLogGroupDbg, "%s", Payload(writer, line).c_str());
      }
      writersLeft.fetch_sub(1);
    });
  }
  threads.Start([&writersLeft] {  // targets come and go
    while (writersLeft.load() > 0) {
      RecordingLogTarget passing("Passing");
      passing.Attach();
      passing.Configure({.level = kLogLevelOkay, .includeMask = kLogGroupDbg, .lineFormat = "#M"});
      passing.Detach();
      passing.Attach();
    }
  });
  threads.Start([&writersLeft] {  // built-in targets are reconfigured and looked up
    while (writersLeft.load() > 0) {
      LogTarget* standardOutput = LogManager::StandardOutputSink();
      standardOutput->Configure({.level = kLogLevelAlways, .includeMask = kLogGroupGen});
      standardOutput->Detach();
      EXPECT_NE(LogManager::FindSink("Steady"), nullptr);
    }
  });
  threads.Start([] {  // groups are registered
    for (int round = 0; round < 50; ++round) {
      EXPECT_NE(LogManager::RegisterGroup("CCY"), 0u);
      EXPECT_FALSE(LogGroupNames(~uint64_t{0}).empty());
    }
  });
  threads.Run();
  LogManager::StandardErrorSink()->Flush();
  const std::string err = ::testing::internal::GetCapturedStderr();

  std::set<std::string> expected;
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int line = 0; line < kLinesPerWriter; ++line) expected.insert(Payload(writer, line));
  }
  const std::vector<std::string> recorded = steady.Texts();
  EXPECT_EQ(recorded.size(), expected.size());
  EXPECT_EQ(std::set<std::string>(recorded.begin(), recorded.end()), expected);

  // Standard error: one whole line per message, "<name>(<thread>):  ERROR| <payload>".
  std::istringstream lines(err);
  std::string line;
  std::set<std::string> written;
  const std::string prefix = std::string(LogManager::ExecutableName()) + "(";
  while (std::getline(lines, line)) {
    ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    const size_t separator = line.find("):  ERROR| ");
    ASSERT_EQ(separator, prefix.size() + 8) << line;
    written.insert(line.substr(separator + 11));
  }
  EXPECT_EQ(written, expected);
}

TEST(LogConcurrency, ManagerComesAndGoesUnderLoad) {
  { LogManagerReference discardLeftover; }
  std::atomic<int> writersLeft{2};
  ThreadGroup threads;
  for (int writer = 0; writer < 2; ++writer) {
    threads.Start([&writersLeft] {
      for (int line = 0; line < 2000; ++line) {
        LogMessage(kLogLevelWarn, kLogGroupGen, "churn %d", line);  // no console takes GEN
      }
      writersLeft.fetch_sub(1);
    });
  }
  for (int holder = 0; holder < 2; ++holder) {
    threads.Start([&writersLeft] {
      while (writersLeft.load() > 0) {
        LogManagerReference reference;
        LogManager::SetMinimumLevel(kLogLevelOkay);
        LogManager::StandardErrorSink()->Detach();
        LogManager::StandardErrorSink()->Attach();
      }
    });
  }
  threads.Start([&writersLeft] {
    RecordingLogTarget target("Churn");
    while (writersLeft.load() > 0) {
      target.Configure({.level = kLogLevelOkay});
      std::this_thread::yield();
    }
    target.Detach();
    EXPECT_FALSE(target.IsAttached());
  });
  threads.Run();
  EXPECT_EQ(LogManager::ReferenceCount(), 0);
  { LogManagerReference release; }
  EXPECT_FALSE(LogManager::Exists());
}

// Fills the group table: the last test of this program that registers groups.
TEST(LogConcurrency, GroupTableHandsOutEachBitOnceUntilFull) {
  const uint64_t predefinedAndEarlier = [] {
    uint64_t used = 0;
    for (int bit = 0; bit < kLogGroupCount; ++bit) {
      if (std::string(LogManager::GroupName(bit)) != "???") used |= uint64_t{1} << bit;
    }
    return used;
  }();
  constexpr int kNames = 80;
  std::vector<std::atomic<uint64_t>> bits(kNames);
  ThreadGroup threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.Start([&bits, thread] {
      for (int i = 0; i < kNames; ++i) {
        const int name = (i * 7 + thread * 13) % kNames;  // every thread, another order
        char text[8];
        std::snprintf(text, sizeof text, "Z%02d", name);
        const uint64_t bit = LogManager::RegisterGroup(text);
        uint64_t expected = 0;
        if (!bits[name].compare_exchange_strong(expected, bit)) {
          EXPECT_EQ(expected, bit) << text << " got two answers";
        }
      }
    });
  }
  threads.Run();

  uint64_t handedOut = 0;
  int named = 0;
  for (int name = 0; name < kNames; ++name) {
    const uint64_t bit = bits[name].load();
    if (bit == 0) continue;
    ++named;
    EXPECT_EQ(handedOut & bit, 0u) << "bit given to two names";
    EXPECT_EQ(predefinedAndEarlier & bit, 0u);
    handedOut |= bit;
  }
  EXPECT_EQ(handedOut | predefinedAndEarlier, ~uint64_t{0});
  EXPECT_EQ(named, kLogGroupCount - std::popcount(predefinedAndEarlier));
  EXPECT_EQ(LogManager::RegisterGroup("NEW"), 0u);
}

}  // namespace
}  // namespace Tesk
