// The project's plug-in in ktx-host as a process, end to end: its routes over
// real HTTP, its events on the host's event stream, and the calls that reach
// the host's mock offers service, as a user interface and an operator see
// them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <initializer_list>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "encoding/json_support.h"
#include "host/support/host_process.h"
#include "host/support/openapi_check.h"

namespace Tesk::Testing {
namespace {

using namespace std::chrono_literals;
using DevHost::IncomingResponse;

constexpr auto kEventWait = 30s;
constexpr char kStatus[] = "/tav-personalized-offers/v1/status";
constexpr char kThemed[] = "/tav-personalized-offers/v1/themed";
constexpr char kOffers[] = "/tav-personalized-offers/v1/offers";
constexpr char kSession[] = "/host/v1/resources/tav-login/v1/session";
constexpr char kNamespace[] =
    "/host/v1/resources/tav-platform-config/v1/namespaces/PersonalizedOffers";
constexpr char kDemoIdToken[] = "demo-id-token";
constexpr char kNotEnabled[] = R"({"message":"Personalized Offers not enabled"})";

std::string OfferRoute(const std::string& id, const char* action) {
  return std::string(kOffers) + "/" + id + "/" + action;
}

// One event of a Server-Sent Events stream.
struct StreamEvent {
  uint64_t id = 0;
  std::string name;
  std::string data;
};

// The complete events in `text`, in order.
std::vector<StreamEvent> EventsIn(std::string_view text) {
  std::vector<StreamEvent> events;
  for (size_t end = text.find("\n\n"); end != std::string_view::npos; end = text.find("\n\n")) {
    StreamEvent event;
    std::string_view block = text.substr(0, end);
    text.remove_prefix(end + 2);
    while (!block.empty()) {
      const size_t lineEnd = std::min(block.find('\n'), block.size());
      const std::string_view line = block.substr(0, lineEnd);
      block.remove_prefix(std::min(lineEnd + 1, block.size()));
      if (line.starts_with("id: ")) event.id = std::stoull(std::string(line.substr(4)));
      if (line.starts_with("event: ")) event.name = line.substr(7);
      if (line.starts_with("data: ")) event.data = line.substr(6);
    }
    if (!event.name.empty()) events.push_back(std::move(event));
  }
  return events;
}

// Waits until the stream holds `count` events after its first `offset` bytes.
bool AwaitEvents(RawConnection& stream, size_t offset, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + kEventWait;
  while (EventsIn(std::string_view(stream.Received()).substr(offset)).size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !stream.ReadAtLeast(stream.Received().size() + 1, left)) return false;
  }
  return true;
}

rapidjson::Document ParsedJson(const std::string& text) {
  rapidjson::Document document;
  std::string error;
  EXPECT_TRUE(DevHost::ParseJson(text, document, error)) << error << ": " << text;
  return document;
}

// The UI offer of that id in a list of UI offers; null when absent.
const rapidjson::Value* FindOffer(const rapidjson::Value& offers, std::string_view id) {
  if (!offers.IsArray()) return nullptr;
  for (const auto& offer : offers.GetArray()) {
    if (offer.IsObject() && DevHost::StringMember(offer, "id") == id) return &offer;
  }
  return nullptr;
}

// The value at the end of a chain of member names; null when one is missing.
const rapidjson::Value* Member(const rapidjson::Value& value,
                               std::initializer_list<const char*> names) {
  const rapidjson::Value* at = &value;
  for (const char* name : names) {
    if (!at->IsObject() || !at->HasMember(name)) return nullptr;
    at = &(*at)[name];
  }
  return at;
}

bool Flag(const rapidjson::Value* offer, const char* name) {
  return offer != nullptr && offer->HasMember(name) && (*offer)[name].IsTrue();
}

std::string Session(int player, const std::string& idToken, const char* state) {
  return R"({"state":")" + std::string(state) + R"(","summonerId":)" + std::to_string(player) +
         R"(,"accountId":)" + std::to_string(player + 1000) + R"(,"idToken":")" + idToken + "\"}";
}

// The demo player's session (the same account) in another state or with
// another id token.
std::string DemoSession(const std::string& idToken, const char* state) {
  return R"({"state":")" + std::string(state) +
         R"(","summonerId":2814749767106561,"accountId":2814749767106562,"idToken":")" + idToken +
         "\"}";
}

