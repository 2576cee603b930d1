// HostOptions: what a run of ktx-host does, from a JSON configuration file
// and the command line (which wins). Without any, the demo: the project's
// plug-in beside the program, the mock offers service, and resources that
// make the plug-in ready (a login session, a locale, and the configuration
// namespace pointing at the mock with HubEnabled true).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Tesk::DevHost {

struct HostOptions {
  std::string pluginPath;  // empty: the project's plug-in beside ktx-host
  uint16_t port = 0;       // 0: a free port
  uint16_t mockPort = 0;
  bool mock = true;
  bool demo = true;     // the demo resources
  std::string runFile;  // empty: DefaultRunFilePath()
  std::string docsDir;  // empty: DefaultDocsFolder(), Swagger UI's files
  std::string webDir;   // empty: DefaultWebFolder(), the demo page beside ktx-host
  std::string token;    // empty: a random token
  size_t bodyLimit = 1u << 20;
  unsigned readTimeoutSeconds = 30;
  int logLevel = 0;  // the lowest level of the plug-in's log lines printed
  int64_t mockWallet = 5000;
  unsigned mockTokenLifetimeSeconds = 3600;
  bool once = false;  // start, print, stop
  // Load the plug-in again, from a private copy, whenever its file changes.
  bool watch = false;
  // Resources to hold at start, after the demo's: URI and JSON text.
  std::vector<std::pair<std::string, std::string>> resources;
};

enum class OptionsOutcome { Run, Help, Error };

// Reads --config first, then every other argument. On Error, `message` says
// what was wrong.
[[nodiscard]] OptionsOutcome ParseOptions(int argc, char** argv, HostOptions& options,
                                          std::string& message);

// The text of --help.
[[nodiscard]] std::string HelpText(const char* program);

}  // namespace Tesk::DevHost
