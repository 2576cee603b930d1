#include "plugin_session.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Tesk::DevHost {
namespace {

constexpr uint32_t kPluginHandle = 1;
constexpr const char* kLevelNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
constexpr char kNoResource[] = "No such resource";

}  // namespace

std::string LoadFunctionNameForLibrary(const std::string& libraryPath) {
  std::string name = libraryPath.substr(libraryPath.find_last_of('/') + 1);
  name = name.substr(0, name.find('.'));
  if (name.size() > 7 && name.compare(0, 4, "ktx-") == 0 && name[6] == '-') name.erase(0, 7);
  std::replace(name.begin(), name.end(), '-', '_');
  return "load_" + name;
}

PluginSession::~PluginSession() { Stop(); }

bool PluginSession::Start(const std::string& libraryPath) {
  library_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) {
    error_ = dlerror();
    return false;
  }
  const std::string exportName = LoadFunctionNameForLibrary(libraryPath);
  auto load = reinterpret_cast<PluginLoadFunction>(dlsym(library_, exportName.c_str()));
  if (load == nullptr) {
    error_ = "The library exports no " + exportName;
    return false;
  }
  record_ = PluginLoadInfo{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  load(&record_);
  if (record_.entryPoints == nullptr || record_.plugin == nullptr) {
    error_ = "The plug-in did not fill its load record";
    return false;
  }
  std::printf("Loaded %s: plug-in API %u.%u.%u\n", record_.shortName, record_.apiMajor,
              record_.apiMinor, record_.apiPatch);

  CoreInterface& table = interface_.table;
  interface_.session = this;
  table = {&ApiRequest, &HttpRequest, &SendEvent, &Subscribe, &Unsubscribe,
           &Schedule,   &Yield,       &WaitStart, &WaitEnd,   &Log};
  services_ = {&table, kPluginHandle};
  if (record_.entryPoints->initialize(record_.plugin, &services_) == 0) {
    error_ = "Initialize returned false";
    return false;
  }
  std::printf("Initialized\n");
  return true;
}

std::optional<std::chrono::milliseconds> PluginSession::RunDueCallbacks() {
  for (;;) {
    Scheduled next{};
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (scheduled_.empty()) return std::nullopt;
      auto earliest = std::min_element(scheduled_.begin(), scheduled_.end(),
                                       [](const auto& a, const auto& b) { return a.due < b.due; });
      const auto now = std::chrono::steady_clock::now();
      if (earliest->due > now) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(earliest->due - now) +
               std::chrono::milliseconds(1);
      }
      next = *earliest;
      scheduled_.erase(earliest);
    }
    next.callback(next.context);
  }
}

void PluginSession::Stop() {
  if (record_.plugin != nullptr) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      scheduled_.clear();
    }
    record_.entryPoints->shutdown(record_.plugin);
    record_.plugin = nullptr;
    std::printf("Shut down\n");
  }
  if (library_ != nullptr) {
    dlclose(library_);
    library_ = nullptr;
  }
}

MemoryStatistics PluginSession::ReadMemoryStatistics() const {
  MemoryStatistics statistics{};
  if (record_.entryPoints != nullptr) {
    record_.entryPoints->getMemoryStatistics(record_.plugin, &statistics);
  }
  return statistics;
}

PluginSession& PluginSession::From(CoreInterface* core) {
  return *reinterpret_cast<Interface*>(core)->session;
}

void KTX_HOST_CALL PluginSession::ApiRequest(CoreInterface*, ResponseRecord* response,
                                             const ApiRequestRecord* request) {
  std::printf("API request %u %s: not found\n", request->method, request->url);
  response->errorText = strdup(kNoResource);
  response->failed = 1;
  response->httpStatus = 404;
  response->release = &ReleaseResponse;
}

void KTX_HOST_CALL PluginSession::ReleaseResponse(ResponseRecord* response) {
  std::free(response->errorText);
  response->errorText = nullptr;
}

void KTX_HOST_CALL PluginSession::HttpRequest(CoreInterface*, HttpResponseRecord* response,
                                              const HttpRequestRecord* request) {
  std::printf("HTTP request %u %s: no network in this host\n", request->method, request->url);
  response->resultCode = 1;
}

void KTX_HOST_CALL PluginSession::SendEvent(CoreInterface*, const HostEvent* event) {
  std::printf("Event %s\n", event->name);
}

void KTX_HOST_CALL PluginSession::Subscribe(CoreInterface* core, const char* name, uint32_t,
                                            HostEventCallback, void*, uint32_t) {
  PluginSession& session = From(core);
  std::lock_guard<std::mutex> guard(session.mutex_);
  session.subscriptions_.insert(name);
}

void KTX_HOST_CALL PluginSession::Unsubscribe(CoreInterface* core, const char* name, uint32_t) {
  PluginSession& session = From(core);
  std::lock_guard<std::mutex> guard(session.mutex_);
  session.subscriptions_.erase(name);
}

void KTX_HOST_CALL PluginSession::Schedule(CoreInterface* core, const char* label,
                                           TimerCallback callback, void* context, double delay,
                                           uint32_t) {
  PluginSession& session = From(core);
  const auto due = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(delay > 0 ? delay : 0));
  std::lock_guard<std::mutex> guard(session.mutex_);
  session.scheduled_.push_back({due, label != nullptr ? label : "", callback, context});
}

void KTX_HOST_CALL PluginSession::Yield(CoreInterface*) {}
void KTX_HOST_CALL PluginSession::WaitStart(CoreInterface*, const char*, uint32_t) {}
void KTX_HOST_CALL PluginSession::WaitEnd(CoreInterface*) {}

void KTX_HOST_CALL PluginSession::Log(CoreInterface*, int32_t level, const char* message) {
  const char* levelName = level >= 0 && level <= 3 ? kLevelNames[level] : "   ???";
  std::printf("%s| %s\n", levelName, message);
  std::fflush(stdout);
}

}  // namespace Tesk::DevHost
