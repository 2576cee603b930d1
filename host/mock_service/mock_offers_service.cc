#include "mock_service/mock_offers_service.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <set>

#include "encoding/json_support.h"
#include "server/access_guard.h"

namespace Tesk::DevHost {
namespace {

constexpr char kChampion[] = "CHAMPION";
constexpr char kSkin[] = "CHAMPION_SKIN";

void Key(JsonWriter& writer, const char* name) { writer.Key(name); }
void Text(JsonWriter& writer, const std::string& text) {
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

std::string ServiceToken() { return "mock-" + MakeRandomToken().substr(0, 32); }

}  // namespace

std::string IsoUtc(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

MockOffersService::MockOffersService(MockOffersOptions options, FulfilmentSink fulfilment)
    : options_(std::move(options)), fulfilment_(std::move(fulfilment)) {
  Reset();
}

void MockOffersService::Reset() {
  std::lock_guard<std::mutex> guard(mutex_);
  expirationDate_ = IsoUtc(std::chrono::system_clock::now() + std::chrono::hours(24 * 7));
  players_.clear();
}

MockOffersService::Player MockOffersService::NewPlayer() const {
  Player player;
  player.wallet = options_.wallet;
  // Four spots: an owned champion with a revealed skin ("Skin"), two
  // champions not owned (one skin revealed, one not), and an owned champion
  // whose skin is not revealed yet.
  player.offers = {
      {"po-champion-1",
       kChampion,
       31,
       975,
       585,
       {{"en_US", "Vessa"}, {"de_DE", "Vessa"}},
       true,
       true,
       1,
       31},
      {"po-skin-1",
       kSkin,
       31004,
       1350,
       810,
       {{"en_US", "Starforged Vessa"}, {"de_DE", "Sternengeschmiedete Vessa"}},
       false,
       true,
       1,
       31},
      {"po-champion-2",
       kChampion,
       48,
       975,
       390,
       {{"en_US", "Orin"}, {"de_DE", "Orin"}},
       false,
       true,
       2,
       48},
      {"po-skin-2",
       kSkin,
       48007,
       1350,
       675,
       {{"en_US", "Frostbound Orin"}, {"de_DE", "Frostgebundener Orin"}},
       false,
       true,
       2,
       48},
      {"po-champion-3",
       kChampion,
       57,
       790,
       474,
       {{"en_US", "Kael"}, {"de_DE", "Kael"}},
       false,
       false,
       3,
       57},
      {"po-skin-3",
       kSkin,
       57002,
       975,
       585,
       {{"en_US", "Tidecaller Kael"}, {"de_DE", "Gezeitenrufer Kael"}},
       false,
       false,
       3,
       57},
      {"po-champion-4",
       kChampion,
       64,
       975,
       585,
       {{"en_US", "Mira"}, {"de_DE", "Mira"}},
       true,
       false,
       4,
       64},
      {"po-skin-4",
       kSkin,
       64011,
       1820,
       1092,
       {{"en_US", "Emberlight Mira"}, {"de_DE", "Glutlicht-Mira"}},
       false,
       false,
       4,
       64},
  };
  return player;
}

MockOffersService::Player& MockOffersService::PlayerState(const std::string& player) {
  auto held = players_.find(player);
  if (held == players_.end()) {
    if (players_.size() >= kMaxPlayers) {
      players_.erase(std::min_element(
          players_.begin(), players_.end(),
          [](const auto& a, const auto& b) { return a.second.lastSeen < b.second.lastSeen; }));
    }
    held = players_.emplace(player, NewPlayer()).first;
  }
  held->second.lastSeen = nextSequence_;
  return held->second;
}

Admission MockOffersService::Admit(const LocalRequest& head) {
  // A service of its own, with its own tokens; only the Host check applies,
  // and every client that passes it may hold a request slot.
  return {AccessGuard(std::string()).Check(head, /*requireToken=*/false), true};
}

void MockOffersService::Handle(LocalRequest request, Responder respond) {
  const std::string_view path = request.Path();
  if (path == "/mock/v1/state" && request.method == "GET") return respond(State(request));
  if (path == "/mock/v1/requests" && request.method == "GET") {
    return respond(RecordedCalls(request));
  }
  if (path == "/mock/v1/reset" && request.method == "POST") {
    Reset();
    return respond(State(request));
  }
  if (path == "/mock/v1/outage") return respond(Outage(request));
  if (path == "/mock/v1/revoke" && request.method == "POST") {
    std::lock_guard<std::mutex> guard(mutex_);
    tokens_.clear();
    return respond(LocalResponse::Json(200, "{\"revoked\":true}"));
  }
  std::string player;
  std::optional<LocalResponse> down = OutageAnswer();
  LocalResponse response = down ? std::move(*down) : Route(request, player);
  if (path.starts_with(options_.basePath)) Record(request, player, response.status);
  respond(std::move(response));
}

LocalResponse MockOffersService::Outage(const LocalRequest& request) {
  if (request.method == "DELETE") {
    std::lock_guard<std::mutex> guard(mutex_);
    outage_.reset();
    return LocalResponse::Json(200, "{\"outage\":null}");
  }
  if (request.method != "POST") {
    LocalResponse refusal = LocalResponse::Error(405, "Method not allowed");
    refusal.headers.push_back({"Allow", "POST, DELETE"});
    return refusal;
  }
  rapidjson::Document body;
  std::string error;
  if (!ParseJson(request.body, body, error)) return LocalResponse::Error(400, error);
  if (!body.IsObject() || !body.HasMember("status") || !body["status"].IsUint() ||
      body["status"].GetUint() < 400 || body["status"].GetUint() > 599) {
    return LocalResponse::Error(400, "Expected {\"status\": 400 to 599, \"message\": ...}");
  }
  const unsigned status = body["status"].GetUint();
  const std::string message = StringMember(body, "message", "The service is unavailable");
  std::lock_guard<std::mutex> guard(mutex_);
  outage_ = Refusal{status, message};
  return LocalResponse::Json(200, "{\"outage\":{\"status\":" + std::to_string(status) +
                                      ",\"message\":" + JsonQuote(message) + "}}");
}

std::optional<LocalResponse> MockOffersService::OutageAnswer() const {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!outage_) return std::nullopt;
  return LocalResponse::Error(outage_->status, outage_->message);
}

LocalResponse MockOffersService::Route(const LocalRequest& request, std::string& player) {
  const std::string_view path = request.Path();
  std::string locale;
  (void)FindQueryParameter(request.Query(), "lang", locale);
  if (!path.starts_with(options_.basePath)) {
    return LocalResponse::Error(404, "No such endpoint: " + std::string(path));
  }
  const std::string_view relative = path.substr(options_.basePath.size());
  struct Endpoint {
    const char* path;
    const char* method;
  };
  static constexpr Endpoint kEndpoints[] = {{"v1/player/authenticate", "POST"},
                                            {"v1/player/offers", "GET"},
                                            {"v1/player/offers/view", "POST"},
                                            {"v1/player/offers/accept", "POST"}};
  for (size_t i = 0; i < std::size(kEndpoints); ++i) {
    if (relative != kEndpoints[i].path) continue;
    if (request.method != kEndpoints[i].method) {
      LocalResponse refusal = LocalResponse::Error(405, "Method not allowed");
      refusal.headers.push_back({"Allow", kEndpoints[i].method});
      return refusal;
    }
    if (i == 0) return Authenticate(request, player);
    player = PlayerOf(request);
    if (player.empty()) return LocalResponse::Error(401, "Unknown or expired service token");
    if (i == 1) return ListOffers(player, locale);
    if (i == 2) return View(request, player, locale);
    return Accept(request, player, locale);
  }
  return LocalResponse::Error(404, "No such endpoint: " + std::string(path));
}

LocalResponse MockOffersService::Authenticate(const LocalRequest& request, std::string& player) {
  rapidjson::Document body;
  std::string error;
  if (!ParseJson(request.body, body, error)) return LocalResponse::Error(400, error);
  player = StringMember(body, "token");
  if (StringMember(body, "tokenType") != "jwt") {
    return LocalResponse::Error(400, "tokenType must be \"jwt\"");
  }
  if (player.empty()) return LocalResponse::Error(401, "An id token is needed to authenticate");
  const auto now = std::chrono::system_clock::now();
  Token token{ServiceToken(), now + options_.tokenLifetime, player};
  {
    std::lock_guard<std::mutex> guard(mutex_);
    std::erase_if(tokens_, [&](const Token& held) { return held.expires <= now; });
    tokens_.push_back(token);
    (void)PlayerState(player);
    lastAuthenticated_ = player;
  }
  return LocalResponse::Json(200, "{\"token\":" + JsonQuote(token.value) +
                                      ",\"expiration\":" + JsonQuote(IsoUtc(token.expires)) + "}");
}

std::string MockOffersService::PlayerOf(const LocalRequest& request) const {
  const std::string* header = request.Header("authorization");
  if (header == nullptr) return {};
  const auto now = std::chrono::system_clock::now();
  std::lock_guard<std::mutex> guard(mutex_);
  for (const Token& token : tokens_) {
    if (token.value == *header && token.expires > now) return token.player;
  }
  return {};
}

void MockOffersService::Record(const LocalRequest& request, const std::string& player,
                               unsigned status) {
  constexpr size_t kBodyLimit = 4096;
  const std::string* authorization = request.Header("authorization");
  std::lock_guard<std::mutex> guard(mutex_);
  if (calls_.size() >= kMaxRecordedCalls) calls_.pop_front();
  calls_.push_back({nextSequence_++, request.method, request.target,
                    authorization != nullptr ? *authorization : std::string(), player, status,
                    request.body.substr(0, kBodyLimit)});
}

LocalResponse MockOffersService::RecordedCalls(const LocalRequest& request) const {
  std::string text;
  uint64_t since = 0;
  if (FindQueryParameter(request.Query(), "since", text)) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), since);
    if (error != std::errc() || end != text.data() + text.size()) {
      return LocalResponse::Error(400, "since needs a sequence number");
    }
  }
  std::string json = "{\"requests\":[";
  std::lock_guard<std::mutex> guard(mutex_);
  for (const RecordedCall& call : calls_) {
    if (call.sequence <= since) continue;
    if (json.back() != '[') json += ',';
    json += "{\"sequence\":" + std::to_string(call.sequence) +
            ",\"method\":" + JsonQuote(call.method) + ",\"target\":" + JsonQuote(call.target) +
            ",\"authorization\":" + JsonQuote(call.authorization) +
            ",\"player\":" + JsonQuote(call.player) + ",\"status\":" + std::to_string(call.status) +
            ",\"body\":" + JsonQuote(call.body) + "}";
  }
  return LocalResponse::Json(200, json + "]}");
}

