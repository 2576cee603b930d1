// The smallest plug-in that uses every part of the SDK a plug-in needs: one
// structure type, a GET and a POST route, an event sent when the POST changes
// the plug-in's state, and a resource of the host it observes.
#include <string>

#include "diagnostics/log_manager.h"
#include "plugin/plugin_base.h"
#include "plugin/plugin_export.h"
#include "plugin/plugin_loader.h"
#include "rest/route_declaration.h"

namespace {

constexpr char kGreetingUri[] = "/hello/v1/greeting";
constexpr char kRegionLocaleUri[] = "/teskclient/region-locale";

// What GET answers, what POST takes as its body (only "text" is read from it)
// and what the event carries.
struct HelloGreeting {
  std::string text;
  std::string locale;  // the player's locale, from the host's region-locale resource
};

// The host calls into one plug-in object one call at a time, so its state
// needs no lock.
class HelloPlugin final : public Tesk::PluginBase {
 public:
  // Runs during the load call, before the host has given any service: register
  // the types first, then the routes that use them.
  void RegisterApi() override {
    Tesk::BindingRegistry& registry = Registry();
    auto greeting = registry.BeginType<HelloGreeting>("HelloGreeting");
    greeting.Field("text", &HelloGreeting::text);
    greeting.Field("locale", &HelloGreeting::locale);

    // The function's name is derived from method and URL: GetHelloV1Greeting.
    Tesk::DeclareRoute(registry, Tesk::HttpMethod::Get, kGreetingUri, [this] {
      return greeting_;
    }).SetDescription("The current greeting");
    // The body is converted to the handler's argument; a body that does not
    // convert is refused with 400 before the handler runs.
    Tesk::DeclareRoute(registry, Tesk::HttpMethod::Post, kGreetingUri,
                       [this](const HelloGreeting& sent) { return SetText(sent.text); })
        .BodyArgument<HelloGreeting>("greeting")
        .SetDescription("Changes the greeting's text; a change is sent as an event");
  }

  // Runs at the end of Initialize: the host's services are there now. An
  // observed resource that the host holds arrives at once as a Create event,
  // then with every change.
  bool Start() override {
    ObserveResource(kRegionLocaleUri,
                    [this](const std::string&, const Tesk::PluginResourceEvent& event) {
                      greeting_.locale = std::string(event.data.Member("locale").GetString());
                    });
    return true;
  }

 private:
  Tesk::HandlerResponse<HelloGreeting> SetText(const std::string& text) {
    if (text.empty()) {
      return Tesk::HandlerResponse<HelloGreeting>::Error(400, "A greeting needs a text");
    }
    if (text != greeting_.text) {
      greeting_.text = text;
      // Goes to the host's log (ktx-host prints it).
      Tesk::LogMessage(Tesk::kLogLevelOkay, Tesk::kLogGroupDbg, "The greeting is now \"%s\"",
                       text.c_str());
      // An Update event of the resource, under "OnJsonApiEvent_hello_v1_greeting"
      // and "OnJsonApiEvent".
      SendResourceEvent(kGreetingUri, greeting_);
    }
    return Tesk::HandlerResponse<HelloGreeting>::Ok(greeting_);
  }

  HelloGreeting greeting_{"Hello", ""};
};

}  // namespace

// The library's one export. Its name matches the file: ktx-be-hello -> load_hello.
KTX_PLUGIN_EXPORT void KTX_HOST_CALL load_hello(Tesk::PluginLoadInfo* info) {
  Tesk::LoadPlugin<HelloPlugin>(info, "hello");
}
