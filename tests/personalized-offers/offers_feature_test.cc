// The personalized offers feature inside a host: the loaded library driven
// through its export, its function table and the core interface only.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "codecs/json.h"
#include "personalized-offers/offers_world.h"

namespace Tesk::Testing {
namespace {

constexpr char kStatus[] = "/tav-personalized-offers/v1/status";
constexpr char kThemed[] = "/tav-personalized-offers/v1/themed";
constexpr char kOffers[] = "/tav-personalized-offers/v1/offers";
constexpr char kNamespace[] = "/tav-platform-config/v1/namespaces/PersonalizedOffers";
constexpr char kHubEnabled[] = "/tav-platform-config/v1/namespaces/PersonalizedOffers/HubEnabled";
constexpr char kSession[] = "/tav-login/v1/session";

// Spot 0: a skin whose champion is not owned; spot 1: a skin whose champion is
// owned; spot 2: a skin without a champion offer.
std::vector<ServiceOffer> Catalogue() {
  return {
      {"s0", "CHAMPION_SKIN", 100, 1350, 675, "Skin Zero", false, false, 0},
      {"c0", "CHAMPION", 10, 450, 225, "Champion Zero", false, false, 0},
      {"s1", "CHAMPION_SKIN", 101, 975, 487, "Skin One", false, true, 1},
      {"c1", "CHAMPION", 11, 790, 395, "Champion One", true, false, 1},
      {"s2", "CHAMPION_SKIN", 102, 750, 375, "Skin Two", false, false, 2},
  };
}

const char kCatalogueUi[] =
    R"([{"championId":10,"discountPrice":900,"expirationDate":"2026-12-24T10:00:00Z","id":"s0",)"
    R"("originalPrice":1800,"owned":false,"revealed":false,"skinId":100,"skinName":"Skin Zero",)"
    R"("type":"SkinWithChampion"},)"
    R"({"championId":11,"discountPrice":487,"expirationDate":"2026-12-24T10:00:00Z","id":"s1",)"
    R"("originalPrice":975,"owned":false,"revealed":true,"skinId":101,"skinName":"Skin One",)"
    R"("type":"Skin"},)"
    R"({"championId":0,"discountPrice":375,"expirationDate":"2026-12-24T10:00:00Z","id":"s2",)"
    R"("originalPrice":750,"owned":false,"revealed":false,"skinId":102,"skinName":"Skin Two",)"
    R"("type":"SkinWithChampion"}])";

class OffersFeature : public ::testing::Test {
 protected:
  OffersFeature() { world_.Service().offers = Catalogue(); }

  // A logged-in player with the feature configured, started, recordings cleared.
  void StartPlayer() {
    world_.SetUpPlayer();
    world_.Load();
    world_.Host().ClearRecordings();
  }
  static std::string Header(const HttpCall& call, const std::string& name) {
    for (const auto& [key, value] : call.headers) {
      if (key == name) return value;
    }
    return "(none)";
  }

  OffersWorld world_;
};

// A world whose player's list is loaded, recordings cleared.
void LoadListedPlayer(OffersWorld& world) {
  world.Service().offers = Catalogue();
  world.SetUpPlayer();
  world.Load();
  ASSERT_FALSE(world.Get(kOffers).failed);
  world.Host().ClearRecordings();
}

using Change = std::function<void(OffersWorld&)>;

// Each change that makes the cached list nobody's: another player, a
// sign-out, a new locale, the configuration's deletion.
std::vector<std::pair<const char*, Change>> ChangesOfPlayerOrList() {
  return {
      {"another player",
       [](OffersWorld& w) { w.SetResource(kSession, OffersWorld::Session(2, "id-2")); }},
      {"session deleted", [](OffersWorld& w) { w.DeleteResource(kSession); }},
      {"logging out",
       [](OffersWorld& w) {
         w.SetResource(kSession, OffersWorld::Session(1, "id-token-1", "LOGGING_OUT"));
       }},
      {"a new locale",
       [](OffersWorld& w) {
         w.SetResource("/teskclient/region-locale",
                       TestValue::Structure({{"locale", TestValue::String("de_DE")}}));
       }},
      {"configuration deleted", [](OffersWorld& w) { w.DeleteResource(kNamespace); }},
  };
}

TEST_F(OffersFeature, BeforeStartNothingIsEnabled) {
  world_.Load(false);
  EXPECT_EQ(world_.Get(kStatus).value, "false");
  EXPECT_EQ(world_.Get(kThemed).value, "false");
  const FunctionReply offers = world_.Get(kOffers);
  EXPECT_TRUE(offers.failed);
  EXPECT_EQ(offers.error, "Personalized Offers not enabled");
  EXPECT_EQ(offers.status, 404u);
  EXPECT_TRUE(world_.Host().HttpCalls().empty());
}

TEST_F(OffersFeature, StartAfterLoginAuthenticatesOnceAndFetchesNothing) {
  world_.SetUpPlayer();
  world_.Load();
  EXPECT_EQ(world_.Service().authentications, 1);
  EXPECT_TRUE(world_.ServiceCalls("v1/player/offers").empty());
  // The namespace turned the feature on, then its key announced its value.
  const std::vector<SentEvent> status = world_.EventsFor(kStatus);
  ASSERT_EQ(status.size(), 2u);
  for (const SentEvent& event : status) {
    EXPECT_EQ(event.payload,
              R"({"data":true,"eventType":"Update","uri":")" + std::string(kStatus) + "\"}");
  }
  EXPECT_EQ(world_.Get(kStatus).value, "true");

