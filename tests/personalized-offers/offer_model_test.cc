// The feature's pure rules: pairing offers into UI offers, offer requests and
// paired champions, and reading the token's expiry.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "codecs/json.h"
#include "personalized-offers/offer_pairing.h"
#include "personalized-offers/token_expiry.h"

namespace Tesk::Client::PersonalizedOffers {
namespace {

Api::Offer Skin(const char* id, uint32_t spot, int32_t item, int64_t price) {
  return Api::Offer{id, "CHAMPION_SKIN", item, price, price / 2, id, false, false, "", spot};
}
Api::Offer Champion(const char* id, uint32_t spot, int32_t item, int64_t price, bool owned) {
  return Api::Offer{id, "CHAMPION", item, price, price / 2, id, owned, false, "", spot};
}

constexpr int64_t kMaxPrice = std::numeric_limits<int64_t>::max();
constexpr int64_t kMinPrice = std::numeric_limits<int64_t>::min();

std::string Describe(const std::vector<Api::UIOffer>& offers) {
  std::string text;
  for (const Api::UIOffer& o : offers) {
    text += o.id + ":" + o.type + ":" + std::to_string(o.championId) + ":" +
            std::to_string(o.originalPrice) + "/" + std::to_string(o.discountPrice) + " ";
  }
  return text;
}

TEST(OfferPairing, SkinsPairWithTheChampionOfTheirSpot) {
  struct Case {
    const char* label;
    std::vector<Api::Offer> offers;
    const char* expected;
  };
  const Case cases[] = {
      {"champions alone show nothing", {Champion("c", 0, 1, 100, false)}, ""},
      {"no champion in the spot", {Skin("s", 0, 5, 100)}, "s:SkinWithChampion:0:100/50 "},
      {"owned champion", {Skin("s", 0, 5, 100), Champion("c", 0, 7, 40, true)}, "s:Skin:7:100/50 "},
      {"champion not owned: summed prices",
       {Champion("c", 0, 7, 40, false), Skin("s", 0, 5, 100)},
       "s:SkinWithChampion:7:140/70 "},
      {"the later skin of a spot wins; sorted by spot",
       {Skin("b", 3, 5, 10),
        Skin("a", 1, 5, 20),
        Skin("b2", 3, 6, 30),
        {"x", "BUNDLE", 1, 1, 1, "x", false, false, "", 0}},
       "a:SkinWithChampion:0:20/10 b2:SkinWithChampion:0:30/15 "},
      // Hostile prices: the sums saturate instead of overflowing.
      {"summed prices beyond the largest",
       {Champion("c", 0, 7, kMaxPrice, false), Skin("s", 0, 5, kMaxPrice)},
       "s:SkinWithChampion:7:9223372036854775807/9223372036854775806 "},
      {"summed prices beyond the smallest",
       {Champion("c", 0, 7, kMinPrice, false), Skin("s", 0, 5, -1)},
       "s:SkinWithChampion:7:-9223372036854775808/-4611686018427387904 "},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(Describe(BuildUiOffers(test.offers)), test.expected) << test.label;
  }
}

TEST(OfferPairing, RequestsAndPairedChampions) {
  const std::vector<Api::Offer> cache = {Skin("s", 0, 5, 100), Champion("c", 0, 7, 40, false),
                                         Skin("t", 1, 6, 80)};
  const Api::OfferRequest request = OfferRequestFor(cache, "s");
  EXPECT_EQ(request.offerId, "s");
  EXPECT_EQ(request.inventoryType, "CHAMPION_SKIN");
  EXPECT_EQ(request.itemId, 5);
  EXPECT_EQ(request.price, 100);  // the original price, not the discounted one
  EXPECT_EQ(OfferRequestFor(cache, "nope").offerId, "invalid");
  EXPECT_EQ(PairedChampionOffer(cache, "s").offerId, "c");
  EXPECT_EQ(PairedChampionOffer(cache, "c").offerId, "c");
  EXPECT_EQ(PairedChampionOffer(cache, "t").offerId, "");
  EXPECT_EQ(PairedChampionOffer(cache, "nope").offerId, "");
}

TEST(OfferTypes, JsonFormsAndDefaults) {
  BindingRegistry registry;
  const std::vector<std::string> tags = {"Plugins"};
  Api::RegisterApiTypes(registry, "TavPersonalizedOffers", tags);
  ASSERT_NE(registry.FindTypeByName("TavPersonalizedOffersOffer"), nullptr);
  Api::Offer offer;
  ASSERT_TRUE(ParseJsonAs(R"({"offerId":"o","spotIndex":2})", &registry, offer));
  EXPECT_FALSE(offer.owned);  // absent members read as their default
  EXPECT_EQ(offer.spotIndex, 2u);
  const JsonWriteResult ids = WriteJsonFrom(Api::OfferIds{{{"a"}}}, &registry);
  EXPECT_EQ(ids.text, R"({"offers":[{"offerId":"a"}]})");
  Api::LoginSession session;
  ASSERT_TRUE(ParseJsonAs(R"({"state":"ERROR"})", &registry, session));
  EXPECT_EQ(static_cast<int>(session.state), 3);
}

TEST(TokenExpiry, TimeStampForms) {
  constexpr int64_t k2030 = 1893456000;  // 2030-01-01T00:00:00Z
  const std::pair<const char*, int64_t> cases[] = {
      {"2030-01-01T00:00:00.123Z", k2030},
      {"20300101T000000Z", k2030},
      {"2030-01-01t00:00:00", k2030},
      {"2030-01-01 00:00:00,5+00:00", k2030},
      {"2030-01-01T00:00:00-0000", k2030},
      {"20300101T000000.999+00", k2030},
      {"2030-01-01T00:00:00+01:00", -1},
      {"2030-01-01T00:00:00 Z", -1},
      {"2030-01-01X00:00:00Z", -1},
      {"2030-13-01T00:00:00Z", -1},
      {"2030-01-01T00:00", -1},
      {"2030", -1},
      {"", -1},
      {"2040-02-30T12:00:00Z", 2214216000},  // carried into March, as the UTC conversion does
      // The UTC conversion's range ends with the year 3000: later is no time.
      {"3000-12-31T23:59:59Z", 32535215999},
      {"3000-12-31T23:59:60Z", -1},
      {"3001-01-01T00:00:00Z", -1},
      {"9999-12-31T23:59:59Z", -1},
  };
  for (const auto& [text, seconds] : cases) EXPECT_EQ(ReadUtcTimestamp(text), seconds) << text;
  EXPECT_TRUE(IsTokenExpired("", 0));
  EXPECT_TRUE(IsTokenExpired("2030-01-01T00:00:00Z", k2030));
  EXPECT_FALSE(IsTokenExpired("2030-01-01T00:00:01Z", k2030));
  EXPECT_TRUE(IsTokenExpired("9999-12-31T23:59:59Z", k2030));
}

}  // namespace
}  // namespace Tesk::Client::PersonalizedOffers
