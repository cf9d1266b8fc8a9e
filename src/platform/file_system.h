#ifndef VELLOMAR_PLATFORM_FILE_SYSTEM_H_
#define VELLOMAR_PLATFORM_FILE_SYSTEM_H_

// The few file-system calls the tool makes. Every path argument is a tool path
// (code-page bytes, backslashes allowed); it is turned into an operating-system
// path here.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vellomar {

// Creates the last component of `path`. Returns false when it could not be
// created, which includes the case where it exists already; `error`, when
// given, then says why, or is "" when a directory is there already.
bool makeDirectory(const std::string& path, std::string* error = nullptr);

// Reads the whole file. Returns false (and leaves `bytes` empty) when the file
// cannot be opened or read, is not a regular file (a named pipe or a device is
// never waited on), or holds more than `maxBytes`, which is checked before
// reading; `error`, when given, then says why.
bool readFileBytes(const std::string& path, std::string& bytes, std::string* error = nullptr,
                   uint64_t maxBytes = UINT64_MAX);

// The bytes of a file as the system's text mode reads them: each CR LF
// arrives as LF (a CR on its own stays); on Windows a Ctrl-Z (0x1A) ends the
// text, as the Windows C runtime's text mode has it.
std::string textModeText(std::string bytes);

// Files are written so that the target is either absent, the old file, or
// complete: the bytes go to a temporary file in the target's directory, which
// is then renamed over the target. Temporary names begin with
// ".vellomar-partial-" and keep the target's extension. On failure `error` is
// set to the system's reason and no temporary file is left.
bool writeFileAtomically(const std::string& directory, const std::string& name,
                         std::string_view bytes, std::string& error);

// A temporary file as above that removes itself when destroyed uncommitted.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(TemporaryFile&& other) noexcept
      : path_(std::exchange(other.path_, std::string())) {}
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;

  // Writes `bytes` to a new temporary file for `name` in `directory` (which
  // ends with a separator).
  bool write(const std::string& directory, const std::string& name, std::string_view bytes,
             std::string& error);
  // Renames it over `name` in `directory`; removes it on failure.
  bool commit(const std::string& directory, const std::string& name, std::string& error);

 private:
  void remove();  // the file, when there is one

  std::string path_;  // operating-system path; empty when there is none
};

// The lock file a run holds in the directory it writes into.
constexpr char kLockFileName[] = ".vellomar-lock";

// One run at a time in a directory: a lock on its lock file, held for as long
// as this lives (and by the system no longer than the process; other process
// namespaces, and other machines sharing the directory where its file system
// has locks, see it too). The lock file is removed when the lock ends.
class DirectoryLock {
 public:
  // Takes the lock on `directory` (a tool path ending with a separator). While
  // another process holds it: with `wait`, calls `waiting` once and waits for
  // it; otherwise gives up.
  DirectoryLock(const std::string& directory, bool wait, const std::function<void()>& waiting);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  bool held() const { return held_ != nullptr; }
  // Why it is not held: the system's reason, or "" when another process holds it.
  const std::string& error() const { return error_; }

 private:
  struct Held;
  std::unique_ptr<Held> held_;
  std::string error_;
};

// From now on an interruption (SIGINT, SIGTERM, SIGHUP not ignored when the
// process started; on Windows Ctrl-C, Ctrl-Break and the console's closing)
// removes the temporary files and the lock files this process made, and then
// ends it as the interruption would have (on Windows with the status
// STATUS_CONTROL_C_EXIT); no temporary is made after it began. A write past a
// limit on file sizes fails ("File too large") instead of ending the process.
// Call before any other thread starts.
void removeOwnFilesOnInterruption();

// Removes from `directory` the temporary files other runs left (killed, say):
// called by the run that holds the directory's lock.
void removeStaleTemporaries(const std::string& directory);

// The identity of the directory itself, or empty when there is none.
std::optional<std::pair<uint64_t, uint64_t>> directoryIdentity(const std::string& path);

// The size of the file in bytes, or 0 when it cannot be read.
uint64_t fileSize(const std::string& path);

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
};

// The identity of the regular file at `path` (links followed); empty when
// there is none.
std::optional<FileIdentity> fileIdentity(const std::string& path);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_FILE_SYSTEM_H_
