// ktx-host as a process, reached over real HTTP on its loopback port: with the
// project's plug-in for what the host itself does, and with a test plug-in
// for the published functions and every service of the host contract.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "encoding/base64.h"
#include "encoding/json_support.h"
#include "host/support/host_process.h"
#include "host/support/openapi_check.h"

namespace Tesk::Testing {
namespace {

using namespace std::chrono_literals;
using DevHost::HttpField;
using DevHost::IncomingResponse;

constexpr char kTestPlugin[] = "ktx-be-host-test-routes.so";
constexpr auto kEventWait = 30s;

class HostWithProjectPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.Start({"--log-level", "3", "--body-limit", "4096"})) << host_.Output();
  }
  // A clean exit: everything stopped, nothing leaked (under the sanitizers).
  void TearDown() override { EXPECT_EQ(host_.Stop(), 0) << host_.Output(); }
  HostProcess host_;
};

TEST_F(HostWithProjectPlugin, RefusesBadRequestsClearlyAndKeepsServing) {
  struct Case {
    const char* what;
    const char* method;
    std::string target;
    std::vector<HttpField> headers;
    std::string body;
    unsigned status;
    const char* message;  // part of the answer's "message"
  };
  const std::string token = host_.Token();
  const Case cases[] = {
      {"no token", "GET", "/host/v1/status", {{"Authorization", ""}}, "", 401, "token"},
      {"wrong token",
       "GET",
       "/host/v1/status",
       {{"Authorization", "Bearer nope"}},
       "",
       401,
       "token"},
      {"wrong Basic user",
       "GET",
       "/host/v1/status",
       {{"Authorization", "Basic " + std::string("dXNlcjp4")}},
       "",
       401,
       "token"},
      {"foreign Host", "GET", "/host/v1/status", {{"Host", "rebound.example:80"}}, "", 403, "Host"},
      {"unknown route", "GET", "/no/such/route", {}, "", 404, "No route for GET /no/such/route"},
      {"malformed JSON", "PUT", "/host/v1/resources/a/b", {}, "{\"a\":", 400, "Invalid JSON"},
      {"body over the limit",
       "PUT",
       "/host/v1/resources/a/b",
       {},
       "\"" + std::string(5000, 'x') + "\"",
       413,
       "larger than 4096"},
      {"method not allowed", "POST", "/host/v1/status", {}, "{}", 405, "GET"},
      {"missing resource", "GET", "/host/v1/resources/not/held", {}, "", 404, "/not/held"},
      {"token in the query",
       "GET",
       "/host/v1/resources?token=" + token,
       {{"Authorization", ""}},
       "",
       200,
       nullptr},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const IncomingResponse response = host_.Send(test.method, test.target, test.headers, test.body);
    ASSERT_EQ(response.result, DevHost::HttpResultCode::Success) << response.body;
    EXPECT_EQ(response.status, test.status) << response.body;
    if (test.message != nullptr) {
      EXPECT_NE(DevHost::StringMember(JsonBody(response), "message").find(test.message),
                std::string::npos)
          << response.body;
    }
  }
  const IncomingResponse basic =
      host_.Send("GET", "/host/v1/status",
                 {{"Authorization", "Basic " + DevHost::Base64Encode("ktx:" + token)}});
  EXPECT_EQ(basic.status, 200u);
  EXPECT_TRUE(JsonBody(basic)["running"].GetBool());
}

