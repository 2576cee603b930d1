#include "personalized-offers/offer_pairing.h"

#include <limits>
#include <map>

namespace Tesk::Client::PersonalizedOffers {
namespace {

using SpotMap = std::map<uint32_t, Api::Offer>;

// Prices come from the service unchecked: a bundle price beyond the 64-bit
// range saturates at the nearest bound instead of overflowing.
int64_t SaturatingSum(int64_t a, int64_t b) {
  using Limits = std::numeric_limits<int64_t>;
  if (b > 0 && a > Limits::max() - b) return Limits::max();
  if (b < 0 && a < Limits::min() - b) return Limits::min();
  return a + b;
}

SpotMap OffersOfType(std::span<const Api::Offer> offers, std::string_view inventoryType) {
  SpotMap spots;
  for (const Api::Offer& offer : offers) {
    if (offer.inventoryType == inventoryType) spots.insert_or_assign(offer.spotIndex, offer);
  }
  return spots;
}

}  // namespace

std::vector<Api::UIOffer> BuildUiOffers(std::span<const Api::Offer> offers) {
  SpotMap champions = OffersOfType(offers, Api::kInventoryChampion);
  const SpotMap skins = OffersOfType(offers, Api::kInventoryChampionSkin);
  std::vector<Api::UIOffer> result;
  result.reserve(skins.size());
  for (const auto& [spot, skin] : skins) {
    // A spot without a champion offer pairs with the empty offer.
    const Api::Offer& champion = champions.try_emplace(spot).first->second;
    Api::UIOffer ui;
    ui.id = skin.offerId;
    ui.skinName = skin.name;
    ui.skinId = skin.itemId;
    ui.championId = champion.itemId;
    ui.owned = skin.owned;
    ui.revealed = skin.revealed;
    ui.expirationDate = skin.expirationDate;
    if (champion.owned) {
      ui.type = Api::kUiTypeSkin;
      ui.originalPrice = skin.originalPrice;
      ui.discountPrice = skin.discountPrice;
    } else {
      ui.type = Api::kUiTypeSkinWithChampion;
      ui.originalPrice = SaturatingSum(champion.originalPrice, skin.originalPrice);
      ui.discountPrice = SaturatingSum(champion.discountPrice, skin.discountPrice);
    }
    result.push_back(std::move(ui));
  }
  return result;
}

Api::OfferRequest OfferRequestFor(std::span<const Api::Offer> cache, std::string_view offerId) {
  for (const Api::Offer& offer : cache) {
    if (offer.offerId == offerId) {
      return Api::OfferRequest{std::string(offerId), offer.inventoryType, offer.itemId,
                               offer.originalPrice};
    }
  }
  return Api::OfferRequest{Api::kInvalidOfferId, {}, 0, 0};
}

Api::Offer PairedChampionOffer(std::span<const Api::Offer> cache, std::string_view offerId) {
  const Api::Offer* match = nullptr;
  for (const Api::Offer& offer : cache) {
    if (offer.offerId == offerId) match = &offer;
  }
  if (match == nullptr) return Api::Offer{};
  SpotMap champions = OffersOfType(cache, Api::kInventoryChampion);
  const auto champion = champions.find(match->spotIndex);
  return champion != champions.end() ? champion->second : Api::Offer{};
}

}  // namespace Tesk::Client::PersonalizedOffers
