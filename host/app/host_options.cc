#include "app/host_options.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "encoding/json_support.h"

namespace Tesk::DevHost {
namespace {

bool ParseNumber(std::string_view text, uint64_t maximum, uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value <= maximum;
}

// Applies one option by its long name (without "--"); false with a message.
bool Apply(HostOptions& options, std::string_view name, const std::string& value,
           std::string& message) {
  uint64_t number = 0;
  const auto numeric = [&](uint64_t maximum) {
    if (ParseNumber(value, maximum, number)) return true;
    message = "--" + std::string(name) + " needs a number up to " + std::to_string(maximum) +
              ", not \"" + value + "\"";
    return false;
  };
  if (name == "plugin") {
    options.pluginPath = value;
  } else if (name == "port") {
    if (!numeric(65535)) return false;
    options.port = static_cast<uint16_t>(number);
  } else if (name == "mock-port") {
    if (!numeric(65535)) return false;
    options.mockPort = static_cast<uint16_t>(number);
  } else if (name == "run-file") {
    options.runFile = value;
  } else if (name == "docs-dir") {
    options.docsDir = value;
  } else if (name == "web-dir") {
    options.webDir = value;
  } else if (name == "token") {
    if (value.size() < 16) {
      message = "--token needs at least 16 characters";
      return false;
    }
    options.token = value;
  } else if (name == "body-limit") {
    if (!numeric(1u << 30)) return false;
    options.bodyLimit = static_cast<size_t>(number);
  } else if (name == "read-timeout") {
    if (!numeric(3600) || number == 0) {
      message = "--read-timeout needs 1 to 3600 seconds";
      return false;
    }
    options.readTimeoutSeconds = static_cast<unsigned>(number);
  } else if (name == "log-level") {
    if (!numeric(3)) return false;
    options.logLevel = static_cast<int>(number);
  } else if (name == "mock-wallet") {
    if (!numeric(uint64_t{1} << 40)) return false;
    options.mockWallet = static_cast<int64_t>(number);
  } else if (name == "mock-token-lifetime") {
    if (!numeric(86400 * 365)) return false;
    options.mockTokenLifetimeSeconds = static_cast<unsigned>(number);
  } else {
    message = "Unknown option --" + std::string(name) + " (see --help)";
    return false;
  }
  return true;
}

constexpr std::string_view kValueOptions[] = {
    "plugin", "port",       "mock-port",    "run-file",  "docs-dir",    "web-dir",
    "token",  "body-limit", "read-timeout", "log-level", "mock-wallet", "mock-token-lifetime",
    "config"};

bool IsValueOption(std::string_view name) {
  return std::find(std::begin(kValueOptions), std::end(kValueOptions), name) !=
         std::end(kValueOptions);
}

bool ApplyFlag(HostOptions& options, std::string_view name) {
  if (name == "no-mock") {
    options.mock = false;
  } else if (name == "no-demo") {
    options.demo = false;
  } else if (name == "once") {
    options.once = true;
  } else if (name == "watch") {
    options.watch = true;
  } else {
    return false;
  }
  return true;
}

// The configuration file: an object whose members are the long option names
// ("port", "mock-port", ... and "no-mock": true), plus "resources": an object
// from URI to the resource's JSON value.
bool ApplyConfigFile(HostOptions& options, const std::string& path, std::string& message) {
  std::ifstream in(path);
  if (!in) {
    message = "Cannot read the configuration file " + path;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  rapidjson::Document config;
  std::string error;
  if (!ParseJson(text.str(), config, error) || !config.IsObject()) {
    message = path + ": " + (error.empty() ? "the configuration is a JSON object" : error);
    return false;
  }
  for (const auto& member : config.GetObject()) {
    const std::string name = member.name.GetString();
    const rapidjson::Value& value = member.value;
    if (name == "resources") {
      if (!value.IsObject()) {
        message = path + ": \"resources\" maps URIs to values";
        return false;
      }
      for (const auto& resource : value.GetObject()) {
        options.resources.emplace_back(resource.name.GetString(), WriteJson(resource.value));
      }
    } else if (value.IsBool()) {
      if (!value.GetBool()) continue;
      if (!ApplyFlag(options, name)) {
        message = path + ": unknown flag \"" + name + "\"";
        return false;
      }
    } else {
      const std::string text = value.IsString() ? value.GetString() : WriteJson(value);
      if (!Apply(options, name, text, message)) {
        message = path + ": " + message;
        return false;
      }
    }
  }
  return true;
}

}  // namespace

OptionsOutcome ParseOptions(int argc, char** argv, HostOptions& options, std::string& message) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--help" || arguments[i] == "-h") return OptionsOutcome::Help;
    if (arguments[i] == "--config" || arguments[i].starts_with("--config=")) {
      const bool inline_ = arguments[i].size() > 8;
      if (!inline_ && i + 1 >= arguments.size()) {
        message = "--config needs a file";
        return OptionsOutcome::Error;
      }
      const std::string path = inline_ ? arguments[i].substr(9) : arguments[i + 1];
      if (!ApplyConfigFile(options, path, message)) return OptionsOutcome::Error;
    }
  }
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!argument.starts_with("--")) {
      options.pluginPath = argument;
      continue;
    }
    std::string name = argument.substr(2);
    std::string value;
    const size_t equals = name.find('=');
    const bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (!inlineValue && ApplyFlag(options, name)) continue;
    if (!IsValueOption(name)) {
      message = "Unknown option --" + name + " (see --help)";
      return OptionsOutcome::Error;
    }
    if (!inlineValue) {
      if (i + 1 >= arguments.size()) {
        message = "--" + name + " needs a value (see --help)";
        return OptionsOutcome::Error;
      }
      value = arguments[++i];
    }
    if (name == "config") continue;  // read above
    if (!Apply(options, name, value, message)) return OptionsOutcome::Error;
  }
  return OptionsOutcome::Run;
}

