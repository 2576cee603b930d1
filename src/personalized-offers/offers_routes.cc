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

// The skin and the champion offer of its spot are revealed together, paired
// from a loaded list (fetched first when none is). Only real ids are sent:
// the champion's when the spot has one and it is not the revealed offer
// itself; an id the list lacks is refused before anything is sent.
Outcome<UiOffers> PersonalizedOffersPlugin::RevealById(const std::string& id) {
  if (auto refusal = Refusal<UiOffers>()) return std::move(*refusal);
  if (auto failure = LoadOffers<UiOffers>()) return std::move(*failure);
  if (OfferRequestFor(offerCache_, id).offerId == Api::kInvalidOfferId) {
    return Outcome<UiOffers>::Error(404, Format(kOfferNotFound, id));
  }
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
// champion. Nothing is requested twice, and nothing that is not cached. An id
// the cache lacks is looked for once more in a fetched list; a fetch that
// fails answers with its own failure.
Outcome<Api::PurchaseResponse> PersonalizedOffersPlugin::PurchaseById(const std::string& id) {
  using Result = Api::PurchaseResponse;
  if (auto refusal = Refusal<Result>()) return std::move(*refusal);
  const uint64_t generation = playerGeneration_;
  EnsureToken();
  Api::OfferRequest request = OfferRequestFor(offerCache_, id);
  if (request.offerId == Api::kInvalidOfferId) {
    Outcome<UiOffers> refreshed = RefreshOffers();
    if (!refreshed.success) {
      return Outcome<Result>::Error(refreshed.status.httpStatus, std::move(refreshed.error));
    }
    if (generation != playerGeneration_)
      return Outcome<Result>::Error(kPlayerChangedStatus, kPlayerChanged);
    request = OfferRequestFor(offerCache_, id);
  }
  if (request.offerId == Api::kInvalidOfferId) {
    return Outcome<Result>::Error(404, Format(kOfferNotFound, id));
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
