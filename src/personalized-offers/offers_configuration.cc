// What the configuration namespace, its HubEnabled key, the login session and
// the region-locale resource set in the plug-in's state.
#include "diagnostics/log_manager.h"
#include "personalized-offers/personalized_offers_plugin.h"

namespace Tesk::Client::PersonalizedOffers {
namespace {

bool IsChange(PluginResourceEventType type) {
  return type == PluginResourceEventType::Create || type == PluginResourceEventType::Update;
}

void LogMissingKey(const char* key) {
  LogMessage(kLogLevelError, kLogGroupDbg, "JMX missing %s config!", key);
}

// A key read as a truth value; a missing key keeps `value` and is logged
// (under `logName`, which for one key is not its own name).
void ReadFlag(const BindingProperty& keys, const char* key, const char* logName, bool& value) {
  if (!keys.HasMember(key)) return LogMissingKey(logName);
  value = keys.Member(key).Truth();
}

void ReadText(const BindingProperty& keys, const char* key, std::string& value) {
  if (!keys.HasMember(key)) return LogMissingKey(key);
  value = keys.Member(key).ToText();
}

}  // namespace

// A change announces the enabled and themed values it changed. It
// authenticates only when there is somebody to authenticate and the token in
// hand will not do: none, expired, or issued by a service at another address.
void PersonalizedOffersPlugin::OnNamespace(PluginResourceEventType type,
                                           const BindingProperty& keys) {
  if (type == PluginResourceEventType::Delete) {
    hubEnabled_ = false;
    themedBackground_ = false;
    protocol_.clear();
    baseServiceAddress_.clear();
    port_.clear();
    servicePath_.clear();
    serviceBaseUrl_.clear();
    DropOffers();
    SendFlag(kStatusUri, false);
    SendFlag(kThemedUri, false);
    return;
  }
  if (!IsChange(type)) return;
  const bool wasEnabled = hubEnabled_;
  const bool wasThemed = themedBackground_;
  const std::string previousUrl = serviceBaseUrl_;
  ReadFlag(keys, "HubEnabled", "HubEnabled", hubEnabled_);
  ReadText(keys, "Protocol", protocol_);
  ReadText(keys, "BaseServiceURL", baseServiceAddress_);
  ReadText(keys, "Port", port_);
  ReadText(keys, "ServicePath", servicePath_);
  ReadFlag(keys, "ThemedBackground", "ThemedBackgound", themedBackground_);
  serviceBaseUrl_ = protocol_ + baseServiceAddress_ + ":" + port_ + "/" + servicePath_;
  if (hubEnabled_ != wasEnabled) SendFlag(kStatusUri, hubEnabled_);
  if (themedBackground_ != wasThemed) SendFlag(kThemedUri, themedBackground_);
  if (serviceBaseUrl_ != previousUrl) ForgetServiceToken();
  if (SignedIn()) EnsureToken();
}

// Only the namespace sets the stored flag; the key alone announces it.
void PersonalizedOffersPlugin::OnHubEnabled(PluginResourceEventType type,
                                            const BindingProperty& value) {
  if (type == PluginResourceEventType::Delete) {
    hubEnabled_ = false;
    SendFlag(kStatusUri, false);
  } else if (IsChange(type)) {
    SendFlag(kStatusUri, value.Truth());
  }
}

// A ready session (SUCCEEDED, both ids set) signs a player in; any other
// state is a sign-out, as the session's deletion is. While the same account
// stays ready, a new id token replaces the stored one (the service token it
// brought goes with it; the offers stay). Another account's ready session is
// another player: nothing of the previous one's is kept.
void PersonalizedOffersPlugin::OnSession(PluginResourceEventType type,
                                         const Api::LoginSession* session) {
  if (type == PluginResourceEventType::Delete) return SignOut();
  if (!IsChange(type) || session == nullptr) return;
  const bool ready = session->state == Api::LoginSessionStates::SUCCEEDED &&
                     session->accountId != 0 && session->summonerId != 0;
  if (!ready) return SignOut();
  const bool sameAccount =
      sessionReady_ && session->accountId == accountId_ && session->summonerId == summonerId_;
  if (!sameAccount) {
    ForgetPlayer();
  } else if (session->idToken != idToken_) {
    ForgetServiceToken();
  }
  sessionReady_ = true;
  idToken_ = session->idToken;
  accountId_ = session->accountId;
  summonerId_ = session->summonerId;
}

// Offers are fetched in the player's language: a new locale empties the
// cache, so that the next read fetches in it.
void PersonalizedOffersPlugin::OnLocale(PluginResourceEventType type,
                                        const BindingProperty& value) {
  std::string locale;
  if (type == PluginResourceEventType::Delete) {
    locale.clear();
  } else if (IsChange(type)) {
    locale = value.Member("locale").ToText();
  } else {
    return;
  }
  if (locale == locale_) return;
  locale_ = std::move(locale);
  DropOffers();
}

void PersonalizedOffersPlugin::ForgetServiceToken() {
  serviceToken_.clear();
  tokenExpiration_.clear();
  requestHeaders_.erase("authorization");
}

void PersonalizedOffersPlugin::SignOut() {
  sessionReady_ = false;
  idToken_.clear();
  accountId_ = 0;
  summonerId_ = 0;
  ForgetPlayer();
}

void PersonalizedOffersPlugin::ForgetPlayer() {
  ForgetServiceToken();
  DropOffers();
}

void PersonalizedOffersPlugin::DropOffers() {
  ++playerGeneration_;
  const bool held = offersLoaded_ || !offerCache_.empty();
  offerCache_.clear();
  offersLoaded_ = false;
  if (held) SendResourceEvent(kOffersUri, UiOffers{});
}

void PersonalizedOffersPlugin::SendFlag(const char* uri, bool value) {
  SendResourceEvent(uri, value);
}

}  // namespace Tesk::Client::PersonalizedOffers
