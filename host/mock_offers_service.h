// MockOffersService: a stand-in for the remote offers service, served by the
// development host on a loopback port of its own, so the plug-in can be run
// against a real HTTP service. It issues service tokens for any id token; each
// player (one id token) has a demo catalogue of discounted champions and skins
// of its own (one champion and one skin per numbered spot) and a wallet, made
// when the player first authenticates. It reports offers as viewed and sells
// them from the wallet, checking each purchase as a strict service would:
// known offers, the offer's own price and type, nothing bought twice or
// already owned, a skin only with its champion, enough in the wallet. Every
// item sold is announced as a store fulfilment notification through
// `fulfilment`.
//
// Service endpoints, under the base path: POST v1/player/authenticate,
// GET v1/player/offers?lang=, POST v1/player/offers/view?lang=,
// POST v1/player/offers/accept?lang=. Operator endpoints: GET /mock/v1/state
// (?player=<id token>; without it, the player who authenticated last),
// POST /mock/v1/reset.
//
// Threads: Handle runs on the server's thread; the state is guarded.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http_server.h"

namespace Tesk::DevHost {

inline constexpr char kFulfilmentTypeName[] =
    "com.teskgames.platform.messaging.StoreFulfillmentNotification";

struct MockOffersOptions {
  std::string basePath = "/personalized-offers/";  // begins and ends with "/"
  int64_t wallet = 5000;
  std::chrono::seconds tokenLifetime{3600};
  // Players held at most; a new id token beyond them is refused (503) until
  // a reset, so that no client can grow the mock without bound.
  size_t maxPlayers = 1024;
};

class MockOffersService : public HttpService {
 public:
  // Receives the LCDS class name and the JSON body of each notification.
  using FulfilmentSink = std::function<void(const std::string& typeName, std::string bodyJson)>;

  MockOffersService(MockOffersOptions options, FulfilmentSink fulfilment);

  std::optional<LocalResponse> Admit(const LocalRequest& head) override;
  void Handle(LocalRequest request, Responder respond) override;

  // Every player back to the demo catalogue and the starting wallet; issued
  // tokens stay.
  void Reset();

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
  };
  struct Token {
    std::string value;
    std::chrono::system_clock::time_point expires;
    std::string player;  // the id token it was issued for
  };

  LocalResponse Route(const LocalRequest& request);
  LocalResponse Authenticate(const LocalRequest& request);
  LocalResponse ListOffers(const std::string& player, const std::string& locale);
  LocalResponse View(const LocalRequest& request, const std::string& player,
                     const std::string& locale);
  LocalResponse Accept(const LocalRequest& request, const std::string& player);
  LocalResponse State(const LocalRequest& request);
  // The player whose valid service token the request carries; empty if none.
  [[nodiscard]] std::string AuthorizedPlayer(const LocalRequest& request) const;
  // The player's catalogue and wallet, made at first use. Called under mutex_.
  Player& PlayerState(const std::string& player);
  [[nodiscard]] std::string OffersJson(const std::vector<const Offer*>& offers,
                                       const std::string& locale) const;
  [[nodiscard]] static std::vector<Offer> DemoCatalogue();

  MockOffersOptions options_;
  FulfilmentSink fulfilment_;
  mutable std::mutex mutex_;
  std::map<std::string, Player> players_;  // by id token
  std::string lastPlayer_;                 // the player who authenticated last
  std::vector<Token> tokens_;
  std::string expirationDate_;
};

// An ISO 8601 UTC time stamp, "2030-01-01T00:00:00Z".
[[nodiscard]] std::string IsoUtc(std::chrono::system_clock::time_point time);

}  // namespace Tesk::DevHost