// A call that the mock offers service received.
struct ServiceCall {
  uint64_t sequence = 0;
  std::string method;
  std::string target;
  std::string authorization;
  std::string player;  // the id token it was made for
  std::string body;
};

class OffersThroughTheHost : public ::testing::Test {
 protected:
  // The demo: the project's plug-in, a logged-in player, the configuration
  // pointing at the mock service.
  void SetUp() override { ASSERT_TRUE(host_.Start({"--log-level", "3"})) << host_.Output(); }
  void TearDown() override { EXPECT_EQ(host_.Stop(), 0) << host_.Output(); }

  IncomingResponse Call(const std::string& method, const std::string& target,
                        const std::string& body = {}) const {
    return host_.Send(method, target, {}, body);
  }

  // The service calls after sequence number `since`, in order.
  std::vector<ServiceCall> ServiceCalls(uint64_t since = 0) const {
    DevHost::OutgoingRequest request;
    request.method = "GET";
    request.url = "http://127.0.0.1:" + std::to_string(host_.MockPort()) +
                  "/mock/v1/requests?since=" + std::to_string(since);
    request.timeoutSeconds = 30;
    const rapidjson::Document answer = JsonBody(mock_.Send(request));
    std::vector<ServiceCall> calls;
    if (!answer.IsObject() || !answer.HasMember("requests")) return calls;
    for (const auto& call : answer["requests"].GetArray()) {
      calls.push_back({call["sequence"].GetUint64(), DevHost::StringMember(call, "method"),
                       DevHost::StringMember(call, "target"),
                       DevHost::StringMember(call, "authorization"),
                       DevHost::StringMember(call, "player"), DevHost::StringMember(call, "body")});
    }
    return calls;
  }
  uint64_t LastServiceCall() const {
    const std::vector<ServiceCall> calls = ServiceCalls();
    return calls.empty() ? 0 : calls.back().sequence;
  }

  HostProcess host_;
  DevHost::HttpClient mock_;
};

