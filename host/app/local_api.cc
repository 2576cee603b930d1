#include "app/local_api.h"

#include <algorithm>
#include <cctype>

#include "encoding/json_support.h"
#include "server/event_hub.h"
#include "server/event_names.h"
#include "server/regular_file.h"

namespace Tesk::DevHost {
namespace {

constexpr std::string_view kResourcesPath = "/host/v1/resources";

struct DocsAsset {
  const char* name;
  const char* contentType;
};
constexpr DocsAsset kDocsAssets[] = {
    {"swagger-ui.css", "text/css"},
    {"swagger-ui-bundle.js", "application/javascript"},
    {"swagger-ui-standalone-preset.js", "application/javascript"},
    {"favicon-32x32.png", "image/png"},
    {"favicon-16x16.png", "image/png"},
};

const DocsAsset* FindDocsAsset(std::string_view path) {
  if (!path.starts_with("/docs/")) return nullptr;
  path.remove_prefix(6);
  for (const DocsAsset& asset : kDocsAssets) {
    if (path == asset.name) return &asset;
  }
  return nullptr;
}

LocalResponse MethodNotAllowed(std::string allowed) {
  LocalResponse refusal = LocalResponse::Error(405, "Method not allowed; use " + allowed);
  refusal.headers.push_back({"Allow", std::move(allowed)});
  return refusal;
}

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The plug-in's answer as an HTTP answer.
LocalResponse FromReply(PluginReply reply) {
  LocalResponse response;
  unsigned status = reply.status;
  if (status == 0) status = reply.failed ? 400 : 200;
  if (status < 100 || status > 599) status = 500;
  response.status = status;
  response.body = reply.failed ? ErrorJson(reply.error)
                               : (reply.valueJson.empty() ? "null" : std::move(reply.valueJson));
  for (HttpField& field : reply.headers) {
    if (EqualsIgnoringCase(field.name, "content-type")) {
      response.contentType = std::move(field.value);
    } else if (!EqualsIgnoringCase(field.name, "content-length") &&
               !EqualsIgnoringCase(field.name, "transfer-encoding") &&
               !EqualsIgnoringCase(field.name, "connection")) {
      response.headers.push_back(std::move(field));
    }
  }
  return response;
}

}  // namespace

LocalApi::LocalApi(LocalApiParts parts)
    : parts_(std::move(parts)),
      view_(std::make_shared<const PluginView>(PluginView{
          parts_.plugin, FunctionRoutes(parts_.plugin.Functions()), parts_.openApiJson})),
      page_(parts_.webFolder) {}

void LocalApi::SetPlugin(PluginSession& plugin, std::string openApiJson) {
  auto view = std::make_shared<const PluginView>(
      PluginView{plugin, FunctionRoutes(plugin.Functions()), std::move(openApiJson)});
  std::lock_guard<std::mutex> guard(viewMutex_);
  view_ = std::move(view);
}

std::shared_ptr<const LocalApi::PluginView> LocalApi::View() const {
  std::lock_guard<std::mutex> guard(viewMutex_);
  return view_;
}

bool LocalApi::IsDocsAsset(std::string_view path) const { return FindDocsAsset(path) != nullptr; }

Admission LocalApi::Admit(const LocalRequest& head) {
  // Swagger UI's and the demo page's own files are public; everything else
  // needs the token.
  const std::string_view path = head.Path();
  const bool needsToken = !IsDocsAsset(path) && !PageFiles::IsAssetPath(path);
  Admission admission;
  admission.refusal = parts_.guard.Check(head, needsToken);
  admission.authenticated = needsToken && !admission.refusal;
  return admission;
}

void LocalApi::Handle(LocalRequest request, Responder respond) {
  parts_.guard.StripCredentials(request);
  const std::string path(request.Path());
  const std::string& method = request.method;
  const bool read = method == "GET" || method == "HEAD";
  if (path == "/" || path == "/openapi.json" || path == "/host/v1/status" ||
      path == "/host/v1/telemetry") {
    if (!read) return respond(MethodNotAllowed("GET"));
    if (path == "/") return respond(WantsHtml(request) ? page_.Page() : Index());
    if (path == "/openapi.json") return respond(LocalResponse::Json(200, View()->openApiJson));
    if (path == "/host/v1/status") return respond(Status());
    return respond(LocalResponse::Json(200, parts_.telemetry.Json()));
  }
  if (path == "/docs" || path.starts_with("/docs/")) {
    if (!read) return respond(MethodNotAllowed("GET"));
    return respond(Docs(path));
  }
  if (path.starts_with("/web/")) {
    if (!read) return respond(MethodNotAllowed("GET"));
    return respond(page_.Asset(path));
  }
  if (path == kResourcesPath || path.starts_with(std::string(kResourcesPath) + "/")) {
    return respond(Resources(request, std::string_view(path).substr(kResourcesPath.size())));
  }
  if (path == "/host/v1/lcds") {
    if (method != "POST") return respond(MethodNotAllowed("POST"));
    return respond(InjectLcds(request));
  }
  const std::shared_ptr<const PluginView> view = View();
  const RouteLookup lookup = view->routes.Find(method, path);
  if (lookup.function != nullptr) {
    return CallPlugin(view->session, std::move(request), *lookup.function, respond);
  }
  if (!lookup.allowedMethods.empty()) {
    std::string allowed;
    for (const std::string& name : lookup.allowedMethods) {
      allowed += (allowed.empty() ? "" : ", ") + name;
    }
    return respond(MethodNotAllowed(allowed));
  }
  respond(LocalResponse::Error(404, "No route for " + method + " " + path));
}

void LocalApi::CallPlugin(PluginSession& plugin, LocalRequest request,
                          const FunctionTableRecord& function, Responder respond) {
  PluginRequest call;
  call.method = request.method;
  call.url = request.target;
  const std::string* contentType = request.Header("content-type");
  // A body without a content type is taken for JSON, the plug-in's usual form.
  call.contentType = contentType != nullptr ? *contentType : "application/json";
  for (HttpField& field : request.headers) {
    // Names in lower case, as the plug-in compares them with its parameters.
    call.headers.push_back({Lowercase(std::move(field.name)), std::move(field.value)});
  }
  if (!request.body.empty()) call.body = std::move(request.body);
  plugin.Call(function, std::move(call), [respond = std::move(respond)](PluginReply reply) {
    respond(FromReply(std::move(reply)));
  });
}

LocalResponse LocalApi::Index() const {
  const std::shared_ptr<const PluginView> view = View();
  std::string functions = "[";
  const FunctionTable* table = view->session.Functions();
  const auto* record =
      table != nullptr ? static_cast<const FunctionTableRecord*>(table->functions) : nullptr;
  for (uint32_t i = 0; record != nullptr && i < table->functionCount; ++i) {
    if (functions.size() > 1) functions += ',';
    functions += "{\"name\":" + JsonQuote(record->function.name ? record->function.name : "") +
                 ",\"method\":" + JsonQuote(MethodName(record->method)) +
                 ",\"path\":" + JsonQuote(record->urlTemplate ? record->urlTemplate : "") + "}";
    record = reinterpret_cast<const FunctionTableRecord*>(record->function.next);
  }
  functions += "]";
  return LocalResponse::Json(
      200, "{\"host\":\"ktx-host\",\"plugin\":" + JsonQuote(view->session.ShortName()) +
               ",\"functions\":" + functions +
               ",\"endpoints\":{\"openapi\":\"/openapi.json\",\"docs\":\"/docs\","
               "\"events\":\"/events\",\"webSocket\":\"/ws\",\"status\":\"/host/v1/status\","
               "\"resources\":\"/host/v1/resources\",\"lcds\":\"/host/v1/lcds\","
               "\"telemetry\":\"/host/v1/telemetry\"}}");
}

LocalResponse LocalApi::Docs(std::string_view path) const {
  const DocsAsset* asset = FindDocsAsset(path);
  if (asset == nullptr && path != "/docs" && path != "/docs/") {
    return LocalResponse::Error(404, "No such file: " + std::string(path));
  }
  // The page needs the bundle too: its absence says Swagger UI is missing.
  std::optional<std::string> content =
      ReadRegularFile(parts_.docsFolder, asset != nullptr ? asset->name : "swagger-ui-bundle.js");
  if (!content) {
    return LocalResponse::Error(
        503, "Swagger UI is not installed in " + parts_.docsFolder + ": run scripts/bootstrap.sh");
  }
  LocalResponse response;
  if (asset != nullptr) {
    response.contentType = asset->contentType;
    response.body = std::move(*content);
    return response;
  }
  // The page itself, with the token it was opened with for Swagger UI's calls.
  response.contentType = "text/html; charset=utf-8";
  response.headers.push_back({"Referrer-Policy", "no-referrer"});
  response.body =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"UTF-8\"><title>ktx-host: " +
      View()->session.ShortName() +
      "</title><link rel=\"stylesheet\" href=\"/docs/swagger-ui.css\">"
      "<link rel=\"icon\" type=\"image/png\" href=\"/docs/favicon-32x32.png\"></head>\n<body>"
      "<div id=\"swagger-ui\"></div>\n<script src=\"/docs/swagger-ui-bundle.js\"></script>\n"
      "<script src=\"/docs/swagger-ui-standalone-preset.js\"></script>\n<script>\n"
      "window.onload = function() {\n  var token = " +
      JsonQuote(parts_.guard.Token()) +
      ";\n  window.ui = SwaggerUIBundle({\n    url: \"/openapi.json\",\n"
      "    dom_id: \"#swagger-ui\",\n    deepLinking: true,\n"
      "    presets: [SwaggerUIBundle.presets.apis, SwaggerUIStandalonePreset],\n"
      "    layout: \"StandaloneLayout\",\n"
      "    requestInterceptor: function(request) {\n"
      "      request.headers[\"Authorization\"] = \"Bearer \" + token;\n      return request;\n"
      "    }\n  });\n};\n</script></body></html>\n";
  return response;
}

LocalResponse LocalApi::Status() const {
  const std::shared_ptr<const PluginView> view = View();
  PluginSession& plugin = view->session;
  const MemoryStatistics memory = plugin.ReadMemoryStatistics();
  std::string subscriptions = "[";
  for (const std::string& name : plugin.SubscribedEvents()) {
    if (subscriptions.size() > 1) subscriptions += ',';
    subscriptions += JsonQuote(name);
  }
  subscriptions += "]";
  const auto number = [](uint64_t value) { return std::to_string(value); };
  return LocalResponse::Json(
      200, "{\"plugin\":" + JsonQuote(plugin.ShortName()) + ",\"running\":" +
               (plugin.Running() ? "true" : "false") + ",\"subscriptions\":" + subscriptions +
               ",\"pendingCallbacks\":" + number(plugin.PendingCallbacks()) +
               ",\"eventClients\":" + number(parts_.events.ListenerCount()) +
               ",\"memory\":{\"liveBytes\":" + number(memory.bytesAllocated - memory.bytesFreed) +
               ",\"liveBlocks\":" + number(memory.allocations - memory.frees) +
               ",\"peakLiveBytes\":" + number(memory.peakLiveBytes) +
               ",\"liveBlocksAtPeak\":" + number(memory.liveBlocksAtPeak) + ",\"bytesAllocated\":" +
               number(memory.bytesAllocated) + ",\"allocations\":" + number(memory.allocations) +
               ",\"bytesFreed\":" + number(memory.bytesFreed) +
               ",\"frees\":" + number(memory.frees) + "}}");
}

LocalResponse LocalApi::Resources(const LocalRequest& request, std::string_view uri) {
  const std::string& method = request.method;
  if (uri.empty() || uri == "/") {
    if (method != "GET" && method != "HEAD") return MethodNotAllowed("GET");
    std::string list = "[";
    for (const std::string& held : parts_.resources.List()) {
      if (list.size() > 1) list += ',';
      list += JsonQuote(held);
    }
    return LocalResponse::Json(200, list + "]");
  }
  const std::string normalized = ResourceStore::NormalizeUri(PercentDecode(uri));
  if (method == "GET" || method == "HEAD") {
    const auto held = parts_.resources.Get(normalized);
    if (!held) return LocalResponse::Error(404, "No such resource: " + normalized);
    return LocalResponse::Json(200, *held);
  }
  if (method == "PUT") {
    rapidjson::Document value;
    std::string error;
    if (!ParseJson(request.body, value, error)) return LocalResponse::Error(400, error);
    const bool existed = parts_.resources.Get(normalized).has_value();
    if (!parts_.resources.Put(normalized, value, error)) return LocalResponse::Error(400, error);
    return LocalResponse::Json(existed ? 200 : 201, *parts_.resources.Get(normalized));
  }
  if (method == "DELETE") {
    if (!parts_.resources.Delete(normalized)) {
      return LocalResponse::Error(404, "No such resource: " + normalized);
    }
    LocalResponse done;
    done.status = 204;
    return done;
  }
  return MethodNotAllowed("GET, PUT, DELETE");
}

LocalResponse LocalApi::InjectLcds(const LocalRequest& request) {
  rapidjson::Document message;
  std::string error;
  if (!ParseJson(request.body, message, error)) return LocalResponse::Error(400, error);
  const std::string typeName = StringMember(message, "typeName");
  if (!message.IsObject() || typeName.empty()) {
    return LocalResponse::Error(400,
                                "Expected {\"typeName\": \"<Java class name>\", \"body\": {...}} "
                                "(\"clientId\" and \"subtopic\" optional)");
  }
  const auto body = message.FindMember("body");
  const std::string payload = "{\"clientId\":" + JsonQuote(StringMember(message, "clientId")) +
                              ",\"subtopic\":" + JsonQuote(StringMember(message, "subtopic")) +
                              ",\"typeName\":" + JsonQuote(typeName) + ",\"body\":" +
                              (body != message.MemberEnd() ? WriteJson(body->value) : "null") + "}";
  const std::string name = EventNameForLcdsType(typeName);
  const size_t reached =
      parts_.dispatchEvent(name, payload) + parts_.dispatchEvent(kLcdsEventName, payload);
  return LocalResponse::Json(
      202, "{\"event\":" + JsonQuote(name) + ",\"subscriptions\":" + std::to_string(reached) + "}");
}

}  // namespace Tesk::DevHost
