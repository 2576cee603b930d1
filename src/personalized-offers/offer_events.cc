#include "personalized-offers/offer_events.h"

#include "binding/binding_registry.h"
#include "plugin/event_names.h"

namespace Tesk::Client::PersonalizedOffers::Api {
namespace {

template <class T>
void RegisterPayload(BindingRegistry& registry, const std::string& name,
                     std::span<const std::string> tags) {
  auto payload = registry.BeginType<T>(name);
  payload.AddTags(tags);
  payload.Field("uri", &T::uri);
  payload.Field("eventType", &T::eventType);
  payload.Field("data", &T::data);
}

void RegisterEvent(BindingRegistry& registry, std::string_view uri, const std::string& payloadType,
                   std::span<const std::string> tags, std::string_view description) {
  EventBuilder event =
      registry.BeginEvent(EventNameForResource(uri), registry.FindTypeByName(payloadType));
  event.SetDescription(description);
  event.AddTags(tags);
}

}  // namespace

void RegisterOfferEvents(BindingRegistry& registry, std::string_view prefix,
                         std::span<const std::string> tags, std::string_view offersUri,
                         std::string_view statusUri, std::string_view themedUri) {
  const std::string offersEvent = std::string(prefix) + "OffersEvent";
  const std::string flagEvent = std::string(prefix) + "FlagEvent";
  RegisterPayload<OffersEvent>(registry, offersEvent, tags);
  RegisterPayload<FlagEvent>(registry, flagEvent, tags);
  RegisterEvent(registry, offersUri, offersEvent, tags,
                "The whole list of offers, whenever it changes: fetched, revealed, bought, or "
                "emptied for another player, locale or configuration.");
  RegisterEvent(registry, statusUri, flagEvent, tags,
                "Whether the feature is enabled, whenever the configuration changes it.");
  RegisterEvent(registry, themedUri, flagEvent, tags,
                "Whether the themed background is on, whenever the configuration changes it.");
}

}  // namespace Tesk::Client::PersonalizedOffers::Api
