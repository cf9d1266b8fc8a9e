#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

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

std::atomic<unsigned> temporaryCounter{0};

constexpr char kTemporaryPrefix[] = ".vellomar-partial-";
constexpr char kLockPrefix[] = ".vellomar-run-";

// This process's token, in the names of its temporaries and lock files: a
// process number is not unique across namespaces or machines.
const std::string& runToken() {
  static const std::string token = [] {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return std::string(text);
  }();
  return token;
}

// The directories this process has claimed, where its files are.
std::mutex claimedMutex;
std::vector<std::string> claimedDirectories;  // operating-system paths

// The lock file of the run with `token` in `osDirectory`.
std::string lockFileOf(const std::string& osDirectory, const std::string& token) {
  return osDirectory + kLockPrefix + token + ".lock";
}

// The name's extension with its dot, when it is short enough to keep in a
// temporary name; "" otherwise.
std::string extensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot > 16) return "";
  return name.substr(dot);
}

// Creates a new temporary file for `name` in `directory`; returns its
// descriptor (or -1 with errno set) and sets `temporary`.
int createTemporary(const std::string& directory, const std::string& name, std::string& temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = toOsPath(directory + kTemporaryPrefix + runToken() + "-" +
                         std::to_string(temporaryCounter++) + extensionOf(name));
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

// Writes `bytes` to a new temporary file for `name` in `directory` and sets
// `temporary` to its operating-system path; on failure leaves no file.
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

// Renames `temporary` over `name` in `directory`; removes it on failure.
bool commitTemporaryFile(const std::string& temporary, const std::string& directory,
                         const std::string& name, std::string& error) {
  if (::rename(temporary.c_str(), toOsPath(directory + name).c_str()) == 0) return true;
  error = std::strerror(errno);
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace

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

std::string textModeText(std::string bytes) {
  size_t out = 0;
  for (size_t in = 0; in < bytes.size(); ++in) {
    if (bytes[in] == '\r' && in + 1 < bytes.size() && bytes[in + 1] == '\n') continue;
    bytes[out++] = bytes[in];
  }
  bytes.resize(out);
  return bytes;
}

bool writeFileAtomically(const std::string& directory, const std::string& name,
                         std::string_view bytes, std::string& error) {
  std::string temporary;
  return writeTemporaryFile(directory, name, bytes, temporary, error) &&
         commitTemporaryFile(temporary, directory, name, error);
}

TemporaryFile::~TemporaryFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    if (!path_.empty()) ::unlink(path_.c_str());
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

bool TemporaryFile::write(const std::string& directory, const std::string& name,
                          std::string_view bytes, std::string& error) {
  std::string path;
  if (!writeTemporaryFile(directory, name, bytes, path, error)) return false;
  *this = TemporaryFile();
  path_ = std::move(path);
  return true;
}

bool TemporaryFile::commit(const std::string& directory, const std::string& name,
                           std::string& error) {
  const std::string path = std::move(path_);
  path_.clear();
  return commitTemporaryFile(path, directory, name, error);
}

RunClaim::RunClaim(const std::string& directory)
    : directory_(toOsPath(directory)), lockFile_(lockFileOf(directory_, runToken())) {
  // Made under another name and locked before it is seen, so that no other
  // run ever finds it unlocked while this one lives.
  const std::string fresh = lockFile_ + ".new";
  fd_ = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0 && ::rename(fresh.c_str(), lockFile_.c_str()) == 0) {
    const std::lock_guard<std::mutex> lock(claimedMutex);
    claimedDirectories.push_back(directory_);
    return;
  }
  if (fd_ >= 0) ::close(fd_);
  ::unlink(fresh.c_str());
  fd_ = -1;
}

RunClaim::~RunClaim() {
  if (fd_ < 0) return;
  {
    const std::lock_guard<std::mutex> lock(claimedMutex);
    const auto claimed =
        std::find(claimedDirectories.begin(), claimedDirectories.end(), directory_);
    if (claimed != claimedDirectories.end()) claimedDirectories.erase(claimed);
  }
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
    {
      const std::lock_guard<std::mutex> lock(claimedMutex);
      const std::string own = kTemporaryPrefix + runToken() + "-";
      for (const std::string& directory : claimedDirectories) {
        ::unlink(lockFileOf(directory, runToken()).c_str());
        if (DIR* listing = ::opendir(directory.c_str())) {
          while (const dirent* entry = ::readdir(listing)) {
            if (own.compare(0, own.size(), entry->d_name, 0, own.size()) == 0) {
              ::unlinkat(::dirfd(listing), entry->d_name, 0);
            }
          }
          ::closedir(listing);
        }
      }
    }
    ::_exit(128 + signal);
  }).detach();
}

void removeStaleTemporaries(const std::string& directory) {
  const std::string osDirectory = toOsPath(directory);
  DIR* listing = ::opendir(osDirectory.c_str());
  if (listing == nullptr) return;
  std::map<std::string, bool> alive;  // by token
  const auto isAlive = [&](const std::string& token) {
    const auto [known, fresh] = alive.emplace(token, true);
    if (fresh && token != runToken()) {
      // A lock that can be had has no live run behind it.
      FileDescriptor lock(
          ::open(lockFileOf(osDirectory, token).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
      known->second = lock.get() >= 0 && ::flock(lock.get(), LOCK_SH | LOCK_NB) != 0;
    }
    return known->second;
  };
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    for (const std::string_view prefix : {kTemporaryPrefix, kLockPrefix}) {
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string token(
          name.substr(prefix.size(), name.find_first_of("-.", prefix.size()) - prefix.size()));
      if (!isAlive(token)) ::unlinkat(::dirfd(listing), name.c_str(), 0);
    }
  }
  ::closedir(listing);
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
                      int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec};
}

}  // namespace vellomar