  // The authentication request as the service receives it.
  const std::vector<HttpCall> auth = world_.ServiceCalls("v1/player/authenticate");
  ASSERT_EQ(auth.size(), 1u);
  EXPECT_EQ(auth[0].url, "https://po.test:443/po/v1/player/authenticate");
  // Members in name order, as every structure is written.
  EXPECT_EQ(auth[0].body, "{\r\n    \"token\": \"id-token-1\",\r\n    \"tokenType\": \"jwt\"\r\n}");
  ASSERT_FALSE(auth[0].headers.empty());
  EXPECT_EQ(auth[0].headers[0].first, "user-agent");
  EXPECT_EQ(auth[0].headers[0].second, "TeskClient/18.0.0 (tav-personalized-offers)");
  EXPECT_EQ(Header(auth[0], "Content-Type"), "application/json");
  EXPECT_EQ(auth[0].timeout, 30u);
  EXPECT_EQ(auth[0].flag, 1u);
}

TEST_F(OffersFeature, StartWithoutAnyResourceStillSucceeds) {
  world_.Load();
  EXPECT_TRUE(world_.Host().IsRunning());
  EXPECT_EQ(world_.Service().authentications, 0);
}

TEST_F(OffersFeature, FirstReadFetchesAndTheSecondIsServedFromTheCache) {
  StartPlayer();
  const FunctionReply first = world_.Get(kOffers);
  ASSERT_FALSE(first.failed) << first.error;
  EXPECT_EQ(first.value, kCatalogueUi);
  const std::vector<HttpCall> fetches = world_.ServiceCalls("v1/player/offers");
  ASSERT_EQ(fetches.size(), 1u);
  EXPECT_EQ(fetches[0].url, "https://po.test:443/po/v1/player/offers?lang=en_US");
  EXPECT_EQ(Header(fetches[0], "authorization"), "service-token-id-token-1");
  const std::vector<SentEvent> events = world_.EventsFor(kOffers);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].payload, R"({"data":)" + std::string(kCatalogueUi) +
                                   R"(,"eventType":"Update","uri":")" + kOffers + "\"}");

  world_.Host().ClearRecordings();
  EXPECT_EQ(world_.Get(kOffers).value, kCatalogueUi);
  EXPECT_TRUE(world_.Host().HttpCalls().empty());
  EXPECT_TRUE(world_.Host().SentEvents().empty());
}

TEST_F(OffersFeature, RevealByIdSendsTheSkinAndItsChampionAndMerges) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.Host().ClearRecordings();
  const FunctionReply reveal = world_.Post("/tav-personalized-offers/v1/offers/s0/reveal");
  ASSERT_FALSE(reveal.failed) << reveal.error;
  const std::vector<HttpCall> views = world_.ServiceCalls("v1/player/offers/view");
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0].body,
            "{\r\n    \"offers\": [\r\n        {\r\n            \"offerId\": \"s0\"\r\n        },"
            "\r\n        {\r\n            \"offerId\": \"c0\"\r\n        }\r\n    ]\r\n}");
  EXPECT_NE(reveal.value.find(R"("id":"s0","originalPrice":1800,"owned":false,"revealed":true)"),
            std::string::npos);
  EXPECT_EQ(world_.EventsFor(kOffers).size(), 1u);

  // By list: the body goes to the service as it is.
  const FunctionReply list =
      world_.Post("/tav-personalized-offers/v1/offers/reveal", R"({"offers":[{"offerId":"s2"}]})");
  ASSERT_FALSE(list.failed) << list.error;
  EXPECT_NE(list.value.find(R"("id":"s2","originalPrice":750,"owned":false,"revealed":true)"),
            std::string::npos);
}

struct PurchaseCase {
  const char* id;
  const char* expectedBody;  // the offer requests the service receives
};

TEST_F(OffersFeature, PurchaseByIdRequestsTheOfferAndAnUnownedChampionOnce) {
  const PurchaseCase cases[] = {
      // The champion of the spot is not owned: both, each at its original price.
      {"s0",
       R"({"offers":[{"inventoryType":"CHAMPION_SKIN","itemId":100,"offerId":"s0","price":1350},)"
       R"({"inventoryType":"CHAMPION","itemId":10,"offerId":"c0","price":450}]})"},
      // Owned champion: the skin alone.
      {"s1", R"({"offers":[{"inventoryType":"CHAMPION_SKIN","itemId":101,"offerId":"s1",)"
             R"("price":975}]})"},
      // No champion offer in the spot: the skin alone, no placeholder entry.
      {"s2", R"({"offers":[{"inventoryType":"CHAMPION_SKIN","itemId":102,"offerId":"s2",)"
             R"("price":750}]})"},
      // The spot's own champion: requested once, not twice.
      {"c0", R"({"offers":[{"inventoryType":"CHAMPION","itemId":10,"offerId":"c0",)"
             R"("price":450}]})"},
  };
  for (const PurchaseCase& test : cases) {
    SCOPED_TRACE(test.id);
    OffersWorld world;
    world.Service().offers = Catalogue();
    world.SetUpPlayer();
    world.Load();
    ASSERT_FALSE(world.Get(kOffers).failed);
    world.Host().ClearRecordings();
    const FunctionReply purchase =
        world.Post(std::string("/tav-personalized-offers/v1/offers/") + test.id + "/purchase");
    ASSERT_FALSE(purchase.failed) << purchase.error;
    const std::vector<HttpCall> accepts = world.ServiceCalls("v1/player/offers/accept");
    ASSERT_EQ(accepts.size(), 1u);
    const BindingResult sent = ParseJson(accepts[0].body);
    EXPECT_EQ(WriteJson(sent.value, nullptr, {}), test.expectedBody);
    // The purchase refreshed the offers and announced them before answering.
    const std::vector<HttpCall> calls = world.Host().HttpCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[1].url.find("v1/player/offers?lang=en_US"), std::string::npos);
    EXPECT_EQ(world.EventsFor(kOffers).size(), 1u);
  }
}

