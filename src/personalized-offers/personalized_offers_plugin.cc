#include "personalized-offers/personalized_offers_plugin.h"

#include "personalized-offers/offer_events.h"

namespace Tesk::Client::PersonalizedOffers {

PersonalizedOffersPlugin::PersonalizedOffersPlugin() = default;
PersonalizedOffersPlugin::~PersonalizedOffersPlugin() = default;

void PersonalizedOffersPlugin::RegisterApi() {
  Api::RegisterLcdsTypes(Registry(), Tags());
  Api::RegisterApiTypes(Registry(), IdentifierName(), Tags());
  DeclareRoutes();
  Api::RegisterOfferEvents(Registry(), IdentifierName(), Tags(), kOffersUri, kStatusUri,
                           kThemedUri);
}

// Each observed resource that the host can read arrives at once, in this
// order: a plug-in started after login has its id token before the namespace
// handler authenticates.
bool PersonalizedOffersPlugin::Start() {
  ObserveResource<Api::LoginSession>(
      kSessionUri, [this](const std::string&, PluginResourceEventType type,
                          const Api::LoginSession* session) { OnSession(type, session); });
  ObserveResource(kRegionLocaleUri, [this](const std::string&, const PluginResourceEvent& event) {
    OnLocale(event.eventType, event.data);
  });
  ObserveResource(kNamespaceUri, [this](const std::string&, const PluginResourceEvent& event) {
    OnNamespace(event.eventType, event.data);
  });
  ObserveResource(kHubEnabledUri, [this](const std::string&, const PluginResourceEvent& event) {
    OnHubEnabled(event.eventType, event.data);
  });
  SubscribeLcds<Api::StoreFulfillmentNotification>(
      Api::kStoreFulfillmentClass, [this](const Api::StoreFulfillmentNotification& notification) {
        OnStoreFulfillment(notification);
      });
  return true;
}

}  // namespace Tesk::Client::PersonalizedOffers
