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
  return response.resultCode != 0 || !response.message.empty() || response.conversionFailed ||
         response.status < 200 || response.status > 299;
}

std::string PersonalizedOffersPlugin::ServiceUrl(const char* relativePath) const {
  return serviceBaseUrl_ + relativePath;
}

std::string PersonalizedOffersPlugin::LocaleQuery() const { return "?lang=" + locale_; }

std::optional<HttpResponse> PersonalizedOffersPlugin::CallService(HttpMethod method,
                                                                  const std::string& url,
                                                                  std::string body,
                                                                  uint64_t generation) {
  if (generation != playerGeneration_) return std::nullopt;
  Tesk::HttpRequest request;
  request.method = method;
  request.url = url;
  request.headers = requestHeaders_;
  request.body = std::move(body);
  request.timeout = kServiceTimeout;
  request.flag = 1;
  HttpResponse response = SendHttpRequest(RequestTarget(), request);
  if (generation != playerGeneration_) return std::nullopt;
  return response;
}

// A failure changes nothing: the call that needed the token goes on with the
// headers it finds.
// An answer for a player who is gone by then is dropped: its token must not
// reach the next player's requests.
void PersonalizedOffersPlugin::Authenticate(const std::string& idToken) {
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
  const std::optional<HttpResponse> answer =
      CallService(HttpMethod::Post, url, body.text, generation);
  if (!answer) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Authentication against %s dropped: %s", url.c_str(),
               kPlayerChanged);
    return;
  }
  const HttpResponse& response = *answer;
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
  if (IsTokenExpired(tokenExpiration_, Platform::UtcNowSeconds())) Authenticate(idToken_);
}

Outcome<UiOffers> PersonalizedOffersPlugin::GetOffers() {
  if (offersLoaded_ && !offerCache_.empty())
    return Outcome<UiOffers>::Ok(BuildUiOffers(offerCache_));
  if (!hubEnabled_) return Failure<UiOffers>(404, kNotEnabled);
  const uint64_t generation = playerGeneration_;
  EnsureToken();
  const std::string url = ServiceUrl("v1/player/offers") + LocaleQuery();
  const std::optional<HttpResponse> answer = CallService(HttpMethod::Get, url, {}, generation);
  if (!answer) return PlayerChanged<UiOffers>();
  const HttpResponse& response = *answer;
  if (ServiceCallFailed(response)) {
    return Failure<UiOffers>(
        500, Format("Could not get offers from %s with error: %s", url, ResponseText(response)));
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

void PersonalizedOffersPlugin::RefreshOffers() {
  offersLoaded_ = false;
  offerCache_.clear();
  (void)GetOffers();
}

Outcome<UiOffers> PersonalizedOffersPlugin::MarkViewed(const Api::OfferIds& ids) {
  if (!hubEnabled_) return Failure<UiOffers>(404, kNotEnabled);
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
  const std::optional<HttpResponse> answer =
      CallService(HttpMethod::Post, url, body.text, generation);
  if (!answer) return PlayerChanged<UiOffers>();
  const HttpResponse& response = *answer;
  if (ServiceCallFailed(response)) {
    return Failure<UiOffers>(500, Format("Could not mark offer as viewed from %s with error: %s",
                                         url, ResponseText(response)));
  }
  Api::Offers offers;
  if (!ParseJsonAs(response.body, &Registry(), offers)) {
    return Failure<UiOffers>(500, Format("Couldn't deserialize offer response: %s", response.body));
  }
  return Outcome<UiOffers>::Ok(StoreOffers(offers.offers, false));
}

Outcome<Api::PurchaseResponse> PersonalizedOffersPlugin::Accept(
    const Api::OfferRequests& requests) {
  if (!hubEnabled_) return Failure<Api::PurchaseResponse>(404, kNotEnabled);
  const uint64_t generation = playerGeneration_;
  EnsureToken();
  return SendAccept(requests, generation);
}

// From writing the body on: shared by purchase by list and by id.
Outcome<Api::PurchaseResponse> PersonalizedOffersPlugin::SendAccept(
    const Api::OfferRequests& requests, uint64_t generation) {
  using Result = Api::PurchaseResponse;
  const JsonWriteResult body = WriteJsonFrom(requests, &Registry(), "\r\n");
  if (!body.ok) {
    return Failure<Result>(
        500, Format("Error serializing payload of type OfferRequests: %s", body.text));
  }
  const std::string url = ServiceUrl("v1/player/offers/accept") + LocaleQuery();
  const std::optional<HttpResponse> answer =
      CallService(HttpMethod::Post, url, body.text, generation);
  if (!answer) return PlayerChanged<Result>();
  const HttpResponse& response = *answer;
  if (ServiceCallFailed(response)) {
    return Failure<Result>(
        500, Format("Could not accept offer from %s with error: %s", url, ResponseText(response)));
  }
  Result purchase;
  if (!ParseJsonAs(response.body, &Registry(), purchase)) {
    return Failure<Result>(500,
                           Format("Couldn't deserialize purchase response: %s", response.body));
  }
  RefreshOffers();
  return Outcome<Result>::Ok(std::move(purchase));
}

}  // namespace Tesk::Client::PersonalizedOffers