// Every answer is also checked against the response its route describes.
TEST_F(OffersThroughTheHost, RoutesAnswerAsTheirDescriptionSays) {
  const rapidjson::Document api = JsonBody(Call("GET", "/openapi.json"));
  struct Case {
    const char* what;
    const char* method;
    std::string target;
    const char* path;  // the route's path in the description
    std::string body;
    unsigned status;
    std::string answer;  // a part of the body
  };
  const std::string offers = kOffers;
  const Case cases[] = {
      {"status", "GET", kStatus, kStatus, "", 200, "true"},
      {"themed", "GET", kThemed, kThemed, "", 200, "true"},
      {"the offers, po-skin-3 not revealed yet", "GET", offers, kOffers, "", 200,
       R"("id":"po-skin-3","originalPrice":1765,"owned":false,"revealed":false,)"
       R"("skinId":57002,"skinName":"Tidecaller Kael","type":"SkinWithChampion"})"},
      {"reveal by id", "POST", OfferRoute("po-skin-3", "reveal"),
       "/tav-personalized-offers/v1/offers/{id}/reveal", "", 200,
       R"("id":"po-skin-3","originalPrice":1765,"owned":false,"revealed":true,)"},
      {"reveal by list", "POST", offers + "/reveal", "/tav-personalized-offers/v1/offers/reveal",
       R"({"offers":[{"offerId":"po-skin-4"}]})", 200,
       R"("id":"po-skin-4","originalPrice":1820,"owned":false,"revealed":true,)"},
      {"reveal by list, a body that is not JSON", "POST", offers + "/reveal",
       "/tav-personalized-offers/v1/offers/reveal", "{", 400, R"({"message":")"},
      {"purchase of an id that is not offered", "POST", OfferRoute("nope", "purchase"),
       "/tav-personalized-offers/v1/offers/{id}/purchase", "", 404,
       R"({"message":"Offer id not found or not valid: nope"})"},
      {"purchase by list of nothing: the service's refusal", "POST", offers + "/purchase",
       "/tav-personalized-offers/v1/offers/purchase", R"({"offers":[]})", 400,
       R"({"message":"No offers to accept"})"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const IncomingResponse response = Call(test.method, test.target, test.body);
    EXPECT_EQ(response.status, test.status) << response.body;
    EXPECT_NE(response.body.find(test.answer), std::string::npos) << response.body;
    std::string method = test.method;
    for (char& c : method) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const rapidjson::Value* responses =
        Member(api, {"paths", test.path, method.c_str(), "responses"});
    ASSERT_NE(responses, nullptr);
    const std::string code = std::to_string(test.status);
    const rapidjson::Value& described =
        responses->HasMember(code.c_str()) ? (*responses)[code.c_str()] : (*responses)["default"];
    EXPECT_EQ(JoinLines(SchemaMismatches(api, described["content"]["application/json"]["schema"],
                                         JsonBody(response))),
              "");
  }

  // The revealed cards stay revealed in the list; the service was told of
  // the skin and of the champion offer of its spot, skin first.
  const rapidjson::Document list = JsonBody(Call("GET", kOffers));
  EXPECT_TRUE(Flag(FindOffer(list, "po-skin-3"), "revealed"));
  EXPECT_TRUE(Flag(FindOffer(list, "po-skin-4"), "revealed"));
  std::vector<ServiceCall> views;
  for (ServiceCall& call : ServiceCalls()) {
    if (call.target.find("/offers/view?lang=en_US") != std::string::npos) {
      views.push_back(std::move(call));
    }
  }
  ASSERT_EQ(views.size(), 2u);
  const rapidjson::Document viewed = ParsedJson(views[0].body);
  ASSERT_EQ(viewed["offers"].Size(), 2u);
  EXPECT_STREQ(viewed["offers"][0]["offerId"].GetString(), "po-skin-3");
  EXPECT_STREQ(viewed["offers"][1]["offerId"].GetString(), "po-champion-3");
  EXPECT_EQ(views[0].player, kDemoIdToken);
}

TEST_F(OffersThroughTheHost, PurchaseAnnouncesTheNewOffersBeforeItAnswers) {
  auto stream = OpenEventStream(host_, "&events=/tav-personalized-offers/v1/offers");
  ASSERT_EQ(Call("GET", kOffers).status, 200u);  // the first fetch, announced too
  ASSERT_TRUE(AwaitEvents(*stream, 0, 1)) << stream->Received();
  const size_t seen = stream->Received().size();
  const uint64_t before = LastServiceCall();

  const IncomingResponse purchase = Call("POST", OfferRoute("po-skin-3", "purchase"));
  // Only what the stream already holds once the answer is in: an event the
  // host wrote before the answer is there, one written after it may not be.
  stream->ReadAvailable();
  ASSERT_EQ(purchase.status, 200u) << purchase.body;
  EXPECT_EQ(purchase.body,
            R"({"items":[{"inventoryType":"CHAMPION_SKIN","itemId":57002,"pricePaid":585},)"
            R"({"inventoryType":"CHAMPION","itemId":57,"pricePaid":474}],"wallet":{"qp":3941}})");
  const std::vector<StreamEvent> events =
      EventsIn(std::string_view(stream->Received()).substr(seen));
  ASSERT_FALSE(events.empty()) << "no offers event before the purchase's answer";
  EXPECT_EQ(events[0].name, "OnJsonApiEvent_tav-personalized-offers_v1_offers");
  const rapidjson::Document payload = ParsedJson(events[0].data);
  EXPECT_STREQ(payload["uri"].GetString(), kOffers);
  EXPECT_TRUE(Flag(FindOffer(payload["data"], "po-skin-3"), "owned")) << events[0].data;

  // The skin with its champion, which the player does not own, each at its
  // own price; then the offers fetched again.
  const std::vector<ServiceCall> calls = ServiceCalls(before);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_NE(calls[0].target.find("/v1/player/offers/accept?lang=en_US"), std::string::npos);
  const rapidjson::Document accepted = ParsedJson(calls[0].body);
  ASSERT_EQ(accepted["offers"].Size(), 2u);
  EXPECT_STREQ(accepted["offers"][0]["offerId"].GetString(), "po-skin-3");
  EXPECT_EQ(accepted["offers"][0]["price"].GetInt64(), 975);
  EXPECT_STREQ(accepted["offers"][1]["offerId"].GetString(), "po-champion-3");
  EXPECT_EQ(accepted["offers"][1]["price"].GetInt64(), 790);
  EXPECT_EQ(calls[1].method, "GET");
  EXPECT_NE(calls[1].target.find("/v1/player/offers?lang=en_US"), std::string::npos);
}

// However the session changes hands, the service sees the new player
// authenticate, every later call carries that player's service token, and
// the list shown is the new player's: the previous player revealed
// po-skin-4, the new one has not.
TEST_F(OffersThroughTheHost, ANewPlayerIsServedOnlyTheirOwnOffers) {
  struct Step {
    const char* method;
    std::string session;
  };
  struct Login {
    const char* what;
    std::vector<Step> steps;
    std::string idToken;
  };
  const Login logins[] = {
      {"logged out, then another player logs in",
       {{"DELETE", ""}, {"PUT", Session(2, "player-2-id-token", "SUCCEEDED")}},
       "player-2-id-token"},
      {"logging out, then another player's session",
       {{"PUT", Session(3, "player-3-id-token", "LOGGING_OUT")},
        {"PUT", Session(3, "player-3-id-token", "SUCCEEDED")}},
       "player-3-id-token"},
      {"another player's session at once",
       {{"PUT", Session(4, "player-4-id-token", "SUCCEEDED")}},
       "player-4-id-token"},
  };
  std::string previous = kDemoIdToken;
  for (const Login& login : logins) {
    SCOPED_TRACE(login.what);
    const IncomingResponse revealed = Call("POST", OfferRoute("po-skin-4", "reveal"));
    ASSERT_EQ(revealed.status, 200u) << revealed.body;
    ASSERT_TRUE(Flag(FindOffer(JsonBody(revealed), "po-skin-4"), "revealed"));
    const uint64_t before = LastServiceCall();
    for (const Step& step : login.steps) {
      const unsigned status = Call(step.method, kSession, step.session).status;
      EXPECT_TRUE(status == 200 || status == 201 || status == 204) << status;
    }

    const IncomingResponse offers = Call("GET", kOffers);
    ASSERT_EQ(offers.status, 200u) << offers.body;
    const rapidjson::Document list = JsonBody(offers);
    ASSERT_NE(FindOffer(list, "po-skin-4"), nullptr) << offers.body;
    EXPECT_FALSE(Flag(FindOffer(list, "po-skin-4"), "revealed")) << offers.body;
    const std::vector<ServiceCall> calls = ServiceCalls(before);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].target.find("/v1/player/authenticate"), std::string::npos);
    EXPECT_EQ(calls[0].player, login.idToken);
    EXPECT_NE(calls[1].target.find("/v1/player/offers?lang="), std::string::npos);
    EXPECT_EQ(calls[1].player, login.idToken);
    EXPECT_FALSE(calls[1].authorization.empty());
    for (const ServiceCall& call : ServiceCalls(before)) EXPECT_NE(call.player, previous);
    previous = login.idToken;
  }
}

