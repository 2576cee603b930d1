// The version information a built plug-in library carries (ktx_add_plugin's
// VERSION): a DLL's version resource, read through Windows' own version API, or
// the packaging-metadata note of an ELF shared object, read from the file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace Tesk::Testing {

struct EmbeddedVersion {
  bool readable = false;  // false when the file is missing or carries none
  std::string name;       // InternalName; the note's "name"
  std::string version;    // FileVersion; the note's "version"
  // Version resource only:
  std::string productVersion;
  std::string productName;
  std::string description;  // FileDescription
  std::string originalFileName;
  std::array<uint16_t, 4> fileVersionNumbers{};  // the fixed part
  std::array<uint16_t, 4> productVersionNumbers{};
};

[[nodiscard]] EmbeddedVersion ReadEmbeddedVersion(const std::string& path);

}  // namespace Tesk::Testing
