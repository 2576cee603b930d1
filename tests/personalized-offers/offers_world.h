// The world around the loaded plug-in library in the feature's tests: the
// test host plays the login plug-in (the session resource), the configuration
// plug-in (the namespace and its HubEnabled key), the region-locale resource
// and the remote offers service, and records everything the plug-in sends.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testing/test_host.h"

namespace Tesk::Testing {

// One offer of the scripted service's catalogue.
struct ServiceOffer {
  std::string offerId;
  std::string inventoryType;
  int32_t itemId = 0;
  int64_t originalPrice = 0;
  int64_t discountPrice = 0;
  std::string name;
  bool owned = false;
  bool revealed = false;
  uint32_t spotIndex = 0;
};

// The remote offers service as the tests script it. Every request is recorded
// by the test host; answers follow the catalogue unless a failure is set.
struct ScriptedOffersService {
  std::string baseUrl = "https://po.test:443/po/";
  std::vector<ServiceOffer> offers;
  int authentications = 0;
  std::string issuedTokenPrefix = "service-token-";
  std::string expiration = "2099-01-01T00:00:00Z";
  // When set, the answer to requests whose URL contains the key.
  std::map<std::string, HttpAnswer> failures;
  int64_t wallet = 5000;
  // Runs once, while the plug-in waits for the first request whose URL
  // contains `reentryOn`, before that request is answered: a host may run
  // other calls into the plug-in while it waits.
  std::string reentryOn;
  std::function<void()> reentry;
};

class OffersWorld {
 public:
  OffersWorld();
  ~OffersWorld();

  // Loads the library; `start` also initialises it (Start runs).
  void Load(bool start = true);
  TestHost& Host() { return host_; }
  ScriptedOffersService& Service() { return service_; }

  // Resources the plug-in reads (GET) and observes, held by the test host.
  void SetResource(const std::string& uri, const TestValue& value) {
    host_.SetResource(uri, value);
  }
  void DeleteResource(const std::string& uri) { host_.DeleteResource(uri); }
  // A ready login session of player `player` with its id token.
  static TestValue Session(uint64_t player, const std::string& idToken,
                           const char* state = "SUCCEEDED");
  // The namespace with every key, pointing at the scripted service.
  TestValue Namespace(bool hubEnabled = true, bool themed = false) const;
  // Session, locale, namespace and HubEnabled key of a logged-in player.
  void SetUpPlayer(uint64_t player = 1, const std::string& idToken = "id-token-1");

  // A request through the plug-in's function table, routed as a host routes it.
  FunctionReply Get(const std::string& url);
  FunctionReply Post(const std::string& url, std::optional<std::string> body = std::nullopt);
  // An LCDS store fulfilment notification, delivered and run.
  void Fulfil(const char* inventoryType, const TestValue& data);

  // What the plug-in sent and asked since the last ClearRecordings.
  [[nodiscard]] std::vector<SentEvent> EventsFor(const std::string& uri) const;
  [[nodiscard]] std::vector<HttpCall> ServiceCalls(const std::string& pathPart = "") const;

 private:
  ApiAnswer AnswerApi(const ApiCall& call);
  HttpAnswer AnswerHttp(const HttpCall& call);

  TestHost host_;
  ScriptedOffersService service_;
};

}  // namespace Tesk::Testing