TEST_F(OffersThroughTheHost, DeletingTheConfigurationTurnsTheFeatureOff) {
  auto stream = OpenEventStream(
      host_, "&events=/tav-personalized-offers/v1/status,/tav-personalized-offers/v1/themed");
  ASSERT_EQ(Call("GET", kOffers).status, 200u);  // a loaded cache, which goes too
  ASSERT_EQ(Call("DELETE", kNamespace).status, 204u);

  ASSERT_TRUE(AwaitEvents(*stream, 0, 2)) << stream->Received();
  const std::vector<StreamEvent> events = EventsIn(stream->Received());
  EXPECT_EQ(events[0].name, "OnJsonApiEvent_tav-personalized-offers_v1_status");
  EXPECT_EQ(events[0].data,
            R"({"data":false,"eventType":"Update","uri":")" + std::string(kStatus) + "\"}");
  EXPECT_EQ(events[1].name, "OnJsonApiEvent_tav-personalized-offers_v1_themed");
  EXPECT_EQ(events[1].data,
            R"({"data":false,"eventType":"Update","uri":")" + std::string(kThemed) + "\"}");

  struct Case {
    const char* method;
    std::string target;
    unsigned status;
    std::string answer;
  };
  const Case cases[] = {
      {"GET", kStatus, 200, "false"},
      {"GET", kThemed, 200, "false"},
      {"GET", kOffers, 404, kNotEnabled},
      {"POST", OfferRoute("po-skin-1", "reveal"), 404, kNotEnabled},
      {"POST", OfferRoute("po-skin-1", "purchase"), 404, kNotEnabled},
  };
  const uint64_t before = LastServiceCall();
  for (const Case& test : cases) {
    SCOPED_TRACE(test.target);
    const IncomingResponse response = Call(test.method, test.target);
    EXPECT_EQ(response.status, test.status);
    EXPECT_EQ(response.body, test.answer);
  }
  EXPECT_TRUE(ServiceCalls(before).empty());
}

