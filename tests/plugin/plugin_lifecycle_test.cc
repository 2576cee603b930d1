// The plug-in object's life through the entry points, with plug-in classes
// made for the tests: log forwarding, Start's result, event handlers, timers
// and the end of every subscription at Shutdown.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "diagnostics/log_manager.h"
#include "plugin/plugin_loader.h"
#include "testing/test_host.h"

namespace Tesk {
namespace {

using Testing::CoreFunction;
using Testing::TestHost;
using Testing::TestValue;

// What the test plug-in does when started; set by each test before loading.
struct StartScript {
  bool result = true;
  std::vector<std::string> eventNames;
  bool logOnStart = false;
};
StartScript script;
std::vector<std::string> handledEvents;

class ScriptedPlugin final : public PluginBase {
 public:
  bool Start() override {
    for (const std::string& name : script.eventNames) {
      RegisterEventHandler(
          name,
          [name](const HostEvent& event) {
            if (Testing::HostValueText(event.payload) == "\"throw\"") {
              throw std::runtime_error("handler failed");
            }
            handledEvents.push_back(name + "=" + Testing::HostValueText(event.payload));
          },
          0);
    }
    if (script.logOnStart) LogMessage(kLogLevelWarn, kLogGroupDbg, "Started %d", 42);
    return script.result;
  }
};

void KTX_HOST_CALL LoadScriptedPlugin(PluginLoadInfo* info) {
  LoadPlugin<ScriptedPlugin>(info, "scripted-test");
}

ScriptedPlugin& PluginOf(TestHost& host) {
  return *static_cast<ScriptedPlugin*>(host.LoadRecord().plugin);
}

class PluginLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    script = {};
    handledEvents.clear();
  }
};

TEST_F(PluginLifecycle, InitializeReturnsTheResultOfStart) {
  for (bool started : {true, false}) {
    script.result = started;
    TestHost host{TestHost::NoLibrary{}};
    ASSERT_TRUE(host.LoadWith(&LoadScriptedPlugin));
    EXPECT_EQ(host.Initialize(), started);
    host.Shutdown();
  }
}

TEST_F(PluginLifecycle, LogReachesTheHostAfterInitialize) {
  script.logOnStart = true;
  TestHost host{TestHost::NoLibrary{}};
  ASSERT_TRUE(host.LoadWith(&LoadScriptedPlugin));
  ASSERT_TRUE(host.Initialize());
  // Level 0 is forwarded too: Initialize lowers the minimum level for the host.
  LogMessage(kLogLevelOkay, kLogGroupGen, "okay %s", "line");
  const std::vector<Testing::HostLogLine> lines = host.LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, 1);
  EXPECT_EQ(lines[0].text, "Started 42");
  EXPECT_EQ(lines[1].level, 0);
  EXPECT_EQ(lines[1].text, "okay line");
  host.Shutdown();
}

// The second plug-in stands by: the log passes to it when the first shuts
// down, and back to the consoles when it does too.
TEST_F(PluginLifecycle, SecondPluginTakesTheLogOverWhenTheFirstShutsDown) {
  // Keeps the manager, and what the consoles had, across both plug-ins.
  LogManagerReference reference;
  const int32_t levelBefore = LogManager::MinimumLevel();
  ASSERT_TRUE(LogManager::StandardErrorSink()->IsAttached());
  TestHost first{TestHost::NoLibrary{}};
  TestHost second{TestHost::NoLibrary{}};
  ASSERT_TRUE(first.LoadWith(&LoadScriptedPlugin));
  ASSERT_TRUE(second.LoadWith(&LoadScriptedPlugin));
  ASSERT_TRUE(first.Initialize(1));
  ASSERT_TRUE(second.Initialize(2));
  LogMessage(kLogLevelError, kLogGroupDbg, "once");
  EXPECT_EQ(first.LogLines().size(), 1u);
  EXPECT_TRUE(second.LogLines().empty());
  first.Shutdown();
  LogMessage(kLogLevelOkay, kLogGroupGen, "after the first");
  ASSERT_EQ(second.LogLines().size(), 1u);
  EXPECT_EQ(second.LogLines()[0].text, "after the first");
  EXPECT_EQ(first.LogLines().size(), 1u);
  EXPECT_FALSE(LogManager::StandardErrorSink()->IsAttached());
  second.Shutdown();
  EXPECT_TRUE(LogManager::StandardErrorSink()->IsAttached());
  EXPECT_EQ(LogManager::MinimumLevel(), levelBefore);
}

