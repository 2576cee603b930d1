// DevHost: one run of the development host. It loads the plug-in into a
// PluginSession, answers the plug-in's requests (resources and telemetry from
// the ResourceStore, HTTP through libcurl), routes events between the plug-in,
// the resources and the local clients, serves the LocalApi on 127.0.0.1, runs
// the mock offers service, and writes the run file.
//
// Threads: Start and Stop on the main thread. The local API and the mock
// service each have a server thread, the plug-in its plug-in thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>

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
  // Destroyed after the plug-in session, whose pending answers it still takes.
  std::unique_ptr<HttpServer> server_;
  PluginSession session_;
  RunFile runFile_;
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