TEST_F(HostWithProjectPlugin, ResourceChangesBecomeEvents) {
  auto all = OpenEventStream(host_, "");
  auto locale = OpenEventStream(host_, "&events=/teskclient/region-locale");
  EXPECT_EQ(
      host_.Send("PUT", "/host/v1/resources/teskclient/region-locale", {}, R"({"locale":"de_DE"})")
          .status,
      200u);
  const IncomingResponse read = host_.Send("GET", "/host/v1/resources/teskclient/region-locale");
  EXPECT_EQ(read.body, R"({"locale":"de_DE"})");
  EXPECT_EQ(host_.Send("DELETE", "/host/v1/resources/teskclient/region-locale").status, 204u);
  EXPECT_EQ(host_.Send("GET", "/host/v1/resources/teskclient/region-locale").status, 404u);
  // A key of the configuration namespace changes the namespace with it.
  EXPECT_EQ(host_
                .Send("PUT",
                      "/host/v1/resources/tav-platform-config/v1/namespaces/PersonalizedOffers/"
                      "HubEnabled",
                      {}, "false")
                .status,
            200u);
  const rapidjson::Document space = JsonBody(
      host_.Send("GET", "/host/v1/resources/tav-platform-config/v1/namespaces/PersonalizedOffers"));
  EXPECT_FALSE(space["HubEnabled"].GetBool());

  const std::string update =
      "event: OnJsonApiEvent_teskclient_region-locale\n"
      "data: {\"uri\":\"/teskclient/region-locale\",\"eventType\":\"Update\","
      "\"data\":{\"locale\":\"de_DE\"}}\n";
  const std::string removal =
      "event: OnJsonApiEvent_teskclient_region-locale\n"
      "data: {\"uri\":\"/teskclient/region-locale\",\"eventType\":\"Delete\",\"data\":null}\n";
  const std::string key =
      "event: OnJsonApiEvent_tav-platform-config_v1_namespaces_PersonalizedOffers_HubEnabled\n"
      "data: {\"uri\":\"/tav-platform-config/v1/namespaces/PersonalizedOffers/HubEnabled\","
      "\"eventType\":\"Update\",\"data\":false}\n";
  ASSERT_TRUE(all->ReadUntil(key, kEventWait)) << all->Received();
  EXPECT_NE(all->Received().find(update), std::string::npos);
  EXPECT_NE(all->Received().find(removal), std::string::npos);
  EXPECT_NE(all->Received().find("event: OnJsonApiEvent\n"), std::string::npos);
  ASSERT_TRUE(locale->ReadUntil(removal, kEventWait)) << locale->Received();
  EXPECT_EQ(locale->Received().find("HubEnabled"), std::string::npos);
  EXPECT_EQ(locale->Received().find("event: OnJsonApiEvent\n"), std::string::npos);
}

TEST_F(HostWithProjectPlugin, WebSocketClientsGetTheEventsTheySubscribeTo) {
  RawConnection socket(host_.Port());
  ASSERT_TRUE(socket.UpgradeToWebSocket("/ws", host_.Token())) << socket.Received();
  ASSERT_TRUE(socket.SendWebSocketText(R"({"subscribe":["/tav-login/v1/session"]})"));
  EXPECT_EQ(socket.ReadWebSocketText(kEventWait),
            R"({"subscribed":["OnJsonApiEvent_tav-login_v1_session"]})");
  ASSERT_TRUE(socket.SendWebSocketText("not json"));
  EXPECT_NE(socket.ReadWebSocketText(kEventWait).find("\"error\""), std::string::npos);

  ASSERT_EQ(
      host_.Send("PUT", "/host/v1/resources/teskclient/region-locale", {}, R"({"locale":"fr_FR"})")
          .status,
      200u);
  ASSERT_EQ(host_.Send("DELETE", "/host/v1/resources/tav-login/v1/session").status, 204u);
  const std::string event = socket.ReadWebSocketText(kEventWait);
  EXPECT_NE(event.find(R"("name":"OnJsonApiEvent_tav-login_v1_session","payload":{)"
                       R"("uri":"/tav-login/v1/session","eventType":"Delete","data":null})"),
            std::string::npos)
      << event;
}