TEST_F(OffersFeature, PurchaseAnswersWithTheServicesResult) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  const FunctionReply purchase = world_.Post("/tav-personalized-offers/v1/offers/s1/purchase");
  EXPECT_EQ(purchase.value,
            R"({"items":[{"inventoryType":"CHAMPION_SKIN","itemId":101,"pricePaid":487}],)"
            R"("wallet":{"qp":4513}})");
  // By list: nothing looked up or added.
  const FunctionReply list = world_.Post(
      "/tav-personalized-offers/v1/offers/purchase",
      R"({"offers":[{"offerId":"s2","inventoryType":"CHAMPION_SKIN","itemId":102,"price":1}]})");
  EXPECT_EQ(list.value,
            R"({"items":[{"inventoryType":"CHAMPION_SKIN","itemId":102,"pricePaid":375}],)"
            R"("wallet":{"qp":4138}})");
}

TEST_F(OffersFeature, PurchaseOfAnUnknownIdRefreshesOnceThenFails) {
  StartPlayer();
  const FunctionReply purchase = world_.Post("/tav-personalized-offers/v1/offers/zz/purchase");
  EXPECT_TRUE(purchase.failed);
  EXPECT_EQ(purchase.error, "Offer id not found or not valid: zz");
  EXPECT_EQ(purchase.status, 404u);
  EXPECT_EQ(world_.ServiceCalls("v1/player/offers?").size(), 1u);
  EXPECT_EQ(world_.EventsFor(kOffers).size(), 1u);
  EXPECT_TRUE(world_.ServiceCalls("accept").empty());
}

TEST_F(OffersFeature, DisabledFeatureRefusesServiceWorkButServesItsCache) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.DeleteResource(kHubEnabled);
  world_.Host().ClearRecordings();
  for (const char* url : {"/tav-personalized-offers/v1/offers/s0/purchase",
                          "/tav-personalized-offers/v1/offers/s0/reveal"}) {
    const FunctionReply reply = world_.Post(url);
    EXPECT_EQ(reply.error, "Personalized Offers not enabled") << url;
    EXPECT_EQ(reply.status, 404u);
  }
  EXPECT_EQ(world_.Get(kOffers).value, kCatalogueUi);
  EXPECT_TRUE(world_.Host().HttpCalls().empty());
}

// Transport failures, 5xx and unreadable answers are the route's 500; the
// service's refusals keep their status and message, except a refusal of the
// plug-in's own credentials, which is no fault of the caller's: 502.
TEST_F(OffersFeature, ServiceFailuresBecomeRouteErrors) {
  struct Case {
    const char* failingPart;
    HttpAnswer answer;
    const char* method;
    const char* url;
    const char* error;
    uint32_t status = 500;
  };
  const Case cases[] = {
      {"v1/player/offers?",
       {0, 503, {}, "down"},
       "GET",
       kOffers,
       "Could not get offers from https://po.test:443/po/v1/player/offers?lang=en_US with error: "
       "down"},
      {"v1/player/offers?",
       {0, 200, {}, "not json"},
       "GET",
       kOffers,
       "Couldn't deserialize offer response: not json"},
      {"view",
       {1, 0, {}, "no route"},
       "POST",
       "/tav-personalized-offers/v1/offers/s0/reveal",
       "Could not mark offer as viewed from https://po.test:443/po/v1/player/offers/view?lang="
       "en_US with error: no route"},
      {"accept",
       {0, 503, {}, "busy"},
       "POST",
       "/tav-personalized-offers/v1/offers/purchase",
       "Could not accept offer from https://po.test:443/po/v1/player/offers/accept?lang=en_US "
       "with error: busy"},
      {"accept",
       {0, 402, {}, "no money"},
       "POST",
       "/tav-personalized-offers/v1/offers/purchase",
       "no money",
       402},
      {"accept",
       {0, 409, {}, R"({"message":"Offer s0 is already owned"})"},
       "POST",
       "/tav-personalized-offers/v1/offers/s0/purchase",
       "Offer s0 is already owned",
       409},
      {"view",
       {0, 400, {}, ""},
       "POST",
       "/tav-personalized-offers/v1/offers/reveal",
       "Could not mark offer as viewed from https://po.test:443/po/v1/player/offers/view?lang="
       "en_US with error: ",
       400},
      {"v1/player/offers?",
       {0, 401, {}, R"({"message":"Unknown or expired service token"})"},
       "GET",
       kOffers,
       "Unknown or expired service token",
       502},
      {"view",
       {0, 403, {}, "forbidden"},
       "POST",
       "/tav-personalized-offers/v1/offers/s0/reveal",
       "forbidden",
       502},
      {"accept",
       {0, 200, {}, "[1]"},
       "POST",
       "/tav-personalized-offers/v1/offers/purchase",
       "Couldn't deserialize purchase response: [1]"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.error);
    OffersWorld world;
    world.Service().offers = Catalogue();
    world.Service().failures[test.failingPart] = test.answer;
    world.SetUpPlayer();
    world.Load();
    const FunctionReply reply = std::string(test.method) == "GET"
                                    ? world.Get(test.url)
                                    : world.Post(test.url, R"({"offers":[]})");
    EXPECT_TRUE(reply.failed);
    EXPECT_EQ(reply.error, test.error);
    EXPECT_EQ(reply.status, test.status);
  }
}

// A refusal of the service token makes the next call authenticate again.
TEST_F(OffersFeature, ARefusedServiceTokenIsReplacedOnTheNextCall) {
  StartPlayer();
  world_.Service().failures["v1/player/offers?"] = {0, 401, {}, "expired"};
  EXPECT_EQ(world_.Get(kOffers).status, 502u);
  world_.Service().failures.clear();
  world_.Host().ClearRecordings();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  EXPECT_EQ(world_.ServiceCalls("authenticate").size(), 1u);
}

