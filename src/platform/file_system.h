#ifndef VELLOMAR_PLATFORM_FILE_SYSTEM_H_
#define VELLOMAR_PLATFORM_FILE_SYSTEM_H_

// The file system as the runs see it: an interface, so that tests can wrap
// the system's own (nativeFileSystem()) and make any of its calls fail. Every
// path is a tool path (code-page bytes, backslashes allowed); the native file
// system turns it into an operating-system path. Reasons are worded as the C
// library words them ("No such file or directory").

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/expected.h"

namespace vellomar {

// Which file a path names, and in which state: the same values mean the same
// bytes. A user can set a file's modification time back, but not its change
// time, which the system sets whenever the file is written (or renamed).
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNanoseconds = 0;
  int64_t changedNanoseconds = 0;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedNanoseconds == other.modifiedNanoseconds &&
           changedNanoseconds == other.changedNanoseconds;
  }
  // The same file object (device and inode), whatever its state.
  bool sameFile(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};

struct FileStatus {
  enum class Kind { kRegular, kDirectory, kLink, kOther };
  Kind kind = Kind::kOther;
  FileIdentity identity;
};

// Who removes a temporary file that a process which died left behind. The run
// that holds a directory's lock removes those that runs holding it before left
// (kSweptUnderLock); a temporary made without that lock (a report, a proof
// page) is never taken for a dead run's.
enum class Leftover { kSweptUnderLock, kKept };

// Held while it lives: one run at a time writes into a directory.
class DirectoryLock {
 public:
  virtual ~DirectoryLock() = default;
};

// A file written at its end, record after record; closed when destroyed.
class AppendingFile {
 public:
  virtual ~AppendingFile() = default;
  virtual Expected<> append(std::string_view bytes) = 0;
};

// The lock file a run holds in the directory it writes into.
constexpr char kLockFileName[] = ".vellomar-lock";
// Temporary files begin with this and keep their target's extension.
constexpr char kTemporaryPrefix[] = ".vellomar-partial-";

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // What `path` names, links followed (status) or not (linkStatus); empty
  // when nothing.
  virtual std::optional<FileStatus> status(const std::string& path) = 0;
  virtual std::optional<FileStatus> linkStatus(const std::string& path) = 0;

  // The whole file; a problem when it cannot be opened or read, is not a
  // regular file (a named pipe or a device is never waited on), or holds more
  // than `maxBytes` (checked before reading).
  virtual Expected<std::string> readFile(const std::string& path, uint64_t maxBytes) = 0;

  // Creates the last component of `path`: true when it made it, false when a
  // directory was there already; a problem when it could not be made, or
  // something else has that name.
  virtual Expected<bool> makeDirectory(const std::string& path) = 0;

  // Writes `bytes` to a new temporary file for `name` in `directory` (ending
  // with a separator): the temporary's path. No temporary is made once an
  // interruption has begun; one is removed by it until it is renamed or
  // removed.
  virtual Expected<std::string> writeTemporary(const std::string& directory,
                                               const std::string& name, std::string_view bytes,
                                               Leftover leftover) = 0;
  // Renames `from` over `to`, replacing it.
  virtual Expected<> rename(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& path) = 0;
  // Opens the file for adding to its end, creating it; never through a link.
  virtual Expected<std::unique_ptr<AppendingFile>> openForAppending(const std::string& path) = 0;
  // Writes `bytes` into what `path` names now (a named pipe, a device, what a
  // link leads to), after what it holds; never waits for a pipe's reader.
  virtual Expected<> writeInto(const std::string& path, std::string_view bytes) = 0;
  // The names in `directory` (ending with a separator); none when it cannot
  // be listed.
  virtual std::vector<std::string> list(const std::string& directory) = 0;

  // Locks `directory` (ending with a separator) through its lock file, never
  // following a link there. While another process holds it: with `wait`,
  // calls `waiting` once and waits; otherwise gives up, with no lock (an
  // empty pointer). A problem when the lock cannot be had at all.
  virtual Expected<std::unique_ptr<DirectoryLock>> lock(const std::string& directory, bool wait,
                                                        const std::function<void()>& waiting) = 0;
};

// The system's own, with every rule of interruption: see removeOwnFilesOnInterruption.
FileSystem& nativeFileSystem();

