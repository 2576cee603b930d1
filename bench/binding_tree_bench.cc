// Building, deep-copying and destroying large value trees: BindingProperty
// beside RapidJSON's Document (default MemoryPoolAllocator) and nlohmann::json,
// in one run. Every tree is built from the same plain C++ description, generated
// once before the benchmarks start. Each operation is timed alone (the build
// that a destroy needs, or the destruction after a build or a copy, runs with
// the timer paused). The memory of each tree, measured once outside the timing
// with HeapMeter (usable bytes of every heap block), is
// reported as the counter "bytes".
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/binding_property.h"
#include "support/heap_meter.h"

namespace Tesk::Bench {
namespace {

// ---------------------------------------------------------------------------
// The descriptions.

// Shape A: records whose member names repeat from object to object.
struct UserDescription {
  int64_t id;
  std::string name;
  std::string location;
  bool verified;
  int64_t friendsCount;
};

struct RecordDescription {
  int64_t id;
  std::string idText;
  std::string name;
  std::string screenName;
  std::string createdAt;
  int64_t followersCount;
  std::string lang;
  std::string text;
  bool retweeted;
  double score;
  UserDescription user;  // "coordinates" is always null
};

struct ShapeA {
  std::vector<RecordDescription> records;
};

// Shape B: long arrays of short strings and of numbers.
struct NumberDescription {
  bool isFloat;
  int64_t integer;
  double real;
};

struct ShapeB {
  std::vector<std::string> codes;  // drawn from a small vocabulary
  std::vector<std::string> ids;    // all distinct
  std::vector<NumberDescription> values;
};

constexpr size_t kRecordCount = 20'000;
constexpr size_t kUserCount = 4'000;
constexpr size_t kLongArraySize = 200'000;
constexpr size_t kCodeVocabulary = 1'000;

// Deterministic on every platform (no standard distribution involved).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
  std::string Word(uint32_t minLength, uint32_t maxLength) {
    std::string word(minLength + Below(maxLength - minLength + 1), ' ');
    for (char& c : word) c = static_cast<char>('a' + Below(26));
    return word;
  }

