#include <gtest/gtest.h>

#include "rest/function_names.h"

namespace Tesk {
namespace {

struct NameCase {
  const char* method;
  const char* templateText;
  const char* name;
};

constexpr NameCase kNameCases[] = {
    {"GET", "/tav-personalized-offers/v1/status", "GetTavPersonalizedOffersV1Status"},
    {"POST", "/tav-personalized-offers/v1/offers/{id}/reveal",
     "PostTavPersonalizedOffersV1OffersByIdReveal"},
    {"", "tav-personalized-offers", "TavPersonalizedOffers"},
    {"DELETE", "/a.b+c!d_e", "DeleteABCDE"},
    {"PUT", "/x/{first}{second}", "PutXByFirstBySecond"},
    {"", "", ""},
};

TEST(DeriveFunctionName, FollowsTheSeparatorRule) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(c.templateText);
    EXPECT_EQ(DeriveFunctionName(c.method, c.templateText), c.name);
  }
}

}  // namespace
}  // namespace Tesk