std::string MockOffersService::OffersJson(const std::vector<const Offer*>& offers,
                                          const std::string& locale) const {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  Key(writer, "offers");
  writer.StartArray();
  for (const Offer* offer : offers) {
    std::string name = offer->names.front().second;
    for (const auto& [nameLocale, text] : offer->names) {
      if (nameLocale == locale) name = text;
    }
    writer.StartObject();
    Key(writer, "offerId");
    Text(writer, offer->offerId);
    Key(writer, "inventoryType");
    Text(writer, offer->inventoryType);
    Key(writer, "itemId");
    writer.Int(offer->itemId);
    Key(writer, "originalPrice");
    writer.Int64(offer->originalPrice);
    Key(writer, "discountPrice");
    writer.Int64(offer->discountPrice);
    Key(writer, "name");
    Text(writer, name);
    Key(writer, "owned");
    writer.Bool(offer->owned);
    Key(writer, "revealed");
    writer.Bool(offer->revealed);
    Key(writer, "expirationDate");
    Text(writer, expirationDate_);
    Key(writer, "spotIndex");
    writer.Uint(offer->spotIndex);
    writer.EndObject();
  }
  writer.EndArray();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

LocalResponse MockOffersService::ListOffers(const std::string& player, const std::string& locale) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<const Offer*> all;
  for (const Offer& offer : PlayerState(player).offers) all.push_back(&offer);
  return LocalResponse::Json(200, OffersJson(all, locale));
}

