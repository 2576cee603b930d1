// Timers scheduled and run from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "plugin/plugin_loader.h"
#include "testing/test_host.h"

namespace Tesk {
namespace {

class IdlePlugin final : public PluginBase {};

void KTX_HOST_CALL LoadIdlePlugin(PluginLoadInfo* info) {
  LoadPlugin<IdlePlugin>(info, "idle-test");
}

TEST(PluginTimersConcurrency, ScheduleAndRunFromSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr int kTimersPerThread = 500;
  Testing::TestHost host{Testing::TestHost::NoLibrary{}};
  ASSERT_TRUE(host.LoadWith(&LoadIdlePlugin));
  ASSERT_TRUE(host.Initialize());
  auto& plugin = *static_cast<IdlePlugin*>(host.LoadRecord().plugin);

  std::atomic<int> ran{0};
  std::vector<std::vector<uint64_t>> numbers(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kTimersPerThread; ++i) {
        numbers[t].push_back(plugin.ScheduleTimer(
            "tick", [&ran] { ran.fetch_add(1); }, std::chrono::steady_clock::now()));
        // Run some while others are still being scheduled.
        if (i % 50 == 0) host.RunScheduledCallbacks(10);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::thread runnerA([&] { host.RunScheduledCallbacks(); });
  std::thread runnerB([&] { host.RunScheduledCallbacks(); });
  runnerA.join();
  runnerB.join();

  std::set<uint64_t> distinct;
  for (const auto& list : numbers) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), size_t{kThreads * kTimersPerThread});
  EXPECT_EQ(*distinct.begin(), 1u);
  EXPECT_EQ(ran.load(), kThreads * kTimersPerThread);
  EXPECT_EQ(plugin.PendingTimerCount(), 0u);
  host.Shutdown();
}

// The three service-proxy events delivered on several host threads at once:
// every answer is stored or handed to its pending handler exactly once.
TEST(PluginServiceProxyConcurrency, EventsFromSeveralHostThreads) {
  constexpr int kThreads = 4;
  constexpr int kAnswersPerThread = 200;
  Testing::TestHost host{Testing::TestHost::NoLibrary{}};
  ASSERT_TRUE(host.LoadWith(&LoadIdlePlugin));
  ASSERT_TRUE(host.Initialize());
  auto& plugin = *static_cast<IdlePlugin*>(host.LoadRecord().plugin);
  std::atomic<int> fulfilled{0};
  for (int i = 0; i < kAnswersPerThread; ++i) {
    plugin.ServiceProxy().AddPendingHandler(
        "svc.m" + std::to_string(i),
        [&fulfilled](const PluginServiceProxyResponse&) { fulfilled.fetch_add(1); });
  }
  plugin.ServiceProxy().AddAsyncHandler("svc.async", [](const PluginServiceProxyResponse&) {});

  const auto answer = [](const std::string& uuid, const std::string& method) {
    return Testing::TestValue::Structure({{"uuid", Testing::TestValue::String(uuid)},
                                          {"serviceName", Testing::TestValue::String("svc")},
                                          {"methodName", Testing::TestValue::String(method)}});
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kAnswersPerThread; ++i) {
        const std::string uuid = std::to_string(t) + "-" + std::to_string(i);
        switch (t % 3) {
          case 0:
            host.DeliverEvent("OnServiceProxyUuidEvent", answer(uuid, "x"));
            break;
          case 1:
            host.DeliverEvent("OnServiceProxyMethodEvent", answer(uuid, "m" + std::to_string(i)));
            break;
          default:
            host.DeliverEvent("OnServiceProxyAsyncEvent", answer(uuid, "async"));
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Thread 0 and 3 store one uuid answer each per round; thread 1's method
  // answers all met their pending handler.
  EXPECT_EQ(fulfilled.load(), kAnswersPerThread);
  EXPECT_EQ(plugin.ServiceProxy().StoredResponseCount(), 2u * kAnswersPerThread);
  host.Shutdown();
}

// Registers handlers of every kind in Start: plain events, resource
// observers and LCDS classes.
class BusyPlugin final : public PluginBase {
 public:
  static constexpr int kNames = 8;
  bool Start() override {
    for (int i = 0; i < kNames; ++i) {
      const std::string n = std::to_string(i);
      RegisterEventHandler(
          "OnBusy" + n, [this](const HostEvent&) { handled.fetch_add(1); }, 0);
      ObserveResource("/busy/" + n + "/*", [this](const std::string&, const PluginResourceEvent&) {
        handled.fetch_add(1);
      });
      SubscribeLcds("com.busy.T" + n, [this](const PluginLcdsEvent&) { handled.fetch_add(1); });
    }
    return true;
  }
  std::atomic<int> handled{0};
};

void KTX_HOST_CALL LoadBusyPlugin(PluginLoadInfo* info) { LoadPlugin<BusyPlugin>(info, "busy"); }

// Host threads deliver events (and run the LCDS callbacks they schedule) while
// Start registers the handlers and while Stop removes them.
TEST(PluginEventsConcurrency, DeliveriesDuringStartAndStop) {
  constexpr int kThreads = 3;
  Testing::TestHost host{Testing::TestHost::NoLibrary{}};
  ASSERT_TRUE(host.LoadWith(&LoadBusyPlugin));
  auto& plugin = *static_cast<BusyPlugin*>(host.LoadRecord().plugin);

  const auto proxyAnswer =
      Testing::TestValue::Structure({{"uuid", Testing::TestValue::String("u")},
                                     {"serviceName", Testing::TestValue::String("s")},
                                     {"methodName", Testing::TestValue::String("m")}});
  std::atomic<bool> done{false};
  std::atomic<int> rounds{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; !done.load(); ++i) {
        const std::string n = std::to_string(i % BusyPlugin::kNames);
        host.DeliverEvent("OnServiceProxyUuidEvent", proxyAnswer);
        host.DeliverEvent("OnBusy" + n, Testing::TestValue::Signed(i));
        host.DeliverEvent(
            "OnJsonApiEvent_busy_" + n + "_*",
            Testing::TestValue::Structure({{"uri", Testing::TestValue::String("/busy/" + n + "/x")},
                                           {"eventType", Testing::TestValue::String("Update")},
                                           {"data", Testing::TestValue::Signed(i)}}));
        host.DeliverEvent("OnLcdsEvent_com_busy_T" + n,
                          Testing::TestValue::Structure(
                              {{"typeName", Testing::TestValue::String("com.busy.T" + n)},
                               {"body", Testing::TestValue::Signed(i)}}));
        host.RunScheduledCallbacks(4);
        rounds.fetch_add(1);
      }
    });
  }
  const auto waitRounds = [&rounds](int more) {
    for (const int until = rounds.load() + more; rounds.load() < until;) std::this_thread::yield();
  };
  waitRounds(kThreads);
  ASSERT_TRUE(host.Initialize());
  while (plugin.handled.load() == 0) std::this_thread::yield();
  plugin.Stop();
  waitRounds(kThreads);
  done.store(true);
  for (std::thread& thread : threads) thread.join();

  EXPECT_FALSE(plugin.HasEventHandler("OnBusy0"));
  EXPECT_FALSE(plugin.HasLcdsSubscription("com.busy.T0"));
  EXPECT_EQ(plugin.SubscriptionCount("/busy/0/*"), 0);
  EXPECT_TRUE(host.Subscriptions().empty());
  host.Shutdown();
}

}  // namespace
}  // namespace Tesk