TEST_F(OffersFeature, FulfilmentOfACachedItemRefetches) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.Host().ClearRecordings();
  struct Case {
    const char* inventoryType;
    TestValue data;
    size_t fetches;
  };
  const Case cases[] = {
      {"CHAMPION", TestValue::Structure({{"championId", TestValue::Signed(10)}}), 1},
      // A skin notification is matched by its skin id, never its champion id.
      {"CHAMPION_SKIN",
       TestValue::Structure(
           {{"championId", TestValue::Signed(10)}, {"skinId", TestValue::Signed(5)}}),
       0},
      {"CHAMPION_SKIN", TestValue::Structure({{"skinId", TestValue::Signed(102)}}), 1},
      {"BUNDLE", TestValue::Structure({{"championId", TestValue::Signed(10)}}), 0},
      // The list shows the player owning that champion already.
      {"CHAMPION", TestValue::Structure({{"championId", TestValue::Signed(11)}}), 0},
  };
  for (const Case& test : cases) {
    world_.Host().ClearRecordings();
    world_.Fulfil(test.inventoryType, test.data);
    EXPECT_EQ(world_.ServiceCalls("v1/player/offers?").size(), test.fetches) << test.inventoryType;
    EXPECT_EQ(world_.EventsFor(kOffers).size(), test.fetches);
  }
}

TEST_F(OffersFeature, DeletingTheNamespaceSendsStatusThenThemedBothFalse) {
  StartPlayer();
  world_.DeleteResource(kNamespace);
  const std::vector<SentEvent> sent = world_.Host().SentEvents();
  std::vector<std::string> names;
  for (const SentEvent& event : sent) names.push_back(event.name + " " + event.payload);
  EXPECT_EQ(
      names,
      (std::vector<std::string>{
          "OnJsonApiEvent_tav-personalized-offers_v1_status "
          R"({"data":false,"eventType":"Update","uri":"/tav-personalized-offers/v1/status"})",
          "OnJsonApiEvent "
          R"({"data":false,"eventType":"Update","uri":"/tav-personalized-offers/v1/status"})",
          "OnJsonApiEvent_tav-personalized-offers_v1_themed "
          R"({"data":false,"eventType":"Update","uri":"/tav-personalized-offers/v1/themed"})",
          "OnJsonApiEvent "
          R"({"data":false,"eventType":"Update","uri":"/tav-personalized-offers/v1/themed"})"}));
  EXPECT_EQ(world_.Get(kOffers).error, "Personalized Offers not enabled");
}

// A second player never sees the first player's token or offers.
TEST_F(OffersFeature, ANewPlayerAuthenticatesAfresh) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.DeleteResource(kSession);
  world_.Service().offers = {{"p2", "CHAMPION_SKIN", 200, 100, 50, "Other", false, false, 0}};
  world_.SetResource(kSession, OffersWorld::Session(2, "id-token-2"));
  world_.Host().ClearRecordings();
  const FunctionReply offers = world_.Get(kOffers);
  ASSERT_FALSE(offers.failed) << offers.error;
  EXPECT_NE(offers.value.find(R"("id":"p2")"), std::string::npos);
  EXPECT_EQ(offers.value.find(R"("id":"s0")"), std::string::npos);
  const std::vector<HttpCall> calls = world_.Host().HttpCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls[0].body.find("id-token-2"), std::string::npos);
  EXPECT_EQ(Header(calls[1], "authorization"), "service-token-id-token-2");

  // A new id token without a logout in between counts as another player too.
  world_.SetResource(kSession, OffersWorld::Session(3, "id-token-3", "LOGGING_OUT"));
  world_.SetResource(kSession, OffersWorld::Session(3, "id-token-3"));
  world_.Host().ClearRecordings();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  EXPECT_EQ(Header(world_.ServiceCalls("v1/player/offers?").at(0), "authorization"),
            "service-token-id-token-3");

  // Another account's ready session while one is ready: another player too.
  world_.SetResource(kSession, OffersWorld::Session(4, "id-token-4"));
  world_.Host().ClearRecordings();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  ASSERT_EQ(world_.ServiceCalls("v1/player/authenticate").size(), 1u);
  EXPECT_EQ(Header(world_.ServiceCalls("v1/player/offers?").at(0), "authorization"),
            "service-token-id-token-4");
}

