// Versions, plug-in types and names, and the plug-in API compatibility rule.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Tesk {

struct Version {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string prerelease;
  std::string build;

  // "18.0.0", then "-" and the prerelease text and "+" and the build text when
  // they are not empty.
  [[nodiscard]] std::string ToText() const;
};

// The plug-in API version this SDK implements.
[[nodiscard]] Version PluginApiVersion();

// A host is compatible when its major version equals the plug-in's and its
// (minor, patch) pair is not lower than the plug-in's.
[[nodiscard]] bool IsApiCompatible(const Version& plugin, const Version& host);

struct PluginType {
  std::string name;
  std::string qualifier;  // the second text; empty for the predefined types

  // The name, ":" and the second text.
  [[nodiscard]] std::string ToText() const;

  [[nodiscard]] static PluginType Backend();
  [[nodiscard]] static PluginType Frontend();
};

struct PluginName {
  std::string fullName;
  std::string shortName;
  std::string typeName;
  std::string typeQualifier;
};

// "ktx-be-" (backend), "ktx-fe-" (frontend) or "ktx-xx-" (any other type, which
// is also logged as an error) followed by the short name.
[[nodiscard]] std::string GetFullNameFromShortNameAndType(std::string_view shortName,
                                                          const PluginType& type);

[[nodiscard]] PluginName MakePluginName(std::string_view shortName, const PluginType& type);

}  // namespace Tesk
