#include "personalized-offers/offer_types.h"

#include <string>

#include "binding/binding_registry.h"

namespace Tesk::Client::PersonalizedOffers::Api {
namespace {

// Begins a type with the plug-in's tags; `javaClass` (may be empty) is kept as
// the type's namespace, where help shows it.
template <class T>
NativeTypeBuilder<T> Begin(BindingRegistry& registry, const std::string& name,
                           std::span<const std::string> tags, std::string_view javaClass = {}) {
  NativeTypeBuilder<T> builder = registry.BeginType<T>(name);
  builder.AddTags(tags);
  if (!javaClass.empty()) builder.SetNamespace(javaClass);
  return builder;
}

}  // namespace

void RegisterLcdsTypes(BindingRegistry& registry, std::span<const std::string> tags) {
  auto configuration = Begin<LcdsClientDynamicConfigurationNotification>(
      registry, "PersonalizedOffersLcdsClientDynamicConfigurationNotification", tags,
      "com.teskgames.platform.client.dynamic.configuration.ClientDynamicConfigurationNotification");
  configuration.Field("configs", &LcdsClientDynamicConfigurationNotification::configs);
  configuration.Field("delta", &LcdsClientDynamicConfigurationNotification::delta);

  auto fulfillment = Begin<StoreFulfillmentNotification>(
      registry, "PersonalizedOffersStoreFulfillmentNotification", tags, kStoreFulfillmentClass);
  fulfillment.Field("inventoryType", &StoreFulfillmentNotification::inventoryType);
  fulfillment.Field("data", &StoreFulfillmentNotification::data);

  auto skin = Begin<LcdsChampionSkinDTO>(registry, "PersonalizedOffersLcdsChampionSkinDTO", tags,
                                         "com.teskgames.platform.catalog.champion.ChampionSkinDTO");
  skin.Field("championId", &LcdsChampionSkinDTO::championId);
  skin.Field("owned", &LcdsChampionSkinDTO::owned);
  skin.Field("skinId", &LcdsChampionSkinDTO::skinId);

  auto champion = Begin<LcdsChampionDTO>(registry, "PersonalizedOffersLcdsChampionDTO", tags,
                                         "com.teskgames.platform.catalog.champion.ChampionDTO");
  champion.Field("championId", &LcdsChampionDTO::championId);
  champion.Field("owned", &LcdsChampionDTO::owned);
}

void RegisterApiTypes(BindingRegistry& registry, std::string_view prefix,
                      std::span<const std::string> tags) {
  const auto name = [prefix](const char* type) { return std::string(prefix) + type; };

  auto authRequest = Begin<AuthenticationRequest>(registry, name("AuthenticationRequest"), tags);
  authRequest.Field("tokenType", &AuthenticationRequest::tokenType);
  authRequest.Field("token", &AuthenticationRequest::token);

  auto authResponse = Begin<AuthenticationResponse>(registry, name("AuthenticationResponse"), tags);
  authResponse.Field("token", &AuthenticationResponse::token);
  authResponse.Field("expiration", &AuthenticationResponse::expiration);

  auto wallet = Begin<Wallet>(registry, name("Wallet"), tags);
  wallet.Field("qp", &Wallet::qp);

  auto offer = Begin<Offer>(registry, name("Offer"), tags);
  offer.Field("offerId", &Offer::offerId);
  offer.Field("inventoryType", &Offer::inventoryType);
  offer.Field("itemId", &Offer::itemId);
  offer.Field("originalPrice", &Offer::originalPrice);
  offer.Field("discountPrice", &Offer::discountPrice);
  offer.Field("name", &Offer::name);
  offer.Field("owned", &Offer::owned);
  offer.Field("revealed", &Offer::revealed);
  offer.Field("expirationDate", &Offer::expirationDate);
  offer.Field("spotIndex", &Offer::spotIndex);

  auto offers = Begin<Offers>(registry, name("Offers"), tags);
  offers.Field("offers", &Offers::offers);

  auto offerId = Begin<OfferId>(registry, name("OfferId"), tags);
  offerId.Field("offerId", &OfferId::offerId);

  auto offerIds = Begin<OfferIds>(registry, name("OfferIds"), tags);
  offerIds.Field("offers", &OfferIds::offers);

  auto offerRequest = Begin<OfferRequest>(registry, name("OfferRequest"), tags);
  offerRequest.Field("offerId", &OfferRequest::offerId);
  offerRequest.Field("inventoryType", &OfferRequest::inventoryType);
  offerRequest.Field("itemId", &OfferRequest::itemId);
  offerRequest.Field("price", &OfferRequest::price);

  auto offerRequests = Begin<OfferRequests>(registry, name("OfferRequests"), tags);
  offerRequests.Field("offers", &OfferRequests::offers);

  auto purchaseItem = Begin<PurchaseItem>(registry, name("PurchaseItem"), tags);
  purchaseItem.Field("inventoryType", &PurchaseItem::inventoryType);
  purchaseItem.Field("itemId", &PurchaseItem::itemId);
  purchaseItem.Field("pricePaid", &PurchaseItem::pricePaid);

  auto purchase = Begin<PurchaseResponse>(registry, name("PurchaseResponse"), tags);
  purchase.Field("items", &PurchaseResponse::items);
  purchase.Field("wallet", &PurchaseResponse::wallet);

  auto states = Begin<LoginSessionStates>(registry, name("LoginSessionStates"), tags);
  states.Enumerator("IN_PROGRESS", LoginSessionStates::IN_PROGRESS);
  states.Enumerator("ERROR", LoginSessionStates::ERROR);
  states.Enumerator("SUCCEEDED", LoginSessionStates::SUCCEEDED);
  states.Enumerator("LOGGING_OUT", LoginSessionStates::LOGGING_OUT);

  auto session = Begin<LoginSession>(registry, name("LoginSession"), tags);
  session.Field("state", &LoginSession::state);
  session.Field("summonerId", &LoginSession::summonerId);
  session.Field("accountId", &LoginSession::accountId);
  session.Field("idToken", &LoginSession::idToken);
  session.Field("gasToken", &LoginSession::gasToken);

  auto ui = Begin<UIOffer>(registry, name("UIOffer"), tags);
  ui.Field("id", &UIOffer::id);
  ui.Field("originalPrice", &UIOffer::originalPrice);
  ui.Field("discountPrice", &UIOffer::discountPrice);
  ui.Field("type", &UIOffer::type);
  ui.Field("skinName", &UIOffer::skinName);
  ui.Field("championId", &UIOffer::championId);
  ui.Field("skinId", &UIOffer::skinId);
  ui.Field("owned", &UIOffer::owned);
  ui.Field("revealed", &UIOffer::revealed);
  ui.Field("expirationDate", &UIOffer::expirationDate);
}

}  // namespace Tesk::Client::PersonalizedOffers::Api
