#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/file_system_parts.h"
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

bool writeAll(int fd, std::string_view bytes) {
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

// Creates a new temporary file for `name` in `directory`; returns its
// descriptor (or -1 with errno set) and sets `temporary`.
int createTemporary(const std::string& directory, const std::string& name, std::string& temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = temporaryNameFor(directory, name);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

std::optional<std::pair<uint64_t, uint64_t>> identityOf(const std::string& osPath) {
  struct stat info;
  if (::stat(osPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return std::make_pair(static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino));
}

}  // namespace

bool writeTemporaryFile(const std::string& directory, const std::string& name,
                        std::string_view bytes, std::string& temporary, std::string& error) {
  FileDescriptor fd(createTemporary(directory, name, temporary));
  if (fd.get() < 0) {
    error = std::strerror(errno);
    return false;
  }
  bool ok = writeAll(fd.get(), bytes);
  int savedErrno = errno;
  if (ok && ::close(fd.release()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    error = std::strerror(savedErrno);
  }
  return ok;
}

bool commitTemporaryFile(const std::string& temporary, const std::string& directory,
                         const std::string& name, std::string& error) {
  if (::rename(temporary.c_str(), toOsPath(directory + name).c_str()) == 0) return true;
  error = std::strerror(errno);
  ::unlink(temporary.c_str());
  return false;
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

std::vector<std::string> directoryEntries(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* listing = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(listing)) names.emplace_back(entry->d_name);
    ::closedir(listing);
  }
  return names;
}

bool lockIsHeld(const std::string& lockFile) {
  FileDescriptor lock(::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  return lock.get() >= 0 && ::flock(lock.get(), LOCK_SH | LOCK_NB) != 0;
}

const bool kCtrlZEndsText = false;

bool makeDirectory(const std::string& path, std::string* error) {
  if (::mkdir(toOsPath(path).c_str(), 0777) == 0) return true;
  if (error != nullptr)
    *error = errno == EEXIST && identityOf(toOsPath(path)) ? "" : std::strerror(errno);
  return false;
}

bool readFileBytes(const std::string& path, std::string& bytes, std::string* error,
                   uint64_t maxBytes) {
  bytes.clear();
  const auto fail = [&](const std::string& why) {
    bytes.clear();
    if (error != nullptr) *error = why;
    return false;
  };
  // Opened without blocking: a named pipe is refused, never waited on.
  FileDescriptor fd(::open(toOsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info;
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return fail("not a regular file");
  const std::string tooLarge = "the file is larger than " + std::to_string(maxBytes) + " bytes";
  if (static_cast<uint64_t>(info.st_size) > maxBytes) return fail(tooLarge);
  bytes.reserve(static_cast<size_t>(info.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(std::strerror(errno));
    if (got == 0) return true;
    if (bytes.size() + static_cast<size_t>(got) > maxBytes) return fail(tooLarge);  // it grew
    bytes.append(buffer, static_cast<size_t>(got));
  }
}

RunClaim::RunClaim(const std::string& directory)
    : directory_(toOsPath(directory)), lockFile_(lockFileOf(directory_, runToken())) {
  // Made under another name and locked before it is seen, so that no other
  // run ever finds it unlocked while this one lives.
  const std::string fresh = lockFile_ + ".new";
  fd_ = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0 && ::rename(fresh.c_str(), lockFile_.c_str()) == 0) {
    addClaimedDirectory(directory_);
    return;
  }
  if (fd_ >= 0) ::close(fd_);
  ::unlink(fresh.c_str());
  fd_ = -1;
}

RunClaim::~RunClaim() {
  if (fd_ < 0) return;
  dropClaimedDirectory(directory_);
  ::unlink(lockFile_.c_str());
  ::close(fd_);
}

void removeOwnFilesOnSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
  if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
  std::thread([signals] {
    int signal = 0;
    if (::sigwait(&signals, &signal) != 0) return;
    removeOwnFiles();
    ::_exit(128 + signal);
  }).detach();
}

std::optional<std::pair<uint64_t, uint64_t>> parentDirectoryIdentity(const std::string& path) {
  // A link is followed to the file it names.
  std::string osPath = toOsPath(path);
  if (char* real = ::realpath(osPath.c_str(), nullptr)) {
    osPath = real;
    std::free(real);
  }
  const size_t slash = osPath.rfind('/');
  return identityOf(slash == std::string::npos ? "." : osPath.substr(0, slash + 1));
}

std::optional<std::pair<uint64_t, uint64_t>> directoryIdentity(const std::string& path) {
  return identityOf(toOsPath(path));
}

uint64_t fileSize(const std::string& path) {
  struct stat info;
  if (::stat(toOsPath(path).c_str(), &info) != 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
  struct stat info;
  if (::stat(toOsPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                      static_cast<uint64_t>(info.st_size),
                      int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec,
                      int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec};
}

}  // namespace vellomar
