// The project's plug-in library, built beside the test programs.
#pragma once

#include <string>

namespace Tesk::Testing {

// The plug-in library next to the running test program.
[[nodiscard]] std::string PluginLibraryPath();

}  // namespace Tesk::Testing
