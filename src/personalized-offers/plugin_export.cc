// The shared library's one export.
#include "plugin/plugin_export.h"
#include "personalized-offers/personalized_offers_plugin.h"
#include "plugin/plugin_loader.h"

KTX_PLUGIN_EXPORT void KTX_HOST_CALL load_tav_personalized_offers(Tesk::PluginLoadInfo* info) {
  Tesk::LoadPlugin<Tesk::Client::PersonalizedOffers::PersonalizedOffersPlugin>(
      info, Tesk::Client::PersonalizedOffers::kShortName);
}