// Every session state that is not ready is a sign-out: nothing of the
// player's is kept, nothing goes to the service, and the routes say why.
TEST_F(OffersFeature, ASessionThatIsNotReadySignsThePlayerOut) {
  const std::function<void(OffersWorld&)> signOuts[] = {
      [](OffersWorld& world) {
        world.SetResource(kSession, OffersWorld::Session(1, "id-token-1", "LOGGING_OUT"));
      },
      [](OffersWorld& world) {
        world.SetResource(kSession, OffersWorld::Session(1, "id-token-1", "ERROR"));
      },
      [](OffersWorld& world) { world.SetResource(kSession, OffersWorld::Session(0, "id-0")); },
      [](OffersWorld& world) { world.DeleteResource(kSession); },
  };
  for (const auto& signOut : signOuts) {
    OffersWorld world;
    LoadListedPlayer(world);
    signOut(world);
    ASSERT_EQ(world.EventsFor(kOffers).size(), 1u);
    EXPECT_EQ(world.EventsFor(kOffers)[0].payload,
              R"({"data":[],"eventType":"Update","uri":")" + std::string(kOffers) + "\"}");
    const std::pair<const char*, std::optional<std::string>> routes[] = {
        {kOffers, std::nullopt},
        {"/tav-personalized-offers/v1/offers/s0/reveal", std::nullopt},
        {"/tav-personalized-offers/v1/offers/reveal", R"({"offers":[{"offerId":"s0"}]})"},
        {"/tav-personalized-offers/v1/offers/s0/purchase", std::nullopt},
        {"/tav-personalized-offers/v1/offers/purchase",
         R"({"offers":[{"offerId":"s2","inventoryType":"CHAMPION_SKIN","itemId":102,"price":1}]})"},
    };
    for (const auto& [url, body] : routes) {
      const FunctionReply reply =
          url == std::string(kOffers) ? world.Get(url) : world.Post(url, body);
      EXPECT_EQ(reply.status, 409u) << url;
      EXPECT_EQ(reply.error, "No player is signed in.") << url;
    }
    // Nothing authenticates without an id token, not even a new configuration.
    world.SetResource(kNamespace, world.Namespace());
    EXPECT_TRUE(world.Host().HttpCalls().empty());
    EXPECT_EQ(world.Get(kStatus).value, "true");

    // The next player starts from nothing.
    world.SetResource(kSession, OffersWorld::Session(1, "id-token-again"));
    world.Host().ClearRecordings();
    ASSERT_FALSE(world.Get(kOffers).failed);
    ASSERT_EQ(world.ServiceCalls("authenticate").size(), 1u);
    EXPECT_NE(world.ServiceCalls("authenticate")[0].body.find("id-token-again"), std::string::npos);
  }
}

// The same account with a new id token: the next call authenticates with it,
// and the player's offers stay.
TEST_F(OffersFeature, ARotatedIdTokenIsUsedFromTheNextCall) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.Host().ClearRecordings();
  world_.SetResource(kSession, OffersWorld::Session(1, "id-token-rotated"));
  EXPECT_TRUE(world_.EventsFor(kOffers).empty());
  EXPECT_EQ(world_.Get(kOffers).value, kCatalogueUi);
  EXPECT_TRUE(world_.Host().HttpCalls().empty());  // served from the cache
  ASSERT_FALSE(world_.Post("/tav-personalized-offers/v1/offers/s0/reveal").failed);
  const std::vector<HttpCall> calls = world_.Host().HttpCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls[0].body.find("id-token-rotated"), std::string::npos);
  EXPECT_EQ(Header(calls[1], "authorization"), "service-token-id-token-rotated");

  // A token issued for the id token that a rotation replaced while the
  // authentication was out is not kept.
  world_.Service().reentryOn = "authenticate";
  world_.Service().reentry = [this] {
    world_.SetResource(kSession, OffersWorld::Session(1, "id-token-third"));
  };
  world_.SetResource(kSession, OffersWorld::Session(1, "id-token-second"));
  world_.Host().ClearRecordings();
  ASSERT_FALSE(world_.Post("/tav-personalized-offers/v1/offers/s0/reveal").failed);
  ASSERT_EQ(world_.ServiceCalls("view").size(), 1u);
  EXPECT_EQ(Header(world_.ServiceCalls("view")[0], "authorization"), "(none)");
  world_.Host().ClearRecordings();
  ASSERT_FALSE(world_.Post("/tav-personalized-offers/v1/offers/s0/reveal").failed);
  EXPECT_EQ(Header(world_.ServiceCalls("view").at(0), "authorization"),
            "service-token-id-token-third");
}

// A configuration change authenticates only when the token in hand will not
// do: none, expired, or issued at another address.
TEST_F(OffersFeature, AConfigurationChangeAuthenticatesOnlyWhenItMust) {
  StartPlayer();
  world_.SetResource(kNamespace, world_.Namespace());
  EXPECT_TRUE(world_.ServiceCalls("authenticate").empty());

  world_.Service().baseUrl = "https://po2.test:443/po/";
  TestValue moved = world_.Namespace();
  moved = TestValue::Structure({{"HubEnabled", TestValue::Bool(true)},
                                {"Protocol", TestValue::String("https://")},
                                {"BaseServiceURL", TestValue::String("po2.test")},
                                {"Port", TestValue::Signed(443)},
                                {"ServicePath", TestValue::String("po/")},
                                {"ThemedBackground", TestValue::Bool(false)}});
  world_.SetResource(kNamespace, moved);
  ASSERT_EQ(world_.ServiceCalls("authenticate").size(), 1u);
  EXPECT_EQ(world_.ServiceCalls("authenticate")[0].url,
            "https://po2.test:443/po/v1/player/authenticate");

  world_.Host().ClearRecordings();
  world_.Service().expiration = "";  // what it issues from now on has expired
  world_.Service().failures["authenticate"] = {0, 503, {}, "down"};
  world_.SetResource(kNamespace, moved);
  EXPECT_TRUE(world_.ServiceCalls("authenticate").empty());  // the token still holds
}

// Enabled and themed are announced whenever the configuration changes them.
TEST_F(OffersFeature, ConfigurationChangesAnnounceEnabledAndThemed) {
  StartPlayer();
  struct Case {
    bool enabled;
    bool themed;
    const char* statusEvents;
    const char* themedEvents;
  };
  const Case cases[] = {
      {true, false, "", ""},
      {true, true, "", "true"},
      {false, true, "false", ""},
      {true, false, "true", "false"},
  };
  for (const Case& test : cases) {
    world_.Host().ClearRecordings();
    world_.SetResource(kNamespace, world_.Namespace(test.enabled, test.themed));
    const auto values = [this](const char* uri) {
      std::string text;
      for (const SentEvent& event : world_.EventsFor(uri)) {
        text += ParseJson(event.payload).value.Member("data").Truth() ? "true" : "false";
      }
      return text;
    };
    EXPECT_EQ(values(kStatus), test.statusEvents);
    EXPECT_EQ(values(kThemed), test.themedEvents);
  }
}

