// Resource subscriptions and observers, resource events sent, LCDS messages,
// service-proxy answers, the user agent and telemetry, through the test host
// as a real host drives them.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "diagnostics/log_types.h"
#include "plugin/event_names.h"
#include "plugin/plugin_loader.h"
#include "testing/test_host.h"

namespace Tesk {
namespace {

using Testing::ApiAnswer;
using Testing::CoreFunction;
using Testing::TestHost;
using Testing::TestValue;

struct EventTestConfig {
  bool hubEnabled = false;
  std::string name;
};

struct EventTestNotification {
  std::string itemId;
  int32_t quantity = 0;
};

class EventsPlugin final : public PluginBase {
 public:
  void RegisterApi() override {
    auto config = Registry().BeginType<EventTestConfig>("EventTestConfig");
    config.Field("hubEnabled", &EventTestConfig::hubEnabled);
    config.Field("name", &EventTestConfig::name);
    auto notification = Registry().BeginType<EventTestNotification>("EventTestNotification");
    notification.Field("itemId", &EventTestNotification::itemId);
    notification.Field("quantity", &EventTestNotification::quantity);
  }
  bool Start() override {
    if (onStart) onStart(*this);
    return true;
  }
  static inline std::function<void(EventsPlugin&)> onStart;
};

void KTX_HOST_CALL LoadEventsPlugin(PluginLoadInfo* info) {
  LoadPlugin<EventsPlugin>(info, "tav-personalized-offers");
}

TestValue ResourceEvent(const std::string& uri, const char* type, TestValue data) {
  return TestValue::Structure(
      {{"uri", TestValue::String(uri)}, {"eventType", TestValue::String(type)}, {"data", data}});
}

TestValue LcdsMessage(const std::string& typeName, TestValue body) {
  return TestValue::Structure({{"clientId", TestValue::String("c")},
                               {"subtopic", TestValue::String("s")},
                               {"typeName", TestValue::String(typeName)},
                               {"body", std::move(body)}});
}

class PluginEvents : public ::testing::Test {
 protected:
  void TearDown() override {
    if (host_.IsRunning()) host_.Shutdown();
    EventsPlugin::onStart = nullptr;
  }
  EventsPlugin& Start(std::function<void(EventsPlugin&)> onStart, uint32_t minor = 0,
                      uint32_t patch = 0) {
    EventsPlugin::onStart = std::move(onStart);
    EXPECT_TRUE(host_.LoadWith(&LoadEventsPlugin, 18, minor, patch));
    EXPECT_TRUE(host_.Initialize());
    return *static_cast<EventsPlugin*>(host_.LoadRecord().plugin);
  }
  size_t CountSubscribes(const std::string& name) const {
    size_t count = 0;
    for (const auto& call : host_.Calls()) {
      count += call.function == CoreFunction::Subscribe && call.subject == name ? 1 : 0;
    }
    return count;
  }

  TestHost host_{TestHost::NoLibrary{}};
  std::vector<std::string> seen_;
};

TEST(EventNames, ResourcesAndLcdsClasses) {
  const std::pair<const char*, const char*> resources[] = {
      {"/tav-login/v1/session", "OnJsonApiEvent_tav-login_v1_session"},
      {"/a/b/c/d/e", "OnJsonApiEvent_a_b_c"},
      {"a//b", "OnJsonApiEvent_a_b"},
      {"/", "OnJsonApiEvent"},
      {"", "OnJsonApiEvent"},
      {"/tav-platform-config/v1/namespaces/PersonalizedOffers",
       "OnJsonApiEvent_tav-platform-config_v1_namespaces_PersonalizedOffers"},
      {"/tav-platform-config/v1/namespaces/PersonalizedOffers/HubEnabled/x",
       "OnJsonApiEvent_tav-platform-config_v1_namespaces_PersonalizedOffers_HubEnabled"},
  };
  for (const auto& [uri, name] : resources) EXPECT_EQ(EventNameForResource(uri), name) << uri;
  EXPECT_EQ(EventNameForLcdsType("com.teskgames.platform.messaging.StoreFulfillmentNotification"),
            "OnLcdsEvent_com_teskgames_platform_messaging_StoreFulfillmentNotification");
}

TEST(EventNames, PatternsMatchWithinOneSegment) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"/a/*/c", "/a/x/c", true}, {"/a/*/c", "/a//c", true}, {"/a/*/c", "/a/x/y/c", false},
      {"/a/*", "/a/xyz", true},   {"/a/*", "/a/", false},    {"/a/*", "/a/x/y", false},
      {"/a/*/*", "/a/x/y", true}, {"/a/b", "/a/b", true},    {"/a/b", "/a/bc", false},
      {"/a/*x", "/a/yx", false},  // "*" takes the whole segment, without backtracking
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ResourcePatternMatches(test.pattern, test.path), test.matches)
        << test.pattern << " " << test.path;
  }
}

