// The mock offers service through HTTP: its server started in process on a
// free port, called with libcurl as the plug-in's requests are.
#include "mock_service/mock_offers_service.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "encoding/json_support.h"
#include "session/http_client.h"

namespace Tesk::DevHost {
namespace {

class MockOffersServiceTest : public ::testing::Test {
 protected:
  void StartMock(MockOffersOptions options = {}) {
    mock_ = std::make_unique<MockOffersService>(
        options, [this](const std::string& typeName, std::string body) {
          std::lock_guard<std::mutex> guard(mutex_);
          notifications_.push_back(typeName + " " + body);
        });
    server_ = std::make_unique<HttpServer>(HttpServerOptions{}, *mock_);
    std::string error;
    ASSERT_TRUE(server_->Start(error)) << error;
  }
  void SetUp() override { StartMock(); }
  void TearDown() override { server_->Stop(); }

  IncomingResponse Call(const std::string& method, const std::string& path,
                        const std::string& body = {}, const std::string& token = {}) {
    OutgoingRequest request;
    request.method = method;
    request.url = "http://127.0.0.1:" + std::to_string(server_->Port()) + path;
    request.headers.push_back({"Content-Type", "application/json"});
    if (!token.empty()) request.headers.push_back({"authorization", token});
    request.body = body;
    return client_.Send(request);
  }

  std::string Authenticate(const std::string& idToken = "id") {
    const IncomingResponse response = Call("POST", "/personalized-offers/v1/player/authenticate",
                                           R"({"tokenType":"jwt","token":")" + idToken + "\"}");
    rapidjson::Document answer;
    std::string error;
    EXPECT_TRUE(ParseJson(response.body, answer, error)) << response.body;
    return StringMember(answer, "token");
  }

