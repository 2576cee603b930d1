// Reading and writing the standard corpora with the project's codecs beside the
// peers a user would pick, in one run: JSON (RapidJSON's Document, Writer and
// PrettyWriter, nlohmann::json), MessagePack (msgpack-cxx) and YAML (libyaml's
// document loader, yaml-cpp), each format with its do-nothing tokenizer as the
// "limit". A read is timed from the input text to the finished tree; the
// tree's destruction (and that of a written text) runs with the timer paused,
// for every contender alike. The data folder is --data_dir=..., else the
// environment's KTX_BENCH_DATA, else the shared corpora beside the checkout.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "codecs/json.h"
#include "codecs/msgpack_reader.h"
#include "codecs/yaml_reader.h"
#include "support/heap_meter.h"

namespace Tesk::Bench {
namespace {

struct Corpus {
  std::string name;
  std::string json;
  std::string msgpack;
  std::string yaml;
  BindingProperty ours;          // the JSON read once, for the writers
  rapidjson::Document document;  // the same, for RapidJSON's writers
};

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------
// Value counts, computed once outside the timing: every contender of a format
// must have built a tree of the same size (member names are not counted).

int64_t CountValues(const BindingProperty& value) {
  int64_t count = 1;
  for (const BindingProperty& element : value.Elements()) count += CountValues(element);
  for (const auto member : value.Members()) count += CountValues(member.value);
  return count;
}

int64_t CountValues(const rapidjson::Value& value) {
  int64_t count = 1;
  if (value.IsArray()) {
    for (const auto& element : value.GetArray()) count += CountValues(element);
  } else if (value.IsObject()) {
    for (const auto& member : value.GetObject()) count += CountValues(member.value);
  }
  return count;
}

int64_t CountValues(const nlohmann::json& value) {
  int64_t count = 1;
  if (value.is_structured()) {
    for (const nlohmann::json& child : value) count += CountValues(child);
  }
  return count;
}

int64_t CountValues(const msgpack::object& value) {
  int64_t count = 1;
  if (value.type == msgpack::type::ARRAY) {
    for (uint32_t i = 0; i < value.via.array.size; ++i)
      count += CountValues(value.via.array.ptr[i]);
  } else if (value.type == msgpack::type::MAP) {
    for (uint32_t i = 0; i < value.via.map.size; ++i)
      count += CountValues(value.via.map.ptr[i].val);
  }
  return count;
}

int64_t CountValues(yaml_document_t& document, const yaml_node_t* node) {
  int64_t count = 1;
  if (node->type == YAML_SEQUENCE_NODE) {
    for (const yaml_node_item_t* item = node->data.sequence.items.start;
         item < node->data.sequence.items.top; ++item) {
      count += CountValues(document, yaml_document_get_node(&document, *item));
    }
  } else if (node->type == YAML_MAPPING_NODE) {
    for (const yaml_node_pair_t* pair = node->data.mapping.pairs.start;
         pair < node->data.mapping.pairs.top; ++pair) {
      count += CountValues(document, yaml_document_get_node(&document, pair->value));
    }
  }
  return count;
}

int64_t CountValues(const YAML::Node& node) {
  int64_t count = 1;
  if (node.IsSequence()) {
    for (const YAML::Node& child : node) count += CountValues(child);
  } else if (node.IsMap()) {
    for (const auto& member : node) count += CountValues(member.second);
  }
  return count;
}

// ---------------------------------------------------------------------------
// The timing loop shared by every contender: `produce(out)` fills `out` from
// the input (timed); `out` is destroyed with the timer paused. `bytes` is what
// one iteration reads or writes; `check(out)` runs once afterwards and returns
// the value count (or -1 when there is no tree).

template <class Result, class Produce, class Check>
void Measure(benchmark::State& state, Produce produce, Check check) {
  size_t bytes = 0;
  std::optional<Result> out;
  for (auto _ : state) {
    bytes = produce(out);
    benchmark::DoNotOptimize(&*out);
    benchmark::ClobberMemory();
    state.PauseTiming();
    out.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
  produce(out);
  const int64_t values = check(*out);
  if (values >= 0) state.counters["values"] = static_cast<double>(values);
}

constexpr auto kNoTree = [](const auto&) -> int64_t { return -1; };

// ---------------------------------------------------------------------------
// JSON.

void JsonOurs(benchmark::State& state, const Corpus* corpus) {
  Measure<BindingResult>(
      state,
      [&](auto& out) {
        out.emplace(ParseJson(corpus->json));
        return corpus->json.size();
      },
      [&](const BindingResult& result) {
        if (!result.ok) state.SkipWithError(result.ErrorText().c_str());
        return CountValues(result.value);
      });
}

void JsonDocument(benchmark::State& state, const Corpus* corpus) {
  Measure<rapidjson::Document>(
      state,
      [&](auto& out) {
        out.emplace().Parse(corpus->json.c_str());
        return corpus->json.size();
      },
      [&](const rapidjson::Document& document) {
        if (document.HasParseError()) state.SkipWithError("RapidJSON parse error");
        return CountValues(document);
      });
}

// The tokenizer alone: RapidJSON's reader with a handler that accepts everything.
void JsonLimit(benchmark::State& state, const Corpus* corpus) {
  Measure<bool>(
      state,
      [&](auto& out) {
        rapidjson::Reader reader;
        rapidjson::BaseReaderHandler<> handler;
        rapidjson::StringStream stream(corpus->json.c_str());
        out.emplace(!reader.Parse(stream, handler).IsError());
        return corpus->json.size();
      },
      [&](bool ok) {
        if (!ok) state.SkipWithError("RapidJSON reader error");
        return int64_t{-1};
      });
}

void JsonNlohmann(benchmark::State& state, const Corpus* corpus) {
  Measure<nlohmann::json>(
      state,
      [&](auto& out) {
        out.emplace(nlohmann::json::parse(corpus->json));
        return corpus->json.size();
      },
      [](const nlohmann::json& value) { return CountValues(value); });
}

// Writing: the tree read from the corpus, compact or indented by four spaces.
template <bool kIndented>
void WriteOurs(benchmark::State& state, const Corpus* corpus) {
  Measure<std::string>(
      state,
      [&](auto& out) {
        return out.emplace(WriteJson(corpus->ours, nullptr, kIndented ? "\n" : "")).size();
      },
      kNoTree);
}

template <bool kIndented>
void WriteRapidJson(benchmark::State& state, const Corpus* corpus) {
  using Writer = std::conditional_t<kIndented, rapidjson::PrettyWriter<rapidjson::StringBuffer>,
                                    rapidjson::Writer<rapidjson::StringBuffer>>;
  Measure<rapidjson::StringBuffer>(
      state,
      [&](auto& out) {
        Writer writer(out.emplace());
        corpus->document.Accept(writer);
        return out->GetSize();
      },
      kNoTree);
}

// ---------------------------------------------------------------------------
// MessagePack.

void MsgpackOurs(benchmark::State& state, const Corpus* corpus) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(corpus->msgpack.data());
  Measure<MessagePackReadResult>(
      state,
      [&](auto& out) {
        out.emplace(ReadMessagePack(bytes, corpus->msgpack.size()));
        return corpus->msgpack.size();
      },
      [&](const MessagePackReadResult& read) {
        if (!read.result.ok) state.SkipWithError(read.result.ErrorText().c_str());
        return CountValues(read.result.value);
      });
}

void MsgpackCxx(benchmark::State& state, const Corpus* corpus) {
  Measure<msgpack::object_handle>(
      state,
      [&](auto& out) {
        out.emplace(msgpack::unpack(corpus->msgpack.data(), corpus->msgpack.size()));
        return corpus->msgpack.size();
      },
      [](const msgpack::object_handle& handle) { return CountValues(handle.get()); });
}

// msgpack-cxx's parser driving a visitor that accepts everything.
void MsgpackLimit(benchmark::State& state, const Corpus* corpus) {
  Measure<bool>(
      state,
      [&](auto& out) {
        msgpack::null_visitor visitor;
        out.emplace(msgpack::parse(corpus->msgpack.data(), corpus->msgpack.size(), visitor));
        return corpus->msgpack.size();
      },
      [&](bool ok) {
        if (!ok) state.SkipWithError("msgpack-cxx parse error");
        return int64_t{-1};
      });
}

// ---------------------------------------------------------------------------
// YAML.

void YamlOurs(benchmark::State& state, const Corpus* corpus) {
  Measure<BindingResult>(
      state,
      [&](auto& out) {
        out.emplace(ParseYaml(corpus->yaml.data(), corpus->yaml.size()));
        return corpus->yaml.size();
      },
      [&](const BindingResult& result) {
        if (!result.ok) state.SkipWithError(result.ErrorText().c_str());
        return CountValues(result.value);
      });
}

// libyaml's parser set up as the project's reader sets it up.
class LibyamlParser {
 public:
  explicit LibyamlParser(const std::string& text) {
    yaml_parser_initialize(&parser_);
    yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
  }
  ~LibyamlParser() { yaml_parser_delete(&parser_); }
  LibyamlParser(const LibyamlParser&) = delete;
  LibyamlParser& operator=(const LibyamlParser&) = delete;
  yaml_parser_t* operator->() { return &parser_; }
  yaml_parser_t* get() { return &parser_; }

