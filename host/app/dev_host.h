// DevHost: one run of the development host. It loads the plug-in into a
// PluginSession, answers the plug-in's requests (resources and telemetry from
// the ResourceStore, HTTP through libcurl), routes events between the plug-in,
// the resources and the local clients, serves the LocalApi on 127.0.0.1, runs
// the mock offers service, and writes the run file. With --watch it loads the
// plug-in again whenever its file changes, keeping everything else.
//
// Threads: Start and Stop on the main thread. The local API and the mock
// service each have a server thread, the plug-in its plug-in thread, and
// --watch a thread that watches the file and reloads.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/host_options.h"
#include "app/local_api.h"
#include "mock_service/mock_offers_service.h"
#include "server/access_guard.h"
#include "server/event_hub.h"
#include "server/http_server.h"
#include "server/run_file.h"
#include "session/http_client.h"
#include "session/plugin_session.h"
#include "session/resource_store.h"
#include "session/telemetry_log.h"

namespace Tesk::DevHost {

class DevHost : private PluginHostServices {
 public:
  explicit DevHost(HostOptions options);
  ~DevHost();
  DevHost(const DevHost&) = delete;
  DevHost& operator=(const DevHost&) = delete;

  // Starts everything; false with a message when any part fails.
  bool Start(std::string& error);
  // The addresses, the run file and a curl line that works as printed.
  [[nodiscard]] std::string Banner() const;
  // Stops serving, shuts the plug-in down (pending callbacks cancelled) and
  // removes the run file.
  void Stop();

 private:
  ApiAnswer AnswerApiRequest(uint32_t method, const std::string& url,
                             const ApiArguments& arguments) override;
  IncomingResponse SendHttpRequest(const OutgoingRequest& request) override;
  void PublishEvent(const std::string& name, std::string payloadJson) override;
  void PrintLog(int32_t level, const char* text) override;

  // To the local clients and the plug-in's subscriptions; returns the number
  // of the plug-in's subscriptions reached.
  size_t DispatchEvent(const std::string& name, const std::string& payloadJson);
  bool HoldStartingResources(std::string& error);
  void Print(const std::string& line);

  // The session serving now.
  [[nodiscard]] PluginSession& Current() const;
  // Loads the plug-in (from a private copy under --watch) into a new session
  // and makes it the current one.
  bool LoadFirst(std::string& error);
  // --watch: polls the library's file and reloads once a change has settled.
  void Watch();
  // A library that does not open (no library, no export) leaves the running
  // plug-in as it is; otherwise the running one is shut down and the new one
  // loaded and initialised, and the clients are told either way.
  void Reload();
  void ReportReloadFailure(const std::string& error);

  // What identifies one version of a file on disk.
  struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileStamp& other) const;
  };
  [[nodiscard]] static FileStamp Stamp(const std::string& path);

  HostOptions options_;
  std::string pluginPath_;
  std::string runFilePath_;
  std::mutex printMutex_;
  EventHub hub_;
  AccessGuard guard_;
  HttpClient http_;
  TelemetryLog telemetry_;
  ResourceStore resources_;
  std::unique_ptr<MockOffersService> mock_;
  std::unique_ptr<HttpServer> mockServer_;
  std::unique_ptr<LocalApi> api_;
  // Destroyed after the plug-in sessions, whose pending answers it still takes.
  std::unique_ptr<HttpServer> server_;
  LibraryCopies copies_;
  // Every session of this run, the current one last. One that was replaced
  // stays (stopped) until the host ends: a request taken before the reload
  // may still reach it, and is answered 503 there.
  std::vector<std::unique_ptr<PluginSession>> sessions_;
  mutable std::mutex sessionsMutex_;
  RunFile runFile_;
  FileStamp loadedStamp_;  // the watched file as the current session loaded it
  std::thread watcher_;
  std::mutex watchMutex_;
  std::condition_variable watchWake_;
  bool watchStop_ = false;
  bool stopped_ = false;
};

// Where the files ktx-host needs are when no option names them: in the build
// tree beside the running program (the build copies host/web there), in an
// installed tree relative to its bin/ folder (cmake/install.cmake).
// The project's plug-in: beside the program, else ../lib/.
[[nodiscard]] std::string DefaultPluginPath();
// The demo page's files: web/ beside the program, else ../share/ktx-host/web.
[[nodiscard]] std::string DefaultWebFolder();
// Swagger UI's files: ../share/ktx-host/swagger-ui, else the copy that
// scripts/bootstrap.sh unpacks under /var/cache/ktx.
[[nodiscard]] std::string DefaultDocsFolder();

}  // namespace Tesk::DevHost