TEST(HostProgram, RunFileIsPrivateAndGoesWithTheHost) {
  HostProcess host;
  ASSERT_TRUE(host.Start({"--log-level", "3"})) << host.Output();
  struct stat info {};
  ASSERT_EQ(stat(host.RunFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(host.Output().find("curl -s -H 'Authorization: Bearer " + host.Token()),
            std::string::npos)
      << host.Output();
  EXPECT_EQ(host.Stop(), 0) << host.Output();
  EXPECT_NE(access(host.RunFile().c_str(), F_OK), 0);
}

TEST(HostProgram, RefusesAPluginItCannotLoad) {
  HostProcess host;
  EXPECT_FALSE(host.Start({"--plugin", BuiltFile("no-such-plugin.so")}));
  EXPECT_EQ(host.Stop(), 1);
  EXPECT_NE(host.Output().find("no-such-plugin.so"), std::string::npos) << host.Output();
}

// A watched plug-in is loaded again when its file changes, from a private
// copy, keeping the host's resources and clients; a file that is no library
// is reported and leaves the running plug-in serving.
TEST(HostProgram, WatchReloadsAChangedPluginAndKeepsResourcesAndClients) {
  std::string folder = ::testing::TempDir() + "ktx-watch-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string watched = folder + "/" + kTestPlugin;
  // Written beside it and renamed over it, as an install step replaces a file.
  const auto replace = [&](const std::string& content) {
    const std::string next = watched + ".next";
    std::ofstream(next, std::ios::binary | std::ios::trunc) << content;
    ASSERT_EQ(std::rename(next.c_str(), watched.c_str()), 0);
  };
  const auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  replace(read(BuiltFile(kTestPlugin)));

  HostProcess host;
  ASSERT_TRUE(host.Start({"--watch", "--log-level", "3", "--plugin", watched})) << host.Output();
  ASSERT_EQ(host.Send("PUT", "/host/v1/resources/kept/v1/thing", {}, R"({"n":1})").status, 201u);
  auto stream = OpenEventStream(host, "&events=OnHostPluginReloaded,OnHostPluginReloadFailed");
  RawConnection socket(host.Port());
  ASSERT_TRUE(socket.UpgradeToWebSocket("/ws", host.Token())) << socket.Received();
  ASSERT_TRUE(socket.SendWebSocketText(R"({"subscribe":["OnHostPluginReloaded"]})"));
  EXPECT_EQ(socket.ReadWebSocketText(kEventWait), R"({"subscribed":["OnHostPluginReloaded"]})");
  EXPECT_EQ(host.Send("GET", "/host-test/v1/variant").status, 404u);

  replace(read(BuiltFile("variant/" + std::string(kTestPlugin))));
  EXPECT_TRUE(stream->ReadUntil(
      "event: OnHostPluginReloaded\ndata: {\"path\":" + DevHost::JsonQuote(watched) +
          ",\"plugin\":\"host-test-routes\"",
      kEventWait))
      << stream->Received() << host.Output();
  const std::string pushed = socket.ReadWebSocketText(kEventWait);
  EXPECT_NE(pushed.find(R"("name":"OnHostPluginReloaded","payload":{"path":)"), std::string::npos)
      << pushed;
  const IncomingResponse variant = host.Send("GET", "/host-test/v1/variant");
  EXPECT_EQ(variant.status, 200u);
  EXPECT_EQ(variant.body, "\"rebuilt\"");
  EXPECT_NE(host.Send("GET", "/openapi.json").body.find("/host-test/v1/variant"),
            std::string::npos);
  EXPECT_EQ(host.Send("GET", "/host/v1/resources/kept/v1/thing").body, R"({"n":1})");
  // The new plug-in started with the host's resources: its session read works.
  EXPECT_EQ(host.Send("GET", "/host-test/v1/session").status, 200u);

  replace("this is not a shared library\n");
  EXPECT_TRUE(stream->ReadUntil("event: OnHostPluginReloadFailed\n", kEventWait))
      << stream->Received() << host.Output();
  EXPECT_EQ(host.Send("GET", "/host-test/v1/variant").body, "\"rebuilt\"");
  EXPECT_EQ(host.Send("GET", "/host/v1/status").status, 200u);
  EXPECT_NE(host.Output().find("failed"), std::string::npos) << host.Output();
  EXPECT_EQ(host.Stop(), 0) << host.Output();
  std::filesystem::remove_all(folder);
}

class HostWithTestPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.Start({"--log-level", "3", "--read-timeout", "3", BuiltFile(kTestPlugin)}))
        << host_.Output();
  }
  void TearDown() override { EXPECT_EQ(host_.Stop(), 0) << host_.Output(); }
  HostProcess host_;
};

