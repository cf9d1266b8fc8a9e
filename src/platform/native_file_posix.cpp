#include "platform/native_file.h"

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
#include <system_error>
#include <thread>

namespace vellomar::native {
namespace {

int fd(const File& file) { return static_cast<int>(file.handle()); }

Stat statusOf(const struct stat& info) {
  Stat status;
  status.kind = S_ISREG(info.st_mode)   ? Stat::Kind::kRegular
                : S_ISDIR(info.st_mode) ? Stat::Kind::kDirectory
                : S_ISLNK(info.st_mode) ? Stat::Kind::kLink
                                        : Stat::Kind::kOther;
  status.device = static_cast<uint64_t>(info.st_dev);
  status.inode = static_cast<uint64_t>(info.st_ino);
  status.size = static_cast<uint64_t>(info.st_size);
  status.modifiedNanoseconds = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  status.changedNanoseconds = int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec;
  return status;
}

}  // namespace

File::~File() {
  if (valid()) ::close(fd(*this));
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (valid()) ::close(fd(*this));
    handle_ = other.handle_;
    other.handle_ = kNone;
  }
  return *this;
}

Expected<> File::close() {
  const int result = ::close(fd(*this));
  handle_ = kNone;
  if (result == 0) return {};
  return failure(std::strerror(errno));
}

std::optional<Stat> status(const std::string& path, bool followLinks) {
  struct stat info;
  if ((followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) != 0) {
    return std::nullopt;
  }
  return statusOf(info);
}

Expected<File> openForReading(const std::string& path, Stat& status) {
  File file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info;
  if (!file.valid() || ::fstat(fd(file), &info) != 0) return failure(std::strerror(errno));
  status = statusOf(info);
  return file;
}

Expected<size_t> read(const File& file, char* buffer, size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd(file), buffer, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) return failure(std::strerror(errno));
  }
}

Expected<File> createNew(const std::string& path, bool& exists) {
  File file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  exists = !file.valid() && errno == EEXIST;
  if (!file.valid()) return failure(std::strerror(errno));
  return file;
}

Expected<> writeAll(const File& file, std::string_view bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd(file), data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return failure(std::strerror(errno));
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return {};
}

Expected<> rename(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return {};
  return failure(std::strerror(errno));
}

void remove(const std::string& path) { ::unlink(path.c_str()); }

std::vector<std::string> list(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* listing = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(listing)) names.emplace_back(entry->d_name);
    ::closedir(listing);
  }
  return names;
}

Expected<> makeDirectory(const std::string& path, bool& exists) {
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  exists = errno == EEXIST;
  return failure(std::strerror(errno));
}

Expected<std::string> makePrivateDirectory(const std::string& prefix) {
  // In $TMPDIR when it names a directory that takes it, else in /tmp.
  const char* base = std::getenv("TMPDIR");
  for (const std::string& directory :
       {std::string(base != nullptr && base[0] == '/' ? base : ""), std::string("/tmp")}) {
    if (directory.empty()) continue;
    std::string path = directory + '/';
    path += prefix + "XXXXXX";
    if (::mkdtemp(path.data()) != nullptr) return path;
  }
  return failure(std::strerror(errno));
}

void removeDirectory(const std::string& path) { ::rmdir(path.c_str()); }

Expected<File> openForAppending(const std::string& path) {
  File file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!file.valid()) return failure(std::strerror(errno));
  return file;
}

Expected<File> openExistingForWriting(const std::string& path) {
  File file(::open(path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) {
    return failure(errno == ENXIO ? "a named pipe that nothing reads" : std::strerror(errno));
  }
  // Written as any file is: a pipe's writes wait for its reader.
  const int flags = ::fcntl(fd(file), F_GETFL);
  if (flags == -1 || ::fcntl(fd(file), F_SETFL, flags & ~O_NONBLOCK) == -1) {
    return failure(std::strerror(errno));
  }
  return file;
}

Expected<File> openLockFile(const std::string& path) {
  File file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
  // A lock file left by another user, which this one may not write, locks as
  // well read only.
  if (!file.valid() && errno == EACCES) {
    file = File(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    // None there: the directory is what may not be written.
    if (!file.valid()) errno = EACCES;
  }
  if (!file.valid())
    return failure(errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
  return file;
}

Expected<bool> lock(const File& file, bool wait) {
  while (::flock(fd(file), LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    return failure(std::strerror(errno));
  }
  return true;
}

bool stillNames(const std::string& path, const File& file) {
  struct stat named, open;
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd(file), &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

const bool kCtrlZEndsText = false;

void onInterruption(void (*cleanUp)()) {
  // A write past the limit fails with EFBIG and is that file's problem.
  ::signal(SIGXFSZ, SIG_IGN);
  // The signals are taken by a thread of their own, blocked everywhere else; a
  // signal the caller ignored (nohup, a background job) stays ignored.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
    sigaddset(&signals, signal);
  }
  if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
  try {
    std::thread([signals, cleanUp] {
      int signal = 0;
      if (::sigwait(&signals, &signal) != 0) return;
      cleanUp();
      // Ended by the signal itself, as a shell expects (a loop stops at Ctrl-C).
      ::signal(signal, SIG_DFL);
      sigset_t only;
      sigemptyset(&only);
      sigaddset(&only, signal);
      ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
      ::raise(signal);
      ::_exit(128 + signal);
    }).detach();
  } catch (const std::system_error&) {
    // No thread for it: the signals end the process as they always would.
    ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
  }
}

}  // namespace vellomar::native