MockOffersService::Offer* MockOffersService::FindOffer(std::vector<Offer>& offers,
                                                       const std::string& offerId) {
  for (Offer& offer : offers) {
    if (offer.offerId == offerId) return &offer;
  }
  return nullptr;
}

LocalResponse MockOffersService::View(const LocalRequest& request, const std::string& player,
                                      const std::string& locale) {
  rapidjson::Document body;
  std::string error;
  if (!ParseJson(request.body, body, error)) return LocalResponse::Error(400, error);
  const auto list = body.IsObject() ? body.FindMember("offers") : body.MemberEnd();
  if (!body.IsObject() || list == body.MemberEnd() || !list->value.IsArray()) {
    return LocalResponse::Error(400, "Expected {\"offers\": [{\"offerId\": ...}]}");
  }
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<Offer>& offers = PlayerState(player).offers;
  // Ids the service does not know (an empty one included) are passed over.
  std::vector<const Offer*> viewed;
  for (const auto& item : list->value.GetArray()) {
    Offer* offer = FindOffer(offers, StringMember(item, "offerId"));
    if (offer == nullptr) continue;
    offer->revealed = true;
    if (std::find(viewed.begin(), viewed.end(), offer) == viewed.end()) viewed.push_back(offer);
  }
  return LocalResponse::Json(200, OffersJson(viewed, locale));
}

