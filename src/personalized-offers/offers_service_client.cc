// The client of the remote offers service: authentication and the token's
// expiry, fetching, revealing and accepting offers, and the offer cache.
#include "codecs/json.h"
#include "diagnostics/format.h"
#include "diagnostics/log_manager.h"
#include "personalized-offers/offer_pairing.h"
#include "personalized-offers/personalized_offers_plugin.h"
#include "personalized-offers/token_expiry.h"
#include "platform/platform.h"
#include "rest/http_request.h"

namespace Tesk::Client::PersonalizedOffers {
namespace {

// What a failure message quotes of a response: the body, or the host's text
// when the host did not get one.
const std::string& ResponseText(const HttpResponse& response) {
  return response.resultCode != 0 || response.conversionFailed ? response.message : response.body;
}

// Whether the host got no answer from the service at all.
bool TransportFailed(const HttpResponse& response) {
  return response.resultCode != 0 || !response.message.empty() || response.conversionFailed;
}

// What the service said when it refused a request: the "message" of its JSON
// error body, else the body itself; empty when it said nothing.
std::string RefusalMessage(const std::string& body) {
  const BindingResult parsed = ParseJson(body);
  if (parsed.ok && parsed.value.HasMember("message")) {
    const BindingProperty& message = parsed.value.Member("message");
    if (message.Kind() == BindingPropertyKind::String) return std::string(message.GetString());
  }
  return body;
}

// A query value as the service reads it back: every byte other than the
// unreserved ones percent-encoded, so that a locale can neither add a
// parameter nor end the query.
std::string QueryValue(std::string_view text) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.' || byte == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0f];
    }
  }
  return encoded;
}

template <class T>
Outcome<T> Failure(uint32_t status, std::string message) {
  return Outcome<T>::Error(status, std::move(message));
}

template <class T>
Outcome<T> PlayerChanged() {
  return Outcome<T>::Error(kPlayerChangedStatus, kPlayerChanged);
}

}  // namespace

bool ServiceCallFailed(const HttpResponse& response) {
  return TransportFailed(response) || response.status < 200 || response.status > 299;
}

std::string PersonalizedOffersPlugin::ServiceUrl(const char* relativePath) const {
  return serviceBaseUrl_ + relativePath;
}

std::string PersonalizedOffersPlugin::LocaleQuery() const { return "?lang=" + QueryValue(locale_); }

template <class T>
Outcome<T> PersonalizedOffersPlugin::ServiceFailure(const ServiceAnswer& answer,
                                                    const char* failureTemplate,
                                                    const std::string& url) {
  const HttpResponse& response = answer.response;
  if (!TransportFailed(response) && response.status >= 400 && response.status <= 499) {
    std::string message = RefusalMessage(response.body);
    if (message.empty()) message = Format(failureTemplate, url, ResponseText(response));
    if (response.status == 401 || response.status == 403) {
      // The token refused is the current player's only while the answer is.
      if (answer.current) ForgetServiceToken();
      return Failure<T>(kServiceRefusedCredentialsStatus, std::move(message));
    }
    return Failure<T>(response.status, std::move(message));
  }
  return Failure<T>(500, Format(failureTemplate, url, ResponseText(response)));
}

PersonalizedOffersPlugin::ServiceAnswer PersonalizedOffersPlugin::CallService(
    HttpMethod method, const std::string& url, std::string body, uint64_t generation) {
  ServiceAnswer answer;
  if (generation != playerGeneration_) return answer;
  Tesk::HttpRequest request;
  request.method = method;
  request.url = url;
  request.headers = requestHeaders_;
  request.body = std::move(body);
  request.timeout = kServiceTimeout;
  request.flag = 1;
  answer.response = SendHttpRequest(RequestTarget(), request);
  answer.sent = true;
  answer.current = generation == playerGeneration_;
  return answer;
}

