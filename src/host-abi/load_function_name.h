// The name under which a host looks up a plug-in library's load export.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace Tesk {

// "ktx-be-tav-personalized-offers.so" gives "load_tav_personalized_offers":
// "load_" and the short name (the file name without folder, the "ktx-xx-"
// prefix and the extension) with every "-" written "_".
[[nodiscard]] inline std::string LoadFunctionNameForLibrary(std::string_view libraryPath) {
  const size_t slash = libraryPath.find_last_of("/\\");
  std::string name(slash == std::string_view::npos ? libraryPath : libraryPath.substr(slash + 1));
  name = name.substr(0, name.find('.'));
  if (name.size() > 7 && name.compare(0, 4, "ktx-") == 0 && name[6] == '-') name.erase(0, 7);
  std::replace(name.begin(), name.end(), '-', '_');
  return "load_" + name;
}

}  // namespace Tesk
