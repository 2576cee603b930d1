// The plug-in's tests: the built library loaded by the SDK's test kit as the
// platform loads it, called by method and URL, fed the host's resources, and
// read back through what it sent and logged.
#include <gtest/gtest.h>

#include <string>

#include "testing/test_host.h"

namespace {

using Tesk::Testing::RouteResponse;
using Tesk::Testing::TestHost;

constexpr char kGreeting[] = "/hello/v1/greeting";
constexpr char kGreetingEvent[] = "OnJsonApiEvent_hello_v1_greeting";

class HelloPluginTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host_.Start()) << host_.StartError(); }

  // HELLO_PLUGIN_PATH: the library this build made (CMakeLists.txt).
  TestHost host_{HELLO_PLUGIN_PATH};
};

TEST_F(HelloPluginTest, GreetsWithTheObservedLocaleAndAnnouncesEachChange) {
  EXPECT_EQ(host_.Get(kGreeting).body, R"({"locale":"","text":"Hello"})");

  host_.SetResourceJson("/teskclient/region-locale", R"({"locale":"de_DE"})");
  const RouteResponse changed = host_.Post(kGreeting, R"({"text":"Hallo"})");
  EXPECT_EQ(changed.status, 200u);
  EXPECT_EQ(changed.body, R"({"locale":"de_DE","text":"Hallo"})");
  // The same text again changes nothing and announces nothing.
  EXPECT_EQ(host_.Post(kGreeting, R"({"text":"Hallo"})").status, 200u);

  const auto events = host_.SentEvents(kGreetingEvent);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].payload, R"({"data":{"locale":"de_DE","text":"Hallo"},)"
                               R"("eventType":"Update","uri":"/hello/v1/greeting"})");
  bool logged = false;
  for (const auto& line : host_.LogLines()) logged |= line.text == "The greeting is now \"Hallo\"";
  EXPECT_TRUE(logged);
}

TEST_F(HelloPluginTest, RefusesWhatItCannotTake) {
  struct Case {
    const char* method;
    const char* body;
    const char* contentType;
    unsigned status;
  };
  const Case cases[] = {
      {"POST", R"({"text":""})", "application/json", 400},  // the handler's own refusal
      {"POST", R"({"text":)", "application/json", 400},     // no JSON
      {"POST", "text=Hallo", "application/x-www-form-urlencoded", 400},
      {"PUT", R"({"text":"Hallo"})", "application/json", 405},  // no such method here
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.method) + " " + test.body);
    const RouteResponse refused = host_.Request({.method = test.method,
                                                 .url = kGreeting,
                                                 .body = test.body,
                                                 .contentType = test.contentType});
    EXPECT_EQ(refused.status, test.status);
    EXPECT_TRUE(refused.body.starts_with(R"({"message":)")) << refused.body;
  }
  EXPECT_EQ(host_.Get("/hello/v1/nothing").status, 404u);
  EXPECT_TRUE(host_.SentEvents(kGreetingEvent).empty());
  EXPECT_EQ(host_.Get(kGreeting).body, R"({"locale":"","text":"Hello"})");
}

}  // namespace
