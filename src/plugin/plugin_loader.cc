#include "plugin/plugin_loader.h"

#include <exception>
#include <memory>

#include "diagnostics/assertion_report.h"
#include "diagnostics/format.h"
#include "diagnostics/log_manager.h"
#include "platform/platform.h"
#include "plugin/plugin_manager_types.h"

namespace Tesk {
namespace {

constexpr char kIncompatibleHostError[] = "ALE-EECF0606";

[[noreturn]] void StopOnIncompatibleHost(std::string_view shortName, const Version& plugin,
                                         const Version& host) {
  const std::string reason =
      Format("%1 which supports plugin API %2 is not compatible with core's plugin API %3",
             shortName, plugin.ToText(), host.ToText());
  LogMessage(kLogLevelError, kLogGroupDbg, "%s", reason.c_str());
  ReportAssertion(kIncompatibleHostError, nullptr, nullptr, 0, nullptr);
  Platform::EndProcessNow();
}

}  // namespace

void CompletePluginLoad(PluginBase* plugin, PluginLoadInfo* info, std::string_view shortName,
                        const PluginType& type) noexcept {
  if (plugin == nullptr) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Couldn't allocate the plug-in object");
    return;
  }
  std::unique_ptr<PluginBase> owned(plugin);
  try {
    Version host{info->apiMajor, info->apiMinor, info->apiPatch, {}, {}};
    const Version ours = PluginApiVersion();
    if (!IsApiCompatible(ours, host)) StopOnIncompatibleHost(shortName, ours, host);

    owned->SetIdentity(std::move(host), MakePluginName(shortName, type));
    RegisterPluginManagerTypes(owned->Registry());
    owned->RegisterApi();
    owned->PublishFunctionTable();

    info->apiMajor = ours.major;
    info->apiMinor = ours.minor;
    info->apiPatch = ours.patch;
    info->entryPoints = owned->EntryPoints();
    info->shortName = owned->Name().shortName.c_str();
    info->functionTable = owned->PublishedFunctionTable();
    // The host owns the object from here on and ends it through Shutdown.
    info->plugin = owned.release();
  } catch (const std::exception& error) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Loading %.*s failed: %s",
               static_cast<int>(shortName.size()), shortName.data(), error.what());
  } catch (...) {
    LogMessage(kLogLevelError, kLogGroupDbg, "Loading %.*s failed with an unknown exception",
               static_cast<int>(shortName.size()), shortName.data());
  }
}

}  // namespace Tesk