TEST_F(OffersFeature, ConfigurationKeysAndTheirLogLines) {
  world_.SetResource(kSession, OffersWorld::Session(1, "id"));
  world_.SetResource(kNamespace, TestValue::Structure({{"HubEnabled", TestValue::String("yes")},
                                                       {"Protocol", TestValue::String("http://")},
                                                       {"ServicePath", TestValue::String("p/")}}));
  world_.Load();
  std::vector<std::string> errors;
  for (const HostLogLine& line : world_.Host().LogLines()) {
    if (line.level == 2) errors.push_back(line.text);
  }
  ASSERT_GE(errors.size(), 4u);
  EXPECT_NE(errors[0].find("JMX missing BaseServiceURL config!"), std::string::npos);
  EXPECT_NE(errors[1].find("JMX missing Port config!"), std::string::npos);
  EXPECT_NE(errors[2].find("JMX missing ThemedBackgound config!"), std::string::npos);
  // The service is not at "http://:/p/": authentication fails and says where it tried.
  EXPECT_NE(errors[3].find("Could not Authenticate against http://:/p/v1/player/authenticate to "
                           "PO service: unreachable"),
            std::string::npos);
  EXPECT_EQ(world_.Get(kStatus).value, "false");  // "yes" is not true
}

TEST_F(OffersFeature, AFailedAuthenticationIsLoggedAndTheCallGoesOn) {
  world_.Service().failures["authenticate"] = {0, 200, {}, "garbage"};
  world_.Service().expiration = "";
  world_.SetUpPlayer();
  world_.Load();
  std::vector<std::string> errors;
  for (const HostLogLine& line : world_.Host().LogLines()) {
    if (line.level == 2) errors.push_back(line.text);
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Couldn't deserialize authentication response: garbage"),
            std::string::npos);
  world_.Host().ClearRecordings();
  // The offers call authenticates again (still no token), then goes out
  // without "authorization" and reports what the service answers.
  const FunctionReply offers = world_.Get(kOffers);
  EXPECT_FALSE(offers.failed) << offers.error;
  const std::vector<HttpCall> calls = world_.Host().HttpCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(Header(calls[1], "authorization"), "(none)");
  EXPECT_EQ(Header(calls[1], "Content-Type"), "application/json");
}

// The offer ids a reveal by id sends: the offer and its spot's champion offer,
// only when there is one and it is another offer.
TEST_F(OffersFeature, RevealByIdSendsOnlyRealIds) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"s0", {"s0", "c0"}},
      {"s2", {"s2"}},  // no champion offer in the spot
      {"c0", {"c0"}},  // the spot's own champion
  };
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  for (const auto& [id, expected] : cases) {
    world_.Host().ClearRecordings();
    (void)world_.Post(std::string("/tav-personalized-offers/v1/offers/") + id + "/reveal");
    const std::vector<HttpCall> views = world_.ServiceCalls("v1/player/offers/view");
    ASSERT_EQ(views.size(), 1u) << id;
    const BindingResult body = ParseJson(views[0].body);
    std::vector<std::string> sent;
    for (const BindingProperty& offer : body.value.Member("offers").Elements()) {
      sent.emplace_back(offer.Member("offerId").GetString());
    }
    EXPECT_EQ(sent, expected) << id;
  }
}

// A reveal pairs from a loaded list: before the first read it fetches the
// list first, and that fetch's failure is its answer.
TEST_F(OffersFeature, ARevealBeforeTheFirstReadFetchesTheListFirst) {
  StartPlayer();
  const FunctionReply byId = world_.Post("/tav-personalized-offers/v1/offers/s0/reveal");
  ASSERT_FALSE(byId.failed) << byId.error;
  EXPECT_NE(byId.value.find(R"("championId":10,"discountPrice":900,"expirationDate":)"
                            R"("2026-12-24T10:00:00Z","id":"s0","originalPrice":1800,)"
                            R"("owned":false,"revealed":true,)"),
            std::string::npos)
      << byId.value;
  const std::vector<HttpCall> calls = world_.Host().HttpCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls[0].url.find("v1/player/offers?lang="), std::string::npos);
  const BindingResult viewed = ParseJson(calls[1].body);
  ASSERT_EQ(viewed.value.Member("offers").Elements().size(), 2u);
  EXPECT_EQ(viewed.value.Member("offers").Elements()[1].Member("offerId").GetString(), "c0");
  EXPECT_EQ(world_.EventsFor(kOffers).size(), 2u);  // the list, then the revealed list

  OffersWorld failing;
  failing.Service().offers = Catalogue();
  failing.Service().failures["v1/player/offers?"] = {0, 503, {}, "down"};
  failing.SetUpPlayer();
  failing.Load();
  for (const auto& [url, body] :
       {std::pair<const char*, const char*>{"/tav-personalized-offers/v1/offers/s0/reveal",
                                            nullptr},
        {"/tav-personalized-offers/v1/offers/reveal", R"({"offers":[{"offerId":"s0"}]})"}}) {
    failing.Host().ClearRecordings();
    const FunctionReply reply = body == nullptr ? failing.Post(url) : failing.Post(url, body);
    EXPECT_EQ(reply.status, 500u) << url;
    EXPECT_EQ(reply.error,
              "Could not get offers from https://po.test:443/po/v1/player/offers?lang=en_US with "
              "error: down");
    EXPECT_TRUE(failing.ServiceCalls("view").empty());
    EXPECT_TRUE(failing.EventsFor(kOffers).empty());
  }
}

