// The feature's three resource events as the registry describes them: the
// shape of each payload and the event's name, so that a host can list them
// beside the routes.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "personalized-offers/offer_types.h"
#include "plugin/plugin_manager_types.h"

namespace Tesk {
class BindingRegistry;
}

namespace Tesk::Client::PersonalizedOffers::Api {

// The payload of the offers event: the whole list after every change.
struct OffersEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Update;
  std::vector<UIOffer> data;
};

// The payload of the status and themed events.
struct FlagEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Update;
  bool data = false;
};

// Registers the two payload types under `prefix` and the events of
// `offersUri`, `statusUri` and `themedUri`, named as the host names the
// events of those resources.
void RegisterOfferEvents(BindingRegistry& registry, std::string_view prefix,
                         std::span<const std::string> tags, std::string_view offersUri,
                         std::string_view statusUri, std::string_view themedUri);

}  // namespace Tesk::Client::PersonalizedOffers::Api
