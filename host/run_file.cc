#include "run_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace Tesk::DevHost {
namespace {

std::string ErrorText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string DefaultRunFilePath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') return std::string(runtime) + "/ktx-host.json";
  const std::string folder = "/tmp/ktx-host-" + std::to_string(getuid());
  // A private folder of our own: refuse one that another user made.
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return folder + "/ktx-host.json";
  struct stat info {};
  if (lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid()) {
    chmod(folder.c_str(), 0700);
  }
  return folder + "/ktx-host.json";
}

bool RunFile::Write(const std::string& path, const std::string& json, std::string& error) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  if (slash != std::string::npos && slash > 0) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid != getuid() &&
        (info.st_mode & S_IWOTH) != 0 && (info.st_mode & S_ISVTX) == 0) {
      error = "Refusing to write the run file into " + folder + ": other users may change it";
      return false;
    }
  }
  std::string scratch = folder + "/.ktx-host-XXXXXX";
  std::vector<char> name(scratch.begin(), scratch.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());  // created with mode 0600
  if (fd < 0) {
    error = ErrorText("Cannot create a file in", folder);
    return false;
  }
  scratch = name.data();
  bool written = fchmod(fd, 0600) == 0;
  size_t offset = 0;
  while (written && offset < json.size()) {
    const ssize_t n = ::write(fd, json.data() + offset, json.size() - offset);
    if (n <= 0) {
      written = false;
    } else {
      offset += static_cast<size_t>(n);
    }
  }
  written = ::close(fd) == 0 && written;
  if (!written || rename(scratch.c_str(), path.c_str()) != 0) {
    error = ErrorText("Cannot write the run file", path);
    unlink(scratch.c_str());
    return false;
  }
  path_ = path;
  content_ = json;
  return true;
}

void RunFile::Remove() {
  if (path_.empty()) return;
  std::ifstream in(path_);
  std::stringstream held;
  held << in.rdbuf();
  if (in && held.str() == content_) unlink(path_.c_str());
  path_.clear();
}

}  // namespace Tesk::DevHost
