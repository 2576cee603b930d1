// PluginBase: the plug-in object as the host sees it. It implements the host
// operations on the host's CoreInterface, owns the entry points table, the
// plug-in's names and tags, the function table published at load, and the log
// target that forwards to the host. A concrete plug-in derives from it and
// overrides RegisterApi and Start.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "diagnostics/log_manager.h"
#include "host-abi/plugin_records.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_version.h"
#include "rest/function_table.h"

namespace Tesk {

class PluginLogTarget;

class PluginBase : public PluginCore {
 public:
  PluginBase();
  ~PluginBase() override;

  // Called once during the load call; registers the plug-in's types, routes
  // and events. Does nothing here.
  virtual void RegisterApi() {}
  // Called at the end of Initialize; its result is Initialize's result.
  virtual bool Start() { return true; }

  // The host operations, on the CoreInterface given to Initialize. Before
  // Initialize there is no host: requests fail and the rest do nothing.
  void ApiRequest(ResponseRecord* response, const ApiRequestRecord* request) override;
  void HttpRequest(HttpResponseRecord* response, const HttpRequestRecord* request) override;
  void SendEvent(const HostEvent* event) override;
  void HostSubscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback,
                     void* userData, uint32_t flag) override;
  void HostUnsubscribe(const char* name, uint32_t pluginHandle) override;
  void HostSchedule(const char* label, TimerCallback callback, void* context, double delaySeconds,
                    uint32_t flag) override;
  void Yield() override;
  void WaitStart(const char* label, uint32_t flag) override;
  void WaitEnd() override;

  // Set by the load sequence, before RegisterApi.
  void SetIdentity(Version hostVersion, PluginName name);

  [[nodiscard]] const Version& HostVersion() const { return hostVersion_; }
  [[nodiscard]] const PluginName& Name() const { return name_; }
  [[nodiscard]] const std::string& IdentifierName() const { return identifierName_; }
  [[nodiscard]] const std::vector<std::string>& Tags() const { return tags_; }
  [[nodiscard]] PluginEntryPoints* EntryPoints() { return &entryPoints_; }
  // Builds the function table from what RegisterApi registered (load step).
  void PublishFunctionTable();
  // The table of the load record; empty until published.
  [[nodiscard]] FunctionTable* PublishedFunctionTable();
  [[nodiscard]] HostServices* Services() const { return services_; }

  // The entry points' work; the static entries wrap these for the host.
  bool Initialize(HostServices* services);
  void Shutdown();

 private:
  static uint8_t KTX_HOST_CALL InitializeEntry(void* plugin, HostServices* services);
  static void KTX_HOST_CALL ShutdownEntry(void* plugin);
  static void KTX_HOST_CALL GetMemoryStatisticsEntry(void* plugin, MemoryStatistics* out);

  void ForwardLogToHost();
  [[nodiscard]] CoreInterface* Core() const;

  LogManagerReference logManager_;
  Version hostVersion_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  PluginName name_;
  std::string identifierName_;
  std::vector<std::string> tags_;
  HostServices* services_ = nullptr;
  PluginEntryPoints entryPoints_{};
  std::unique_ptr<HostFunctionTable> functionTable_;
  FunctionTable emptyFunctionTable_{};
};

// Fills a MemoryStatistics record from the SDK's allocation counters.
void ReadMemoryStatistics(MemoryStatistics* out);

}  // namespace Tesk