TEST_F(OffersThroughTheHost, AFulfilmentOfACachedItemFetchesTheOffersAgain) {
  auto stream = OpenEventStream(host_, "&events=/tav-personalized-offers/v1/offers");
  ASSERT_EQ(Call("GET", kOffers).status, 200u);
  ASSERT_TRUE(AwaitEvents(*stream, 0, 1)) << stream->Received();
  const size_t seen = stream->Received().size();
  const uint64_t before = LastServiceCall();

  // A skin no cached offer sells, then the skin of po-skin-2.
  for (const char* item : {R"({"championId":99,"owned":true,"skinId":99001})",
                           R"({"championId":48,"owned":true,"skinId":48007})"}) {
    const IncomingResponse injected =
        Call("POST", "/host/v1/lcds",
             R"({"typeName":"com.teskgames.platform.messaging.StoreFulfillmentNotification",)"
             R"("body":{"inventoryType":"CHAMPION_SKIN","data":)" +
                 std::string(item) + "}}");
    EXPECT_EQ(injected.status, 202u);
    EXPECT_EQ(
        injected.body,
        R"({"event":"OnLcdsEvent_com_teskgames_platform_messaging_StoreFulfillmentNotification",)"
        R"("subscriptions":1})");
  }
  ASSERT_TRUE(AwaitEvents(*stream, seen, 1)) << stream->Received();
  const std::vector<ServiceCall> calls = ServiceCalls(before);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].method, "GET");
  EXPECT_NE(calls[0].target.find("/v1/player/offers?lang=en_US"), std::string::npos);
  EXPECT_EQ(calls[0].player, kDemoIdToken);
}

