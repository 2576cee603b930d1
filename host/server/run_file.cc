#include "server/run_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "encoding/json_support.h"

namespace Tesk::DevHost {
namespace {

std::string ErrorText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  std::stringstream held;
  held << in.rdbuf();
  return held.str();
}

// Whether `folder`, followed through any symbolic links, is safe for the run
// file: a folder of this user or of root that no one else may change files
// in (not writable by others, or sticky as /tmp is).
bool CheckFolder(const std::string& folder, std::string& error) {
  char* resolved = realpath(folder.c_str(), nullptr);
  if (resolved == nullptr) {
    error = ErrorText("Cannot reach the run file's folder", folder);
    return false;
  }
  const std::string real = resolved;
  std::free(resolved);
  struct stat info {};
  if (stat(real.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = "The run file's folder " + real + " is not a folder";
    return false;
  }
  const bool ownerTrusted = info.st_uid == getuid() || info.st_uid == 0;
  const bool othersWrite =
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0;
  if (!ownerTrusted || othersWrite) {
    error = "Refusing to write the run file into " + real +
            (folder != real ? " (reached from " + folder + ")" : "") +
            ": other users may change it";
    return false;
  }
  return true;
}

// The process a run file names, when it is still a running ktx-host; 0 when
// the file is missing, unreadable or names a process that is gone.
pid_t LiveOwner(const std::string& path) {
  rapidjson::Document held;
  std::string ignored;
  if (!ParseJson(ReadWhole(path), held, ignored) || !held.IsObject() || !held.HasMember("pid") ||
      !held["pid"].IsInt() || held["pid"].GetInt() <= 0) {
    return 0;
  }
  const pid_t pid = held["pid"].GetInt();
  if (pid == getpid()) return 0;
  if (kill(pid, 0) != 0 && errno != EPERM) return 0;
  // A process of that number that is not a ktx-host took a freed number.
  const std::string name = ReadWhole("/proc/" + std::to_string(pid) + "/comm");
  if (!name.empty() && !name.starts_with("ktx-host")) return 0;
  return pid;
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
  if (!CheckFolder(folder, error)) return false;
  if (access(path.c_str(), F_OK) == 0) {
    if (const pid_t owner = LiveOwner(path); owner != 0) {
      error = "ktx-host process " + std::to_string(owner) + " is running with the run file " +
              path + ": stop it, or name another file with --run-file";
      return false;
    }
    replacedStale_ = true;
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
  if (ReadWhole(path_) == content_) unlink(path_.c_str());
  path_.clear();
}

}  // namespace Tesk::DevHost
