#include <cerrno>
#include <cstring>

#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qyrsend::files {

std::string WriteNew(const std::string& utf8_path, std::string_view bytes, bool owner_only) {
  // The mode is given at creation, so the file is never readable by others, not even briefly.
  const int fd = open(utf8_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      owner_only ? 0600 : 0644);
  if (fd < 0) return std::strerror(errno);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string reason = std::strerror(n < 0 ? errno : EIO);
      close(fd);
      unlink(utf8_path.c_str());
      return reason;
    }
    written += static_cast<std::size_t>(n);
  }
  // A key that is not on the disk yet is no key: a power cut would leave an empty file.
  int failure = fsync(fd) == 0 ? 0 : errno;
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0) return {};
  unlink(utf8_path.c_str());
  return std::strerror(failure);
}

bool Exists(const std::string& utf8_path) {
  struct stat info;
  return lstat(utf8_path.c_str(), &info) == 0;
}

const std::string_view kMakeOwnerOnly = "chmod 600";

bool OwnerOnly(const std::string& utf8_path) {
  struct stat info;
  return stat(utf8_path.c_str(), &info) == 0 && (info.st_mode & 077) == 0;
}

void Remove(const std::string& utf8_path) { unlink(utf8_path.c_str()); }

}  // namespace qyrsend::files