// A failure changes nothing: the call that needed the token goes on with the
// headers it finds. Without an id token there is nobody to authenticate.
// An answer for a player who is gone by then is dropped: its token must not
// reach the next player's requests.
void PersonalizedOffersPlugin::Authenticate(const std::string& idTokenOfCall) {
  // A copy: the caller's text may be the stored id token, which a rotation
  // can replace while the call is out.
  const std::string idToken = idTokenOfCall;
  if (idToken.empty()) return;
  const uint64_t generation = playerGeneration_;
  const JsonWriteResult body =
      WriteJsonFrom(Api::AuthenticationRequest{"jwt", idToken}, &Registry(), "\r\n");
  if (!body.ok) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Error serializing request payload: %s",
               body.text.c_str());
    return;
  }
  requestHeaders_.erase("Content-Type");
  requestHeaders_.emplace("Content-Type", "application/json");
  const std::string url = ServiceUrl("v1/player/authenticate");
  const ServiceAnswer answer = CallService(HttpMethod::Post, url, body.text, generation);
  // A token issued for the id token the call carried, which a rotation may
  // have replaced meanwhile, is dropped too.
  if (!answer.current || idToken_ != idToken) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Authentication against %s dropped: %s", url.c_str(),
               kPlayerChanged);
    return;
  }
  const HttpResponse& response = answer.response;
  if (ServiceCallFailed(response)) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Could not Authenticate against %s to PO service: %s",
               url.c_str(), ResponseText(response).c_str());
    return;
  }
  Api::AuthenticationResponse token;
  if (!ParseJsonAs(response.body, &Registry(), token)) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Couldn't deserialize authentication response: %s",
               response.body.c_str());
    return;
  }
  serviceToken_ = token.token;
  tokenExpiration_ = token.expiration;
  requestHeaders_.erase("authorization");
  requestHeaders_.emplace("authorization", token.token);
}

void PersonalizedOffersPlugin::EnsureToken() {
  if (serviceToken_.empty() || IsTokenExpired(tokenExpiration_, Platform::UtcNowSeconds())) {
    Authenticate(idToken_);
  }
}

Outcome<UiOffers> PersonalizedOffersPlugin::GetOffers() {
  if (offersLoaded_ && !offerCache_.empty())
    return Outcome<UiOffers>::Ok(BuildUiOffers(offerCache_));
  return FetchOffers();
}

Outcome<UiOffers> PersonalizedOffersPlugin::FetchOffers() {
  if (auto refusal = Refusal<UiOffers>()) return std::move(*refusal);
  const uint64_t generation = playerGeneration_;
  EnsureToken();
  const std::string url = ServiceUrl("v1/player/offers") + LocaleQuery();
  const ServiceAnswer answer = CallService(HttpMethod::Get, url, {}, generation);
  if (!answer.current) return PlayerChanged<UiOffers>();
  const HttpResponse& response = answer.response;
  if (ServiceCallFailed(response)) {
    return ServiceFailure<UiOffers>(answer, "Could not get offers from %s with error: %s", url);
  }
  Api::Offers offers;
  if (!ParseJsonAs(response.body, &Registry(), offers)) {
    return Failure<UiOffers>(500, Format("Couldn't deserialize offer response: %s", response.body));
  }
  return Outcome<UiOffers>::Ok(StoreOffers(offers.offers, true));
}

// A cache that is not loaded is always empty: only a complete list fills it.
UiOffers PersonalizedOffersPlugin::StoreOffers(const std::vector<Api::Offer>& received,
                                               bool complete) {
  if (complete) {
    // Replaced, not merged: a list that a call re-entered meanwhile stored is
    // no more complete than this one.
    offerCache_ = received;
    offersLoaded_ = true;
  } else if (offerCache_.empty()) {
    return BuildUiOffers(received);
  } else {
    // Merged by id: offers not cached are not added, cached ones not received stay.
    for (const Api::Offer& offer : received) {
      for (Api::Offer& cached : offerCache_) {
        if (cached.offerId == offer.offerId) cached = offer;
      }
    }
  }
  UiOffers ui = BuildUiOffers(offerCache_);
  SendResourceEvent(kOffersUri, ui);
  return ui;
}

