#include "plugin/plugin_version.h"

#include <tuple>

#include "diagnostics/format.h"
#include "diagnostics/log_manager.h"
#include "plugin/plugin_api_version.h"

namespace Tesk {

std::string Version::ToText() const {
  std::string text = Format("%1.%2.%3", major, minor, patch);
  if (!prerelease.empty()) text += "-" + prerelease;
  if (!build.empty()) text += "+" + build;
  return text;
}

Version PluginApiVersion() {
  return Version{kPluginApiVersionMajor, kPluginApiVersionMinor, kPluginApiVersionPatch, {}, {}};
}

bool IsApiCompatible(const Version& plugin, const Version& host) {
  return host.major == plugin.major &&
         std::tie(host.minor, host.patch) >= std::tie(plugin.minor, plugin.patch);
}

std::string PluginType::ToText() const { return name + ":" + qualifier; }

PluginType PluginType::Backend() { return {"backend", {}}; }
PluginType PluginType::Frontend() { return {"frontend", {}}; }

std::string GetFullNameFromShortNameAndType(std::string_view shortName, const PluginType& type) {
  std::string fullName;
  if (type.name == "backend") {
    fullName = "ktx-be-";
  } else if (type.name == "frontend") {
    fullName = "ktx-fe-";
  } else {
    fullName = "ktx-xx-";
    const std::string message =
        Format("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type",
               shortName, type.ToText());
    LogMessage(kLogLevelError, kLogGroupDbg, "            Plugin Manager| %s", message.c_str());
  }
  fullName += shortName;
  return fullName;
}

PluginName MakePluginName(std::string_view shortName, const PluginType& type) {
  return {GetFullNameFromShortNameAndType(shortName, type), std::string(shortName), type.name,
          type.qualifier};
}

}  // namespace Tesk
