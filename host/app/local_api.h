// LocalApi: the host's local HTTP API. Every request is checked by the
// AccessGuard; then it reaches, in this order, the host's own endpoints
// (at "/" the demo page for a browser and the JSON index for anything else,
// the page's files under "/web/", "/openapi.json", Swagger UI under "/docs",
// the operator endpoints under "/host/v1/") or the plug-in's published
// function whose method and URL template match, called on the plug-in thread
// with the request's headers, query and body as they came (less the host's
// credentials). Anything else is 404; a path whose template matched with
// another method is 405.
//
// A function's answer becomes the HTTP answer: its value as JSON with its
// status (200 when it set none), or its error as {"message": ...} with its
// status; an error without a status was refused before the handler ran (an
// argument or the body), hence 400.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "rest/published_routes.h"
#include "server/access_guard.h"
#include "server/http_server.h"
#include "server/page_files.h"
#include "session/plugin_session.h"
#include "session/resource_store.h"
#include "session/telemetry_log.h"

namespace Tesk::DevHost {

class EventHub;

struct LocalApiParts {
  const AccessGuard& guard;
  ResourceStore& resources;
  PluginSession& plugin;  // the first plug-in served; SetPlugin changes it
  EventHub& events;
  const TelemetryLog& telemetry;
  // Routes an event to the plug-in's subscriptions and the local clients;
  // returns the number of the plug-in's subscriptions it reached.
  std::function<size_t(const std::string& name, const std::string& payloadJson)> dispatchEvent;
  std::string openApiJson;
  std::string docsFolder;  // the swagger-ui-dist files
  std::string webFolder;   // the demo page's files
};

class LocalApi : public HttpService {
 public:
  explicit LocalApi(LocalApiParts parts);

  Admission Admit(const LocalRequest& head) override;
  void Handle(LocalRequest request, Responder respond) override;

  // Serves `plugin` (which must outlive this object) from now on, with its
  // routes and OpenAPI document; requests in progress finish with the one
  // they began with. Any thread.
  void SetPlugin(PluginSession& plugin, std::string openApiJson);

 private:
  // What the API serves of one plug-in session, replaced as a whole.
  struct PluginView {
    PluginSession& session;
    FunctionRoutes routes;
    std::string openApiJson;
  };
  [[nodiscard]] std::shared_ptr<const PluginView> View() const;

  [[nodiscard]] bool IsDocsAsset(std::string_view path) const;
  LocalResponse Index() const;
  LocalResponse Docs(std::string_view path) const;
  LocalResponse Status() const;
  LocalResponse Resources(const LocalRequest& request, std::string_view uri);
  LocalResponse InjectLcds(const LocalRequest& request);
  void CallPlugin(PluginSession& plugin, LocalRequest request, const FunctionTableRecord& function,
                  Responder respond);

  LocalApiParts parts_;
  mutable std::mutex viewMutex_;
  std::shared_ptr<const PluginView> view_;
  PageFiles page_;
};

}  // namespace Tesk::DevHost