TEST_F(HostWithTestPlugin, PublishedFunctionsAnswerOverHttp) {
  struct Case {
    const char* method;
    const char* target;
    std::vector<HttpField> headers;
    std::string body;
    unsigned status;
    std::string answer;
  };
  const Case cases[] = {
      {"GET", "/host-test/v1/items/abc", {}, "", 200, R"({"amount":1,"id":"abc","note":"found"})"},
      {"GET",
       "/host-test/v1/items/a%20b",
       {},
       "",
       200,
       R"({"amount":1,"id":"a b","note":"found"})"},
      {"GET", "/host-test/v1/items/missing", {}, "", 404, R"({"message":"No item missing"})"},
      {"POST",
       "/host-test/v1/items",
       {{"Content-Type", "application/json"}},
       R"({"id":"7","amount":3})",
       201,
       R"({"amount":3,"id":"7","note":""})"},
      {"POST",
       "/host-test/v1/items",
       {},
       R"({"id":"8"})",
       201,
       R"({"amount":0,"id":"8","note":""})"},
      {"POST",
       "/host-test/v1/items",
       {{"Content-Type", "text/plain"}},
       "x",
       400,
       R"({"message":"Unsupported body content type"})"},
      {"POST", "/host-test/v1/items", {{"Content-Type", "application/json"}}, R"({"id":)", 400, ""},
      {"DELETE",
       "/host-test/v1/items/abc",
       {},
       "",
       405,
       R"({"message":"Method not allowed; use GET"})"},
      {"GET",
       "/host-test/v1/items/a/b",
       {},
       "",
       404,
       R"({"message":"No route for GET /host-test/v1/items/a/b"})"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.method) + " " + test.target + " " + test.body);
    const IncomingResponse response = host_.Send(test.method, test.target, test.headers, test.body);
    EXPECT_EQ(response.status, test.status);
    if (test.answer.empty()) {
      EXPECT_FALSE(DevHost::StringMember(JsonBody(response), "message").empty()) << response.body;
    } else {
      EXPECT_EQ(response.body, test.answer);
    }
  }
  const IncomingResponse created = host_.Send("POST", "/host-test/v1/items", {}, R"({"id":"9"})");
  bool located = false;
  for (const HttpField& field : created.headers) {
    located = located || (field.name == "location" && field.value == "/host-test/v1/items/9");
  }
  EXPECT_TRUE(located);
}