LocalResponse MockOffersService::Accept(const LocalRequest& request, const std::string& player,
                                        const std::string&) {
  rapidjson::Document body;
  std::string error;
  if (!ParseJson(request.body, body, error)) return LocalResponse::Error(400, error);
  const auto list = body.IsObject() ? body.FindMember("offers") : body.MemberEnd();
  if (!body.IsObject() || list == body.MemberEnd() || !list->value.IsArray()) {
    return LocalResponse::Error(400, "Expected {\"offers\": [{\"offerId\": ..., \"price\": ...}]}");
  }
  if (list->value.Empty()) return LocalResponse::Error(400, "No offers to accept");

  std::vector<std::pair<std::string, std::string>> notifications;  // LCDS body JSON
  std::string answer;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    Player& state = PlayerState(player);
    std::vector<Offer>& offers = state.offers;
    std::vector<Offer*> bought;
    std::set<int32_t> championsBought;
    int64_t total = 0;
    for (const auto& item : list->value.GetArray()) {
      const std::string offerId = StringMember(item, "offerId");
      Offer* offer = FindOffer(offers, offerId);
      if (offer == nullptr) return LocalResponse::Error(404, "Unknown offer: " + offerId);
      if (std::find(bought.begin(), bought.end(), offer) != bought.end()) {
        return LocalResponse::Error(400, "Offer " + offerId + " is requested twice");
      }
      if (offer->owned) return LocalResponse::Error(409, "Offer " + offerId + " is already owned");
      if (StringMember(item, "inventoryType") != offer->inventoryType ||
          !item.HasMember("itemId") || !item["itemId"].IsInt() ||
          item["itemId"].GetInt() != offer->itemId) {
        return LocalResponse::Error(400, "Offer " + offerId + " names another item");
      }
      if (!item.HasMember("price") || !item["price"].IsInt64() ||
          item["price"].GetInt64() != offer->originalPrice) {
        return LocalResponse::Error(
            400, "Offer " + offerId + " is priced " + std::to_string(offer->originalPrice));
      }
      bought.push_back(offer);
      total += offer->discountPrice;
      if (offer->inventoryType == kChampion) championsBought.insert(offer->itemId);
    }
    for (const Offer* offer : bought) {
      if (offer->inventoryType != kSkin) continue;
      const bool championOwned = std::any_of(offers.begin(), offers.end(), [&](const Offer& o) {
        return o.inventoryType == kChampion && o.itemId == offer->championId && o.owned;
      });
      if (!championOwned && championsBought.count(offer->championId) == 0) {
        return LocalResponse::Error(
            409, "The skin of offer " + offer->offerId + " needs its champion, which is not owned");
      }
    }
    if (total > state.wallet) {
      return LocalResponse::Error(402, "Not enough in the wallet: " + std::to_string(total) +
                                           " needed, " + std::to_string(state.wallet) + " held");
    }
    state.wallet -= total;

    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    Key(writer, "items");
    writer.StartArray();
    for (Offer* offer : bought) {
      offer->owned = true;
      writer.StartObject();
      Key(writer, "inventoryType");
      Text(writer, offer->inventoryType);
      Key(writer, "itemId");
      writer.Int(offer->itemId);
      Key(writer, "pricePaid");
      writer.Int64(offer->discountPrice);
      writer.EndObject();
      std::string data =
          offer->inventoryType == kChampion
              ? "{\"championId\":" + std::to_string(offer->itemId) + ",\"owned\":true}"
              : "{\"championId\":" + std::to_string(offer->championId) +
                    ",\"owned\":true,\"skinId\":" + std::to_string(offer->itemId) + "}";
      notifications.emplace_back(
          kFulfilmentTypeName,
          "{\"inventoryType\":" + JsonQuote(offer->inventoryType) + ",\"data\":" + data + "}");
    }
    writer.EndArray();
    Key(writer, "wallet");
    writer.StartObject();
    Key(writer, "qp");
    writer.Int64(state.wallet);
    writer.EndObject();
    writer.EndObject();
    answer.assign(buffer.GetString(), buffer.GetSize());
  }
  if (fulfilment_) {
    for (auto& [typeName, notification] : notifications) fulfilment_(typeName, notification);
  }
  return LocalResponse::Json(200, std::move(answer));
}

LocalResponse MockOffersService::State(const LocalRequest& request) const {
  std::string json;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string player;
    if (!FindQueryParameter(request.Query(), "player", player)) player = lastAuthenticated_;
    // A player not seen yet has the starting state.
    const auto held = players_.find(player);
    const Player state = held != players_.end() ? held->second : NewPlayer();
    json = "{\"wallet\":{\"qp\":" + std::to_string(state.wallet) +
           "},\"tokens\":" + std::to_string(tokens_.size()) + ",\"offers\":";
    std::vector<const Offer*> all;
    for (const Offer& offer : state.offers) all.push_back(&offer);
    const std::string offers = OffersJson(all, "en_US");
    // {"offers":[...]} without its braces' member name: the list alone.
    json += offers.substr(10, offers.size() - 11) + ",\"player\":" + JsonQuote(player);
  }
  return LocalResponse::Json(200, json + "}");
}

}  // namespace Tesk::DevHost