TEST_F(OffersThroughTheHost, DescribesItsSevenRoutesAsOpenApi303) {
  const IncomingResponse answer = Call("GET", "/openapi.json");
  ASSERT_EQ(answer.status, 200u);
  const rapidjson::Document api = JsonBody(answer);
  ASSERT_EQ(JoinLines(OpenApiProblems(api)), "");
  EXPECT_STREQ(api["info"]["title"].GetString(), "tav-personalized-offers");

  constexpr char kSchemas[] = "#/components/schemas/";
  const std::string uiOffers = R"({"type":"array","items":{"$ref":")" + std::string(kSchemas) +
                               R"(TavPersonalizedOffersUIOffer"}})";
  const std::string purchase =
      R"({"$ref":")" + std::string(kSchemas) + R"(TavPersonalizedOffersPurchaseResponse"})";
  struct Route {
    const char* path;
    const char* method;
    const char* operationId;
    bool idInPath;
    const char* bodyType;  // null: no body
    std::string result;    // the 200 answer's schema
  };
  const Route routes[] = {
      {kStatus, "get", "GetTavPersonalizedOffersV1Status", false, nullptr, R"({"type":"boolean"})"},
      {kThemed, "get", "GetTavPersonalizedOffersV1Themed", false, nullptr, R"({"type":"boolean"})"},
      {kOffers, "get", "GetTavPersonalizedOffersV1Offers", false, nullptr, uiOffers},
      {"/tav-personalized-offers/v1/offers/{id}/reveal", "post",
       "PostTavPersonalizedOffersV1OffersByIdReveal", true, nullptr, uiOffers},
      {"/tav-personalized-offers/v1/offers/reveal", "post",
       "PostTavPersonalizedOffersV1OffersReveal", false, "TavPersonalizedOffersOfferIds", uiOffers},
      {"/tav-personalized-offers/v1/offers/{id}/purchase", "post",
       "PostTavPersonalizedOffersV1OffersByIdPurchase", true, nullptr, purchase},
      {"/tav-personalized-offers/v1/offers/purchase", "post",
       "PostTavPersonalizedOffersV1OffersPurchase", false, "TavPersonalizedOffersOfferRequests",
       purchase},
  };
  size_t pluginPaths = 0;
  for (const auto& path : api["paths"].GetObject()) {
    pluginPaths += std::string_view(path.name.GetString()).starts_with("/tav-") ? 1 : 0;
  }
  EXPECT_EQ(pluginPaths, 7u);
  for (const Route& route : routes) {
    SCOPED_TRACE(route.path);
    const rapidjson::Value* item = Member(api, {"paths", route.path});
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->MemberCount(), 1u);  // one method
    ASSERT_TRUE(item->HasMember(route.method));
    const rapidjson::Value& operation = (*item)[route.method];
    EXPECT_STREQ(operation["operationId"].GetString(), route.operationId);
    if (route.idInPath) {
      ASSERT_EQ(operation["parameters"].Size(), 1u);
      EXPECT_EQ(DevHost::WriteJson(operation["parameters"][0]),
                R"({"name":"id","in":"path","required":true,"schema":{"type":"string"}})");
    } else {
      EXPECT_FALSE(operation.HasMember("parameters"));
    }
    if (route.bodyType != nullptr) {
      EXPECT_EQ(DevHost::WriteJson(operation["requestBody"]["content"]["application/json"]),
                R"({"schema":{"$ref":")" + std::string(kSchemas) + route.bodyType + "\"}}");
    } else {
      EXPECT_FALSE(operation.HasMember("requestBody"));
    }
    EXPECT_EQ(
        DevHost::WriteJson(operation["responses"]["200"]["content"]["application/json"]["schema"]),
        route.result);
    EXPECT_EQ(DevHost::WriteJson(
                  operation["responses"]["default"]["content"]["application/json"]["schema"]),
              R"({"$ref":")" + std::string(kSchemas) + "Error\"}");
  }
  // The feature's events beside the SDK's, each with its resource and the
  // schema of its payload.
  const std::pair<const char*, const char*> events[] = {
      {kOffers, "TavPersonalizedOffersOffersEvent"},
      {kStatus, "TavPersonalizedOffersFlagEvent"},
      {kThemed, "TavPersonalizedOffersFlagEvent"},
  };
  for (const auto& [resource, payload] : events) {
    SCOPED_TRACE(resource);
    const rapidjson::Value* found = nullptr;
    for (const auto& event : api["x-events"].GetArray()) {
      if (DevHost::StringMember(event, "resource") == resource) found = &event;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(
        DevHost::StringMember(*found, "name"), "OnJsonApiEvent" + [](std::string uri) {
          std::replace(uri.begin(), uri.end(), '/', '_');
          return uri;
        }(resource));
    EXPECT_EQ(DevHost::WriteJson((*found)["payloadSchema"]),
              R"({"$ref":")" + std::string(kSchemas) + payload + "\"}");
  }
  EXPECT_EQ(
      DevHost::WriteJson(
          api["components"]["schemas"]["TavPersonalizedOffersOffersEvent"]["properties"]["data"]),
      uiOffers);

  // An unsigned 32-bit field admits every value it can hold.
  EXPECT_EQ(
      DevHost::WriteJson(
          api["components"]["schemas"]["TavPersonalizedOffersOffer"]["properties"]["spotIndex"]),
      R"({"type":"integer","format":"int64","minimum":0,"maximum":4294967295})");
}

