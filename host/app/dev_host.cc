#include "app/dev_host.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "encoding/json_support.h"
#include "rest/published_routes.h"
#include "server/event_names.h"
#include "session/openapi_document.h"

namespace Tesk::DevHost {
namespace {

constexpr const char* kLevelNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
constexpr std::string_view kTelemetryPrefix = "/telemetry/v1/events/";

}  // namespace

namespace {

// The running program's folder, ending in "/".
std::string ProgramFolder() {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = length > 0 ? std::string(self, static_cast<size_t>(length)) : "./";
  path.resize(path.find_last_of('/') + 1);
  return path;
}

// The version that ktx_add_plugin wrote into the library's packaging note
// ({"type":"ktx-plugin","name":...,"version":"1.2.3"}); "" when it has none.
std::string LibraryVersion(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t note = bytes.find(R"({"type":"ktx-plugin",)");
  if (note == std::string::npos) return {};
  constexpr std::string_view kVersion = R"("version":")";
  const size_t end = bytes.find('}', note);
  const size_t at = bytes.find(kVersion, note);
  if (at == std::string::npos || at > end) return {};
  const size_t first = at + kVersion.size();
  const size_t last = bytes.find('"', first);
  return last == std::string::npos || last > end ? std::string()
                                                 : bytes.substr(first, last - first);
}

// `built` when it exists, else `installed`.
std::string BuiltOrInstalled(std::string built, std::string installed) {
  return access(built.c_str(), F_OK) == 0 ? built : installed;
}

}  // namespace

std::string DefaultPluginPath() {
  constexpr const char* kPlugin = "ktx-be-tav-personalized-offers.so";
  return BuiltOrInstalled(ProgramFolder() + kPlugin, ProgramFolder() + "../lib/" + kPlugin);
}

std::string DefaultWebFolder() {
  return BuiltOrInstalled(ProgramFolder() + "web", ProgramFolder() + "../share/ktx-host/web");
}

std::string DefaultDocsFolder() {
  return BuiltOrInstalled(ProgramFolder() + "../share/ktx-host/swagger-ui",
                          "/var/cache/ktx/swagger-ui/node_modules/swagger-ui-dist");
}

DevHost::DevHost(HostOptions options)
    : options_(std::move(options)),
      guard_(options_.token.empty() ? MakeRandomToken() : options_.token),
      resources_([this](const ResourceEvent& event) {
        const std::string payload = event.PayloadJson();
        DispatchEvent(EventNameForResource(event.uri), payload);
        DispatchEvent(kResourceEventName, payload);
      }) {}

DevHost::~DevHost() { Stop(); }

PluginSession& DevHost::Current() const {
  std::lock_guard<std::mutex> guard(sessionsMutex_);
  return *sessions_.back();
}

bool DevHost::FileStamp::operator==(const FileStamp& other) const {
  return exists == other.exists && device == other.device && inode == other.inode &&
         size == other.size && modified.tv_sec == other.modified.tv_sec &&
         modified.tv_nsec == other.modified.tv_nsec;
}

DevHost::FileStamp DevHost::Stamp(const std::string& path) {
  FileStamp stamp;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return stamp;
  stamp.exists = true;
  stamp.device = status.st_dev;
  stamp.inode = status.st_ino;
  stamp.size = status.st_size;
  stamp.modified = status.st_mtim;
  return stamp;
}

bool DevHost::LoadFirst(std::string& error) {
  sessions_.push_back(std::make_unique<PluginSession>(static_cast<PluginHostServices&>(*this)));
  std::string path = pluginPath_;
  if (options_.watch) {
    loadedStamp_ = Stamp(pluginPath_);
    path = copies_.Copy(pluginPath_, error);
    if (path.empty()) return false;
  }
  return sessions_.back()->Start(path, error);
}