  std::unique_ptr<MockOffersService> mock_;
  std::unique_ptr<HttpServer> server_;
  HttpClient client_;
  std::mutex mutex_;
  std::vector<std::string> notifications_;
};

TEST_F(MockOffersServiceTest, AuthenticatesAndListsOffersInTheLanguageAsked) {
  struct Case {
    const char* body;
    unsigned status;
  };
  for (const Case& test : {Case{R"({"tokenType":"oauth","token":"id"})", 400},
                           Case{R"({"tokenType":"jwt","token":""})", 401}, Case{"{", 400}}) {
    SCOPED_TRACE(test.body);
    EXPECT_EQ(Call("POST", "/personalized-offers/v1/player/authenticate", test.body).status,
              test.status);
  }
  EXPECT_EQ(Call("GET", "/personalized-offers/v1/player/offers?lang=en_US").status, 401u);
  EXPECT_EQ(Call("GET", "/personalized-offers/v1/player/offers?lang=en_US", "", "forged").status,
            401u);
  const std::string token = Authenticate();
  ASSERT_FALSE(token.empty());
  const IncomingResponse german =
      Call("GET", "/personalized-offers/v1/player/offers?lang=de_DE", "", token);
  ASSERT_EQ(german.status, 200u);
  rapidjson::Document offers;
  std::string error;
  ASSERT_TRUE(ParseJson(german.body, offers, error));
  ASSERT_EQ(offers["offers"].Size(), 8u);
  EXPECT_STREQ(offers["offers"][1]["name"].GetString(), "Sternengeschmiedete Vessa");
  EXPECT_EQ(Call("POST", "/personalized-offers/v1/player/offers", "", token).status, 405u);
}

TEST_F(MockOffersServiceTest, ViewingRevealsKnownOffersOnly) {
  const std::string token = Authenticate();
  const IncomingResponse viewed =
      Call("POST", "/personalized-offers/v1/player/offers/view?lang=en_US",
           R"({"offers":[{"offerId":"po-skin-3"},{"offerId":""},{"offerId":"po-skin-3"}]})", token);
  ASSERT_EQ(viewed.status, 200u);
  rapidjson::Document answer;
  std::string error;
  ASSERT_TRUE(ParseJson(viewed.body, answer, error));
  ASSERT_EQ(answer["offers"].Size(), 1u);
  EXPECT_TRUE(answer["offers"][0]["revealed"].GetBool());
}

TEST_F(MockOffersServiceTest, EachPlayerHasCataloguesOfTheirOwnAndEveryCallIsRecorded) {
  const std::string first = Authenticate("player-1");
  const std::string second = Authenticate("player-2");
  ASSERT_EQ(Call("POST", "/personalized-offers/v1/player/offers/view?lang=en_US",
                 R"({"offers":[{"offerId":"po-skin-3"}]})", first)
                .status,
            200u);
  const auto revealed = [&](const std::string& token) {
    rapidjson::Document offers;
    std::string error;
    EXPECT_TRUE(
        ParseJson(Call("GET", "/personalized-offers/v1/player/offers?lang=en_US", "", token).body,
                  offers, error));
    return offers["offers"][5]["revealed"].GetBool();  // po-skin-3
  };
  EXPECT_TRUE(revealed(first));
  EXPECT_FALSE(revealed(second));
  EXPECT_EQ(Call("GET", "/personalized-offers/v1/player/offers?lang=", "", "forged").status, 401u);

  const IncomingResponse recorded = Call("GET", "/mock/v1/requests?since=2");
  ASSERT_EQ(recorded.status, 200u);
  rapidjson::Document calls;
  std::string error;
  ASSERT_TRUE(ParseJson(recorded.body, calls, error)) << recorded.body;
  ASSERT_EQ(calls["requests"].Size(), 4u);  // the two authentications before it left out
  const rapidjson::Value& view = calls["requests"][0];
  EXPECT_EQ(view["sequence"].GetUint64(), 3u);
  EXPECT_STREQ(view["method"].GetString(), "POST");
  EXPECT_STREQ(view["target"].GetString(), "/personalized-offers/v1/player/offers/view?lang=en_US");
  EXPECT_EQ(view["authorization"].GetString(), first);
  EXPECT_STREQ(view["player"].GetString(), "player-1");
  EXPECT_EQ(view["status"].GetUint(), 200u);
  EXPECT_STREQ(view["body"].GetString(), R"({"offers":[{"offerId":"po-skin-3"}]})");
  EXPECT_STREQ(calls["requests"][2]["player"].GetString(), "player-2");
  const rapidjson::Value& forged = calls["requests"][3];
  EXPECT_STREQ(forged["player"].GetString(), "");
  EXPECT_STREQ(forged["authorization"].GetString(), "forged");
  EXPECT_EQ(forged["status"].GetUint(), 401u);
  EXPECT_EQ(Call("GET", "/mock/v1/requests?since=x").status, 400u);
  // The operator's view of one player, by default the one who authenticated last.
  EXPECT_NE(Call("GET", "/mock/v1/state").body.find(R"("player":"player-2")"), std::string::npos);
}

TEST_F(MockOffersServiceTest, AcceptChecksEveryRequestLikeAStrictService) {
  const std::string token = Authenticate();
  const auto accept = [&](const std::string& offers) {
    return Call("POST", "/personalized-offers/v1/player/offers/accept?lang=en_US",
                R"({"offers":[)" + offers + "]}", token);
  };
  const std::string skin2 =
      R"({"offerId":"po-skin-2","inventoryType":"CHAMPION_SKIN","itemId":48007,"price":1350})";
  const std::string champion2 =
      R"({"offerId":"po-champion-2","inventoryType":"CHAMPION","itemId":48,"price":975})";
  struct Case {
    const char* what;
    std::string offers;
    unsigned status;
  };
  const Case refused[] = {
      {"nothing", "", 400},
      {"unknown offer", R"({"offerId":"invalid","inventoryType":"","itemId":0,"price":0})", 404},
      {"offer twice", champion2 + "," + champion2, 400},
      {"discount price",
       R"({"offerId":"po-champion-2","inventoryType":"CHAMPION","itemId":48,"price":390})", 400},
      {"other item",
       R"({"offerId":"po-champion-2","inventoryType":"CHAMPION","itemId":49,"price":975})", 400},
      {"skin without its champion", skin2, 409},
      {"owned champion",
       R"({"offerId":"po-champion-1","inventoryType":"CHAMPION","itemId":31,"price":975})", 409},
  };
  for (const Case& test : refused) {
    SCOPED_TRACE(test.what);
    EXPECT_EQ(accept(test.offers).status, test.status);
  }
  const IncomingResponse bought = accept(skin2 + "," + champion2);
  ASSERT_EQ(bought.status, 200u) << bought.body;
  EXPECT_EQ(bought.body,
            R"({"items":[{"inventoryType":"CHAMPION_SKIN","itemId":48007,"pricePaid":675},)"
            R"({"inventoryType":"CHAMPION","itemId":48,"pricePaid":390}],"wallet":{"qp":3935}})");
  EXPECT_EQ(
      notifications_,
      (std::vector<std::string>{
          "com.teskgames.platform.messaging.StoreFulfillmentNotification "
          R"({"inventoryType":"CHAMPION_SKIN","data":{"championId":48,"owned":true,"skinId":48007}})",
          "com.teskgames.platform.messaging.StoreFulfillmentNotification "
          R"({"inventoryType":"CHAMPION","data":{"championId":48,"owned":true}})"}));
  EXPECT_EQ(accept(skin2).status, 409u);  // owned now
}

TEST_F(MockOffersServiceTest, RefusesWhatTheWalletCannotPayAndExpiredTokens) {
  server_->Stop();
  MockOffersOptions options;
  options.wallet = 100;
  options.tokenLifetime = std::chrono::seconds(0);
  StartMock(options);
  const std::string expired = Authenticate();
  EXPECT_EQ(Call("GET", "/personalized-offers/v1/player/offers?lang=", "", expired).status, 401u);

  server_->Stop();
  options.tokenLifetime = std::chrono::seconds(3600);
  StartMock(options);
  const IncomingResponse poor = Call(
      "POST", "/personalized-offers/v1/player/offers/accept?lang=",
      R"({"offers":[{"offerId":"po-skin-1","inventoryType":"CHAMPION_SKIN","itemId":31004,"price":1350}]})",
      Authenticate());
  EXPECT_EQ(poor.status, 402u) << poor.body;
  EXPECT_EQ(Call("GET", "/mock/v1/state").body.find(R"({"wallet":{"qp":100})"), 0u);
}

TEST_F(MockOffersServiceTest, EachPlayerHasACatalogueAndAWalletOfItsOwn) {
  const std::string first = Authenticate("first");
  const std::string champion2 =
      R"({"offers":[{"offerId":"po-champion-2","inventoryType":"CHAMPION","itemId":48,"price":975}]})";
  ASSERT_EQ(
      Call("POST", "/personalized-offers/v1/player/offers/accept?lang=", champion2, first).status,
      200u);
  ASSERT_EQ(Call("POST", "/personalized-offers/v1/player/offers/view?lang=",
                 R"({"offers":[{"offerId":"po-skin-3"}]})", first)
                .status,
            200u);
  const std::string second = Authenticate("second");
  const auto offer = [&](const std::string& token, size_t index) {
    const IncomingResponse listed =
        Call("GET", "/personalized-offers/v1/player/offers?lang=en_US", "", token);
    rapidjson::Document offers;
    std::string error;
    EXPECT_TRUE(ParseJson(listed.body, offers, error)) << listed.body;
    const rapidjson::Value& chosen = offers["offers"][static_cast<rapidjson::SizeType>(index)];
    return std::make_pair(chosen["owned"].GetBool(), chosen["revealed"].GetBool());
  };
  EXPECT_EQ(offer(first, 2), std::make_pair(true, true));    // po-champion-2 bought
  EXPECT_EQ(offer(first, 5), std::make_pair(false, true));   // po-skin-3 viewed
  EXPECT_EQ(offer(second, 2), std::make_pair(false, true));  // as the demo has it
  EXPECT_EQ(offer(second, 5), std::make_pair(false, false));
  // The state of the player named, or of the one who authenticated last.
  EXPECT_EQ(Call("GET", "/mock/v1/state?player=first").body.find(R"({"wallet":{"qp":4610})"), 0u);
  const std::string lastState = Call("GET", "/mock/v1/state").body;
  EXPECT_EQ(lastState.find(R"({"wallet":{"qp":5000})"), 0u) << lastState;
  EXPECT_NE(lastState.find(R"("player":"second")"), std::string::npos) << lastState;
  // The same id token is the same player again.
  EXPECT_EQ(offer(Authenticate("first"), 2), std::make_pair(true, true));
}

}  // namespace
}  // namespace Tesk::DevHost
