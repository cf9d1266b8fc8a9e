#include "platform/file_system.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/os_path.h"

namespace vellomar {
namespace {

// Closes the descriptor when the scope ends.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const std::string& bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

std::atomic<unsigned> temporaryCounter{0};

// The name's extension with its dot, when it is short enough to keep in a
// temporary name; "" otherwise.
std::string extensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot > 16) return "";
  return name.substr(dot);
}

}  // namespace

bool makeDirectory(const std::string& path) {
  return ::mkdir(toOsPath(path).c_str(), 0777) == 0;
}

bool readFileBytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  FileDescriptor fd(::open(toOsPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  bytes.reserve(static_cast<size_t>(info.st_size));
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      bytes.clear();
      return false;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

bool writeFileAtomically(const std::string& directory, const std::string& name,
                         const std::string& bytes, std::string& error) {
  const std::string target = toOsPath(directory + name);
  std::string temporary;
  int rawFd = -1;
  for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
    temporary = toOsPath(directory + ".vellomar-partial-" + std::to_string(::getpid()) + "-" +
                         std::to_string(temporaryCounter++) + extensionOf(name));
    rawFd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (rawFd < 0 && errno != EEXIST) break;
  }
  if (rawFd < 0) {
    error = std::strerror(errno);
    return false;
  }
  FileDescriptor fd(rawFd);
  bool ok = writeAll(fd.get(), bytes);
  int savedErrno = errno;
  if (ok && ::close(fd.release()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    error = std::strerror(savedErrno);
  }
  return ok;
}

}  // namespace vellomar
