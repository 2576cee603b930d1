// RunFile: tells local tools how to reach this run of the host. A JSON object
// with the port, the process id, the token and the URLs, readable by its owner
// only (mode 0600), written atomically and removed when the host ends.
#pragma once

#include <string>

namespace Tesk::DevHost {

// "$XDG_RUNTIME_DIR/ktx-host.json", or "/tmp/ktx-host-<uid>/ktx-host.json"
// (the folder made private to the user) when that variable is not set.
[[nodiscard]] std::string DefaultRunFilePath();

class RunFile {
 public:
  RunFile() = default;
  ~RunFile() { Remove(); }
  RunFile(const RunFile&) = delete;
  RunFile& operator=(const RunFile&) = delete;

  // Writes `json` to `path` (through a private temporary file in the same
  // folder, then renamed). False with a message on failure, when the folder
  // (followed through links) may be changed by other users, or when the file
  // there names a ktx-host that still runs; a file whose process is gone is
  // replaced.
  bool Write(const std::string& path, const std::string& json, std::string& error);
  // Whether Write replaced the file of a run that had ended without removing it.
  [[nodiscard]] bool ReplacedStale() const { return replacedStale_; }
  // Removes the file this object wrote, unless another run replaced it since.
  void Remove();

 private:
  std::string path_;
  std::string content_;
  bool replacedStale_ = false;
};

}  // namespace Tesk::DevHost
