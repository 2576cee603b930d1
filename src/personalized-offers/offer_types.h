// The structures the personalized-offers feature exchanges with the remote
// offers service, the login plug-in, the user interface and the LCDS channel,
// and their registration. JSON member names are the field names.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"

namespace Tesk {
class BindingRegistry;
}

namespace Tesk::Client::PersonalizedOffers::Api {

inline constexpr char kInventoryChampion[] = "CHAMPION";
inline constexpr char kInventoryChampionSkin[] = "CHAMPION_SKIN";
inline constexpr char kUiTypeSkin[] = "Skin";
inline constexpr char kUiTypeSkinWithChampion[] = "SkinWithChampion";
// The offer id of an offer request whose offer is not in the cache.
inline constexpr char kInvalidOfferId[] = "invalid";

struct AuthenticationRequest {
  std::string tokenType;
  std::string token;
};

struct AuthenticationResponse {
  std::string token;
  std::string expiration;
};

struct Wallet {
  int64_t qp = 0;
};

struct Offer {
  std::string offerId;
  std::string inventoryType;
  int32_t itemId = 0;
  int64_t originalPrice = 0;
  int64_t discountPrice = 0;
  std::string name;
  bool owned = false;
  bool revealed = false;
  std::string expirationDate;
  uint32_t spotIndex = 0;
};

struct Offers {
  std::vector<Offer> offers;
};

struct OfferId {
  std::string offerId;
};

struct OfferIds {
  std::vector<OfferId> offers;
};

struct OfferRequest {
  std::string offerId;
  std::string inventoryType;
  int32_t itemId = 0;
  int64_t price = 0;
};

struct OfferRequests {
  std::vector<OfferRequest> offers;
};

struct PurchaseItem {
  std::string inventoryType;
  int32_t itemId = 0;
  int64_t pricePaid = 0;
};

struct PurchaseResponse {
  std::vector<PurchaseItem> items;
  Wallet wallet;
};

enum class LoginSessionStates : int32_t {
  IN_PROGRESS = 0,
  SUCCEEDED = 1,
  LOGGING_OUT = 2,
  ERROR = 3,
};

struct LoginSession {
  LoginSessionStates state = LoginSessionStates::IN_PROGRESS;
  uint64_t summonerId = 0;
  uint64_t accountId = 0;
  std::string idToken;
  BindingProperty gasToken;
};

// One offer as the user interface shows it: a skin, alone or with its champion.
struct UIOffer {
  std::string id;
  int64_t originalPrice = 0;
  int64_t discountPrice = 0;
  std::string type;
  std::string skinName;
  int32_t championId = 0;
  int32_t skinId = 0;
  bool owned = false;
  bool revealed = false;
  std::string expirationDate;
};

// LCDS message bodies and their item records.
struct LcdsClientDynamicConfigurationNotification {
  std::string configs;
  bool delta = false;
};

struct StoreFulfillmentNotification {
  std::string inventoryType;
  BindingProperty data;
};

struct LcdsChampionSkinDTO {
  int32_t championId = 0;
  bool owned = false;
  int32_t skinId = 0;
};

struct LcdsChampionDTO {
  int32_t championId = 0;
  bool owned = false;
};

inline constexpr char kStoreFulfillmentClass[] =
    "com.teskgames.platform.messaging.StoreFulfillmentNotification";

// Registers the four LCDS structures under their own names.
void RegisterLcdsTypes(BindingRegistry& registry, std::span<const std::string> tags);
// Registers the API structures and the enumeration under `prefix` (the
// plug-in's identifier name) followed by the type name.
void RegisterApiTypes(BindingRegistry& registry, std::string_view prefix,
                      std::span<const std::string> tags);

}  // namespace Tesk::Client::PersonalizedOffers::Api
