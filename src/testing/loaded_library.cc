#include "testing/loaded_library.h"

#include "platform/platform.h"

namespace Tesk::Testing {

LoadedLibrary::LoadedLibrary(const std::string& path, bool keepMapped)
    : handle_(Platform::OpenLibrary(path, keepMapped, error_)) {}

LoadedLibrary::~LoadedLibrary() { Platform::CloseLibrary(handle_); }

void* LoadedLibrary::Symbol(const char* name) const {
  return Platform::LibrarySymbol(handle_, name);
}

}  // namespace Tesk::Testing