void DevHost::Watch() {
  constexpr auto kPoll = std::chrono::milliseconds(200);
  std::unique_lock<std::mutex> lock(watchMutex_);
  FileStamp seen = loadedStamp_;
  while (!watchStop_) {
    watchWake_.wait_for(lock, kPoll);
    if (watchStop_) break;
    FileStamp now = Stamp(pluginPath_);
    if (!now.exists || now == seen) continue;
    // A build writes the file in steps: it has settled once it stayed the
    // same for three polls in a row.
    int same = 0;
    while (!watchStop_ && same < 3) {
      watchWake_.wait_for(lock, kPoll);
      const FileStamp later = Stamp(pluginPath_);
      same = later == now ? same + 1 : 0;
      now = later;
    }
    if (watchStop_ || !now.exists) continue;
    // Tried once per version of the file: a failure waits for the next change.
    seen = now;
    lock.unlock();
    Reload();
    lock.lock();
  }
}

void DevHost::ReportReloadFailure(const std::string& error) {
  Print("ktx-host: loading " + pluginPath_ + " again failed: " + error +
        " (the host goes on; the next change of the file is tried)");
  hub_.Publish(kPluginReloadFailedEventName,
               "{\"path\":" + JsonQuote(pluginPath_) + ",\"error\":" + JsonQuote(error) + "}");
}

void DevHost::Reload() {
  std::string error;
  const std::string copy = copies_.Copy(pluginPath_, error);
  auto next = std::make_unique<PluginSession>(static_cast<PluginHostServices&>(*this));
  if (copy.empty() || !next->Open(copy, error)) return ReportReloadFailure(error);
  Current().Stop();
  const bool started = next->Begin(error);
  PluginSession& now = *next;
  {
    std::lock_guard<std::mutex> guard(sessionsMutex_);
    sessions_.push_back(std::move(next));
  }
  // A plug-in that failed to start has no functions: its routes are gone too.
  api_->SetPlugin(now, MakeOpenApiDocument(now.Functions(), now.ShortName()));
  if (!started) return ReportReloadFailure(error);
  size_t functions = 0;
  if (const FunctionTable* table = now.Functions()) functions = table->functionCount;
  const std::string version = LibraryVersion(copy);
  Print("ktx-host: loaded " + now.ShortName() + (version.empty() ? "" : " " + version) +
        " again from " + pluginPath_ + " (" + std::to_string(functions) + " functions)");
  hub_.Publish(kPluginReloadedEventName, "{\"path\":" + JsonQuote(pluginPath_) +
                                             ",\"plugin\":" + JsonQuote(now.ShortName()) +
                                             ",\"version\":" + JsonQuote(version) +
                                             ",\"functions\":" + std::to_string(functions) + "}");
}