TEST_F(OffersFeature, RevealingAnIdTheLoadedListLacksIsRefused) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.Host().ClearRecordings();
  const FunctionReply reply = world_.Post("/tav-personalized-offers/v1/offers/zz/reveal");
  EXPECT_EQ(reply.status, 404u);
  EXPECT_EQ(reply.error, "Offer id not found or not valid: zz");
  EXPECT_TRUE(world_.Host().HttpCalls().empty());
  EXPECT_TRUE(world_.Host().SentEvents().empty());
}

// A refresh that fails keeps the list the UI was told of; one by a purchase
// of an uncached id answers with its own failure.
TEST_F(OffersFeature, AFailedRefreshKeepsTheCachedList) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.Host().ClearRecordings();
  world_.Service().failures["v1/player/offers?"] = {0, 503, {}, "down"};
  world_.Fulfil("CHAMPION", TestValue::Structure({{"championId", TestValue::Signed(10)}}));
  const FunctionReply bought = world_.Post("/tav-personalized-offers/v1/offers/s2/purchase");
  ASSERT_FALSE(bought.failed) << bought.error;  // sold; only its refresh failed
  const FunctionReply unknown = world_.Post("/tav-personalized-offers/v1/offers/zz/purchase");
  EXPECT_EQ(unknown.status, 500u);
  EXPECT_EQ(unknown.error,
            "Could not get offers from https://po.test:443/po/v1/player/offers?lang=en_US with "
            "error: down");
  EXPECT_EQ(world_.ServiceCalls("v1/player/offers?").size(), 3u);
  EXPECT_TRUE(world_.EventsFor(kOffers).empty());
  size_t logged = 0;
  for (const HostLogLine& line : world_.Host().LogLines()) {
    logged += line.text.find("Could not refresh the offers") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(logged, 3u);
  world_.Host().ClearRecordings();
  EXPECT_EQ(world_.Get(kOffers).value, kCatalogueUi);
  EXPECT_TRUE(world_.Host().HttpCalls().empty());
}

// A bundle is announced once: the purchase's refresh shows both items owned,
// so their fulfilment notifications fetch nothing more.
TEST_F(OffersFeature, ABundlePurchaseFetchesAndAnnouncesOnce) {
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.Host().ClearRecordings();
  ASSERT_FALSE(world_.Post("/tav-personalized-offers/v1/offers/s0/purchase").failed);
  world_.Fulfil("CHAMPION_SKIN", TestValue::Structure({{"skinId", TestValue::Signed(100)}}));
  world_.Fulfil("CHAMPION", TestValue::Structure({{"championId", TestValue::Signed(10)}}));
  EXPECT_EQ(world_.ServiceCalls("v1/player/offers?").size(), 1u);
  EXPECT_EQ(world_.EventsFor(kOffers).size(), 1u);
}

// The locale goes into every service URL as one query value.
TEST_F(OffersFeature, TheLocaleIsOneQueryValue) {
  const std::pair<const char*, const char*> cases[] = {
      {"de_DE", "lang=de_DE"},
      {"de_DE&admin=1#x", "lang=de_DE%26admin%3D1%23x"},
      {"pt BR", "lang=pt%20BR"},
      {"", "lang="},
  };
  StartPlayer();
  for (const auto& [locale, query] : cases) {
    world_.SetResource("/teskclient/region-locale",
                       TestValue::Structure({{"locale", TestValue::String(locale)}}));
    world_.Host().ClearRecordings();
    ASSERT_FALSE(world_.Get(kOffers).failed);
    ASSERT_FALSE(world_.Post("/tav-personalized-offers/v1/offers/s0/reveal").failed);
    ASSERT_FALSE(world_.Post("/tav-personalized-offers/v1/offers/s2/purchase").failed);
    for (const char* call : {"v1/player/offers?", "view?", "accept?"}) {
      ASSERT_FALSE(world_.ServiceCalls(call).empty()) << call;
      const std::string url = world_.ServiceCalls(call)[0].url;
      EXPECT_EQ(url.substr(url.find('?') + 1), query) << locale;
    }
  }
}

// Emptying a cache that held a list announces the empty list; a cache that
// held nothing announces nothing.
TEST_F(OffersFeature, AChangeOfPlayerOrConfigurationAnnouncesTheEmptiedList) {
  const std::string emptied =
      R"({"data":[],"eventType":"Update","uri":")" + std::string(kOffers) + "\"}";
  for (const auto& [what, change] : ChangesOfPlayerOrList()) {
    SCOPED_TRACE(what);
    OffersWorld world;
    LoadListedPlayer(world);
    change(world);
    const std::vector<SentEvent> events = world.EventsFor(kOffers);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, emptied);
    world.Host().ClearRecordings();
    change(world);  // nothing cached any more
    EXPECT_TRUE(world.EventsFor(kOffers).empty());
  }
}

// A host may run other calls into the plug-in while it waits for the service.
// An answer that arrives after the player changed is dropped and the waiting
// call fails; a call of the same player re-entered meanwhile corrupts nothing.
TEST_F(OffersFeature, AnswersOutlivingTheirPlayerAreDropped) {
  StartPlayer();
  world_.Service().reentryOn = "v1/player/offers?";
  world_.Service().reentry = [this] {
    world_.Service().offers = {{"p2", "CHAMPION_SKIN", 200, 100, 50, "Other", false, false, 0}};
    world_.SetResource(kSession, OffersWorld::Session(2, "id-token-2"));
  };
  const FunctionReply stale = world_.Get(kOffers);
  EXPECT_TRUE(stale.failed);
  EXPECT_EQ(stale.status, 409u);
  EXPECT_EQ(stale.error,
            "The player changed while waiting for the offers service; its answer was dropped");
  EXPECT_TRUE(world_.EventsFor(kOffers).empty());

  // Nothing of the first player's answer was kept: the new player authenticates and fetches.
  world_.Host().ClearRecordings();
  const FunctionReply fresh = world_.Get(kOffers);
  ASSERT_FALSE(fresh.failed) << fresh.error;
  EXPECT_NE(fresh.value.find(R"("id":"p2")"), std::string::npos);
  EXPECT_EQ(fresh.value.find(R"("id":"s0")"), std::string::npos);
  ASSERT_EQ(world_.ServiceCalls("v1/player/offers?").size(), 1u);
  EXPECT_EQ(Header(world_.ServiceCalls("v1/player/offers?")[0], "authorization"),
            "service-token-id-token-2");
}