Outcome<UiOffers> PersonalizedOffersPlugin::RefreshOffers() {
  Outcome<UiOffers> fetched = FetchOffers();
  if (!fetched.success) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Could not refresh the offers (%u): %s",
               fetched.status.httpStatus, fetched.error.c_str());
  }
  return fetched;
}

Outcome<UiOffers> PersonalizedOffersPlugin::MarkViewed(const Api::OfferIds& ids) {
  if (auto refusal = Refusal<UiOffers>()) return std::move(*refusal);
  if (auto failure = LoadOffers<UiOffers>()) return std::move(*failure);
  const uint64_t generation = playerGeneration_;
  EnsureToken();
  return SendView(ids, generation);
}

// From writing the body on: shared by reveal by list and by id.
Outcome<UiOffers> PersonalizedOffersPlugin::SendView(const Api::OfferIds& ids,
                                                     uint64_t generation) {
  const JsonWriteResult body = WriteJsonFrom(ids, &Registry(), "\r\n");
  if (!body.ok) {
    return Failure<UiOffers>(500,
                             Format("Error serializing payload of type OfferIds: %s", body.text));
  }
  const std::string url = ServiceUrl("v1/player/offers/view") + LocaleQuery();
  const ServiceAnswer answer = CallService(HttpMethod::Post, url, body.text, generation);
  // The list a view answers belongs to the player who asked.
  if (!answer.current) return PlayerChanged<UiOffers>();
  const HttpResponse& response = answer.response;
  if (ServiceCallFailed(response)) {
    return ServiceFailure<UiOffers>(answer, "Could not mark offer as viewed from %s with error: %s",
                                    url);
  }
  Api::Offers offers;
  if (!ParseJsonAs(response.body, &Registry(), offers)) {
    return Failure<UiOffers>(500, Format("Couldn't deserialize offer response: %s", response.body));
  }
  return Outcome<UiOffers>::Ok(StoreOffers(offers.offers, false));
}

Outcome<Api::PurchaseResponse> PersonalizedOffersPlugin::Accept(
    const Api::OfferRequests& requests) {
  if (auto refusal = Refusal<Api::PurchaseResponse>()) return std::move(*refusal);
  const uint64_t generation = playerGeneration_;
  EnsureToken();
  return SendAccept(requests, generation);
}

// From writing the body on: shared by purchase by list and by id. A purchase
// the service made is always answered to its caller, even when the player
// changed while it was out: the items were sold and paid for. Only the
// refresh is skipped then, since the cache is another player's by now.
Outcome<Api::PurchaseResponse> PersonalizedOffersPlugin::SendAccept(
    const Api::OfferRequests& requests, uint64_t generation) {
  using Result = Api::PurchaseResponse;
  const JsonWriteResult body = WriteJsonFrom(requests, &Registry(), "\r\n");
  if (!body.ok) {
    return Failure<Result>(
        500, Format("Error serializing payload of type OfferRequests: %s", body.text));
  }
  const std::string url = ServiceUrl("v1/player/offers/accept") + LocaleQuery();
  const ServiceAnswer answer = CallService(HttpMethod::Post, url, body.text, generation);
  if (!answer.sent) return PlayerChanged<Result>();
  const HttpResponse& response = answer.response;
  if (ServiceCallFailed(response)) {
    return ServiceFailure<Result>(answer, "Could not accept offer from %s with error: %s", url);
  }
  Result purchase;
  if (!ParseJsonAs(response.body, &Registry(), purchase)) {
    return Failure<Result>(500,
                           Format("Couldn't deserialize purchase response: %s", response.body));
  }
  if (answer.current) (void)RefreshOffers();
  return Outcome<Result>::Ok(std::move(purchase));
}

}  // namespace Tesk::Client::PersonalizedOffers
