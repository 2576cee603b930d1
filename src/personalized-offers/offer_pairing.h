// Pairing the offers the service sends into the offers the user interface
// shows: a skin offer and the champion offer of the same spot make one
// UIOffer, sold as the skin alone when the champion is owned.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "personalized-offers/offer_types.h"

namespace Tesk::Client::PersonalizedOffers {

// One UIOffer per distinct skin spot, in ascending spot order; the later of
// two offers of one type and spot counts. A bundle's prices are the sums of
// its two offers', saturated at the bounds of int64_t.
[[nodiscard]] std::vector<Api::UIOffer> BuildUiOffers(std::span<const Api::Offer> offers);

// The request to buy the cached offer `offerId`; offer id "invalid" and no
// item when it is not cached.
[[nodiscard]] Api::OfferRequest OfferRequestFor(std::span<const Api::Offer> cache,
                                                std::string_view offerId);

// The champion offer of the spot of the cached offer `offerId` (the last
// match); the empty offer when there is none or the id is not cached.
[[nodiscard]] Api::Offer PairedChampionOffer(std::span<const Api::Offer> cache,
                                             std::string_view offerId);

}  // namespace Tesk::Client::PersonalizedOffers