TEST_F(PluginEvents, CountedSubscriptionsShareOneHostSubscription) {
  EventsPlugin& plugin = Start([](EventsPlugin& p) {
    p.Subscribe("/a/b/c/d");
    p.Subscribe("/a/b/c/e");
  });
  const std::string name = "OnJsonApiEvent_a_b_c";
  EXPECT_EQ(CountSubscribes(name), 1u);
  EXPECT_EQ(plugin.SubscriptionCount("/a/b/c"), 2);
  plugin.Unsubscribe("/a/b/c/d");
  EXPECT_TRUE(host_.IsSubscribed(name));
  plugin.Unsubscribe("/a/b/c/e");
  EXPECT_FALSE(host_.IsSubscribed(name));
  EXPECT_EQ(host_.CountCalls(CoreFunction::Unsubscribe), 1u);

  // An Unsubscribe with nothing left to undo neither counts nor disables the
  // next Subscribe.
  plugin.Unsubscribe("/a/b/c/d");
  plugin.Unsubscribe("/x/y");
  EXPECT_EQ(plugin.SubscriptionCount("/a/b/c"), 0);
  EXPECT_EQ(host_.CountCalls(CoreFunction::Unsubscribe), 1u);
  plugin.Subscribe("/a/b/c/d");
  plugin.Subscribe("/x/y");
  EXPECT_TRUE(host_.IsSubscribed(name));
  EXPECT_TRUE(host_.IsSubscribed("OnJsonApiEvent_x_y"));
  EXPECT_EQ(plugin.SubscriptionCount("/x/y"), 1);
}

TEST_F(PluginEvents, ExactObserverGetsTheCurrentStateThenItsEvents) {
  host_.SetApiHandler([](const Testing::ApiCall& call) {
    if (call.url == "/tav-login/v1/session") {
      return ApiAnswer::Value(TestValue::Structure({{"name", TestValue::String("first")}}));
    }
    return ApiAnswer::Failure("No such resource");
  });
  Start([this](EventsPlugin& p) {
    p.ObserveResource<EventTestConfig>(
        "/tav-login/v1/session",
        [this](const std::string& path, PluginResourceEventType type, const EventTestConfig* v) {
          seen_.push_back(path + " " + std::to_string(static_cast<int>(type)) + " " +
                          (v != nullptr ? v->name : "(none)"));
        });
    // A resource that cannot be read yet: no immediate call.
    p.ObserveResource("/tav-platform-config/v1/namespaces/PersonalizedOffers",
                      [this](const std::string& path, const PluginResourceEvent&) {
                        seen_.push_back("config " + path);
                      });
    seen_.push_back("started");
  });
  const std::string session = "OnJsonApiEvent_tav-login_v1_session";
  host_.DeliverEvent(session,
                     ResourceEvent("tav-login/v1/session", "Update",
                                   TestValue::Structure({{"name", TestValue::String("b")}})));
  host_.DeliverEvent(session, ResourceEvent("/tav-login/v1/session", "Delete", TestValue()));
  // Payloads that do not convert are dropped without a word.
  host_.DeliverEvent(session, TestValue::String("not an event"));
  host_.DeliverEvent(session,
                     ResourceEvent("/tav-login/v1/session", "Update",
                                   TestValue::Structure({{"name", TestValue::Signed(5)}})));
  EXPECT_EQ(seen_, (std::vector<std::string>{"/tav-login/v1/session 0 first", "started",
                                             "/tav-login/v1/session 1 b",
                                             "/tav-login/v1/session 2 (none)"}));
  EXPECT_TRUE(host_.LogLines().empty());
}

