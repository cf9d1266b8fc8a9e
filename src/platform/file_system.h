#ifndef VELLOMAR_PLATFORM_FILE_SYSTEM_H_
#define VELLOMAR_PLATFORM_FILE_SYSTEM_H_

// The few file-system calls the tool makes. Every path argument is a tool path
// (code-page bytes, backslashes allowed); it is turned into an operating-system
// path here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
  TemporaryFile(TemporaryFile&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
  }
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;

  // Writes `bytes` to a new temporary file for `name` in `directory` (which
  // ends with a separator).
  bool write(const std::string& directory, const std::string& name, std::string_view bytes,
             std::string& error);
  // Renames it over `name` in `directory`; removes it on failure.
  bool commit(const std::string& directory, const std::string& name, std::string& error);

 private:
  std::string path_;  // operating-system path; empty when there is none
};

// A run's claim on a directory it writes into: a lock file, locked for as
// long as the claim lives (and by the system, no longer than the process),
// that tells other runs, in other process namespaces or on other machines
// sharing the directory, that the temporary files of this process are in use.
// Removed when the claim ends. A claim that cannot be made is none.
class RunClaim {
 public:
  explicit RunClaim(const std::string& directory);
  ~RunClaim();
  RunClaim(const RunClaim&) = delete;
  RunClaim& operator=(const RunClaim&) = delete;

 private:
  std::string directory_;  // operating-system paths
  std::string lockFile_;
  int fd_ = -1;
};

// From now on SIGINT, SIGTERM and SIGHUP end the process with the status
// 128 + the signal (on Windows: Ctrl-C, Ctrl-Break and the console's closing,
// with the status STATUS_CONTROL_C_EXIT), after removing its temporary files
// and lock files from the directories it has claimed. Call before any other
// thread starts.
void removeOwnFilesOnSignals();

// Removes from `directory` the temporary files and lock files of runs that
// have ended (killed, say): those whose run's lock file is not held.
void removeStaleTemporaries(const std::string& directory);

// The identity of the directory holding `path` (the file need not exist), or
// empty when that directory does not exist.
std::optional<std::pair<uint64_t, uint64_t>> parentDirectoryIdentity(const std::string& path);
// The identity of the directory itself.
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