 private:
  uint64_t state_;
};

ShapeA MakeShapeA() {
  Random random(20240611);
  std::vector<UserDescription> users(kUserCount);
  std::vector<std::string> screenNames(kUserCount);
  std::vector<std::string> locations;
  for (int i = 0; i < 60; ++i) locations.push_back(random.Word(4, 9) + ", " + random.Word(3, 8));
  locations.emplace_back();
  for (size_t i = 0; i < kUserCount; ++i) {
    UserDescription& user = users[i];
    user.id = 100'000'000 + static_cast<int64_t>(i) * 7919;
    user.name = random.Word(3, 9) + " " + random.Word(3, 10);
    user.location = locations[random.Below(static_cast<uint32_t>(locations.size()))];
    user.verified = random.Below(10) == 0;
    user.friendsCount = random.Below(5'000);
    screenNames[i] = random.Word(6, 15);
  }
  static const char* const kLangs[] = {"en", "en", "en", "ja", "es", "pt", "fr", "de"};
  static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  ShapeA shape;
  shape.records.resize(kRecordCount);
  for (size_t i = 0; i < kRecordCount; ++i) {
    RecordDescription& record = shape.records[i];
    const size_t author = random.Below(kUserCount);
    record.id = 505'874'924'095'815'681ll + static_cast<int64_t>(i) * 104'729;
    record.idText = std::to_string(record.id);
    record.name = users[author].name;
    record.screenName = screenNames[author];
    const uint32_t second = static_cast<uint32_t>(i * 37);
    char date[40];
    std::snprintf(date, sizeof date, "%s Aug %02u %02u:%02u:%02u +0000 2014", kDays[(i / 2335) % 7],
                  1 + (second / 86'400) % 28, (second / 3600) % 24, (second / 60) % 60,
                  second % 60);
    record.createdAt = date;
    record.followersCount = random.Below(100'000);
    record.lang = kLangs[random.Below(8)];
    const uint32_t textLength = 40 + random.Below(101);
    record.text = "#" + std::to_string(i);
    while (record.text.size() < textLength) record.text += " " + random.Word(2, 9);
    record.retweeted = random.Below(4) == 0;
    record.score = random.Below(4'000) / 8.0;
    record.user = users[author];
  }
  return shape;
}

ShapeB MakeShapeB() {
  Random random(19700101);
  std::vector<std::string> vocabulary(kCodeVocabulary);
  for (std::string& word : vocabulary) word = random.Word(3, 8);
  ShapeB shape;
  shape.codes.reserve(kLongArraySize);
  shape.ids.reserve(kLongArraySize);
  shape.values.reserve(kLongArraySize);
  for (size_t i = 0; i < kLongArraySize; ++i) {
    shape.codes.push_back(vocabulary[random.Below(kCodeVocabulary)]);
    char id[16];
    // Multiplying by an odd number is a bijection modulo 2^28: distinct ids.
    std::snprintf(id, sizeof id, "u%07x", static_cast<unsigned>((i * 2654435761u) & 0xFFFFFFFu));
    shape.ids.emplace_back(id);
    if (i % 2 == 0) {
      shape.values.push_back({false, static_cast<int64_t>(random.Below(2'000'000)) - 1'000'000, 0});
    } else {
      shape.values.push_back({true, 0, random.Below(400'000) / 4.0});
    }
  }
  return shape;
}

// ---------------------------------------------------------------------------
// The project's value tree.

struct Ours {
  using Tree = BindingProperty;
  using MeteredTree = BindingProperty;

  static void Build(BindingProperty& root, const ShapeA& shape) {
    root.MakeCollection();
    root.Reserve(static_cast<uint32_t>(shape.records.size()));
    for (const RecordDescription& record : shape.records) {
      BindingProperty& object = root.Append();
      object.MemberRef("id").SetSigned(record.id);
      object.MemberRef("id_str").SetString(record.idText);
      object.MemberRef("name").SetString(record.name);
      object.MemberRef("screen_name").SetString(record.screenName);
      object.MemberRef("created_at").SetString(record.createdAt);
      object.MemberRef("followers_count").SetSigned(record.followersCount);
      object.MemberRef("lang").SetString(record.lang);
      object.MemberRef("text").SetString(record.text);
      object.MemberRef("retweeted").SetBool(record.retweeted);
      object.MemberRef("coordinates");
      object.MemberRef("score").SetFloat(record.score);
      BindingProperty& user = object.MemberRef("user");
      user.MemberRef("id").SetSigned(record.user.id);
      user.MemberRef("name").SetString(record.user.name);
      user.MemberRef("location").SetString(record.user.location);
      user.MemberRef("verified").SetBool(record.user.verified);
      user.MemberRef("friends_count").SetSigned(record.user.friendsCount);
    }
  }

  static void BuildStrings(BindingProperty& array, const std::vector<std::string>& texts) {
    array.MakeCollection();
    array.Reserve(static_cast<uint32_t>(texts.size()));
    for (const std::string& text : texts) array.Append().SetString(text);
  }

  static void Build(BindingProperty& root, const ShapeB& shape) {
    root.MakeStructure();
    BuildStrings(root.MemberRef("codes"), shape.codes);
    BuildStrings(root.MemberRef("ids"), shape.ids);
    BindingProperty& values = root.MemberRef("values");
    values.MakeCollection();
    values.Reserve(static_cast<uint32_t>(shape.values.size()));
    for (const NumberDescription& number : shape.values) {
      if (number.isFloat) {
        values.Append().SetFloat(number.real);
      } else {
        values.Append().SetSigned(number.integer);
      }
    }
  }

  static void Copy(std::optional<BindingProperty>& copy, const BindingProperty& source) {
    copy.emplace(source);
  }

  static int64_t CountValues(const BindingProperty& value) {
    int64_t count = 1;
    for (const BindingProperty& element : value.Elements()) count += CountValues(element);
    for (const auto member : value.Members()) count += CountValues(member.value);
    return count;
  }
};

// ---------------------------------------------------------------------------
// RapidJSON: member names are the literals, kept by reference as a user of the
// library would write them; string values are copied into the document.

struct RapidJson {
  using Tree = rapidjson::Document;
  // The same document and pool, whose chunks come from a counting C heap.
  using MeteredTree =
      rapidjson::GenericDocument<rapidjson::UTF8<>,
                                 rapidjson::MemoryPoolAllocator<CountingCrtAllocator>,
                                 CountingCrtAllocator>;

  template <class Document>
  static typename Document::ValueType Text(const std::string& text,
                                           typename Document::AllocatorType& allocator) {
    return typename Document::ValueType(text.data(), static_cast<rapidjson::SizeType>(text.size()),
                                        allocator);
  }

  template <class Document>
  static void Build(Document& document, const ShapeA& shape) {
    using Value = typename Document::ValueType;
    auto& allocator = document.GetAllocator();
    document.SetArray();
    document.Reserve(static_cast<rapidjson::SizeType>(shape.records.size()), allocator);
    for (const RecordDescription& record : shape.records) {
      Value object(rapidjson::kObjectType);
      object.AddMember("id", record.id, allocator);
      object.AddMember("id_str", Text<Document>(record.idText, allocator), allocator);
      object.AddMember("name", Text<Document>(record.name, allocator), allocator);
      object.AddMember("screen_name", Text<Document>(record.screenName, allocator), allocator);
      object.AddMember("created_at", Text<Document>(record.createdAt, allocator), allocator);
      object.AddMember("followers_count", record.followersCount, allocator);
      object.AddMember("lang", Text<Document>(record.lang, allocator), allocator);
      object.AddMember("text", Text<Document>(record.text, allocator), allocator);
      object.AddMember("retweeted", record.retweeted, allocator);
      object.AddMember("coordinates", Value(), allocator);
      object.AddMember("score", record.score, allocator);
      Value user(rapidjson::kObjectType);
      user.AddMember("id", record.user.id, allocator);
      user.AddMember("name", Text<Document>(record.user.name, allocator), allocator);
      user.AddMember("location", Text<Document>(record.user.location, allocator), allocator);
      user.AddMember("verified", record.user.verified, allocator);
      user.AddMember("friends_count", record.user.friendsCount, allocator);
      object.AddMember("user", user, allocator);
      document.PushBack(object, allocator);
    }
  }

  template <class Document>
  static typename Document::ValueType Strings(const std::vector<std::string>& texts,
                                              typename Document::AllocatorType& allocator) {
    typename Document::ValueType array(rapidjson::kArrayType);
    array.Reserve(static_cast<rapidjson::SizeType>(texts.size()), allocator);
    for (const std::string& text : texts)
      array.PushBack(Text<Document>(text, allocator), allocator);
    return array;
  }

  template <class Document>
  static void Build(Document& document, const ShapeB& shape) {
    using Value = typename Document::ValueType;
    auto& allocator = document.GetAllocator();
    document.SetObject();
    document.AddMember("codes", Strings<Document>(shape.codes, allocator), allocator);
    document.AddMember("ids", Strings<Document>(shape.ids, allocator), allocator);
    Value values(rapidjson::kArrayType);
    values.Reserve(static_cast<rapidjson::SizeType>(shape.values.size()), allocator);
    for (const NumberDescription& number : shape.values) {
      if (number.isFloat) {
        values.PushBack(number.real, allocator);
      } else {
        values.PushBack(number.integer, allocator);
      }
    }
    document.AddMember("values", values, allocator);
  }

  template <class Document>
  static void Copy(std::optional<Document>& copy, const Document& source) {
    copy.emplace();
    copy->CopyFrom(source, copy->GetAllocator());
  }

  template <class Value>
  static int64_t CountValues(const Value& value) {
    int64_t count = 1;
    if (value.IsArray()) {
      for (const auto& element : value.GetArray()) count += CountValues(element);
    } else if (value.IsObject()) {
      for (const auto& member : value.GetObject()) count += CountValues(member.value);
    }
    return count;
  }
};

// ---------------------------------------------------------------------------
// nlohmann::json with its defaults (std::map objects, std::allocator).

struct Nlohmann {
  using Tree = nlohmann::json;
  using MeteredTree = nlohmann::json;

  static void Build(nlohmann::json& root, const ShapeA& shape) {
    root = nlohmann::json::array();
    auto& records = root.get_ref<nlohmann::json::array_t&>();
    records.reserve(shape.records.size());
    for (const RecordDescription& record : shape.records) {
      nlohmann::json& object = records.emplace_back(nlohmann::json::object());
      object["id"] = record.id;
      object["id_str"] = record.idText;
      object["name"] = record.name;
      object["screen_name"] = record.screenName;
      object["created_at"] = record.createdAt;
      object["followers_count"] = record.followersCount;
      object["lang"] = record.lang;
      object["text"] = record.text;
      object["retweeted"] = record.retweeted;
      object["coordinates"] = nullptr;
      object["score"] = record.score;
      nlohmann::json& user = object["user"];
      user["id"] = record.user.id;
      user["name"] = record.user.name;
      user["location"] = record.user.location;
      user["verified"] = record.user.verified;
      user["friends_count"] = record.user.friendsCount;
    }
  }

  static void BuildStrings(nlohmann::json& array, const std::vector<std::string>& texts) {
    array = nlohmann::json::array();
    auto& elements = array.get_ref<nlohmann::json::array_t&>();
    elements.reserve(texts.size());
    for (const std::string& text : texts) elements.emplace_back(text);
  }

  static void Build(nlohmann::json& root, const ShapeB& shape) {
    root = nlohmann::json::object();
    BuildStrings(root["codes"], shape.codes);
    BuildStrings(root["ids"], shape.ids);
    nlohmann::json& values = root["values"];
    values = nlohmann::json::array();
    auto& elements = values.get_ref<nlohmann::json::array_t&>();
    elements.reserve(shape.values.size());
    for (const NumberDescription& number : shape.values) {
      if (number.isFloat) {
        elements.emplace_back(number.real);
      } else {
        elements.emplace_back(number.integer);
      }
    }
  }

  static void Copy(std::optional<nlohmann::json>& copy, const nlohmann::json& source) {
    copy.emplace(source);
  }

  static int64_t CountValues(const nlohmann::json& value) {
    int64_t count = 1;
    if (value.is_structured()) {
      for (const nlohmann::json& child : value) count += CountValues(child);
    }
    return count;
  }
};

// ---------------------------------------------------------------------------
// Memory and the benchmarks.

template <class Impl, class Shape>
HeapUse MeasureBuild(const Shape& shape, int64_t* values) {
  std::optional<typename Impl::MeteredTree> tree;
  HeapUse use;
  {
    HeapMeter meter;
    tree.emplace();
    Impl::Build(*tree, shape);
    use = meter.Read();
  }
  *values = Impl::CountValues(*tree);
  return use;
}

template <class Impl, class Shape>
HeapUse MeasureCopy(const Shape& shape) {
  typename Impl::MeteredTree source;
  Impl::Build(source, shape);
  std::optional<typename Impl::MeteredTree> copy;
  HeapMeter meter;
  Impl::Copy(copy, source);
  return meter.Read();
}

void ReportMemory(benchmark::State& state, const HeapUse& use) {
  state.counters["bytes"] = static_cast<double>(use.TotalBytes());
  state.counters["heap_blocks"] = static_cast<double>(use.heapBlocks);
}

// Memory does not vary between runs: our benchmarks also report it as ratios
// to the peers' trees of the same shape.
void ReportMemoryRatios(benchmark::State& state, const HeapUse& ours, const HeapUse& document,
                        const HeapUse& nlohmann) {
  const auto bytes = static_cast<double>(ours.TotalBytes());
  state.counters["bytes_vs_rapidjson"] = bytes / static_cast<double>(document.TotalBytes());
  state.counters["bytes_vs_nlohmann"] = bytes / static_cast<double>(nlohmann.TotalBytes());
}

// Time of building a tree; its destruction is outside the timing.
template <class Impl, class Shape>
void BuildBenchmark(benchmark::State& state, const Shape* shape) {
  for (auto _ : state) {
    std::optional<typename Impl::Tree> tree;
    tree.emplace();
    Impl::Build(*tree, *shape);
    benchmark::DoNotOptimize(&*tree);
    state.PauseTiming();
    tree.reset();
    state.ResumeTiming();
  }
  int64_t values = 0;
  const HeapUse use = MeasureBuild<Impl>(*shape, &values);
  ReportMemory(state, use);
  state.counters["values"] = static_cast<double>(values);
  if constexpr (std::is_same_v<Impl, Ours>) {
    int64_t peerValues = 0;
    ReportMemoryRatios(state, use, MeasureBuild<RapidJson>(*shape, &peerValues),
                       MeasureBuild<Nlohmann>(*shape, &peerValues));
  }
}

// Time of a deep copy of a built tree; the copy's destruction is outside.
template <class Impl, class Shape>
void CopyBenchmark(benchmark::State& state, const Shape* shape) {
  typename Impl::Tree source;
  Impl::Build(source, *shape);
  for (auto _ : state) {
    std::optional<typename Impl::Tree> copy;
    Impl::Copy(copy, source);
    benchmark::DoNotOptimize(&*copy);
    state.PauseTiming();
    copy.reset();
    state.ResumeTiming();
  }
  const HeapUse use = MeasureCopy<Impl>(*shape);
  ReportMemory(state, use);
  if constexpr (std::is_same_v<Impl, Ours>) {
    ReportMemoryRatios(state, use, MeasureCopy<RapidJson>(*shape), MeasureCopy<Nlohmann>(*shape));
  }
}

// Time of destroying a freshly built tree alone.
template <class Impl, class Shape>
void DestroyBenchmark(benchmark::State& state, const Shape* shape) {
  for (auto _ : state) {
    state.PauseTiming();
    std::optional<typename Impl::Tree> tree;
    tree.emplace();
    Impl::Build(*tree, *shape);
    benchmark::ClobberMemory();
    state.ResumeTiming();
    tree.reset();
    benchmark::ClobberMemory();
  }
}

// Fixed iteration counts: the setup outside the timing (a build per destroy)
// would otherwise make the library run thousands of iterations.
constexpr int kIterations = 20;

template <class Shape>
void RegisterShape(const char* op, const char* shapeName, const Shape* shape) {
  auto add = [&](const char* implName, void (*function)(benchmark::State&, const Shape*)) {
    const std::string name = std::string(op) + "/" + shapeName + "/" + implName;
    benchmark::RegisterBenchmark(name.c_str(), function, shape)
        ->Iterations(kIterations)
        ->Unit(benchmark::kMillisecond);
  };
  const std::string_view which = op;
  if (which == "build") {
    add("ours", BuildBenchmark<Ours, Shape>);
    add("rapidjson", BuildBenchmark<RapidJson, Shape>);
    add("nlohmann", BuildBenchmark<Nlohmann, Shape>);
  } else if (which == "copy") {
    add("ours", CopyBenchmark<Ours, Shape>);
    add("rapidjson", CopyBenchmark<RapidJson, Shape>);
    add("nlohmann", CopyBenchmark<Nlohmann, Shape>);
  } else {
    add("ours", DestroyBenchmark<Ours, Shape>);
    add("rapidjson", DestroyBenchmark<RapidJson, Shape>);
    add("nlohmann", DestroyBenchmark<Nlohmann, Shape>);
  }
}

}  // namespace
}  // namespace Tesk::Bench

int main(int argc, char** argv) {
  using namespace Tesk::Bench;
  // KTX_BENCH_GLIBC_HEAP=default keeps glibc's own heap policy (for comparison).
  const char* heapChoice = std::getenv("KTX_BENCH_GLIBC_HEAP");
  const bool keepDefaults = heapChoice != nullptr && std::string_view(heapChoice) == "default";
  benchmark::AddCustomContext("c_heap", SetSteadyHeap(keepDefaults));
  // Generated before any benchmark runs, and kept for the whole run.
  static const ShapeA shapeA = MakeShapeA();
  static const ShapeB shapeB = MakeShapeB();
  for (const char* op : {"build", "copy", "destroy"}) {
    RegisterShape(op, "A", &shapeA);
    RegisterShape(op, "B", &shapeB);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
