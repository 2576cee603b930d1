// The receiving side of the host's service proxy: answers stored by key
// (the uuid, or "service.method") until a pending request handler claims them,
// and handlers of asynchronous messages by "service.method".
//
// Threads: the three events may arrive on several host threads at once; every
// access takes the registry's lock, and handlers run while it is held, so a
// handler must not add or remove service-proxy handlers.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "plugin/plugin_manager_types.h"

namespace Tesk {

class ServiceProxyRegistry {
 public:
  using Handler = std::function<void(const PluginServiceProxyResponse& response)>;

  // `shortName` prefixes the log lines.
  explicit ServiceProxyRegistry(std::string shortName = {}) : shortName_(std::move(shortName)) {}

  void SetShortName(std::string shortName);
  void AddPendingHandler(std::string_view key, Handler handler);
  void AddAsyncHandler(std::string_view key, Handler handler);

  // Stores the answer under its uuid, then delivers at most one stored answer
  // to its pending handler.
  void OnUuidResponse(const PluginServiceProxyResponse& response);
  // The same under "service.method".
  void OnMethodResponse(const PluginServiceProxyResponse& response);
  // Calls the async handler of "service.method", or logs that there is none.
  void OnAsyncResponse(const PluginServiceProxyResponse& response);

  void Clear();
  [[nodiscard]] size_t StoredResponseCount() const;
  // A copy of the answer stored under `key`, if any.
  [[nodiscard]] bool FindStoredResponse(std::string_view key,
                                        PluginServiceProxyResponse& out) const;

 private:
  void Store(std::string key, const PluginServiceProxyResponse& response);
  void DeliverOne();

  mutable Platform::Lock lock_;
  std::string shortName_;
  std::map<std::string, PluginServiceProxyResponse, std::less<>> received_;
  std::map<std::string, Handler, std::less<>> pending_;
  std::map<std::string, Handler, std::less<>> async_;
};

// "%1.%2" of the service and method names.
[[nodiscard]] std::string ServiceProxyMethodKey(const PluginServiceProxyResponse& response);

}  // namespace Tesk
