// The seven routes under "/tav-personalized-offers/v1/", and the bundle rule
// of reveal and purchase by id: a skin offer goes with the champion offer of
// its spot.
#include "diagnostics/format.h"
#include "personalized-offers/offer_pairing.h"
#include "personalized-offers/personalized_offers_plugin.h"
#include "rest/route_declaration.h"

namespace Tesk::Client::PersonalizedOffers {

void PersonalizedOffersPlugin::DeclareRoutes() {
  BindingRegistry& registry = Registry();
  DeclareRoute(registry, HttpMethod::Get, "/tav-personalized-offers/v1/status", [this] {
    return hubEnabled_;
  }).AddTags(Tags());
  DeclareRoute(registry, HttpMethod::Get, "/tav-personalized-offers/v1/themed", [this] {
    return themedBackground_;
  }).AddTags(Tags());
  DeclareRoute(registry, HttpMethod::Get, "/tav-personalized-offers/v1/offers", [this] {
    return GetOffers();
  }).AddTags(Tags());
  DeclareRoute(registry, HttpMethod::Post, "/tav-personalized-offers/v1/offers/{id}/reveal",
               [this](const std::string& id) { return RevealById(id); })
      .PathArgument<std::string>("id")
      .AddTags(Tags());
  DeclareRoute(registry, HttpMethod::Post, "/tav-personalized-offers/v1/offers/reveal",
               [this](const Api::OfferIds& ids) { return MarkViewed(ids); })
      .BodyArgument<Api::OfferIds>("offerIds")
      .AddTags(Tags());
  DeclareRoute(registry, HttpMethod::Post, "/tav-personalized-offers/v1/offers/{id}/purchase",
               [this](const std::string& id) { return PurchaseById(id); })
      .PathArgument<std::string>("id")
      .AddTags(Tags());
  DeclareRoute(registry, HttpMethod::Post, "/tav-personalized-offers/v1/offers/purchase",
               [this](const Api::OfferRequests& requests) { return Accept(requests); })
      .BodyArgument<Api::OfferRequests>("offerRequests")
      .AddTags(Tags());
}

// The skin and the champion offer of its spot are revealed together. Only
// real ids are sent: the champion's when the spot has one and it is not the
// revealed offer itself.
Outcome<UiOffers> PersonalizedOffersPlugin::RevealById(const std::string& id) {
  if (!hubEnabled_) return Outcome<UiOffers>::Error(404, kNotEnabled);
  const uint64_t generation = playerGeneration_;
  EnsureToken();
  Api::OfferIds ids{{Api::OfferId{id}}};
  const Api::Offer champion = PairedChampionOffer(offerCache_, id);
  if (!champion.offerId.empty() && champion.offerId != id) {
    ids.offers.push_back(Api::OfferId{champion.offerId});
  }
  return SendView(ids, generation);
}

// The offer, and its spot's champion offer when the player does not own that
// champion. Nothing is requested twice, and nothing that is not cached.
Outcome<Api::PurchaseResponse> PersonalizedOffersPlugin::PurchaseById(const std::string& id) {
  using Result = Api::PurchaseResponse;
  if (!hubEnabled_) return Outcome<Result>::Error(404, kNotEnabled);
  const uint64_t generation = playerGeneration_;
  EnsureToken();
  Api::OfferRequest request = OfferRequestFor(offerCache_, id);
  if (request.offerId == Api::kInvalidOfferId) {
    RefreshOffers();
    if (generation != playerGeneration_)
      return Outcome<Result>::Error(kPlayerChangedStatus, kPlayerChanged);
    request = OfferRequestFor(offerCache_, id);
  }
  if (request.offerId == Api::kInvalidOfferId) {
    return Outcome<Result>::Error(404, Format("Offer id not found or not valid: %s", id));
  }
  Api::OfferRequests requests{{request}};
  const Api::Offer champion = PairedChampionOffer(offerCache_, id);
  if (!champion.owned) {
    Api::OfferRequest championRequest = OfferRequestFor(offerCache_, champion.offerId);
    if (championRequest.offerId != Api::kInvalidOfferId && championRequest.offerId != id) {
      requests.offers.push_back(std::move(championRequest));
    }
  }
  return SendAccept(requests, generation);
}

}  // namespace Tesk::Client::PersonalizedOffers
