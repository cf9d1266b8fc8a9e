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
  Expected<native::File> create(const std::string& directory, const std::string& name,
                                const char* prefix, std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (interrupted_) return failure("the run is being interrupted");
    Expected<native::File> file = failure("no name was free");
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string fresh =
          directory + prefix + runToken() + "-" + std::to_string(counter_++) + extensionOf(name);
      bool exists = false;
      file = native::createNew(fresh, exists);
      if (file.ok()) {
        temporaries_.insert(fresh);
        path = fresh;
      }
      if (file.ok() || !exists) break;
    }
    return file;
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
  void addScratch(const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    scratch_.insert(path);
  }
  void removeScratch(const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (scratch_.erase(path) != 0) emptyAndRemove(path);
  }
  void removeAll() {
    const std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = true;
    for (const std::string& path : temporaries_) native::remove(path);
    for (const std::string& path : locks_) native::remove(path);
    for (const std::string& path : scratch_) emptyAndRemove(path);
    scratch_.clear();
  }

 private:
  std::mutex mutex_;
  bool interrupted_ = false;
  unsigned counter_ = 0;
  std::set<std::string> temporaries_;
  std::set<std::string> locks_;
  std::set<std::string> scratch_;

  // Only the files a library made are in it.
  static void emptyAndRemove(const std::string& directory) {
    const std::string inside = directory + '/';
    for (const std::string& name : native::list(inside)) {
      if (name != "." && name != "..") native::remove(inside + name);
    }
    native::removeDirectory(directory);
  }
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
  Expected<> append(std::string_view bytes) override { return native::writeAll(file_, bytes); }

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
    const Expected<native::File> file = native::openForReading(toOsPath(path), status);
    if (!file.ok()) return file.problem();
    // A directory, a named pipe or a device is not read (nor waited on).
    if (status.kind != native::Stat::Kind::kRegular) return failure("not a regular file");
    const std::string tooLarge = "the file is larger than " + std::to_string(maxBytes) + " bytes";
    if (status.size > maxBytes) return failure(tooLarge);
    std::string bytes;
    bytes.reserve(static_cast<size_t>(status.size));
    std::vector<char> buffer(1 << 16);
    for (;;) {
      const Expected<size_t> got = native::read(file.value(), buffer.data(), buffer.size());
      if (!got.ok()) return got.problem();
      if (got.value() == 0) return bytes;
      if (bytes.size() + got.value() > maxBytes) return failure(tooLarge);  // it grew
      bytes.append(buffer.data(), got.value());
    }
  }

  Expected<bool> makeDirectory(const std::string& path) override {
    bool exists = false;
    const Expected<> made = native::makeDirectory(toOsPath(path), exists);
    if (made.ok()) return true;
    if (exists && directoryIdentity(*this, path)) return false;
    return made.problem();
  }

  Expected<std::string> writeTemporary(const std::string& directory, const std::string& name,
                                       std::string_view bytes, Leftover leftover) override {
    const char* prefix = leftover == Leftover::kSweptUnderLock ? kTemporaryPrefix : kUnsweptPrefix;
    std::string made;
    Expected<native::File> file = ownFiles().create(toOsPath(directory), name, prefix, made);
    if (!file.ok()) return file.problem();
    Expected<> written = native::writeAll(file.value(), bytes);
    if (written.ok()) written = file.value().close();
    if (written.ok()) return directory + made.substr(toOsPath(directory).size());
    native::remove(made);
    ownFiles().forget(made);
    return written.problem();
  }

  Expected<> rename(const std::string& from, const std::string& to) override {
    const std::string osFrom = toOsPath(from);
    Expected<> renamed = native::rename(osFrom, toOsPath(to));
    if (renamed.ok()) ownFiles().forget(osFrom);
    return renamed;
  }

  void remove(const std::string& path) override {
    const std::string osPath = toOsPath(path);
    native::remove(osPath);
    ownFiles().forget(osPath);
  }

  Expected<std::unique_ptr<AppendingFile>> openForAppending(const std::string& path) override {
    Expected<native::File> file = native::openForAppending(toOsPath(path));
    if (!file.ok()) return file.problem();
    return std::unique_ptr<AppendingFile>(
        std::make_unique<NativeAppendingFile>(std::move(file).value()));
  }

  Expected<> writeInto(const std::string& path, std::string_view bytes) override {
    Expected<native::File> file = native::openExistingForWriting(toOsPath(path));
    if (!file.ok()) return file.problem();
    Expected<> written = native::writeAll(file.value(), bytes);
    if (!written.ok()) return written;
    return file.value().close();
  }

  std::vector<std::string> list(const std::string& directory) override {
    return native::list(toOsPath(directory));
  }

  Expected<std::unique_ptr<DirectoryLock>> lock(const std::string& directory, bool wait,
                                                const std::function<void()>& waiting) override {
    const std::string path = toOsPath(directory + kLockFileName);
    bool announced = false;
    for (;;) {
      Expected<native::File> opened = native::openLockFile(path);
      if (!opened.ok()) return opened.problem();
      native::File file = std::move(opened).value();
      Expected<bool> locked = native::lock(file, false);
      if (locked.ok() && !locked.value()) {
        if (!wait) return std::unique_ptr<DirectoryLock>();
        if (!announced && waiting) waiting();
        announced = true;
        locked = native::lock(file, true);
      }
      if (!locked.ok()) return locked.problem();
      if (!locked.value()) return std::unique_ptr<DirectoryLock>();
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

ScratchDirectory::ScratchDirectory(const std::string& prefix) {
  Expected<std::string> made = native::makePrivateDirectory(prefix);
  if (!made.ok()) return;
  path_ = std::move(made).value();
  ownFiles().addScratch(path_);
}

ScratchDirectory::~ScratchDirectory() {
  if (!path_.empty()) ownFiles().removeScratch(path_);
}

}  // namespace vellomar