// The states a real client passes through, one after another in one host:
// each step's answer, the calls that reached the service, and the feature's
// events it caused (read up to a marker event sent after the step).
TEST_F(OffersThroughTheHost, WalksThroughTheStatesOfARealClient) {
  constexpr char kMarker[] = "/host/v1/resources/test/step-marker";
  constexpr char kLocale[] = "/host/v1/resources/teskclient/region-locale";
  const std::string mock = "http://127.0.0.1:" + std::to_string(host_.MockPort());
  auto stream = OpenEventStream(host_,
                                "&events=/tav-personalized-offers/v1/offers,"
                                "/tav-personalized-offers/v1/status,"
                                "/tav-personalized-offers/v1/themed,/test/step-marker");
  struct Step {
    const char* what;
    const char* method;
    std::string target;  // the host's, or the mock's when it starts with "http"
    std::string body;
    unsigned status;
    std::string answer;                 // a part of the body
    std::vector<std::string> calls;     // parts of the service calls' targets, in order
    std::vector<std::string> events;    // "offers N" (the list's length) or "status true"
    std::string player = kDemoIdToken;  // whom the service calls were for
  };
  const std::string noPlayer = R"({"message":"No player is signed in."})";
  const std::string fulfilment =
      R"({"typeName":"com.teskgames.platform.messaging.StoreFulfillmentNotification",)"
      R"("body":{"inventoryType":"CHAMPION_SKIN","data":{"championId":57,"skinId":57002}}})";
  const Step steps[] = {
      {"the first read",
       "GET",
       kOffers,
       "",
       200,
       R"("id":"po-skin-1")",
       {"offers?lang=en_US"},
       {"offers 4"}},
      {"reveal of an id the list lacks",
       "POST",
       OfferRoute("nope", "reveal"),
       "",
       404,
       R"({"message":"Offer id not found or not valid: nope"})",
       {},
       {}},
      {"an id with a NUL byte",
       "POST",
       OfferRoute("po-skin-1%00-not-this-one", "purchase"),
       "",
       400,
       R"({"message":"Argument 'id' for 'PostTavPersonalizedOffersV1OffersByIdPurchase' )"
       R"(contains a NUL character."})",
       {},
       {}},
      {"a new locale", "PUT", kLocale, R"({"locale":"pt BR"})", 200, "", {}, {"offers 0"}},
      {"the list in that language",
       "GET",
       kOffers,
       "",
       200,
       R"("id":"po-skin-1")",
       {"offers?lang=pt%20BR"},
       {"offers 4"}},
      {"the service goes down",
       "POST",
       mock + "/mock/v1/outage",
       R"({"status":503,"message":"down for maintenance"})",
       200,
       "",
       {},
       {}},
      {"a fulfilment while it is down keeps the list",
       "POST",
       "/host/v1/lcds",
       fulfilment,
       202,
       "",
       {"offers?lang="},
       {},
       ""},
      {"the list is still served", "GET", kOffers, "", 200, R"("id":"po-skin-3")", {}, {}},
      {"a purchase of an unknown id answers the failed fetch",
       "POST",
       OfferRoute("nope", "purchase"),
       "",
       500,
       "down for maintenance",
       {"offers?lang="},
       {},
       ""},
      {"the service is back", "DELETE", mock + "/mock/v1/outage", "", 200, "", {}, {}},
      {"a refusal keeps its status and message",
       "POST",
       std::string(kOffers) + "/purchase",
       R"({"offers":[]})",
       400,
       R"({"message":"No offers to accept"})",
       {"accept?lang="},
       {}},
      {"the service forgets its tokens", "POST", mock + "/mock/v1/revoke", "", 200, "", {}, {}},
      {"a refused token is the plug-in's failure, not the caller's",
       "POST",
       OfferRoute("po-skin-4", "reveal"),
       "",
       502,
       R"({"message":"Unknown or expired service token"})",
       {"view?lang="},
       {},
       ""},
      {"the next call authenticates again",
       "POST",
       OfferRoute("po-skin-4", "reveal"),
       "",
       200,
       R"("id":"po-skin-4")",
       {"authenticate", "view?lang="},
       {"offers 4"}},
      {"a bundle: the skin with its champion",
       "POST",
       OfferRoute("po-skin-3", "purchase"),
       "",
       200,
       R"("pricePaid")",
       {"accept?lang=", "offers?lang="},
       {"offers 4"}},
      {"its fulfilments fetch nothing more", "GET", kStatus, "", 200, "true", {}, {}},
      {"a rotated id token",
       "PUT",
       kSession,
       DemoSession("rotated-id-token", "SUCCEEDED"),
       200,
       "",
       {},
       {}},
      {"is used from the next call on",
       "POST",
       OfferRoute("po-skin-1", "reveal"),
       "",
       200,
       R"("id":"po-skin-1")",
       {"authenticate", "view?lang="},
       {"offers 4"},
       "rotated-id-token"},
      {"signing out",
       "PUT",
       kSession,
       DemoSession("rotated-id-token", "LOGGING_OUT"),
       200,
       "",
       {},
       {"offers 0"}},
      {"nobody to serve", "GET", kOffers, "", 409, noPlayer, {}, {}},
      {"nobody to buy for", "POST", OfferRoute("po-skin-1", "purchase"), "", 409, noPlayer, {}, {}},
  };
  const auto eventSummary = [](const StreamEvent& event) {
    const rapidjson::Document payload = ParsedJson(event.data);
    const std::string uri = DevHost::StringMember(payload, "uri");
    const std::string name = uri.substr(uri.rfind('/') + 1);
    const rapidjson::Value& data = payload["data"];
    if (data.IsArray()) return name + " " + std::to_string(data.Size());
    return name + " " + (data.IsTrue() ? "true" : "false");
  };
  size_t seen = stream->Received().size();
  int marker = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const uint64_t before = LastServiceCall();
    IncomingResponse response;
    if (step.target.starts_with("http")) {
      DevHost::OutgoingRequest request;
      request.method = step.method;
      request.url = step.target;
      request.body = step.body;
      request.timeoutSeconds = 30;
      response = mock_.Send(request);
    } else {
      response = Call(step.method, step.target, step.body);
    }
    EXPECT_EQ(response.status, step.status) << response.body;
    EXPECT_NE(response.body.find(step.answer), std::string::npos) << response.body;

    // A call into the plug-in runs after whatever the step queued for it;
    // everything the step caused is then on the stream before the marker.
    ASSERT_EQ(Call("GET", kStatus).status, 200u);
    ++marker;
    ASSERT_EQ(Call("PUT", kMarker, std::to_string(marker)).status / 100, 2u);
    std::vector<std::string> events;
    bool marked = false;
    const auto deadline = std::chrono::steady_clock::now() + kEventWait;
    while (!marked && std::chrono::steady_clock::now() < deadline) {
      for (const StreamEvent& event : EventsIn(std::string_view(stream->Received()).substr(seen))) {
        if (event.name == "OnJsonApiEvent_test_step-marker") {
          marked = true;
          break;
        }
        events.push_back(eventSummary(event));
      }
      if (!marked) {
        events.clear();
        (void)stream->ReadAtLeast(stream->Received().size() + 1, 1s);
      }
    }
    ASSERT_TRUE(marked) << stream->Received().substr(seen);
    seen = stream->Received().size();
    EXPECT_EQ(events, step.events);

    // An LCDS message reaches the plug-in through a scheduled callback, which
    // may run after the marker: wait for the calls the step should make.
    std::vector<ServiceCall> calls = ServiceCalls(before);
    const auto callsDeadline = std::chrono::steady_clock::now() + kEventWait;
    while (calls.size() < step.calls.size() && std::chrono::steady_clock::now() < callsDeadline) {
      std::this_thread::sleep_for(20ms);
      calls = ServiceCalls(before);
    }
    ASSERT_EQ(calls.size(), step.calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_NE(calls[i].target.find(step.calls[i]), std::string::npos) << calls[i].target;
      if (!step.player.empty()) {
        EXPECT_EQ(calls[i].player, step.player) << calls[i].target;
      }
    }
  }
  // Signed out, a configuration change authenticates nobody.
  const uint64_t before = LastServiceCall();
  const IncomingResponse configuration = Call("GET", kNamespace);
  ASSERT_EQ(configuration.status, 200u);
  ASSERT_EQ(Call("PUT", kNamespace, configuration.body).status, 200u);
  ASSERT_EQ(Call("GET", kStatus).status, 200u);  // after the namespace's event
  EXPECT_TRUE(ServiceCalls(before).empty());
}

