#include "server/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tesk::DevHost {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  [[nodiscard]] int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  const FileDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() < 0) return std::nullopt;
  // O_NONBLOCK: opening a FIFO does not wait for a writer; O_NOFOLLOW: a
  // symbolic link fails to open.
  const FileDescriptor file(
      openat(directory.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.Get() < 0) return std::nullopt;
  struct stat info {};
  if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<uint64_t>(info.st_size) > kMaxServedFileBytes) {
    return std::nullopt;
  }
  std::string content(static_cast<size_t>(info.st_size), '\0');
  size_t filled = 0;
  while (filled < content.size()) {
    const ssize_t n = read(file.Get(), content.data() + filled, content.size() - filled);
    if (n < 0) return std::nullopt;
    if (n == 0) break;  // shrank while read
    filled += static_cast<size_t>(n);
  }
  content.resize(filled);
  return content;
}

}  // namespace Tesk::DevHost
