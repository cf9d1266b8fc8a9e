// The file-system rules of the tool, written once over each system's
// primitives (native_file.h).

#include "platform/file_system.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "platform/native_file.h"
#include "platform/os_path.h"

namespace vellomar {
namespace {

constexpr char kTemporaryPrefix[] = ".vellomar-partial-";
// The lock file of each run, as earlier releases of the tool named it.
constexpr char kRunLockPrefix[] = ".vellomar-run-";

// This process's token, in the names of its temporaries: a process number is
// not unique across namespaces or machines.
const std::string& runToken() {
  static const std::string token = [] {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return std::string(text);
  }();
  return token;
}

// The name's extension with its dot, when it is short enough to keep in a
// temporary name; "" otherwise.
std::string extensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot > 16) return "";
  return name.substr(dot);
}

// The files this process made and has not yet put in place or removed, so
// that an interruption removes exactly them; once it has begun, no more are
// made.
class OwnFiles {
 public:
  // Creates a new temporary file for `name` in `directory` (an
  // operating-system path ending with a separator) and keeps its path, which
  // `path` is set to when it was made.
  native::File create(const std::string& directory, const std::string& name, std::string& path,
                      std::string& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (interrupted_) {
      error = "the run is being interrupted";
      return native::File();
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string fresh = directory + kTemporaryPrefix + runToken() + "-" +
                                std::to_string(counter_++) + extensionOf(name);
      bool exists = false;
      native::File file = native::createNew(fresh, exists, error);
      if (file.valid()) {
        temporaries_.insert(fresh);
        path = fresh;
      }
      if (file.valid() || !exists) return file;
    }
    return native::File();
  }
  void forget(const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    temporaries_.erase(path);
  }
  void addLock(const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    locks_.insert(path);
  }
  void dropLock(const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    locks_.erase(path);
  }
  void removeAll() {
    const std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = true;
    for (const std::string& path : temporaries_) native::remove(path);
    for (const std::string& path : locks_) native::remove(path);
  }

 private:
  std::mutex mutex_;
  bool interrupted_ = false;
  unsigned counter_ = 0;
  std::set<std::string> temporaries_;
  std::set<std::string> locks_;
};

OwnFiles& ownFiles() {
  static OwnFiles* files = new OwnFiles;  // never destroyed: interruptions come at any time
  return *files;
}

}  // namespace

bool makeDirectory(const std::string& path, std::string* error) {
  bool exists = false;
  std::string reason;
  if (native::makeDirectory(toOsPath(path), exists, reason)) return true;
  if (error != nullptr) *error = exists && directoryIdentity(path) ? "" : reason;
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
  native::Status status;
  std::string reason;
  const native::File file = native::openForReading(toOsPath(path), status, reason);
  if (!file.valid()) return fail(reason);
  // A directory, a named pipe or a device is not read (nor waited on).
  if (status.kind != native::Status::Kind::kRegular) return fail("not a regular file");
  const std::string tooLarge = "the file is larger than " + std::to_string(maxBytes) + " bytes";
  if (status.size > maxBytes) return fail(tooLarge);
  bytes.reserve(static_cast<size_t>(status.size));
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const int64_t got = native::read(file, buffer.data(), buffer.size(), reason);
    if (got < 0) return fail(reason);
    if (got == 0) return true;
    if (bytes.size() + static_cast<uint64_t>(got) > maxBytes) return fail(tooLarge);  // it grew
    bytes.append(buffer.data(), static_cast<size_t>(got));
  }
}

std::string textModeText(std::string bytes) {
  if (native::kCtrlZEndsText) bytes = bytes.substr(0, bytes.find('\x1A'));
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
  TemporaryFile temporary;
  return temporary.write(directory, name, bytes, error) && temporary.commit(directory, name, error);
}

TemporaryFile::~TemporaryFile() { remove(); }

void TemporaryFile::remove() {
  if (path_.empty()) return;
  const std::string path = std::exchange(path_, std::string());
  native::remove(path);
  ownFiles().forget(path);
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    remove();
    path_ = std::exchange(other.path_, std::string());
  }
  return *this;
}

bool TemporaryFile::write(const std::string& directory, const std::string& name,
                          std::string_view bytes, std::string& error) {
  remove();
  native::File file = ownFiles().create(toOsPath(directory), name, path_, error);
  if (!file.valid()) return false;
  if (native::writeAll(file, bytes, error) && file.close(error)) return true;
  remove();
  return false;
}

bool TemporaryFile::commit(const std::string& directory, const std::string& name,
                           std::string& error) {
  const std::string path = std::exchange(path_, std::string());
  const bool renamed = native::rename(path, toOsPath(directory + name), error);
  if (!renamed) native::remove(path);
  ownFiles().forget(path);
  return renamed;
}

struct DirectoryLock::Held {
  std::string path;  // operating-system path
  native::File file;
};

DirectoryLock::DirectoryLock(const std::string& directory, bool wait,
                             const std::function<void()>& waiting) {
  const std::string path = toOsPath(directory + kLockFileName);
  bool announced = false;
  for (;;) {
    native::File file = native::openLockFile(path, error_);
    if (!file.valid()) return;
    if (!native::lock(file, false)) {
      if (!wait) return;
      if (!announced && waiting) waiting();
      announced = true;
      if (!native::lock(file, true)) return;
    }
    // The run that held it removes it as it lets go: then the lock to have is
    // on the file that stands there now.
    if (!native::stillNames(path, file)) continue;
    ownFiles().addLock(path);
    held_.reset(new Held{path, std::move(file)});
    return;
  }
}

DirectoryLock::~DirectoryLock() {
  if (!held_) return;
  // Removed while still locked; the lock goes with the file's closing.
  ownFiles().dropLock(held_->path);
  native::remove(held_->path);
}

void removeOwnFilesOnInterruption() {
  native::onInterruption([] { ownFiles().removeAll(); });
}

void removeStaleTemporaries(const std::string& directory) {
  const std::string osDirectory = toOsPath(directory);
  std::map<std::string, bool> alive;  // by token
  const auto isAlive = [&](const std::string& token) {
    const auto [known, fresh] = alive.emplace(token, true);
    // An earlier release's run holds a lock file of its own.
    if (fresh && token != runToken()) {
      known->second = native::lockIsHeld(osDirectory + kRunLockPrefix + token + ".lock");
    }
    return known->second;
  };
  for (const std::string& name : native::list(osDirectory)) {
    for (const std::string_view prefix : {kTemporaryPrefix, kRunLockPrefix}) {
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string token(
          name.substr(prefix.size(), name.find_first_of("-.", prefix.size()) - prefix.size()));
      if (!isAlive(token)) native::remove(osDirectory + name);
    }
  }
}

std::optional<std::pair<uint64_t, uint64_t>> directoryIdentity(const std::string& path) {
  const auto status = native::status(toOsPath(path));
  if (!status || status->kind != native::Status::Kind::kDirectory) return std::nullopt;
  return std::make_pair(status->device, status->inode);
}

uint64_t fileSize(const std::string& path) {
  const auto status = native::status(toOsPath(path));
  return status ? status->size : 0;
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
  const auto status = native::status(toOsPath(path));
  if (!status || status->kind != native::Status::Kind::kRegular) return std::nullopt;
  return FileIdentity{status->device, status->inode, status->size, status->modifiedNanoseconds,
                      status->changedNanoseconds};
}

}  // namespace vellomar
