// Store fulfilment notifications: a fulfilled item that a cached offer sells
// makes the offers be fetched again.
#include "binding/conversion.h"
#include "personalized-offers/personalized_offers_plugin.h"

namespace Tesk::Client::PersonalizedOffers {
namespace {

// The record's item id, or 0 when `data` does not convert.
template <class Record, class Id>
int32_t ItemIdOf(const BindingProperty& data, const BindingRegistry& registry, Id Record::*id) {
  Record record;
  BindingResult converted;
  FromBinding(converted, record, data, "<value>", &registry);
  return converted.ok ? record.*id : 0;
}

}  // namespace

void PersonalizedOffersPlugin::OnStoreFulfillment(
    const Api::StoreFulfillmentNotification& notification) {
  int32_t itemId = 0;
  if (notification.inventoryType == Api::kInventoryChampion) {
    itemId = ItemIdOf(notification.data, Registry(), &Api::LcdsChampionDTO::championId);
  } else if (notification.inventoryType == Api::kInventoryChampionSkin) {
    itemId = ItemIdOf(notification.data, Registry(), &Api::LcdsChampionSkinDTO::skinId);
  }
  // Any cached offer of that item id, whatever its own inventory type, that
  // the list does not already show as owned: the purchase's own refresh has
  // told the UI of those (a bundle is announced once, not once per item).
  for (const Api::Offer& offer : offerCache_) {
    if (offer.itemId == itemId && !offer.owned) {
      (void)RefreshOffers();
      return;
    }
  }
}

}  // namespace Tesk::Client::PersonalizedOffers
