// A plug-in that exists only for the host's tests: a few routes that reach
// every service of the host contract (API and HTTP requests, events both
// ways, scheduled callbacks), built as its own shared library with the one
// export load_host_test_routes, as every plug-in is (ktx_add_plugin).
#include <cstring>
#include <string>
#include <vector>

#include "plugin/plugin_export.h"
#include "plugin/plugin_loader.h"
#include "rest/api_request.h"
#include "rest/http_request.h"
#include "rest/route_declaration.h"

namespace {

using Tesk::BindingProperty;
using Tesk::HandlerResponse;
using Tesk::HttpMethod;

struct HostTestItem {
  std::string id;
  std::string note;
  int32_t amount = 0;
};

struct HostTestFetch {
  std::string method;
  std::string url;
  std::string body;
};

struct HostTestFetched {
  uint32_t resultCode = 0;
  uint32_t status = 0;
  std::string body;
};

struct HostTestEvent {
  std::string name;
  std::string text;
};

// The text of member `name` of a structure value; "" when absent.
std::string MemberText(const Tesk::HostValue& value, const char* name) {
  if (value.tag != static_cast<uint32_t>(Tesk::HostValueTag::Structure)) return {};
  for (uint32_t i = 0; i < value.structure.count; ++i) {
    const Tesk::HostValueMember& member = value.structure.members[i];
    const uint32_t tag = member.value.tag;
    if (std::strcmp(member.name, name) == 0 &&
        (tag == static_cast<uint32_t>(Tesk::HostValueTag::String) ||
         tag == static_cast<uint32_t>(Tesk::HostValueTag::OwnedString))) {
      return member.value.string.text;
    }
  }
  return {};
}

class HostTestPlugin : public Tesk::PluginBase {
 public:
  void RegisterApi() override {
    Tesk::BindingRegistry& registry = Registry();
    auto item = registry.BeginType<HostTestItem>("HostTestItem");
    item.Field("id", &HostTestItem::id);
    item.Field("note", &HostTestItem::note);
    item.Field("amount", &HostTestItem::amount);
    auto fetch = registry.BeginType<HostTestFetch>("HostTestFetch");
    fetch.Field("method", &HostTestFetch::method);
    fetch.Field("url", &HostTestFetch::url);
    fetch.Field("body", &HostTestFetch::body);
    auto fetched = registry.BeginType<HostTestFetched>("HostTestFetched");
    fetched.Field("resultCode", &HostTestFetched::resultCode);
    fetched.Field("status", &HostTestFetched::status);
    fetched.Field("body", &HostTestFetched::body);
    auto event = registry.BeginType<HostTestEvent>("HostTestEvent");
    event.Field("name", &HostTestEvent::name);
    event.Field("text", &HostTestEvent::text);

    DeclareRoute(registry, HttpMethod::Get, "/host-test/v1/items/{id}", [](const std::string& id) {
      if (id == "missing") {
        return HandlerResponse<HostTestItem>::Error(404, "No item missing");
      }
      return HandlerResponse<HostTestItem>::Ok({id, "found", 1});
    }).PathArgument<std::string>("id");
    DeclareRoute(registry, HttpMethod::Post, "/host-test/v1/items", [](const HostTestItem& item) {
      auto response = HandlerResponse<HostTestItem>::Ok(item);
      response.status.httpStatus = 201;
      response.headers["location"] = "/host-test/v1/items/" + item.id;
      return response;
    }).BodyArgument<HostTestItem>("item");
    DeclareRoute(registry, HttpMethod::Get, "/host-test/v1/session", [this] {
      auto answer = Tesk::RestInternal::SendApiRequestForValue(RequestTarget(), HttpMethod::Get,
                                                               "/tav-login/v1/session");
      if (answer.failure) {
        return HandlerResponse<BindingProperty>::Error(502, answer.failure->message);
      }
      return HandlerResponse<BindingProperty>::Ok(std::move(answer.value));
    });
    DeclareRoute(
        registry, HttpMethod::Post, "/host-test/v1/fetch",
        [this](const HostTestFetch& fetch) {
          Tesk::HttpRequest request;
          request.method = fetch.method == "GET" ? HttpMethod::Get : HttpMethod::Post;
          request.url = fetch.url;
          request.headers["Content-Type"] = "application/json";
          request.body = fetch.body;
          request.timeout = 5;
          const Tesk::HttpResponse response = Tesk::SendHttpRequest(RequestTarget(), request);
          return HostTestFetched{response.resultCode, response.status,
                                 response.resultCode == 0 ? response.body : response.message};
        })
        .BodyArgument<HostTestFetch>("fetch");
    DeclareRoute(registry, HttpMethod::Post, "/host-test/v1/events",
                 [this](const HostTestEvent& sent) {
                   Tesk::HostEvent event{};
                   event.name = sent.name.c_str();
                   event.payload.tag = static_cast<uint32_t>(Tesk::HostValueTag::String);
                   event.payload.string.text = sent.text.c_str();
                   event.payload.string.length = static_cast<uint32_t>(sent.text.size());
                   SendEvent(&event);
                   return true;
                 })
        .BodyArgument<HostTestEvent>("event");
    DeclareRoute(registry, HttpMethod::Get, "/host-test/v1/received", [this] { return received_; });
#if defined(KTX_HOST_TEST_VARIANT)
    // The rebuilt library that --watch loads in place of the first.
    DeclareRoute(registry, HttpMethod::Get, "/host-test/v1/variant", [] {
      return std::string("rebuilt");
    }).SetDescription("Only in the rebuilt variant");
#endif
  }

  bool Start() override {
    // Resource events and LCDS messages, recorded as "<eventType> <uri>" and
    // "lcds <typeName>"; one callback now, one that stays pending.
    RegisterEventHandler(
        "OnJsonApiEvent_tav-login_v1_session",
        [this](const Tesk::HostEvent& event) {
          received_.push_back(MemberText(event.payload, "eventType") + " " +
                              MemberText(event.payload, "uri"));
        },
        0);
    RegisterEventHandler(
        "OnLcdsEvent_test_Message",
        [this](const Tesk::HostEvent& event) {
          received_.push_back("lcds " + MemberText(event.payload, "typeName"));
        },
        1);
    const auto now = std::chrono::steady_clock::now();
    ScheduleTimer(
        "host test: now", [this] { received_.push_back("timer"); }, now);
    ScheduleTimer(
        "host test: later", [this] { received_.push_back("late timer"); },
        now + std::chrono::hours(1));
    return true;
  }

 private:
  std::vector<std::string> received_;
};

}  // namespace

KTX_PLUGIN_EXPORT void KTX_HOST_CALL load_host_test_routes(Tesk::PluginLoadInfo* info) {
  Tesk::LoadPlugin<HostTestPlugin>(info, "host-test-routes");
}
