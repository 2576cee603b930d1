#include "support/loaded_library.h"

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace Tesk::Testing {

LoadedLibrary::LoadedLibrary(const std::string& path, bool keepMapped) {
#if defined(_WIN32)
  (void)keepMapped;  // a DLL is freed only when its last reference goes
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (handle_ == nullptr)
    error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (keepMapped ? RTLD_NODELETE : 0));
  if (handle_ == nullptr) error_ = dlerror();
#endif
}

LoadedLibrary::~LoadedLibrary() {
  if (handle_ == nullptr) return;
#if defined(_WIN32)
  FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void* LoadedLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

std::string PluginLibraryPath() {
  std::string path = Platform::ExecutablePath();
  const size_t slash = path.find_last_of("/\\");
  path.resize(slash == std::string::npos ? 0 : slash + 1);
  return path + KTX_PLUGIN_FILE_NAME;
}

}  // namespace Tesk::Testing