TEST_F(OffersFeature, AnAuthenticationOutlivingItsPlayerIsDropped) {
  world_.Service().expiration = "";  // every call authenticates first
  StartPlayer();
  world_.Service().reentryOn = "authenticate";
  world_.Service().reentry = [this] { world_.DeleteResource(kSession); };
  const FunctionReply reply = world_.Get(kOffers);
  EXPECT_EQ(reply.status, 409u);
  // The first player's token never reached a request: nothing went out after it.
  EXPECT_TRUE(world_.ServiceCalls("v1/player/offers?").empty());
  world_.SetResource(kSession, OffersWorld::Session(2, "id-token-2"));
  world_.Host().ClearRecordings();
  world_.Service().failures["authenticate"] = {0, 500, {}, "down"};
  ASSERT_FALSE(world_.Get(kOffers).failed);
  EXPECT_EQ(Header(world_.ServiceCalls("v1/player/offers?").at(0), "authorization"), "(none)");
}

// A purchase the service made is answered to its caller whatever changed
// while it was out; only the refresh is left out, since the cache is no
// longer that player's.
TEST_F(OffersFeature, APurchaseOutlivingItsPlayerIsStillAnswered) {
  for (const auto& [what, change] : ChangesOfPlayerOrList()) {
    SCOPED_TRACE(what);
    OffersWorld world;
    LoadListedPlayer(world);
    world.Service().reentryOn = "accept";
    world.Service().reentry = [&world, &change = change] { change(world); };
    const FunctionReply purchase = world.Post("/tav-personalized-offers/v1/offers/s1/purchase");
    ASSERT_FALSE(purchase.failed) << purchase.error;
    EXPECT_EQ(purchase.value,
              R"({"items":[{"inventoryType":"CHAMPION_SKIN","itemId":101,"pricePaid":487}],)"
              R"("wallet":{"qp":4513}})");
    EXPECT_TRUE(world.ServiceCalls("v1/player/offers?").empty());  // no refresh
    EXPECT_TRUE(world.EventsFor(kOffers).size() <= 1u);            // at most the emptied list
  }
}

// The service's refusal of a purchase that outlived its player is still
// that purchase's answer; a refused token then is the old player's, and the
// new player's is kept.
TEST_F(OffersFeature, ARefusalOutlivingItsPlayerIsAnsweredAndForgetsNothing) {
  const std::pair<HttpAnswer, uint32_t> cases[] = {
      {{0, 409, {}, R"({"message":"Offer s1 is already owned"})"}, 409},
      {{0, 401, {}, R"({"message":"Offer s1 is already owned"})"}, 502},
  };
  for (const auto& [refusal, status] : cases) {
    OffersWorld world;
    LoadListedPlayer(world);
    world.Service().reentryOn = "accept";
    world.Service().reentry = [&world, refusal = refusal] {
      world.SetResource(kSession, OffersWorld::Session(2, "id-2"));
      (void)world.Get(kOffers);  // the new player authenticates and reads
      world.Service().failures["accept"] = refusal;
    };
    const FunctionReply purchase = world.Post("/tav-personalized-offers/v1/offers/s1/purchase");
    EXPECT_EQ(purchase.status, status);
    EXPECT_EQ(purchase.error, "Offer s1 is already owned");
    world.Host().ClearRecordings();
    ASSERT_FALSE(world.Post("/tav-personalized-offers/v1/offers/s0/reveal").failed);
    EXPECT_TRUE(world.ServiceCalls("authenticate").empty()) << status;
  }
}

// A purchase that never reached the service keeps the 409.
TEST_F(OffersFeature, APurchaseNotSentBeforeThePlayerChangedFails) {
  world_.Service().expiration = "";  // every call authenticates first
  StartPlayer();
  ASSERT_FALSE(world_.Get(kOffers).failed);
  world_.Host().ClearRecordings();
  world_.Service().reentryOn = "authenticate";
  world_.Service().reentry = [this] {
    world_.SetResource(kSession, OffersWorld::Session(2, "id-token-2"));
  };
  const FunctionReply purchase = world_.Post("/tav-personalized-offers/v1/offers/s1/purchase");
  EXPECT_EQ(purchase.status, 409u);
  EXPECT_EQ(purchase.error,
            "The player changed while waiting for the offers service; its answer was dropped");
  EXPECT_TRUE(world_.ServiceCalls("accept").empty());
}

TEST_F(OffersFeature, AReadReenteredByThePlayerKeepsOneWholeList) {
  StartPlayer();
  FunctionReply inner;
  world_.Service().reentryOn = "v1/player/offers?";
  world_.Service().reentry = [this, &inner] { inner = world_.Get(kOffers); };
  const FunctionReply outer = world_.Get(kOffers);
  ASSERT_FALSE(outer.failed) << outer.error;
  EXPECT_EQ(inner.value, kCatalogueUi);
  EXPECT_EQ(outer.value, kCatalogueUi);
  world_.Host().ClearRecordings();
  EXPECT_EQ(world_.Get(kOffers).value, kCatalogueUi);
  EXPECT_TRUE(world_.Host().HttpCalls().empty());
}

}  // namespace
}  // namespace Tesk::Testing
