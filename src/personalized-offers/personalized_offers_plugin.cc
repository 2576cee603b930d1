#include "personalized-offers/personalized_offers_plugin.h"

namespace Tesk::Client::PersonalizedOffers {

PersonalizedOffersPlugin::PersonalizedOffersPlugin() = default;
PersonalizedOffersPlugin::~PersonalizedOffersPlugin() = default;

}  // namespace Tesk::Client::PersonalizedOffers