void DevHost::Print(const std::string& line) {
  std::lock_guard<std::mutex> guard(printMutex_);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool DevHost::HoldStartingResources(std::string& error) {
  std::vector<std::pair<std::string, std::string>> held;
  if (options_.demo) {
    held.emplace_back("/tav-login/v1/session",
                      R"({"state":"SUCCEEDED","summonerId":2814749767106561,)"
                      R"("accountId":2814749767106562,"idToken":"demo-id-token",)"
                      R"("gasToken":{"demo":true}})");
    held.emplace_back("/teskclient/region-locale",
                      R"({"locale":"en_US","region":"NA","webLanguage":"en","webRegion":"na"})");
    const std::string port = mockServer_ ? std::to_string(mockServer_->Port()) : "0";
    held.emplace_back("/tav-platform-config/v1/namespaces/PersonalizedOffers",
                      R"({"HubEnabled":true,"ThemedBackground":true,"Protocol":"http://",)"
                      R"("BaseServiceURL":"127.0.0.1","Port":)" +
                          port + R"(,"ServicePath":"personalized-offers/"})");
  }
  held.insert(held.end(), options_.resources.begin(), options_.resources.end());
  for (const auto& [uri, json] : held) {
    rapidjson::Document value;
    if (!ParseJson(json, value, error) || !resources_.Put(uri, value, error)) {
      error = "Resource " + uri + ": " + error;
      return false;
    }
  }
  return true;
}

bool DevHost::Start(std::string& error) {
  pluginPath_ = options_.pluginPath.empty() ? DefaultPluginPath() : options_.pluginPath;
  runFilePath_ = options_.runFile.empty() ? DefaultRunFilePath() : options_.runFile;
  if (options_.mock) {
    MockOffersOptions mockOptions;
    mockOptions.wallet = options_.mockWallet;
    mockOptions.tokenLifetime = std::chrono::seconds(options_.mockTokenLifetimeSeconds);
    // Fulfilment notifications come back as the host's LCDS messages.
    mock_ = std::make_unique<MockOffersService>(
        mockOptions, [this](const std::string& typeName, std::string body) {
          const std::string payload = R"({"clientId":"ktx-host","subtopic":"",)"
                                      R"("typeName":)" +
                                      JsonQuote(typeName) + ",\"body\":" + body + "}";
          DispatchEvent(EventNameForLcdsType(typeName), payload);
          DispatchEvent(kLcdsEventName, payload);
        });
    HttpServerOptions serverOptions;
    serverOptions.port = options_.mockPort;
    mockServer_ = std::make_unique<HttpServer>(serverOptions, *mock_);
    if (!mockServer_->Start(error)) {
      error = "Mock offers service: " + error;
      return false;
    }
  }
  if (!HoldStartingResources(error)) return false;
  if (!LoadFirst(error)) {
    error = pluginPath_ + ": " + error;
    return false;
  }

  PluginSession& session = Current();
  const std::string title = session.ShortName();
  api_ = std::make_unique<LocalApi>(
      LocalApiParts{guard_, resources_, session, hub_, telemetry_,
                    [this](const std::string& name, const std::string& payload) {
                      return DispatchEvent(name, payload);
                    },
                    MakeOpenApiDocument(session.Functions(), title),
                    options_.docsDir.empty() ? DefaultDocsFolder() : options_.docsDir,
                    options_.webDir.empty() ? DefaultWebFolder() : options_.webDir});
  HttpServerOptions serverOptions;
  serverOptions.port = options_.port;
  serverOptions.bodyLimit = options_.bodyLimit;
  serverOptions.readTimeout = std::chrono::seconds(options_.readTimeoutSeconds);
  serverOptions.events = &hub_;
  serverOptions.log = [this](const std::string& line) { Print("  HOST| " + line); };
  server_ = std::make_unique<HttpServer>(serverOptions, *api_);
  if (!server_->Start(error)) return false;

  const std::string runFile =
      "{\"pid\":" + std::to_string(getpid()) + ",\"port\":" + std::to_string(server_->Port()) +
      ",\"token\":" + JsonQuote(guard_.Token()) +
      ",\"url\":" + JsonQuote("http://127.0.0.1:" + std::to_string(server_->Port()) + "/") +
      ",\"mockPort\":" + std::to_string(mockServer_ ? mockServer_->Port() : 0) +
      ",\"plugin\":" + JsonQuote(pluginPath_) + "}\n";
  if (!runFile_.Write(runFilePath_, runFile, error)) return false;
  if (options_.watch) watcher_ = std::thread([this] { Watch(); });
  return true;
}

std::string DevHost::Banner() const {
  const std::string base = "http://127.0.0.1:" + std::to_string(server_->Port());
  // A function worth calling: the offers list when published, else the first
  // GET without placeholders, else the host's own status.
  std::string tryPath = "/host/v1/status";
  const FunctionTable* table = Current().Functions();
  const auto* record =
      table != nullptr ? static_cast<const FunctionTableRecord*>(table->functions) : nullptr;
  bool found = false;
  for (uint32_t i = 0; record != nullptr && i < table->functionCount; ++i) {
    const std::string urlTemplate = record->urlTemplate != nullptr ? record->urlTemplate : "";
    if (record->method == 2 && urlTemplate.find('{') == std::string::npos && !urlTemplate.empty() &&
        (!found || urlTemplate.ends_with("/offers"))) {
      tryPath = urlTemplate;
      found = true;
    }
    record = reinterpret_cast<const FunctionTableRecord*>(record->function.next);
  }
  std::string text = "ktx-host: " + Current().ShortName() + " loaded from " + pluginPath_ +
                     (options_.watch ? " (watched: a change loads it again)" : "") + "\n";
  text += "  Demo page:    " + base + "/?token=" + guard_.Token() + "\n";
  text += "  Local API:    " + base + "/\n";
  text += "  Swagger UI:   " + base + "/docs?token=" + guard_.Token() + "\n";
  text += "  Events:       " + base +
          "/events (Server-Sent Events), ws://127.0.0.1:" + std::to_string(server_->Port()) +
          "/ws (WebSocket)\n";
  if (mockServer_) {
    text += "  Mock service: http://127.0.0.1:" + std::to_string(mockServer_->Port()) +
            "/personalized-offers/\n";
  }
  text += "  Run file:     " + runFilePath_ +
          (runFile_.ReplacedStale() ? " (replaced the file of a run that had ended)" : "") + "\n";
  text += "  Try:          curl -s -H 'Authorization: Bearer " + guard_.Token() + "' " + base +
          tryPath + "\n";
  return text;
}

void DevHost::Stop() {
  if (stopped_) return;
  stopped_ = true;
  if (watcher_.joinable()) {
    {
      std::lock_guard<std::mutex> guard(watchMutex_);
      watchStop_ = true;
    }
    watchWake_.notify_all();
    watcher_.join();
  }
  // No new requests; the plug-in's transfers in progress end at once.
  if (server_) server_->Stop();
  http_.Abort();
  if (!sessions_.empty()) Current().Stop();
  if (mockServer_) mockServer_->Stop();
  runFile_.Remove();
}

size_t DevHost::DispatchEvent(const std::string& name, const std::string& payloadJson) {
  hub_.Publish(name, payloadJson);
  // Before the first session exists (the mock's start) nothing is delivered.
  std::lock_guard<std::mutex> guard(sessionsMutex_);
  return sessions_.empty() ? 0 : sessions_.back()->Deliver(name, payloadJson);
}

PluginHostServices::ApiAnswer DevHost::AnswerApiRequest(uint32_t method, const std::string& url,
                                                        const ApiArguments& arguments) {
  ApiAnswer answer;
  const std::string path = url.substr(0, url.find('?'));
  if (method == 6 && path.starts_with(kTelemetryPrefix)) {
    std::string parameters =
        arguments.size() == 1 && arguments[0].first.empty() ? arguments[0].second : "{";
    if (parameters == "{") {
      for (const auto& [name, value] : arguments) {
        if (parameters.size() > 1) parameters += ',';
        parameters += JsonQuote(name) + ":" + value;
      }
      parameters += "}";
    }
    const std::string event = path.substr(kTelemetryPrefix.size());
    telemetry_.Record(event, parameters);
    if (options_.logLevel == 0) Print(" TELEM| " + event + " " + parameters);
    answer.valueJson = "null";
    return answer;
  }
  if (method != 2) {
    answer.status = 405;
    answer.error = "The host answers GET for resources and POST for telemetry, not " +
                   std::string(MethodName(method)) + " " + url;
    return answer;
  }
  if (auto held = resources_.Get(path)) {
    answer.valueJson = std::move(*held);
    return answer;
  }
  answer.status = 404;
  answer.error = "No such resource: " + path;
  return answer;
}

IncomingResponse DevHost::SendHttpRequest(const OutgoingRequest& request) {
  const auto start = std::chrono::steady_clock::now();
  IncomingResponse response = http_.Send(request);
  if (options_.logLevel == 0) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    Print("  HTTP| " + request.method + " " + request.url + " -> " +
          (response.result == HttpResultCode::Success ? std::to_string(response.status)
                                                      : "failed: " + response.body) +
          " (" + std::to_string(elapsed.count()) + " ms)");
  }
  return response;
}

void DevHost::PublishEvent(const std::string& name, std::string payloadJson) {
  DispatchEvent(name, payloadJson);
}

void DevHost::PrintLog(int32_t level, const char* text) {
  if (level < options_.logLevel) return;
  const char* levelName = level >= 0 && level <= 3 ? kLevelNames[level] : "   ???";
  Print(std::string(levelName) + "| " + text);
}

}  // namespace Tesk::DevHost
