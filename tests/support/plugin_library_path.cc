#include "support/plugin_library_path.h"

#include "platform/platform.h"

namespace Tesk::Testing {

std::string PluginLibraryPath() {
  std::string path = Platform::ExecutablePath();
  const size_t slash = path.find_last_of("/\\");
  path.resize(slash == std::string::npos ? 0 : slash + 1);
  return path + KTX_PLUGIN_FILE_NAME;
}

}  // namespace Tesk::Testing
