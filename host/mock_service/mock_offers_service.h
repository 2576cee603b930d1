// MockOffersService: a stand-in for the remote offers service, served by the
// development host on a loopback port of its own, so the plug-in can be run
// against a real HTTP service. Every player (an id token) has a catalogue of
// their own, starting as the demo catalogue of discounted champions and skins
// (one champion and one skin per numbered spot), and a wallet. The service
// issues service tokens for any id token, each token serving only the player
// it was issued to; it reports offers as viewed, and sells them from the
// wallet, checking each purchase as a strict service would: known offers, the
// offer's own price and type, nothing bought twice or already owned, a skin
// only with its champion, enough in the wallet. Every item sold is announced
// as a store fulfilment notification through `fulfilment`. Every call of the
// service is recorded, with the credentials it came with.
//
// Service endpoints, under the base path: POST v1/player/authenticate,
// GET v1/player/offers?lang=, POST v1/player/offers/view?lang=,
// POST v1/player/offers/accept?lang=. Operator endpoints:
// GET /mock/v1/state[?player=<id token>] (one player's wallet and offers; the
// player who authenticated last by default), GET /mock/v1/requests[?since=N]
// (the recorded calls after sequence number N), POST /mock/v1/reset,
// POST /mock/v1/outage {"status": 503, "message": "..."} (every service
// endpoint answers that refusal until DELETE /mock/v1/outage), and
// POST /mock/v1/revoke (every issued service token is refused from then on).
//
// Threads: Handle runs on the server's thread; the state is guarded.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/http_server.h"

namespace Tesk::DevHost {

inline constexpr char kFulfilmentTypeName[] =
    "com.teskgames.platform.messaging.StoreFulfillmentNotification";

struct MockOffersOptions {
  std::string basePath = "/personalized-offers/";  // begins and ends with "/"
  int64_t wallet = 5000;
  std::chrono::seconds tokenLifetime{3600};
};

class MockOffersService : public HttpService {
 public:
  // Receives the LCDS class name and the JSON body of each notification.
  using FulfilmentSink = std::function<void(const std::string& typeName, std::string bodyJson)>;

  MockOffersService(MockOffersOptions options, FulfilmentSink fulfilment);

  Admission Admit(const LocalRequest& head) override;
  void Handle(LocalRequest request, Responder respond) override;

  // Every player back to the demo catalogue and the starting wallet; issued
  // tokens and the recorded calls stay.
  void Reset();

  // At most this many players are remembered (the one unseen longest is
  // forgotten first) and this many calls recorded (the oldest dropped first).
  static constexpr size_t kMaxPlayers = 64;
  static constexpr size_t kMaxRecordedCalls = 1000;

 private:
  struct Offer {
    std::string offerId;
    std::string inventoryType;  // "CHAMPION" or "CHAMPION_SKIN"
    int32_t itemId;
    int64_t originalPrice;
    int64_t discountPrice;
    std::vector<std::pair<std::string, std::string>>
        names;  // locale, name; the first is the default
    bool owned;
    bool revealed;
    uint32_t spotIndex;
    int32_t championId;  // a skin's champion; a champion's own id
  };
  struct Player {
    std::vector<Offer> offers;
    int64_t wallet = 0;
    uint64_t lastSeen = 0;  // the sequence number of the player's latest call
  };
  struct Token {
    std::string value;
    std::chrono::system_clock::time_point expires;
    std::string player;  // the id token it was issued for
  };
  struct Refusal {
    unsigned status = 0;
    std::string message;
  };
  struct RecordedCall {
    uint64_t sequence = 0;
    std::string method;
    std::string target;
    std::string authorization;  // as received; empty without one
    std::string player;         // whom the call was for; empty when unknown
    unsigned status = 0;
    std::string body;
  };

  // The answer, and the player the call was for (empty when unknown).
  LocalResponse Route(const LocalRequest& request, std::string& player);
  LocalResponse Authenticate(const LocalRequest& request, std::string& player);
  LocalResponse ListOffers(const std::string& player, const std::string& locale);
  LocalResponse View(const LocalRequest& request, const std::string& player,
                     const std::string& locale);
  LocalResponse Accept(const LocalRequest& request, const std::string& player,
                       const std::string& locale);
  LocalResponse State(const LocalRequest& request) const;
  LocalResponse Outage(const LocalRequest& request);
  // The answer of every service endpoint while an outage is set.
  [[nodiscard]] std::optional<LocalResponse> OutageAnswer() const;
  LocalResponse RecordedCalls(const LocalRequest& request) const;
  void Record(const LocalRequest& request, const std::string& player, unsigned status);
  // The id token whose unexpired service token the request carries; empty
  // when it carries none.
  [[nodiscard]] std::string PlayerOf(const LocalRequest& request) const;
  // The player's state, made from the demo catalogue at first sight. Called
  // with mutex_ held.
  Player& PlayerState(const std::string& player);
  [[nodiscard]] Player NewPlayer() const;
  [[nodiscard]] std::string OffersJson(const std::vector<const Offer*>& offers,
                                       const std::string& locale) const;
  static Offer* FindOffer(std::vector<Offer>& offers, const std::string& offerId);

  MockOffersOptions options_;
  FulfilmentSink fulfilment_;
  mutable std::mutex mutex_;
  std::map<std::string, Player> players_;  // by id token
  std::string lastAuthenticated_;
  std::vector<Token> tokens_;
  std::deque<RecordedCall> calls_;
  uint64_t nextSequence_ = 1;
  std::string expirationDate_;
  std::optional<Refusal> outage_;
};

// An ISO 8601 UTC time stamp, "2030-01-01T00:00:00Z".
[[nodiscard]] std::string IsoUtc(std::chrono::system_clock::time_point time);

}  // namespace Tesk::DevHost