TEST_F(PluginEvents, PatternObserversSeeEveryMatchingPath) {
  Start([this](EventsPlugin& p) {
    p.ObserveResource("/a/*/c", [this](const std::string& path, const PluginResourceEvent&) {
      seen_.push_back("pattern " + path);
    });
    p.ObserveResource("/a/x/c", [this](const std::string& path, const PluginResourceEvent&) {
      seen_.push_back("exact " + path);
    });
  });
  EXPECT_EQ(host_.ApiCalls().size(), 1u);  // only the exact uri is read
  for (const char* uri : {"/a/x/c", "/a//c", "/a/x/y/c"}) {
    host_.DeliverEvent("OnJsonApiEvent_a_x_c", ResourceEvent(uri, "Update", TestValue()));
  }
  EXPECT_EQ(seen_, (std::vector<std::string>{"exact /a/x/c", "pattern /a/x/c", "pattern /a//c"}));
}

TEST_F(PluginEvents, ResourceEventsGoOutUnderTheirOwnNameAndTheGeneralOne) {
  EventsPlugin& plugin = Start(nullptr);
  plugin.SendResourceEvent("/tav-personalized-offers/v1/status", true);
  plugin.SendResourceEvent("/tav-personalized-offers/v1/config", EventTestConfig{true, "themed"});
  const std::vector<Testing::SentEvent> sent = host_.SentEvents();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].name, "OnJsonApiEvent_tav-personalized-offers_v1_status");
  EXPECT_EQ(sent[1].name, "OnJsonApiEvent");
  EXPECT_EQ(sent[0].payload,
            R"({"data":true,"eventType":"Update","uri":"/tav-personalized-offers/v1/status"})");
  EXPECT_EQ(sent[1].payload, sent[0].payload);
  EXPECT_EQ(sent[2].payload, R"({"data":{"hubEnabled":true,"name":"themed"},"eventType":"Update",)"
                             R"("uri":"/tav-personalized-offers/v1/config"})");
  EXPECT_EQ(sent[0].flags, 0u);
}

TEST_F(PluginEvents, LcdsMessagesArriveOnScheduledCallbacksWhileSubscribed) {
  const std::string type = "com.teskgames.platform.messaging.StoreFulfillmentNotification";
  EventsPlugin& plugin = Start([&](EventsPlugin& p) {
    p.SubscribeLcds<EventTestNotification>(type, [this](const EventTestNotification& n) {
      seen_.push_back(n.itemId + "x" + std::to_string(n.quantity));
    });
  });
  const std::string name = EventNameForLcdsType(type);
  const auto& message = LcdsMessage;
  const auto body = [](const char* id, int64_t quantity) {
    return TestValue::Structure(
        {{"itemId", TestValue::String(id)}, {"quantity", TestValue::Signed(quantity)}});
  };
  host_.DeliverEvent(name, message(type, body("a", 1)));
  host_.DeliverEvent(name, message(type, body("b", 2)));
  host_.DeliverEvent(name, message("com.other.Type", body("c", 3)));  // not subscribed
  host_.DeliverEvent(name, message(type, TestValue::String("no body")));
  EXPECT_TRUE(seen_.empty());  // nothing runs on the host's event thread
  const std::vector<Testing::ScheduledCall> pending = host_.PendingScheduled();
  ASSERT_EQ(pending.size(), 3u);
  EXPECT_EQ(pending[0].label, "Event: OnLcdsEvent (" + type + ")");
  EXPECT_EQ(pending[0].delaySeconds, 0.0);
  EXPECT_EQ(host_.RunScheduledCallbacks(), 3u);
  EXPECT_EQ(seen_, (std::vector<std::string>{"ax1", "bx2"}));

  host_.DeliverEvent(name, message(type, body("d", 4)));
  plugin.Stop();  // the subscription ends before the callback runs
  host_.RunScheduledCallbacks();
  EXPECT_EQ(seen_.size(), 2u);
  EXPECT_TRUE(host_.LogLines().empty());
}

