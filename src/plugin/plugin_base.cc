#include "plugin/plugin_base.h"

#include <cstring>
#include <exception>
#include <utility>

#include "diagnostics/format.h"
#include "diagnostics/log_handover.h"
#include "diagnostics/sdk_allocator.h"
#include "plugin/plugin_log_target.h"
#include "rest/function_names.h"

namespace Tesk {
namespace {

constexpr char kNoHostText[] = "The plug-in has no host services yet";

}  // namespace

PluginBase::PluginBase() {
  entryPoints_.initialize = &PluginBase::InitializeEntry;
  entryPoints_.shutdown = &PluginBase::ShutdownEntry;
  entryPoints_.getMemoryStatistics = &PluginBase::GetMemoryStatisticsEntry;
}

PluginBase::~PluginBase() = default;

void PluginBase::PublishFunctionTable() {
  functionTable_ = std::make_unique<HostFunctionTable>(Registry());
}

FunctionTable* PluginBase::PublishedFunctionTable() {
  return functionTable_ != nullptr ? functionTable_->Header() : &emptyFunctionTable_;
}

void PluginBase::SetIdentity(Version hostVersion, PluginName name) {
  hostVersion_ = std::move(hostVersion);
  name_ = std::move(name);
  tags_ = {"Plugins", "Plugin " + name_.shortName};
  identifierName_ = DeriveFunctionName("", name_.shortName);
}

CoreInterface* PluginBase::Core() const { return services_ != nullptr ? services_->core : nullptr; }

bool PluginBase::Initialize(HostServices* services) {
  services_ = services;
  ForwardLogToHost();
  std::string userAgent =
      Format("TeskClient/%1 (%2)", hostVersion_.ToText(), std::string_view(name_.shortName));
  SetHostIdentity(services != nullptr ? services->pluginHandle : 0, name_.shortName,
                  std::move(userAgent));
  return Start();
}

// The first plug-in object of the process to initialise takes the log over for
// its host: the console targets are detached and every level is forwarded.
// Later ones stand by, and take the log over in turn when the object holding
// it shuts down (PluginLogTarget withdraws itself when destroyed).
void PluginBase::ForwardLogToHost() {
  auto target = std::make_unique<PluginLogTarget>(Core());
  LogHandover::Offer(
      *target,
      LogHandoverSettings{kLogLevelOkay, kLogGroupXtr, {kLogLevelOkay, 0, 0, "#D| #L| #G| #M"}});
  logTarget_ = std::move(target);
}

void PluginBase::Shutdown() {
  Stop();
  delete this;
}

uint8_t KTX_HOST_CALL PluginBase::InitializeEntry(void* plugin, HostServices* services) {
  if (plugin == nullptr) return 0;
  try {
    return static_cast<PluginBase*>(plugin)->Initialize(services) ? 1 : 0;
  } catch (const std::exception& error) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Initialize failed: %s", error.what());
  } catch (...) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Initialize failed with an unknown exception");
  }
  return 0;
}

void KTX_HOST_CALL PluginBase::ShutdownEntry(void* plugin) {
  if (plugin == nullptr) return;
  try {
    static_cast<PluginBase*>(plugin)->Shutdown();
  } catch (const std::exception& error) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Shutdown failed: %s", error.what());
  } catch (...) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Shutdown failed with an unknown exception");
  }
}

void KTX_HOST_CALL PluginBase::GetMemoryStatisticsEntry(void*, MemoryStatistics* out) {
  ReadMemoryStatistics(out);
}

void ReadMemoryStatistics(MemoryStatistics* out) {
  if (out == nullptr) return;
  const Memory::AllocationCounters counters = Memory::ReadAllocationCounters();
  out->peakLiveBytes = counters.peakLiveBytes;
  out->liveBlocksAtPeak = counters.liveBlocksAtPeak;
  out->bytesAllocated = counters.bytesAllocated;
  out->allocations = counters.allocations;
  out->bytesFreed = counters.bytesFreed;
  out->frees = counters.frees;
  out->reserved = 0;
}

void PluginBase::ApiRequest(ResponseRecord* response, const ApiRequestRecord* request) {
  CoreInterface* core = Core();
  if (core == nullptr || core->apiRequest == nullptr) {
    // A static text with no release function: nothing for the caller to free.
    response->errorText = const_cast<char*>(kNoHostText);
    response->failed = 1;
    return;
  }
  core->apiRequest(core, response, request);
}

void PluginBase::HttpRequest(HttpResponseRecord* response, const HttpRequestRecord* request) {
  CoreInterface* core = Core();
  if (core == nullptr || core->httpRequest == nullptr) {
    response->resultCode = 1;
    return;
  }
  core->httpRequest(core, response, request);
}

void PluginBase::SendEvent(const HostEvent* event) {
  if (CoreInterface* core = Core(); core != nullptr && core->sendEvent != nullptr) {
    core->sendEvent(core, event);
  }
}

void PluginBase::HostSubscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback,
                               void* userData, uint32_t flag) {
  if (CoreInterface* core = Core(); core != nullptr && core->subscribe != nullptr) {
    core->subscribe(core, name, pluginHandle, callback, userData, flag);
  }
}

void PluginBase::HostUnsubscribe(const char* name, uint32_t pluginHandle) {
  if (CoreInterface* core = Core(); core != nullptr && core->unsubscribe != nullptr) {
    core->unsubscribe(core, name, pluginHandle);
  }
}

void PluginBase::HostSchedule(const char* label, TimerCallback callback, void* context,
                              double delaySeconds, uint32_t flag) {
  if (CoreInterface* core = Core(); core != nullptr && core->schedule != nullptr) {
    core->schedule(core, label, callback, context, delaySeconds, flag);
  }
}

void PluginBase::Yield() {
  if (CoreInterface* core = Core(); core != nullptr && core->yield != nullptr) core->yield(core);
}

void PluginBase::WaitStart(const char* label, uint32_t flag) {
  if (CoreInterface* core = Core(); core != nullptr && core->waitStart != nullptr) {
    core->waitStart(core, label, flag);
  }
}

void PluginBase::WaitEnd() {
  if (CoreInterface* core = Core(); core != nullptr && core->waitEnd != nullptr) {
    core->waitEnd(core);
  }
}

}  // namespace Tesk
