// PersonalizedOffersPlugin: the plug-in object of tav-personalized-offers. It
// learns its environment from the configuration namespace, the login session
// and the region-locale resource (offers_configuration.cc), talks to the
// remote offers service and keeps the offer cache (offers_service_client.cc),
// serves seven routes (offers_routes.cc) and refetches when a store
// fulfilment names a cached item (fulfillment_handler.cc).
//
// Threads: none of its state takes a lock; the host calls into one object one
// call at a time.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "binding/typed_invoker.h"
#include "personalized-offers/offer_types.h"
#include "plugin/plugin_base.h"
#include "rest/http_request.h"

namespace Tesk::Client::PersonalizedOffers {

inline constexpr char kShortName[] = "tav-personalized-offers";

// Resources the feature observes and routes it serves.
inline constexpr char kSessionUri[] = "/tav-login/v1/session";
inline constexpr char kRegionLocaleUri[] = "/teskclient/region-locale";
inline constexpr char kNamespaceUri[] = "/tav-platform-config/v1/namespaces/PersonalizedOffers";
inline constexpr char kHubEnabledUri[] =
    "/tav-platform-config/v1/namespaces/PersonalizedOffers/HubEnabled";
inline constexpr char kStatusUri[] = "/tav-personalized-offers/v1/status";
inline constexpr char kThemedUri[] = "/tav-personalized-offers/v1/themed";
inline constexpr char kOffersUri[] = "/tav-personalized-offers/v1/offers";

inline constexpr char kNotEnabled[] = "Personalized Offers not enabled";
// A call whose player changed (or whose configuration was deleted) while it
// waited for the service: the answer belongs to nobody and is dropped.
inline constexpr char kPlayerChanged[] =
    "The player changed while waiting for the offers service; its answer was dropped";
inline constexpr uint32_t kPlayerChangedStatus = 409;
// The time-out of every service call, in the host's unit.
inline constexpr uint32_t kServiceTimeout = 30;

template <class T>
using Outcome = HandlerResponse<T>;
using UiOffers = std::vector<Api::UIOffer>;

class PersonalizedOffersPlugin final : public PluginBase {
 public:
  PersonalizedOffersPlugin();
  ~PersonalizedOffersPlugin() override;

  void RegisterApi() override;
  bool Start() override;

  // --- Configuration and session ---
  void OnNamespace(PluginResourceEventType type, const BindingProperty& keys);
  void OnHubEnabled(PluginResourceEventType type, const BindingProperty& value);
  void OnSession(PluginResourceEventType type, const Api::LoginSession* session);
  void OnLocale(PluginResourceEventType type, const BindingProperty& value);

  // --- The offers service ---
  void Authenticate(const std::string& idToken);
  void EnsureToken();
  Outcome<UiOffers> GetOffers();
  // Stores what the service answered. A complete list (get offers) becomes
  // the cache and marks it loaded. A view answer only updates offers already
  // cached; with nothing cached it is handed back as it is and stored nowhere,
  // so a partial list never counts as the loaded list. The offers event
  // announces every change of the cache.
  UiOffers StoreOffers(const std::vector<Api::Offer>& received, bool complete);
  void RefreshOffers();
  Outcome<UiOffers> MarkViewed(const Api::OfferIds& ids);
  Outcome<Api::PurchaseResponse> Accept(const Api::OfferRequests& requests);

  // --- Routes ---
  Outcome<UiOffers> RevealById(const std::string& id);
  Outcome<Api::PurchaseResponse> PurchaseById(const std::string& id);

  // --- LCDS ---
  void OnStoreFulfillment(const Api::StoreFulfillmentNotification& notification);

 private:
  void DeclareRoutes();
  // Forgets the service token, its expiry and the "authorization" header, and
  // empties the offer cache: what one player's session held.
  void ForgetPlayer();
  // Empties the offer cache for a new player or a deleted configuration: a
  // new generation begins, so answers still outstanding are dropped, and a
  // cache that held a list announces the empty one.
  void DropOffers();
  void SendFlag(const char* uri, bool value);
  // One call of the offers service with the request headers, for the player
  // of `generation`. Nothing when the player changed before the call or while
  // it was out (the host may run other calls while it waits): the answer is
  // not for the current player and must change nothing.
  std::optional<HttpResponse> CallService(HttpMethod method, const std::string& url,
                                          std::string body, uint64_t generation);
  [[nodiscard]] std::string ServiceUrl(const char* relativePath) const;
  [[nodiscard]] std::string LocaleQuery() const;
  // The view and accept calls from writing their body on, for the player of
  // `generation`.
  Outcome<UiOffers> SendView(const Api::OfferIds& ids, uint64_t generation);
  Outcome<Api::PurchaseResponse> SendAccept(const Api::OfferRequests& requests,
                                            uint64_t generation);

  std::string serviceToken_;
  std::string tokenExpiration_;
  std::string protocol_;
  std::string baseServiceAddress_;
  std::string serviceBaseUrl_;
  std::string port_;
  std::string servicePath_;
  bool themedBackground_ = false;
  bool hubEnabled_ = false;
  std::string idToken_;
  // The account and summoner of the session that brought the id token.
  uint64_t accountId_ = 0;
  uint64_t summonerId_ = 0;
  bool sessionReady_ = false;
  std::string locale_;
  std::map<std::string, std::string> requestHeaders_;
  bool offersLoaded_ = false;
  std::vector<Api::Offer> offerCache_;
  // Advanced by every change of player and by the configuration's deletion.
  uint64_t playerGeneration_ = 0;
};

// A failed response of the offers service: a host result code, a message, an
// inconsistent answer or a status outside 200 to 299.
[[nodiscard]] bool ServiceCallFailed(const HttpResponse& response);

}  // namespace Tesk::Client::PersonalizedOffers