// Passes every call to another file system; tests override what they fail.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}
  std::optional<FileStatus> status(const std::string& path) override {
    return target_.status(path);
  }
  std::optional<FileStatus> linkStatus(const std::string& path) override {
    return target_.linkStatus(path);
  }
  Expected<std::string> readFile(const std::string& path, uint64_t maxBytes) override {
    return target_.readFile(path, maxBytes);
  }
  Expected<bool> makeDirectory(const std::string& path) override {
    return target_.makeDirectory(path);
  }
  Expected<std::string> writeTemporary(const std::string& directory, const std::string& name,
                                       std::string_view bytes, Leftover leftover) override {
    return target_.writeTemporary(directory, name, bytes, leftover);
  }
  Expected<> rename(const std::string& from, const std::string& to) override {
    return target_.rename(from, to);
  }
  void remove(const std::string& path) override { target_.remove(path); }
  Expected<std::unique_ptr<AppendingFile>> openForAppending(const std::string& path) override {
    return target_.openForAppending(path);
  }
  Expected<> writeInto(const std::string& path, std::string_view bytes) override {
    return target_.writeInto(path, bytes);
  }
  std::vector<std::string> list(const std::string& directory) override {
    return target_.list(directory);
  }
  Expected<std::unique_ptr<DirectoryLock>> lock(const std::string& directory, bool wait,
                                                const std::function<void()>& waiting) override {
    return target_.lock(directory, wait, waiting);
  }

 private:
  FileSystem& target_;
};

// The rules written once over any file system.

// The identity of the regular file, or of the directory, at `path` (links
// followed); empty when there is none.
std::optional<FileIdentity> fileIdentity(FileSystem& files, const std::string& path);
std::optional<FileIdentity> directoryIdentity(FileSystem& files, const std::string& path);

// The bytes of a file as the system's text mode reads them: each CR LF
// arrives as LF (a CR on its own stays); on Windows a Ctrl-Z (0x1A) ends the
// text, as the Windows C runtime's text mode has it.
std::string textModeText(std::string bytes);

// A temporary file for a target, removed when destroyed uncommitted.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(TemporaryFile&& other) noexcept
      : files_(other.files_), path_(std::exchange(other.path_, std::string())) {}
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;

  // Writes `bytes` to a new temporary file for `name` in `directory` (ending
  // with a separator).
  Expected<> write(FileSystem& files, const std::string& directory, const std::string& name,
                   std::string_view bytes, Leftover leftover);
  // Renames it over `name` in `directory`; removes it on failure.
  Expected<> commit(const std::string& directory, const std::string& name);
  // Its path; "" when there is none.
  const std::string& path() const { return path_; }

 private:
  void remove();  // the file, when there is one

  FileSystem* files_ = nullptr;
  std::string path_;
};

// Files are written so that the target is either absent, the old file, or
// complete: the bytes go to a temporary file in the target's directory, which
// is then renamed over the target. On failure no temporary file is left.
Expected<> writeFileAtomically(FileSystem& files, const std::string& directory,
                               const std::string& name, std::string_view bytes, Leftover leftover);

// Removes from `directory` the temporaries that runs which held its lock
// before left (killed, say): called by the run that holds it now.
void removeStaleTemporaries(FileSystem& files, const std::string& directory);

// From now on an interruption (SIGINT, SIGTERM, SIGHUP not ignored when the
// process started; on Windows Ctrl-C, Ctrl-Break and the console's closing)
// removes the temporary files and the lock files the native file system made,
// and then ends the process as the interruption would have (on Windows with
// the status STATUS_CONTROL_C_EXIT); no temporary is made after it began. A
// write past a limit on file sizes fails ("File too large") instead of ending
// the process. Call before any other thread starts.
void removeOwnFilesOnInterruption();

// A directory of the process's own, made in the system's directory for
// temporary files, that only this user may enter (on Windows, in the user's
// own directory for them, with its rights): for the files a library writes
// while it works. It goes, with whatever is left in it that can be removed,
// when the object goes, and on an interruption.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& prefix);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // Its operating-system path; empty when it could not be made.
  const std::string& osPath() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_FILE_SYSTEM_H_