TEST_F(PluginLifecycle, ShutdownEndsEverySubscriptionOncePerName) {
  script.eventNames = {"OnA", "OnB", "OnA"};
  TestHost host{TestHost::NoLibrary{}};
  ASSERT_TRUE(host.LoadWith(&LoadScriptedPlugin));
  ASSERT_TRUE(host.Initialize());
  // The three service-proxy events, then the plug-in's own.
  EXPECT_EQ(host.CountCalls(CoreFunction::Subscribe), 6u);
  host.ClearRecordings();
  host.Shutdown();
  std::vector<std::string> unsubscribed;
  for (const Testing::CoreCall& call : host.Calls()) {
    if (call.function == CoreFunction::Unsubscribe) unsubscribed.push_back(call.subject);
  }
  EXPECT_EQ(unsubscribed,
            (std::vector<std::string>{"OnA", "OnB", "OnServiceProxyAsyncEvent",
                                      "OnServiceProxyMethodEvent", "OnServiceProxyUuidEvent"}));
}

TEST_F(PluginLifecycle, EventsReachTheirHandlerAndAThrowingHandlerIsContained) {
  script.eventNames = {"OnA", "OnB"};
  TestHost host{TestHost::NoLibrary{}};
  ASSERT_TRUE(host.LoadWith(&LoadScriptedPlugin));
  ASSERT_TRUE(host.Initialize());
  EXPECT_EQ(host.DeliverEvent("OnB", TestValue::Signed(7)), 1u);
  EXPECT_EQ(host.DeliverEvent("OnA", TestValue::String("throw")), 1u);
  EXPECT_EQ(host.DeliverEvent("OnA", TestValue::String("x")), 1u);
  EXPECT_EQ(handledEvents, (std::vector<std::string>{"OnB=7", "OnA=\"x\""}));
  const std::vector<Testing::HostLogLine> lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 2);
  EXPECT_NE(lines[0].text.find("handler failed"), std::string::npos);
  host.Shutdown();
}

TEST_F(PluginLifecycle, TimersRunOnceThroughTheHostScheduler) {
  TestHost host{TestHost::NoLibrary{}};
  ASSERT_TRUE(host.LoadWith(&LoadScriptedPlugin));
  ASSERT_TRUE(host.Initialize());
  ScriptedPlugin& plugin = PluginOf(host);
  std::vector<std::string> ran;
  const auto now = std::chrono::steady_clock::now();
  EXPECT_EQ(plugin.ScheduleTimer(
                "later", [&] { ran.push_back("later"); }, now + std::chrono::seconds(5)),
            1u);
  EXPECT_EQ(plugin.ScheduleTimer(
                "past", [&] { ran.push_back("past"); }, now - std::chrono::seconds(5)),
            2u);
  plugin.ScheduleTimer(
      "throws", [] { throw std::runtime_error("timer failed"); }, now);
  EXPECT_EQ(plugin.PendingTimerCount(), 3u);
  const std::vector<Testing::ScheduledCall> scheduled = host.PendingScheduled();
  ASSERT_EQ(scheduled.size(), 3u);
  EXPECT_EQ(scheduled[0].label, "later");
  EXPECT_LE(scheduled[0].delaySeconds, 5.0);
  EXPECT_EQ(scheduled[1].delaySeconds, 0.0);
  EXPECT_EQ(scheduled[1].flag, 0u);
  EXPECT_EQ(host.RunScheduledCallbacks(), 3u);
  EXPECT_EQ(ran, (std::vector<std::string>{"later", "past"}));
  EXPECT_EQ(plugin.PendingTimerCount(), 0u);
  EXPECT_EQ(host.LogLines().size(), 1u);
  host.Shutdown();
}

}  // namespace
}  // namespace Tesk