std::string HelpText(const char* program) {
  return std::string("Usage: ") + program +
         " [options] [plugin.so]\n"
         "\n"
         "Runs a plug-in outside the platform's host: loads the shared object, keeps the host\n"
         "contract, and serves the plug-in's functions and events on 127.0.0.1. Without\n"
         "arguments it runs the demo: the project's plug-in, the mock offers service, and a\n"
         "ready login session, locale and configuration namespace pointing at the mock.\n"
         "Stop it with Ctrl+C (SIGINT) or SIGTERM.\n"
         "\n"
         "Options:\n"
         "  --plugin PATH             the plug-in (default: ktx-be-tav-personalized-offers.so\n"
         "                            beside ktx-host, or in ../lib when installed)\n"
         "  --config FILE             a JSON object of these options by their long names\n"
         "                            (\"port\": 8411, \"no-mock\": true, ...) and \"resources\":\n"
         "                            {\"<uri>\": <value>, ...}; the command line wins\n"
         "  --port N                  port of the local API (default 0: a free port)\n"
         "  --mock-port N             port of the mock offers service (default 0: a free port)\n"
         "  --no-mock                 no mock offers service\n"
         "  --no-demo                 no demo resources (session, locale, configuration)\n"
         "  --run-file PATH           where to write port, pid and token (mode 0600; default\n"
         "                            $XDG_RUNTIME_DIR/ktx-host.json or\n"
         "                            /tmp/ktx-host-<uid>/ktx-host.json)\n"
         "  --token TEXT              this token instead of a random one (16 characters or more)\n"
         "  --docs-dir PATH           the swagger-ui-dist files (default: ../share/ktx-host/\n"
         "                            swagger-ui when installed, else /var/cache/ktx/swagger-ui/\n"
         "                            node_modules/swagger-ui-dist)\n"
         "  --web-dir PATH            the demo page's files (default: web/ beside ktx-host, or\n"
         "                            ../share/ktx-host/web when installed; host/web in the\n"
         "                            sources, to edit the page live)\n"
         "  --body-limit BYTES        largest request body accepted (default 1048576; 413 above)\n"
         "  --read-timeout SECONDS    time an authenticated client has to send a request,\n"
         "                            and may stay idle (default 30; a new connection\n"
         "                            has 5 s for its first request)\n"
         "  --log-level N             lowest plug-in log level printed, 0 to 3 (default 0)\n"
         "  --mock-wallet N           the mock's starting wallet (default 5000)\n"
         "  --mock-token-lifetime S   lifetime of the mock's service tokens (default 3600)\n"
         "  --watch                   load the plug-in again when its file changes (a rebuild):\n"
         "                            Shutdown, then the new library's load and Initialize,\n"
         "                            keeping resources, clients and token; clients get\n"
         "                            OnHostPluginReloaded or OnHostPluginReloadFailed\n"
         "  --once                    start, print the addresses, and stop\n"
         "  --help                    this text\n"
         "\n"
         "Every request needs the run's token: \"Authorization: Bearer <token>\", curl -u\n"
         "ktx:<token>, or ?token=<token>; and a Host header naming 127.0.0.1 or localhost.\n"
         "\n"
         "Endpoints:\n"
         "  <method> <template>       the plug-in's published functions (see /openapi.json)\n"
         "  GET  /                    in a browser (/?token=<token>): the demo page, which\n"
         "                            shows the offers and drives the plug-in and the host;\n"
         "                            otherwise the index: the plug-in's functions and these\n"
         "                            endpoints\n"
         "  GET  /openapi.json        OpenAPI 3.0.3 description\n"
         "  GET  /docs                Swagger UI (open /docs?token=<token> in a browser)\n"
         "  GET  /events              Server-Sent Events; ?events=name1,name2 (or resource\n"
         "                            URIs) to filter, e.g. curl -N\n"
         "  GET  /ws                  WebSocket: send {\"subscribe\": [names]} or\n"
         "                            {\"unsubscribe\": [names]}; events arrive as\n"
         "                            {\"id\":..,\"name\":..,\"payload\":..}; \"*\" is every "
         "event\n"
         "  GET  /host/v1/status      subscriptions, pending callbacks, the plug-in's memory\n"
         "  GET  /host/v1/resources   the URIs of the resources the host holds\n"
         "  GET|PUT|DELETE /host/v1/resources/<uri>\n"
         "                            read or change a resource; a change is sent to the\n"
         "                            plug-in as its resource event (Create, Update, Delete)\n"
         "  POST /host/v1/lcds        deliver an LCDS message: {\"typeName\": \"<class>\",\n"
         "                            \"body\": {...}, \"clientId\": \"\", \"subtopic\": \"\"}\n"
         "  GET  /host/v1/telemetry   the latest telemetry events the plug-in posted\n"
         "\n"
         "Mock offers service (own port): POST <base>v1/player/authenticate,\n"
         "GET <base>v1/player/offers?lang=, POST <base>v1/player/offers/view?lang=,\n"
         "POST <base>v1/player/offers/accept?lang=; operator: GET /mock/v1/state[?player=<id\n"
         "token>], GET /mock/v1/requests[?since=N] (the calls received), POST /mock/v1/reset,\n"
         "POST /mock/v1/outage {\"status\": 503, \"message\": \"...\"} (every service call "
         "answers\n"
         "that until DELETE /mock/v1/outage), POST /mock/v1/revoke (issued tokens refused);\n"
         "<base> is /personalized-offers/. Each id token has a catalogue and wallet of its own.\n";
}

}  // namespace Tesk::DevHost
