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
  ReadFlag(keys, "HubEnabled", "HubEnabled", hubEnabled_);
  ReadText(keys, "Protocol", protocol_);
  ReadText(keys, "BaseServiceURL", baseServiceAddress_);
  ReadText(keys, "Port", port_);
  ReadText(keys, "ServicePath", servicePath_);
  ReadFlag(keys, "ThemedBackground", "ThemedBackgound", themedBackground_);
  serviceBaseUrl_ = protocol_ + baseServiceAddress_ + ":" + port_ + "/" + servicePath_;
  Authenticate(idToken_);
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

// A session that becomes ready brings its id token; one that stays ready
// keeps the token it had, unless it is now another account's: that is
// another player logging in without a logout in between. A different
// player's token, or the end of the session, also ends what the previous
// player's session held.
void PersonalizedOffersPlugin::OnSession(PluginResourceEventType type,
                                         const Api::LoginSession* session) {
  if (type == PluginResourceEventType::Delete) {
    sessionReady_ = false;
    idToken_.clear();
    ForgetPlayer();
    return;
  }
  if (!IsChange(type) || session == nullptr) return;
  const bool ready = session->state == Api::LoginSessionStates::SUCCEEDED &&
                     session->accountId != 0 && session->summonerId != 0;
  const bool wasReady = sessionReady_;
  const bool otherAccount =
      wasReady && ready && (session->accountId != accountId_ || session->summonerId != summonerId_);
  sessionReady_ = ready;
  if (!ready || (wasReady && !otherAccount)) return;
  if (otherAccount || session->idToken != idToken_) ForgetPlayer();
  idToken_ = session->idToken;
  accountId_ = session->accountId;
  summonerId_ = session->summonerId;
}

void PersonalizedOffersPlugin::OnLocale(PluginResourceEventType type,
                                        const BindingProperty& value) {
  if (type == PluginResourceEventType::Delete) {
    locale_.clear();
  } else if (IsChange(type)) {
    locale_ = value.Member("locale").ToText();
  }
}

void PersonalizedOffersPlugin::ForgetPlayer() {
  serviceToken_.clear();
  tokenExpiration_.clear();
  requestHeaders_.erase("authorization");
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
