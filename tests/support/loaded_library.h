// A shared library loaded by path, as a host loads a plug-in (dlopen or
// LoadLibrary), and the path of the plug-in built beside the test programs.
#pragma once

#include <string>

namespace Tesk::Testing {

class LoadedLibrary {
 public:
  // Loads `path`; Error() says why when the load failed.
  explicit LoadedLibrary(const std::string& path);
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  [[nodiscard]] bool IsLoaded() const { return handle_ != nullptr; }
  [[nodiscard]] const std::string& Error() const { return error_; }
  // The address of an exported symbol, or nullptr.
  [[nodiscard]] void* Symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// The plug-in library next to the running test program.
[[nodiscard]] std::string PluginLibraryPath();

}  // namespace Tesk::Testing
