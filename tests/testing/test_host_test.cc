// The test kit's host as a plug-in's tests use it: requests routed and
// answered as ktx-host answers them, the resources it holds, and scheduled
// callbacks on its own clock.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/plugin_loader.h"
#include "rest/route_declaration.h"
#include "testing/test_host.h"

namespace Tesk {
namespace {

using Testing::RouteResponse;
using Testing::TestHost;
using Testing::TestValue;

struct KitItem {
  std::string name;
  int32_t count = 0;
};

// Routes that answer with what a host must pass on (statuses, headers,
// errors), a resource it observes, and timers it schedules at its start.
class KitPlugin final : public PluginBase {
 public:
  void RegisterApi() override {
    auto item = Registry().BeginType<KitItem>("KitItem");
    item.Field("name", &KitItem::name);
    item.Field("count", &KitItem::count);
    DeclareRoute(Registry(), HttpMethod::Get, "/kit/v1/items/{id}", [](const std::string& id) {
      if (id == "gone") return HandlerResponse<KitItem>::Error(410, "Gone: " + id);
      HandlerResponse<KitItem> found = HandlerResponse<KitItem>::Ok({id, 1});
      found.headers["x-kit"] = "found";
      return found;
    }).PathArgument<std::string>("id");
    DeclareRoute(Registry(), HttpMethod::Post, "/kit/v1/items", [](const KitItem& sent) {
      return KitItem{sent.name, sent.count + 1};
    }).BodyArgument<KitItem>("item");
    DeclareRoute(Registry(), HttpMethod::Get, "/kit/v1/seen", [this] { return seen; });
  }
  bool Start() override {
    ObserveResource("/kit/v1/setting", [this](const std::string&, const PluginResourceEvent& e) {
      seen.push_back(std::to_string(static_cast<int>(e.eventType)) + ":" +
                     std::string(e.data.Member("value").GetString()));
    });
    const auto now = std::chrono::steady_clock::now();
    ScheduleTimer(
        "late", [this] { seen.push_back("late"); }, now + std::chrono::seconds(5));
    ScheduleTimer(
        "early",
        [this] {
          seen.push_back("early");
          ScheduleTimer(
              "chained", [this] { seen.push_back("chained"); },
              std::chrono::steady_clock::now() + std::chrono::seconds(1));
        },
        now + std::chrono::seconds(1));
    return true;
  }
  std::vector<std::string> seen;
};

void KTX_HOST_CALL LoadKitPlugin(PluginLoadInfo* info) { LoadPlugin<KitPlugin>(info, "kit"); }

class KitHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.LoadWith(&LoadKitPlugin));
    ASSERT_TRUE(host_.Initialize());
  }
  std::vector<std::string> Seen() {
    return static_cast<KitPlugin*>(host_.LoadRecord().plugin)->seen;
  }

  TestHost host_{TestHost::NoLibrary{}};
};

TEST_F(KitHost, RoutesRequestsAndAnswersAsTheDevelopmentHost) {
  struct Case {
    Testing::RouteRequest request;
    uint32_t status;
    std::string body;
    std::string header;  // "name: value" the answer carries, or ""
  };
  const Case cases[] = {
      {{.url = "/kit/v1/items/a%20b?_=1"}, 200, R"({"count":1,"name":"a b"})", "x-kit: found"},
      {{.url = "/kit/v1/items/gone"}, 410, R"({"message":"Gone: gone"})", ""},
      {{.method = "POST", .url = "/kit/v1/items", .body = R"({"name":"n","count":2})"},
       200,
       R"({"count":3,"name":"n"})",
       "Content-Type: application/json"},
      {{.method = "POST",
        .url = "/kit/v1/items",
        .body = "name: why\ncount: 4\n",
        .contentType = "application/x-yaml"},
       200,
       R"({"count":5,"name":"why"})",
       ""},
      {{.method = "DELETE", .url = "/kit/v1/items/a"}, 405, "", "Allow: GET"},
      {{.url = "/kit/v2/items"}, 404, R"({"message":"No route for GET /kit/v2/items"})", ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.request.method + " " + test.request.url);
    const RouteResponse answer = host_.Request(test.request);
    EXPECT_EQ(answer.status, test.status);
    if (!test.body.empty()) {
      EXPECT_EQ(answer.body, test.body);
    }
    if (!test.header.empty()) {
      const size_t colon = test.header.find(": ");
      EXPECT_EQ(answer.Header(test.header.substr(0, colon)), test.header.substr(colon + 2));
    }
  }
  // A body that is no JSON is the plug-in's refusal, with the reader's reason.
  const RouteResponse refused = host_.Post("/kit/v1/items", "{");
  EXPECT_EQ(refused.status, 400u);
  EXPECT_TRUE(refused.reply.failed);
}

TEST_F(KitHost, HeldResourcesAreReadAndEachChangeReachesTheObserver) {
  host_.SetResourceJson("/kit/v1/setting", R"({"value":"a"})");
  host_.SetResource("/kit/v1/setting", TestValue::Structure({{"value", TestValue::String("b")}}));
  EXPECT_TRUE(host_.DeleteResource("/kit/v1/setting"));
  EXPECT_FALSE(host_.DeleteResource("/kit/v1/setting"));
  EXPECT_EQ(Seen(), (std::vector<std::string>{"0:a", "1:b", "2:"}));

  // A plug-in started after the resource was set reads it at once.
  host_.SetResourceJson("/kit/v1/setting", R"({"value":"c"})");
  TestHost later{TestHost::NoLibrary{}};
  later.SetResourceJson("/kit/v1/setting", R"({"value":"held"})");
  ASSERT_TRUE(later.LoadWith(&LoadKitPlugin));
  ASSERT_TRUE(later.Initialize());
  EXPECT_EQ(later.Get("/kit/v1/seen").body, R"(["0:held"])");
  EXPECT_THROW(TestValue::FromJson("{"), std::invalid_argument);
}

TEST_F(KitHost, ScheduledCallbacksRunWhenTheClockPassesTheirTime) {
  EXPECT_EQ(host_.RunDueCallbacks(), 0u);
  EXPECT_EQ(host_.AdvanceClock(0.5), 0u);
  // "early" is due at 1 s and schedules "chained" for 1 s after it ran.
  EXPECT_EQ(host_.AdvanceClock(1), 1u);
  EXPECT_EQ(Seen(), (std::vector<std::string>{"early"}));
  EXPECT_EQ(host_.AdvanceClock(4), 2u);
  EXPECT_EQ(Seen(), (std::vector<std::string>{"early", "chained", "late"}));
  EXPECT_EQ(host_.PendingScheduledCount(), 0u);
  EXPECT_DOUBLE_EQ(host_.ClockSeconds(), 5.5);
}

}  // namespace
}  // namespace Tesk
