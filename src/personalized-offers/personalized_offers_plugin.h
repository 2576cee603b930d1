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
inline constexpr char kOfferNotFound[] = "Offer id not found or not valid: %s";
// A call whose player changed (or whose configuration or locale changed)
// while it waited for the service: the answer belongs to nobody and is
// dropped.
inline constexpr char kPlayerChanged[] =
    "The player changed while waiting for the offers service; its answer was dropped";
inline constexpr uint32_t kPlayerChangedStatus = 409;
// The offers, reveal and purchase routes while no ready login session exists.
inline constexpr char kNoPlayer[] = "No player is signed in.";
inline constexpr uint32_t kNoPlayerStatus = 409;
// A 401 or 403 of the offers service: the plug-in's own credentials were
// refused, which the caller must not take for its own.
inline constexpr uint32_t kServiceRefusedCredentialsStatus = 502;
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
  // The cached list when one is loaded and not empty, else FetchOffers.
  Outcome<UiOffers> GetOffers();
  // Asks the service for the whole list; on success it becomes the cache.
  Outcome<UiOffers> FetchOffers();
  // Stores what the service answered. A complete list (get offers) becomes
  // the cache and marks it loaded. A view answer only updates offers already
  // cached; with nothing cached it is handed back as it is and stored nowhere,
  // so a partial list never counts as the loaded list. The offers event
  // announces every change of the cache.
  UiOffers StoreOffers(const std::vector<Api::Offer>& received, bool complete);
  // Fetches the list again. The cache is replaced only when the fetch
  // succeeded: a failure keeps the list the UI was told of, and is logged.
  Outcome<UiOffers> RefreshOffers();
  Outcome<UiOffers> MarkViewed(const Api::OfferIds& ids);
  Outcome<Api::PurchaseResponse> Accept(const Api::OfferRequests& requests);

  // --- Routes ---
  Outcome<UiOffers> RevealById(const std::string& id);
  Outcome<Api::PurchaseResponse> PurchaseById(const std::string& id);

  // --- LCDS ---
  void OnStoreFulfillment(const Api::StoreFulfillmentNotification& notification);

 private:
  // What a service call learned about the player it was made for.
  struct ServiceAnswer {
    bool sent = false;     // false: the player changed before it went out
    bool current = false;  // the player is still the one it was made for
    HttpResponse response;
  };

  void DeclareRoutes();
  // Whether a ready login session exists.
  [[nodiscard]] bool SignedIn() const { return sessionReady_; }
  // The refusal of a route that needs the service, when there is one: the
  // feature is not enabled, or no player is signed in.
  template <class T>
  [[nodiscard]] std::optional<Outcome<T>> Refusal() const;
  // Makes sure a complete list is loaded (fetching it when not); the fetch's
  // failure when it fails.
  template <class T>
  [[nodiscard]] std::optional<Outcome<T>> LoadOffers();
  // Forgets the service token, its expiry and the "authorization" header.
  void ForgetServiceToken();
  // The end of a session: the id token, the service token and the offers go.
  void SignOut();
  // Forgets the service token and empties the offer cache: what one player's
  // session held.
  void ForgetPlayer();
  // Empties the offer cache for a new player or a deleted configuration: a
  // new generation begins, so answers still outstanding are dropped, and a
  // cache that held a list announces the empty one.
  void DropOffers();
  void SendFlag(const char* uri, bool value);
  // One call of the offers service with the request headers, for the player
  // of `generation`. Not sent when the player changed before the call; an
  // answer that arrives after the player changed (the host may run other
  // calls while it waits) is marked as not current and must not touch the
  // new player's state.
  ServiceAnswer CallService(HttpMethod method, const std::string& url, std::string body,
                            uint64_t generation);
  // The route error for a failed response. Transport failures and 5xx are
  // 500 with `failureTemplate` (the URL and the response's text); the
  // service's refusals (4xx) keep their status and the service's own message,
  // except 401 and 403, which are the plug-in's credentials failing: 502, and
  // the service token (when the answer is still the current player's) is
  // forgotten so that the next call authenticates.
  template <class T>
  Outcome<T> ServiceFailure(const ServiceAnswer& answer, const char* failureTemplate,
                            const std::string& url);
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
  // Advanced whenever the cache is emptied for a change of player, locale or
  // configuration: an answer made for an older generation is not current.
  uint64_t playerGeneration_ = 0;
};

template <class T>
std::optional<Outcome<T>> PersonalizedOffersPlugin::Refusal() const {
  if (!hubEnabled_) return Outcome<T>::Error(404, kNotEnabled);
  if (!SignedIn()) return Outcome<T>::Error(kNoPlayerStatus, kNoPlayer);
  return std::nullopt;
}

template <class T>
std::optional<Outcome<T>> PersonalizedOffersPlugin::LoadOffers() {
  if (offersLoaded_) return std::nullopt;
  Outcome<UiOffers> fetched = FetchOffers();
  if (!fetched.success)
    return Outcome<T>::Error(fetched.status.httpStatus, std::move(fetched.error));
  return std::nullopt;
}

// A failed response of the offers service: a host result code, a message, an
// inconsistent answer or a status outside 200 to 299.
[[nodiscard]] bool ServiceCallFailed(const HttpResponse& response);

}  // namespace Tesk::Client::PersonalizedOffers