TEST_F(HostWithTestPlugin, DescribesItselfAndServesSwaggerUi) {
  const IncomingResponse openApi = host_.Send("GET", "/openapi.json");
  ASSERT_EQ(openApi.status, 200u);
  const rapidjson::Document document = JsonBody(openApi);
  EXPECT_EQ(JoinLines(OpenApiProblems(document)), "");
  const rapidjson::Value& paths = document["paths"];
  EXPECT_TRUE(paths.HasMember("/host/v1/resources/{uri}"));
  ASSERT_TRUE(paths.HasMember("/host-test/v1/items/{id}"));
  const rapidjson::Value& get = paths["/host-test/v1/items/{id}"]["get"];
  EXPECT_STREQ(get["operationId"].GetString(), "GetHostTestV1ItemsById");
  EXPECT_STREQ(get["parameters"][0]["in"].GetString(), "path");
  EXPECT_STREQ(get["responses"]["200"]["content"]["application/json"]["schema"]["$ref"].GetString(),
               "#/components/schemas/HostTestItem");
  EXPECT_STREQ(paths["/host-test/v1/items"]["post"]["requestBody"]["content"]["application/json"]
                    ["schema"]["$ref"]
                        .GetString(),
               "#/components/schemas/HostTestItem");
  EXPECT_STREQ(document["components"]["schemas"]["HostTestItem"]["properties"]["amount"]["format"]
                   .GetString(),
               "int32");

  const IncomingResponse index = host_.Send("GET", "/");
  EXPECT_STREQ(JsonBody(index)["plugin"].GetString(), "host-test-routes");

  const IncomingResponse page = host_.Send("GET", "/docs");
  if (page.status == 503) GTEST_SKIP() << "swagger-ui-dist is not installed: " << page.body;
  EXPECT_EQ(page.status, 200u);
  EXPECT_NE(page.body.find("/openapi.json"), std::string::npos);
  // Swagger UI's own files need no token; the page and the description do.
  const IncomingResponse asset =
      host_.Send("GET", "/docs/swagger-ui-bundle.js", {{"Authorization", ""}});
  EXPECT_EQ(asset.status, 200u);
  EXPECT_GT(asset.body.size(), 10000u);
  EXPECT_EQ(host_.Send("GET", "/docs", {{"Authorization", ""}}).status, 401u);
  EXPECT_EQ(host_.Send("GET", "/docs/../../etc/passwd", {{"Authorization", ""}}).status, 401u);
}

TEST_F(HostWithTestPlugin, PluginReachesResourcesTheNetworkAndTheLocalClients) {
  const IncomingResponse session = host_.Send("GET", "/host-test/v1/session");
  EXPECT_EQ(session.status, 200u);
  EXPECT_STREQ(JsonBody(session)["idToken"].GetString(), "demo-id-token");

  const std::string mock = "http://127.0.0.1:" + std::to_string(host_.MockPort());
  const IncomingResponse authenticated = host_.Send(
      "POST", "/host-test/v1/fetch", {},
      R"({"method":"POST","url":")" + mock +
          R"(/personalized-offers/v1/player/authenticate","body":"{\"tokenType\":\"jwt\",\"token\":\"t\"}"})");
  const rapidjson::Document fetched = JsonBody(authenticated);
  EXPECT_EQ(fetched["resultCode"].GetUint(), 0u);
  EXPECT_EQ(fetched["status"].GetUint(), 200u);
  EXPECT_NE(std::string(fetched["body"].GetString()).find("\"expiration\""), std::string::npos);

  // Nothing listens on the port the mock no longer uses after this host: a
  // failed transfer, reported with its text.
  const IncomingResponse refused = host_.Send("POST", "/host-test/v1/fetch", {},
                                              R"({"method":"GET","url":"http://127.0.0.1:1/x"})");
  const rapidjson::Document failure = JsonBody(refused);
  EXPECT_EQ(failure["resultCode"].GetUint(), 1u);
  EXPECT_FALSE(std::string(failure["body"].GetString()).empty());

  auto stream = OpenEventStream(host_, "&events=host-test-event");
  EXPECT_EQ(
      host_.Send("POST", "/host-test/v1/events", {}, R"({"name":"host-test-event","text":"hi"})")
          .body,
      "true");
  EXPECT_TRUE(stream->ReadUntil("event: host-test-event\ndata: \"hi\"\n\n", kEventWait))
      << stream->Received();
}

