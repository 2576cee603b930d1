#include "personalized-offers/offers_world.h"

#include <gtest/gtest.h>

#include "binding/binding_property.h"
#include "codecs/json.h"
#include "plugin/event_names.h"
#include "support/plugin_library_path.h"

namespace Tesk::Testing {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string OfferJson(const ServiceOffer& offer) {
  return "{\"offerId\":" + Quoted(offer.offerId) +
         ",\"inventoryType\":" + Quoted(offer.inventoryType) +
         ",\"itemId\":" + std::to_string(offer.itemId) +
         ",\"originalPrice\":" + std::to_string(offer.originalPrice) +
         ",\"discountPrice\":" + std::to_string(offer.discountPrice) +
         ",\"name\":" + Quoted(offer.name) + ",\"owned\":" + (offer.owned ? "true" : "false") +
         ",\"revealed\":" + (offer.revealed ? "true" : "false") +
         ",\"expirationDate\":\"2026-12-24T10:00:00Z\",\"spotIndex\":" +
         std::to_string(offer.spotIndex) + "}";
}

std::string OffersJson(const std::vector<const ServiceOffer*>& offers) {
  std::string json = "{\"offers\":[";
  for (size_t i = 0; i < offers.size(); ++i) json += (i > 0 ? "," : "") + OfferJson(*offers[i]);
  return json + "]}";
}

HttpAnswer Json(std::string body, uint32_t status = 200) {
  return HttpAnswer{0, status, {{"content-type", "application/json"}}, std::move(body)};
}

}  // namespace

// The library stays mapped: these tests drive the feature, not unloading, and
// the process-wide objects the feature's first calls create stay reachable.
OffersWorld::OffersWorld() : host_(PluginLibraryPath(), true) {
  host_.SetApiHandler([this](const ApiCall& call) { return AnswerApi(call); });
  host_.SetHttpHandler([this](const HttpCall& call) { return AnswerHttp(call); });
}

OffersWorld::~OffersWorld() {
  if (host_.IsRunning()) host_.Shutdown();
}

void OffersWorld::Load(bool start) {
  ASSERT_TRUE(host_.Library()->IsLoaded()) << host_.Library()->Error();
  ASSERT_TRUE(host_.Load());
  if (start) {
    ASSERT_TRUE(host_.Initialize());
  }
}

// The resources the host holds are answered before this is asked.
ApiAnswer OffersWorld::AnswerApi(const ApiCall& call) {
  if (call.method == 2) return ApiAnswer::Failure("Resource not found", 404);
  if (call.method == 6 && call.url.starts_with("/telemetry/v1/events/")) {
    return ApiAnswer::Value(TestValue());
  }
  return ApiAnswer::Failure("Not found", 404);
}

// The offers service of the catalogue: authentication issues a token per id
// token, view reveals, accept buys and charges the wallet.
HttpAnswer OffersWorld::AnswerHttp(const HttpCall& call) {
  if (service_.reentry && call.url.find(service_.reentryOn) != std::string::npos) {
    const std::function<void()> reentry = std::move(service_.reentry);
    service_.reentry = nullptr;
    reentry();
  }
  for (const auto& [part, answer] : service_.failures) {
    if (call.url.find(part) != std::string::npos) return answer;
  }
  if (!call.url.starts_with(service_.baseUrl)) return HttpAnswer{1, 0, {}, "unreachable"};
  const std::string path = call.url.substr(service_.baseUrl.size());
  const BindingResult body = ParseJson(call.body);
  if (path == "v1/player/authenticate" && call.method == 6) {
    ++service_.authentications;
    const std::string token =
        service_.issuedTokenPrefix + std::string(body.value.Member("token").GetString());
    return Json("{\"token\":" + Quoted(token) + ",\"expiration\":" + Quoted(service_.expiration) +
                "}");
  }
  std::vector<const ServiceOffer*> listed;
  if (path.starts_with("v1/player/offers?lang=") && call.method == 2) {
    for (const ServiceOffer& offer : service_.offers) listed.push_back(&offer);
    return Json(OffersJson(listed));
  }
  if (path.starts_with("v1/player/offers/view?lang=") && call.method == 6) {
    for (const BindingProperty& id : body.value.Member("offers").Elements()) {
      for (ServiceOffer& offer : service_.offers) {
        if (offer.offerId == id.Member("offerId").GetString()) {
          offer.revealed = true;
          listed.push_back(&offer);
        }
      }
    }
    return Json(OffersJson(listed));
  }
  if (path.starts_with("v1/player/offers/accept?lang=") && call.method == 6) {
    std::string items;
    for (const BindingProperty& request : body.value.Member("offers").Elements()) {
      for (ServiceOffer& offer : service_.offers) {
        if (offer.offerId != request.Member("offerId").GetString()) continue;
        offer.owned = true;
        service_.wallet -= offer.discountPrice;
        items += std::string(items.empty() ? "" : ",") +
                 "{\"inventoryType\":" + Quoted(offer.inventoryType) +
                 ",\"itemId\":" + std::to_string(offer.itemId) +
                 ",\"pricePaid\":" + std::to_string(offer.discountPrice) + "}";
      }
    }
    return Json("{\"items\":[" + items + "],\"wallet\":{\"qp\":" + std::to_string(service_.wallet) +
                "}}");
  }
  return Json("{\"message\":\"no such endpoint\"}", 404);
}