// The host may still run a callback scheduled just before Shutdown; it must
// find nothing of the destroyed object (AddressSanitizer reports a read of it).
TEST_F(PluginEvents, CallbackRunAfterShutdownDoesNothing) {
  const std::string type = "com.x.Y";
  Start([&](EventsPlugin& p) {
    p.SubscribeLcds(type, [this](const PluginLcdsEvent&) { seen_.push_back("ran"); });
    p.ScheduleTimer(
        "late", [this] { seen_.push_back("timer"); }, std::chrono::steady_clock::now());
  });
  host_.DeliverEvent(EventNameForLcdsType(type), LcdsMessage(type, TestValue()));
  const std::vector<Testing::ScheduledCall> late = host_.PendingScheduled();
  ASSERT_EQ(late.size(), 2u);
  host_.Shutdown();

  // A second object scheduling meanwhile keeps its own timers.
  TestHost other{TestHost::NoLibrary{}};
  EventsPlugin& next = [&]() -> EventsPlugin& {
    EventsPlugin::onStart = nullptr;
    EXPECT_TRUE(other.LoadWith(&LoadEventsPlugin));
    EXPECT_TRUE(other.Initialize());
    return *static_cast<EventsPlugin*>(other.LoadRecord().plugin);
  }();
  next.ScheduleTimer(
      "next", [this] { seen_.push_back("next"); }, std::chrono::steady_clock::now());
  for (const Testing::ScheduledCall& call : late) call.callback(call.context);
  EXPECT_TRUE(seen_.empty());
  EXPECT_EQ(next.PendingTimerCount(), 1u);
  EXPECT_EQ(other.RunScheduledCallbacks(), 1u);
  EXPECT_EQ(seen_, std::vector<std::string>{"next"});
  other.Shutdown();
}

TEST_F(PluginEvents, UserAgentAndTelemetry) {
  EventsPlugin& plugin = Start(nullptr, 2, 1);
  EXPECT_EQ(plugin.UserAgent(), "TeskClient/18.2.1 (tav-personalized-offers)");
  ASSERT_NE(plugin.Telemetry(), nullptr);
  auto sent = plugin.Telemetry()->SendEvent("offer_viewed", {{"offerId", "o1"}});
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  ASSERT_TRUE(sent.get().has_value());  // the test host has no such resource
  auto empty = plugin.Telemetry()->SendEvent("", {});
  (void)empty.get();
  const std::vector<Testing::ApiCall> calls = host_.ApiCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].method, 6u);
  EXPECT_EQ(calls[0].url, "/telemetry/v1/events/offer_viewed");
  EXPECT_EQ(calls[0].arguments, (Testing::TextPairs{{"#0", R"({"offerId":"o1"})"}}));
  EXPECT_EQ(calls[1].url, "/telemetry/v1/events/");
}

