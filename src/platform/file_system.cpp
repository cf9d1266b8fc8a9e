// The file-system rules of the tool, written once over each system's
// primitives (native_file.h).

#include "platform/file_system.h"

#include <cstdio>
#include <mutex>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "platform/native_file.h"
#include "platform/os_path.h"

namespace vellomar {
namespace {

// Temporaries made without the directory's lock; never swept.
constexpr char kUnsweptPrefix[] = ".vellomar-pending-";

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
// made. Paths are operating-system paths.
class OwnFiles {
 public:
  // Creates a new temporary file for `name` in `directory` (ending with a
  // separator) and keeps its path, which `path` is set to when it was made.
  native::File create(const std::string& directory, const std::string& name, const char* prefix,
                      std::string& path, std::string& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (interrupted_) {
      error = "the run is being interrupted";
      return native::File();
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string fresh =
          directory + prefix + runToken() + "-" + std::to_string(counter_++) + extensionOf(name);
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

FileStatus fileStatusOf(const native::Stat& status) {
  FileStatus file;
  switch (status.kind) {
    case native::Stat::Kind::kRegular: file.kind = FileStatus::Kind::kRegular; break;
    case native::Stat::Kind::kDirectory: file.kind = FileStatus::Kind::kDirectory; break;
    case native::Stat::Kind::kLink: file.kind = FileStatus::Kind::kLink; break;
    case native::Stat::Kind::kOther: file.kind = FileStatus::Kind::kOther; break;
  }
  file.identity = {status.device, status.inode, status.size, status.modifiedNanoseconds,
                   status.changedNanoseconds};
  return file;
}

class NativeLock : public DirectoryLock {
 public:
  NativeLock(std::string path, native::File file) : path_(std::move(path)), file_(std::move(file)) {
    ownFiles().addLock(path_);
  }
  // Removed while still locked; the lock goes with the file's closing.
  ~NativeLock() override {
    ownFiles().dropLock(path_);
    native::remove(path_);
  }

 private:
  std::string path_;  // operating-system path
  native::File file_;
};

class NativeAppendingFile : public AppendingFile {
 public:
  explicit NativeAppendingFile(native::File file) : file_(std::move(file)) {}
  Expected<> append(std::string_view bytes) override {
    std::string error;
    if (!native::writeAll(file_, bytes, error)) return failure(error);
    return {};
  }

 private:
  native::File file_;
};

class NativeFileSystem : public FileSystem {
 public:
  std::optional<FileStatus> status(const std::string& path) override {
    const auto found = native::status(toOsPath(path));
    if (!found) return std::nullopt;
    return fileStatusOf(*found);
  }

  std::optional<FileStatus> linkStatus(const std::string& path) override {
    const auto found = native::status(toOsPath(path), false);
    if (!found) return std::nullopt;
    return fileStatusOf(*found);
  }

  Expected<std::string> readFile(const std::string& path, uint64_t maxBytes) override {
    native::Stat status;
    std::string reason;
    const native::File file = native::openForReading(toOsPath(path), status, reason);
    if (!file.valid()) return failure(reason);
    // A directory, a named pipe or a device is not read (nor waited on).
    if (status.kind != native::Stat::Kind::kRegular) return failure("not a regular file");
    const std::string tooLarge = "the file is larger than " + std::to_string(maxBytes) + " bytes";
    if (status.size > maxBytes) return failure(tooLarge);
    std::string bytes;
    bytes.reserve(static_cast<size_t>(status.size));
    std::vector<char> buffer(1 << 16);
    for (;;) {
      const int64_t got = native::read(file, buffer.data(), buffer.size(), reason);
      if (got < 0) return failure(reason);
      if (got == 0) return bytes;
      if (bytes.size() + static_cast<uint64_t>(got) > maxBytes) return failure(tooLarge);  // grew
      bytes.append(buffer.data(), static_cast<size_t>(got));
    }
  }

  Expected<bool> makeDirectory(const std::string& path) override {
    bool exists = false;
    std::string error;
    if (native::makeDirectory(toOsPath(path), exists, error)) return true;
    if (exists && directoryIdentity(*this, path)) return false;
    return failure(error);
  }

  Expected<std::string> writeTemporary(const std::string& directory, const std::string& name,
                                       std::string_view bytes, Leftover leftover) override {
    const char* prefix = leftover == Leftover::kSweptUnderLock ? kTemporaryPrefix : kUnsweptPrefix;
    std::string made, error;
    native::File file = ownFiles().create(toOsPath(directory), name, prefix, made, error);
    if (!file.valid()) return failure(error);
    if (native::writeAll(file, bytes, error) && file.close(error)) {
      return directory + made.substr(toOsPath(directory).size());
    }
    native::remove(made);
    ownFiles().forget(made);
    return failure(error);
  }

  Expected<> rename(const std::string& from, const std::string& to) override {
    const std::string osFrom = toOsPath(from);
    std::string error;
    if (!native::rename(osFrom, toOsPath(to), error)) return failure(error);
    ownFiles().forget(osFrom);
    return {};
  }

  void remove(const std::string& path) override {
    const std::string osPath = toOsPath(path);
    native::remove(osPath);
    ownFiles().forget(osPath);
  }

  Expected<std::unique_ptr<AppendingFile>> openForAppending(const std::string& path) override {
    std::string error;
    native::File file = native::openForAppending(toOsPath(path), error);
    if (!file.valid()) return failure(error);
    return std::unique_ptr<AppendingFile>(std::make_unique<NativeAppendingFile>(std::move(file)));
  }

  Expected<> writeInto(const std::string& path, std::string_view bytes) override {
    std::string error;
    native::File file = native::openExistingForWriting(toOsPath(path), error);
    if (!file.valid() || !native::writeAll(file, bytes, error) || !file.close(error)) {
      return failure(error);
    }
    return {};
  }

  std::vector<std::string> list(const std::string& directory) override {
    return native::list(toOsPath(directory));
  }

  Expected<std::unique_ptr<DirectoryLock>> lock(const std::string& directory, bool wait,
                                                const std::function<void()>& waiting) override {
    const std::string path = toOsPath(directory + kLockFileName);
    bool announced = false;
    std::string error;
    for (;;) {
      native::File file = native::openLockFile(path, error);
      if (!file.valid()) return failure(error);
      native::LockResult result = native::lock(file, false, error);
      if (result == native::LockResult::kBusy) {
        if (!wait) return std::unique_ptr<DirectoryLock>();
        if (!announced && waiting) waiting();
        announced = true;
        result = native::lock(file, true, error);
      }
      if (result == native::LockResult::kBusy) return std::unique_ptr<DirectoryLock>();
      if (result != native::LockResult::kLocked) return failure(error);
      // The run that held it removes it as it lets go: then the lock to have
      // is on the file that stands there now.
      if (!native::stillNames(path, file)) continue;
      return std::unique_ptr<DirectoryLock>(std::make_unique<NativeLock>(path, std::move(file)));
    }
  }
};

}  // namespace

FileSystem& nativeFileSystem() {
  static NativeFileSystem* files = new NativeFileSystem;  // lives as long as the process
  return *files;
}

std::optional<FileIdentity> fileIdentity(FileSystem& files, const std::string& path) {
  const auto status = files.status(path);
  if (!status || status->kind != FileStatus::Kind::kRegular) return std::nullopt;
  return status->identity;
}

std::optional<FileIdentity> directoryIdentity(FileSystem& files, const std::string& path) {
  const auto status = files.status(path);
  if (!status || status->kind != FileStatus::Kind::kDirectory) return std::nullopt;
  return status->identity;
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

TemporaryFile::~TemporaryFile() { remove(); }

void TemporaryFile::remove() {
  if (path_.empty()) return;
  files_->remove(std::exchange(path_, std::string()));
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    remove();
    files_ = other.files_;
    path_ = std::exchange(other.path_, std::string());
  }
  return *this;
}

Expected<> TemporaryFile::write(FileSystem& files, const std::string& directory,
                                const std::string& name, std::string_view bytes,
                                Leftover leftover) {
  remove();
  files_ = &files;
  Expected<std::string> made = files.writeTemporary(directory, name, bytes, leftover);
  if (!made.ok()) return made.problem();
  path_ = std::move(made).value();
  return {};
}

Expected<> TemporaryFile::commit(const std::string& directory, const std::string& name) {
  if (path_.empty()) return failure("no file was made");
  Expected<> renamed = files_->rename(path_, directory + name);
  if (renamed.ok()) {
    path_.clear();
  } else {
    remove();
  }
  return renamed;
}

Expected<> writeFileAtomically(FileSystem& files, const std::string& directory,
                               const std::string& name, std::string_view bytes, Leftover leftover) {
  TemporaryFile temporary;
  Expected<> written = temporary.write(files, directory, name, bytes, leftover);
  if (!written.ok()) return written;
  return temporary.commit(directory, name);
}

void removeStaleTemporaries(FileSystem& files, const std::string& directory) {
  const std::string own = std::string(kTemporaryPrefix) + runToken() + "-";
  const std::string_view prefix = kTemporaryPrefix;
  for (const std::string& name : files.list(directory)) {
    if (name.compare(0, prefix.size(), prefix) == 0 && name.compare(0, own.size(), own) != 0) {
      files.remove(directory + name);
    }
  }
}

void removeOwnFilesOnInterruption() {
  native::onInterruption([] { ownFiles().removeAll(); });
}

}  // namespace vellomar
