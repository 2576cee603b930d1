// The load sequence behind a plug-in's one export: create the plug-in object,
// check the host's plug-in API version, name the object, let it register its
// API, and fill the host's load record.
#pragma once

#include <new>
#include <string_view>

#include "host-abi/plugin_records.h"
#include "plugin/plugin_base.h"

namespace Tesk {

// Runs the load sequence on a freshly created `plugin`, taking ownership of it.
// On an incompatible host this reports "ALE-EECF0606" and ends the process
// without writing any field of `info`. On any other failure the object is
// destroyed, the failure is logged and `info` is left as it was, so the host
// sees no entry points.
void CompletePluginLoad(PluginBase* plugin, PluginLoadInfo* info, std::string_view shortName,
                        const PluginType& type) noexcept;

// The body of a plug-in's load export: `ConcretePlugin` derives from PluginBase.
template <class ConcretePlugin>
void LoadPlugin(PluginLoadInfo* info, std::string_view shortName) noexcept {
  if (info == nullptr) return;
  PluginBase* plugin = nullptr;
  try {
    plugin = new ConcretePlugin();
  } catch (...) {
    plugin = nullptr;
  }
  CompletePluginLoad(plugin, info, shortName, PluginType::Backend());
}

}  // namespace Tesk