TEST_F(HostWithTestPlugin, EventsAndCallbacksReachThePlugin) {
  ASSERT_EQ(
      host_.Send("PUT", "/host/v1/resources/tav-login/v1/session", {}, R"({"state":"LOGGING_OUT"})")
          .status,
      200u);
  const IncomingResponse lcds =
      host_.Send("POST", "/host/v1/lcds", {}, R"({"typeName":"test.Message","body":{"n":1}})");
  EXPECT_EQ(lcds.status, 202u);
  EXPECT_EQ(lcds.body, R"({"event":"OnLcdsEvent_test_Message","subscriptions":1})");
  // Deliveries are queued on the plug-in thread before this request.
  const IncomingResponse received = host_.Send("GET", "/host-test/v1/received");
  EXPECT_EQ(received.body, R"(["timer","Update /tav-login/v1/session","lcds test.Message"])");

  const rapidjson::Document status = JsonBody(host_.Send("GET", "/host/v1/status"));
  EXPECT_EQ(status["pendingCallbacks"].GetUint(), 1u);  // the one due in an hour
  // Its two, and the three service-proxy events every plug-in subscribes to.
  EXPECT_EQ(status["subscriptions"].Size(), 5u);
  // Stopping with that callback pending cancels it (TearDown checks the exit).
}

TEST_F(HostWithTestPlugin, SlowDroppedAndConcurrentClientsLeaveItServing) {
  RawConnection slow(host_.Port());
  ASSERT_TRUE(slow.SendText("GET /host-test/v1/items/1 HTTP/1.1\r\nHost: 127"));
  RawConnection dropped(host_.Port());
  ASSERT_TRUE(
      dropped.SendText("POST /host-test/v1/items HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                       "Authorization: Bearer " +
                       host_.Token() + "\r\nContent-Length: 100\r\n\r\n{\"id\":"));
  dropped.Close();
  RawConnection gone(host_.Port());
  ASSERT_TRUE(
      gone.SendText("GET /host-test/v1/items/2 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    "Authorization: Bearer " +
                    host_.Token() + "\r\n\r\n"));
  gone.Close();

  constexpr int kClients = 8;
  constexpr int kRequestsEach = 10;
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < kRequestsEach; ++i) {
        const std::string id = std::to_string(c * 100 + i);
        const IncomingResponse response = host_.Send("GET", "/host-test/v1/items/" + id);
        if (response.status == 200 &&
            response.body.find("\"id\":\"" + id + "\"") != std::string::npos) {
          ++answered;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(answered, kClients * kRequestsEach);
  // The stalled client is dropped after the read time-out (3 s here).
  EXPECT_TRUE(slow.WaitForClose(60s));
  EXPECT_EQ(host_.Send("GET", "/host-test/v1/items/x").status, 200u);
}

TEST_F(HostWithTestPlugin, BurstOfMixedRequestsIsAnsweredAndLeavesPluginMemoryAsBefore) {
  struct Request {
    const char* method;
    const char* target;
    const char* body;
    unsigned status;
  };
  static constexpr Request kMix[] = {
      {"GET", "/host-test/v1/items/a", "", 200},
      {"POST", "/host-test/v1/items", R"({"id":"b","note":"n","amount":2})", 201},
      {"GET", "/host-test/v1/items/missing", "", 404},
      {"POST", "/host-test/v1/items", R"({"id":[)", 400},
      {"POST", "/host-test/v1/items", R"({"amount":"x"})", 400},
      {"GET", "/host-test/v1/session", "", 200},
      {"GET", "/no/route", "", 404},
  };
  const auto burst = [&](int threads, int each) {
    std::atomic<int> right{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        for (int i = 0; i < each; ++i) {
          const Request& r = kMix[(t + i) % std::size(kMix)];
          if (host_.Send(r.method, r.target, {}, r.body).status == r.status) ++right;
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
    return right.load();
  };
  EXPECT_EQ(burst(2, 35), 70);  // warms every path once
  const uint64_t before = PluginLiveBytes(host_);
  EXPECT_EQ(burst(4, 500), 2000);
  EXPECT_EQ(PluginLiveBytes(host_), before);
}

}  // namespace
}  // namespace Tesk::Testing