TestValue OffersWorld::Session(uint64_t player, const std::string& idToken, const char* state) {
  return TestValue::Structure({{"state", TestValue::String(state)},
                               {"summonerId", TestValue::Unsigned(player)},
                               {"accountId", TestValue::Unsigned(player + 1000)},
                               {"idToken", TestValue::String(idToken)},
                               {"gasToken", TestValue::Structure({})}});
}

TestValue OffersWorld::Namespace(bool hubEnabled, bool themed) const {
  // The base URL is put together as protocol + address + ":" + port + "/" + path.
  return TestValue::Structure({{"HubEnabled", TestValue::Bool(hubEnabled)},
                               {"Protocol", TestValue::String("https://")},
                               {"BaseServiceURL", TestValue::String("po.test")},
                               {"Port", TestValue::Signed(443)},
                               {"ServicePath", TestValue::String("po/")},
                               {"ThemedBackground", TestValue::Bool(themed)}});
}

void OffersWorld::SetUpPlayer(uint64_t player, const std::string& idToken) {
  SetResource("/tav-login/v1/session", Session(player, idToken));
  SetResource("/teskclient/region-locale",
              TestValue::Structure({{"locale", TestValue::String("en_US")}}));
  SetResource("/tav-platform-config/v1/namespaces/PersonalizedOffers", Namespace());
  SetResource("/tav-platform-config/v1/namespaces/PersonalizedOffers/HubEnabled",
              TestValue::Bool(true));
}

FunctionReply OffersWorld::Get(const std::string& url) { return host_.Get(url).reply; }

FunctionReply OffersWorld::Post(const std::string& url, std::optional<std::string> body) {
  return host_.Request({.method = "POST", .url = url, .body = std::move(body)}).reply;
}

void OffersWorld::Fulfil(const char* inventoryType, const TestValue& data) {
  const std::string type = "com.teskgames.platform.messaging.StoreFulfillmentNotification";
  host_.DeliverLcdsMessage(
      type,
      TestValue::Structure({{"inventoryType", TestValue::String(inventoryType)}, {"data", data}}),
      "client", "store");
  host_.RunScheduledCallbacks();
}

std::vector<SentEvent> OffersWorld::EventsFor(const std::string& uri) const {
  std::vector<SentEvent> events;
  for (const SentEvent& event : host_.SentEvents()) {
    if (event.name == EventNameForResource(uri)) events.push_back(event);
  }
  return events;
}

std::vector<HttpCall> OffersWorld::ServiceCalls(const std::string& pathPart) const {
  std::vector<HttpCall> calls;
  for (const HttpCall& call : host_.HttpCalls()) {
    if (call.url.find(pathPart) != std::string::npos) calls.push_back(call);
  }
  return calls;
}

}  // namespace Tesk::Testing