 private:
  yaml_parser_t parser_;
};

// Every event parsed and deleted, nothing built.
void YamlLimit(benchmark::State& state, const Corpus* corpus) {
  Measure<bool>(
      state,
      [&](auto& out) {
        LibyamlParser parser(corpus->yaml);
        yaml_event_t event;
        bool ok = true;
        for (bool end = false; !end;) {
          if (yaml_parser_parse(parser.get(), &event) == 0) {
            ok = false;
            break;
          }
          end = event.type == YAML_STREAM_END_EVENT;
          yaml_event_delete(&event);
        }
        out.emplace(ok);
        return corpus->yaml.size();
      },
      [&](bool ok) {
        if (!ok) state.SkipWithError("libyaml parse error");
        return int64_t{-1};
      });
}

// libyaml's document loader; the document is deleted outside the timing.
struct LoadedYaml {
  yaml_document_t document{};
  bool loaded = false;
  LoadedYaml() = default;
  LoadedYaml(const LoadedYaml&) = delete;
  LoadedYaml& operator=(const LoadedYaml&) = delete;
  ~LoadedYaml() {
    if (loaded) yaml_document_delete(&document);
  }
};

void YamlLoader(benchmark::State& state, const Corpus* corpus) {
  Measure<LoadedYaml>(
      state,
      [&](auto& out) {
        LibyamlParser parser(corpus->yaml);
        LoadedYaml& loaded = out.emplace();
        loaded.loaded = yaml_parser_load(parser.get(), &loaded.document) != 0;
        return corpus->yaml.size();
      },
      [&](LoadedYaml& loaded) -> int64_t {
        const yaml_node_t* root =
            loaded.loaded ? yaml_document_get_root_node(&loaded.document) : nullptr;
        if (root == nullptr) {
          state.SkipWithError("libyaml load error");
          return -1;
        }
        return CountValues(loaded.document, root);
      });
}

void YamlCpp(benchmark::State& state, const Corpus* corpus) {
  Measure<YAML::Node>(
      state,
      [&](auto& out) {
        out.emplace(YAML::Load(corpus->yaml));
        return corpus->yaml.size();
      },
      [](const YAML::Node& node) { return CountValues(node); });
}

// ---------------------------------------------------------------------------
// Merging reads: one object of 320,000 keys in descending order (about 4 MB of
// JSON), without and with one key given again at its end. The repeat sends the
// whole document to the merging reader (a top-down read by name), which must
// stay near-linear: the aim is the repeated document within twice the time of
// the plain one in every format.

enum class Format { Json, Msgpack, Yaml };

struct MergeDocument {
  Format format;
  std::string text;
};

MergeDocument MakeDescendingKeys(Format format, bool repeat) {
  constexpr uint32_t kKeys = 320000;
  const uint32_t count = kKeys + (repeat ? 1 : 0);
  MergeDocument document{format, {}};
  std::string& out = document.text;
  if (format == Format::Json) out += '{';
  if (format == Format::Msgpack) {
    out += '\xDF';
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(count >> shift);
  }
  char key[16];
  const auto add = [&](uint32_t i, bool last) {
    std::snprintf(key, sizeof key, "k%07u", i);
    switch (format) {
      case Format::Json:
        out += '"';
        out += key;
        out += "\":" + std::to_string(i) + (last ? "}" : ",");
        break;
      case Format::Msgpack:
        out += '\xA8';
        out += key;
        out += '\xCE';
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(i >> shift);
        break;
      case Format::Yaml:
        out += key;
        out += ": " + std::to_string(i) + "\n";
        break;
    }
  };
  for (uint32_t i = kKeys; i > 0; --i) add(i, i == 1 && !repeat);
  if (repeat) add(kKeys / 2, true);
  return document;
}

void MergeRead(benchmark::State& state, const MergeDocument* document) {
  Measure<BindingResult>(
      state,
      [&](auto& out) {
        switch (document->format) {
          case Format::Json:
            out.emplace(ParseJson(document->text));
            break;
          case Format::Msgpack:
            out.emplace(ReadMessagePack(document->text).result);
            break;
          case Format::Yaml:
            out.emplace(ParseYaml(document->text));
            break;
        }
        return document->text.size();
      },
      [&](const BindingResult& result) {
        if (!result.ok) state.SkipWithError(result.ErrorText().c_str());
        if (result.value.Size() != 320000) state.SkipWithError("not 320,000 members");
        return CountValues(result.value);
      });
}

void RegisterMergeReads() {
  static const MergeDocument documents[] = {
      MakeDescendingKeys(Format::Json, false),    MakeDescendingKeys(Format::Json, true),
      MakeDescendingKeys(Format::Msgpack, false), MakeDescendingKeys(Format::Msgpack, true),
      MakeDescendingKeys(Format::Yaml, false),    MakeDescendingKeys(Format::Yaml, true),
  };
  const char* const formats[] = {"json", "msgpack", "yaml"};
  for (size_t i = 0; i < std::size(documents); ++i) {
    const std::string name = std::string("merge_read/") + formats[i / 2] + "_descending_keys/" +
                             (i % 2 == 0 ? "plain" : "repeated");
    benchmark::RegisterBenchmark(name.c_str(), MergeRead, &documents[i])
        ->Unit(benchmark::kMillisecond);
  }
}

// ---------------------------------------------------------------------------

using Function = void (*)(benchmark::State&, const Corpus*);

void Register(const char* operation, const Corpus& corpus, const char* contender,
              Function function) {
  const std::string name = std::string(operation) + "/" + corpus.name + "/" + contender;
  benchmark::RegisterBenchmark(name.c_str(), function, &corpus)->Unit(benchmark::kMillisecond);
}

void RegisterCorpus(const Corpus& corpus) {
  Register("json_read", corpus, "ours", JsonOurs);
  Register("json_read", corpus, "document", JsonDocument);
  Register("json_read", corpus, "limit", JsonLimit);
  Register("json_read", corpus, "nlohmann", JsonNlohmann);
  Register("json_write", corpus, "ours", WriteOurs<false>);
  Register("json_write", corpus, "writer", WriteRapidJson<false>);
  Register("json_write_indented", corpus, "ours", WriteOurs<true>);
  Register("json_write_indented", corpus, "writer", WriteRapidJson<true>);
  Register("msgpack_read", corpus, "ours", MsgpackOurs);
  Register("msgpack_read", corpus, "msgpack_cxx", MsgpackCxx);
  Register("msgpack_read", corpus, "limit", MsgpackLimit);
  Register("yaml_read", corpus, "ours", YamlOurs);
  Register("yaml_read", corpus, "limit", YamlLimit);
  Register("yaml_read", corpus, "loader", YamlLoader);
  Register("yaml_read", corpus, "yaml_cpp", YamlCpp);
}

// Takes --data_dir=PATH out of the arguments (Google Benchmark refuses flags it
// does not know); else KTX_BENCH_DATA; else the default folder.
std::string DataDirectory(int& argc, char** argv) {
  constexpr std::string_view kFlag = "--data_dir=";
  std::string directory;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with(kFlag)) {
      directory = argument.substr(kFlag.size());
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (!directory.empty()) return directory;
  const char* environment = std::getenv("KTX_BENCH_DATA");
  return environment != nullptr && *environment != '\0' ? environment : KTX_BENCH_DEFAULT_DATA;
}

}  // namespace
}  // namespace Tesk::Bench

