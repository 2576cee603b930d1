// A shared library loaded by path, as a host loads a plug-in (dlopen or
// LoadLibrary).
#pragma once

#include <string>

namespace Tesk::Testing {

class LoadedLibrary {
 public:
  // Loads `path`; Error() says why when the load failed.
  // `keepMapped`: the library stays in memory after the object is gone, so
  // that what it keeps for the whole process (the page pool, the log
  // manager's lock) stays reachable for the leak checker and its functions can
  // be named in reports. Tests of loading and unloading leave it false.
  explicit LoadedLibrary(const std::string& path, bool keepMapped = false);
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

}  // namespace Tesk::Testing