TEST_F(PluginEvents, ServiceProxyAnswersAreStoredAndMatched) {
  EventsPlugin& plugin = Start(nullptr);
  const auto answer = [](const char* uuid, const char* service, const char* method) {
    return TestValue::Structure({{"uuid", TestValue::String(uuid)},
                                 {"serviceName", TestValue::String(service)},
                                 {"methodName", TestValue::String(method)},
                                 {"payload", TestValue::String("{}")}});
  };
  host_.DeliverEvent("OnServiceProxyUuidEvent", answer("u1", "s", "m"));
  host_.DeliverEvent("OnServiceProxyUuidEvent", answer("u1", "s2", "m2"));
  host_.DeliverEvent("OnServiceProxyMethodEvent", answer("u2", "store", "buy"));
  EXPECT_EQ(plugin.ServiceProxy().StoredResponseCount(), 2u);
  PluginServiceProxyResponse stored;
  ASSERT_TRUE(plugin.ServiceProxy().FindStoredResponse("u1", stored));
  EXPECT_EQ(stored.serviceName, "s2");  // the second answer under one uuid replaces the first

  std::vector<std::string> fulfilled;
  plugin.ServiceProxy().AddPendingHandler(
      "store.buy", [&](const PluginServiceProxyResponse& r) { fulfilled.push_back(r.uuid); });
  host_.DeliverEvent("OnServiceProxyUuidEvent", answer("u3", "x", "y"));
  EXPECT_EQ(fulfilled, std::vector<std::string>{"u2"});
  EXPECT_EQ(plugin.ServiceProxy().StoredResponseCount(), 2u);  // u1 and u3 wait

  host_.DeliverEvent("OnServiceProxyAsyncEvent", answer("u4", "chat", "ping"));
  const std::vector<Testing::HostLogLine> lines = host_.LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, kLogLevelAlways);
  EXPECT_EQ(lines[1].level, kLogLevelError);
  EXPECT_NE(
      lines[0].text.find("tav-personalized-offers: Fulfilled service proxy request: store.buy"),
      std::string::npos);
  EXPECT_NE(
      lines[1].text.find("tav-personalized-offers: Could not find registered handler for async "
                         "service proxy event chat.ping"),
      std::string::npos);
  host_.Shutdown();
}

TEST_F(PluginEvents, ShutdownEndsEverySubscription) {
  Start([](EventsPlugin& p) {
    p.ObserveResource("/a/*/c", [](const std::string&, const PluginResourceEvent&) {});
    p.Subscribe("/tav-login/v1/session");
    p.SubscribeLcds("com.x.Y", [](const PluginLcdsEvent&) {});
  });
  EXPECT_FALSE(host_.Subscriptions().empty());
  host_.Shutdown();
  EXPECT_TRUE(host_.Subscriptions().empty());
}

TEST_F(PluginEvents, HelpListsTheBuiltinEventsAndTypes) {
  Start(nullptr);
  const FunctionTable* table = host_.LoadRecord().functionTable;
  std::vector<std::string> events;
  const auto* event = static_cast<const ApiEventRecord*>(table->events);
  for (; event != nullptr; event = event->next) {
    const uint32_t tagCount = event->tagCount;
    if (tagCount == 1 && std::string(event->tags[0]) == "qclient") {
      events.push_back(std::string(event->name) + ":" + event->payloadType);
    }
  }
  EXPECT_EQ(events, (std::vector<std::string>{
                        "OnJsonApiEvent:PluginResourceEvent", "OnLcdsEvent:PluginLcdsEvent",
                        "OnServiceProxyAsyncEvent:PluginServiceProxyResponse",
                        "OnServiceProxyMethodEvent:PluginServiceProxyResponse",
                        "OnServiceProxyUuidEvent:PluginServiceProxyResponse"}));
  std::vector<std::string> fields;
  for (const auto* type = static_cast<const ApiTypeRecord*>(table->types); type != nullptr;
       type = type->next) {
    if (std::string(type->name) != "PluginServiceProxyResponse") continue;
    for (const ApiFieldRecord* field = type->fields; field != nullptr; field = field->next) {
      fields.push_back(field->name);
    }
  }
  EXPECT_EQ(fields, (std::vector<std::string>{"uuid", "serviceName", "methodName", "payload",
                                              "status", "error"}));
  const BindingTypeInfo* state = static_cast<EventsPlugin*>(host_.LoadRecord().plugin)
                                     ->Registry()
                                     .FindTypeByName("PluginManagerState");
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->id, 0xF4E3B901u);
  EXPECT_EQ(state->FindEnumeratorByValue(1)->name, "PluginsInitialized");
}

}  // namespace
}  // namespace Tesk