// Requests of every kind at once, some calling the service, leave the
// plug-in's memory as it was.
TEST_F(OffersThroughTheHost, BurstOfRequestsLeavesPluginMemoryAsBefore) {
  struct Request {
    const char* method;
    std::string target;
    const char* body;
    unsigned status;
  };
  const Request mix[] = {
      {"GET", kStatus, "", 200},
      {"GET", kOffers, "", 200},
      {"POST", std::string(kOffers) + "/reveal", R"({"offers":[{"offerId":"po-skin-1"}]})", 200},
      {"GET", kThemed, "", 200},
      {"POST", OfferRoute("nope", "purchase"), "", 404},
      {"POST", OfferRoute("po-skin-1", "reveal"), "", 200},
  };
  const auto burst = [&](int threads, int each) {
    std::atomic<int> right{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        for (int i = 0; i < each; ++i) {
          const Request& r = mix[(t + i) % std::size(mix)];
          if (Call(r.method, r.target, r.body).status == r.status) ++right;
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
    return right.load();
  };
  EXPECT_EQ(burst(2, 12), 24);  // warms every path once
  const uint64_t before = PluginLiveBytes(host_);
  EXPECT_EQ(burst(4, 60), 240);
  EXPECT_EQ(PluginLiveBytes(host_), before);
}

}  // namespace
}  // namespace Tesk::Testing