int main(int argc, char** argv) {
  using namespace Tesk::Bench;
  benchmark::AddCustomContext("c_heap", SetSteadyHeap(false));
  const std::string directory = DataDirectory(argc, argv);
  benchmark::AddCustomContext("data_dir", directory);
  // Loaded before any benchmark runs, and kept for the whole run.
  static std::vector<Corpus> corpora(3);
  const char* const names[] = {"twitter", "citm_catalog", "canada"};
  for (size_t i = 0; i < corpora.size(); ++i) {
    Corpus& corpus = corpora[i];
    corpus.name = names[i];
    const std::string stem = directory + "/" + corpus.name;
    std::optional<std::string> json = ReadFile(stem + ".json");
    std::optional<std::string> msgpack = ReadFile(stem + ".msgpack");
    std::optional<std::string> yaml = ReadFile(stem + ".yaml");
    if (!json || !msgpack || !yaml) {
      std::fprintf(stderr,
                   "cannot read %s.{json,msgpack,yaml} (set --data_dir= or KTX_BENCH_DATA)\n",
                   stem.c_str());
      return 1;
    }
    corpus.json = std::move(*json);
    corpus.msgpack = std::move(*msgpack);
    corpus.yaml = std::move(*yaml);
    Tesk::BindingResult read = Tesk::ParseJson(corpus.json);
    corpus.document.Parse(corpus.json.c_str());
    if (!read.ok || corpus.document.HasParseError()) {
      std::fprintf(stderr, "%s.json does not read\n", stem.c_str());
      return 1;
    }
    corpus.ours = std::move(read.value);
  }
  for (const Corpus& corpus : corpora) RegisterCorpus(corpus);
  RegisterMergeReads();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
