// Request dispatch beside a direct call of the same handler: a request with no
// argument, and one whose body is a JSON document of 50 offers. Each request
// goes through the published function table's request callback, as a host
// sends it, with the route compiled once when the table is built ("cached")
// or anew for every request ("compiled").
#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/builtin_types.h"
#include "codecs/json.h"
#include "rest/function_table.h"
#include "rest/route_declaration.h"

namespace {

using namespace Tesk;

struct BenchOffer {
  std::string offerId;
  std::string type;
  int32_t skinId = 0;
  int32_t championId = 0;
  int64_t originalPrice = 0;
  int64_t discountedPrice = 0;
  std::string expirationDate;
  bool revealed = false;
  bool owned = false;
};

struct BenchOffers {
  std::vector<BenchOffer> offers;
};

// What the handlers do with their input: little, so that dispatch shows.
bool Status() { return true; }
uint32_t CountRevealed(const BenchOffers& offers) {
  uint32_t revealed = 0;
  for (const BenchOffer& offer : offers.offers) revealed += offer.revealed ? 1 : 0;
  return revealed;
}

std::string FiftyOffersJson() {
  std::string json = R"({"offers":[)";
  for (int i = 0; i < 50; ++i) {
    if (i > 0) json += ',';
    json += R"({"offerId":"offer-)" + std::to_string(i) + R"(-7f3a9c","type":"Skin","skinId":)" +
            std::to_string(1000 + i) + R"(,"championId":)" + std::to_string(i % 12) +
            R"(,"originalPrice":)" + std::to_string(1350 + i) + R"(,"discountedPrice":)" +
            std::to_string(675 + i) + R"(,"expirationDate":"2026-12-24T10:00:00Z","revealed":)" +
            (i % 3 == 0 ? "true" : "false") + R"(,"owned":false})";
  }
  return json + "]}";
}

struct Api {
  explicit Api(bool compileRoutesPerRequest) {
    registry.Initialize(&RegisterBindingBuiltins);
    auto offer = registry.BeginType<BenchOffer>("BenchOffer");
    offer.Field("offerId", &BenchOffer::offerId);
    offer.Field("type", &BenchOffer::type);
    offer.Field("skinId", &BenchOffer::skinId);
    offer.Field("championId", &BenchOffer::championId);
    offer.Field("originalPrice", &BenchOffer::originalPrice);
    offer.Field("discountedPrice", &BenchOffer::discountedPrice);
    offer.Field("expirationDate", &BenchOffer::expirationDate);
    offer.Field("revealed", &BenchOffer::revealed);
    offer.Field("owned", &BenchOffer::owned);
    auto offers = registry.BeginType<BenchOffers>("BenchOffers");
    offers.Field("offers", &BenchOffers::offers);
    DeclareRoute(registry, HttpMethod::Get, "/bench/v1/status", &Status);
    DeclareRoute(registry, HttpMethod::Post, "/bench/v1/offers/reveal",
                 [](const BenchOffers& body) { return CountRevealed(body); })
        .BodyArgument<BenchOffers>("offers");
    table.emplace(registry, compileRoutesPerRequest);
  }

  const FunctionTableRecord& Find(const char* name) const {
    const auto* record = static_cast<const FunctionTableRecord*>(table->Header()->functions);
    while (std::string_view(record->function.name) != name) {
      record = reinterpret_cast<const FunctionTableRecord*>(record->function.next);
    }
    return *record;
  }

  BindingRegistry registry;
  std::optional<HostFunctionTable> table;
};

void Send(benchmark::State& state, bool compileRoutesPerRequest, const char* function,
          uint32_t method, const char* url, const std::string* body) {
  const Api api(compileRoutesPerRequest);
  const FunctionTableRecord& record = api.Find(function);
  IncomingRequestRecord request{};
  request.method = method;
  request.url = url;
  request.dispatchContext = record.function.dispatchContext;
  request.contentType = "application/json";
  request.body = body != nullptr ? body->data() : nullptr;
  request.bodyLength = body != nullptr ? static_cast<uint32_t>(body->size()) : 0;
  for (auto _ : state) {
    ResponseRecord response{};
    record.requestCallback(&response, &request);
    if (response.failed != 0) state.SkipWithError(response.errorText);
    response.release(&response);
  }
}

void NoArgumentsDirect(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Status());
}
void NoArgumentsCached(benchmark::State& state) {
  Send(state, false, "GetBenchV1Status", 2, "/bench/v1/status", nullptr);
}
void NoArgumentsCompiled(benchmark::State& state) {
  Send(state, true, "GetBenchV1Status", 2, "/bench/v1/status", nullptr);
}

// The direct call gets the native argument ready-made, as a caller in the
// same program would have it.
void FiftyOffersDirect(benchmark::State& state) {
  BenchOffers offers;
  for (int i = 0; i < 50; ++i) {
    offers.offers.push_back({"offer", "Skin", i, i, 1, 1, "", i % 3 == 0, false});
  }
  for (auto _ : state) benchmark::DoNotOptimize(CountRevealed(offers));
}
// What any caller holding only the JSON text must do: read it, convert it to
// the native argument and call the handler. Dispatch adds the rest.
void FiftyOffersDecoded(benchmark::State& state) {
  const Api api(false);
  const std::string body = FiftyOffersJson();
  for (auto _ : state) {
    BenchOffers offers;
    if (!ParseJsonAs(body, &api.registry, offers)) state.SkipWithError("not read");
    benchmark::DoNotOptimize(CountRevealed(offers));
  }
}
void FiftyOffersCached(benchmark::State& state) {
  static const std::string body = FiftyOffersJson();
  Send(state, false, "PostBenchV1OffersReveal", 6, "/bench/v1/offers/reveal", &body);
}
void FiftyOffersCompiled(benchmark::State& state) {
  static const std::string body = FiftyOffersJson();
  Send(state, true, "PostBenchV1OffersReveal", 6, "/bench/v1/offers/reveal", &body);
}

// What compiling a route costs: the template's regular expression built by the
// standard library, and the matcher the SDK builds instead.
void CompileRegex(benchmark::State& state) {
  const CompiledRoute route = CompileRoute("/bench/v1/offers/{id}/reveal", HttpMethod::Post, "");
  for (auto _ : state) {
    std::regex matcher(route.pattern, std::regex::ECMAScript | std::regex::optimize);
    benchmark::DoNotOptimize(matcher);
  }
}
void CompilePattern(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        CompileRoute("/bench/v1/offers/{id}/reveal", HttpMethod::Post, "").matcher);
  }
}

}  // namespace

BENCHMARK(CompileRegex)->Name("route/compile/regex");
BENCHMARK(CompilePattern)->Name("route/compile/pattern");
BENCHMARK(NoArgumentsDirect)->Name("dispatch/none/direct");
BENCHMARK(NoArgumentsCached)->Name("dispatch/none/cached");
BENCHMARK(NoArgumentsCompiled)->Name("dispatch/none/compiled");
BENCHMARK(FiftyOffersDirect)->Name("dispatch/fifty-offers/direct");
BENCHMARK(FiftyOffersDecoded)->Name("dispatch/fifty-offers/decoded");
BENCHMARK(FiftyOffersCached)->Name("dispatch/fifty-offers/cached");
BENCHMARK(FiftyOffersCompiled)->Name("dispatch/fifty-offers/compiled");

BENCHMARK_MAIN();
