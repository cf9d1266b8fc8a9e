#ifndef VELLOMAR_PLATFORM_NATIVE_FILE_H_
#define VELLOMAR_PLATFORM_NATIVE_FILE_H_

// The few things each system does its own way with files and with the
// process's interruption, on which file_system.cpp builds every rule. Each
// system gives them (native_file_posix.cpp, native_file_win32.cpp) and asks
// nothing back. Paths are operating-system paths; reasons are worded as the C
// library words them ("No such file or directory").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/expected.h"

namespace vellomar::native {

// An open file of the system, closed when destroyed.
class File {
 public:
  File() = default;
  explicit File(intptr_t handle) : handle_(handle) {}
  ~File();
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool valid() const { return handle_ != kNone; }
  intptr_t handle() const { return handle_; }
  // Closes it now; a problem when what was written could not be kept.
  Expected<> close();

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;
};

// What a path names.
struct Stat {
  enum class Kind { kRegular, kDirectory, kLink, kOther };
  Kind kind = Kind::kOther;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNanoseconds = 0;
  int64_t changedNanoseconds = 0;  // which no user can set back
};

// Links followed (`followLinks`) or not: a link is then kLink.
std::optional<Stat> status(const std::string& path, bool followLinks = true);

// Opens the file for reading, never waiting on it (a named pipe or a device
// opens, and is then refused by its kind); `status` is what was opened.
Expected<File> openForReading(const std::string& path, Stat& status);
// Reads the next bytes into `buffer`: how many, 0 at the end.
Expected<size_t> read(const File& file, char* buffer, size_t size);

// Creates the file for writing; it must not exist (`exists` says when it did).
Expected<File> createNew(const std::string& path, bool& exists);
Expected<> writeAll(const File& file, std::string_view bytes);
// Renames `from` over `to`, replacing it.
Expected<> rename(const std::string& from, const std::string& to);
void remove(const std::string& path);
// The names in `directory` (which ends with a separator); none when it cannot
// be listed.
std::vector<std::string> list(const std::string& directory);
// Creates the directory; `exists` says when something of that name is there.
Expected<> makeDirectory(const std::string& path, bool& exists);
// Makes a new directory that only this user may enter, in the system's
// directory for temporary files ($TMPDIR, else /tmp; on Windows the user's,
// whose rights it takes), its name beginning with `prefix`: its path.
Expected<std::string> makePrivateDirectory(const std::string& prefix);
// Removes the directory, when it is empty.
void removeDirectory(const std::string& path);

// Opens the file for adding to its end, creating it when missing; never
// through a link.
Expected<File> openForAppending(const std::string& path);
// Opens what `path` names now (links followed) for writing after what it
// holds, never waiting for a named pipe's reader.
Expected<File> openExistingForWriting(const std::string& path);

// Opens the lock file at `path`, creating it when missing; never through a
// link. One that cannot be written (a stale one of another user) is opened
// for reading, which is enough to lock it.
Expected<File> openLockFile(const std::string& path);
// Locks the whole of the open lock file for this process (the system drops
// the lock when the process ends, however it ends), waiting for another
// process's lock to go when `wait`: whether it is locked (false: another
// process holds it); a problem when the file system cannot lock it.
Expected<bool> lock(const File& file, bool wait);
// Whether `path` still names the open `file` (it was not removed or replaced).
bool stillNames(const std::string& path, const File& file);

// Whether a Ctrl-Z ends a text read in text mode.
extern const bool kCtrlZEndsText;

// From now on an interruption (SIGINT, SIGTERM and SIGHUP, unless the process
// started with them ignored; on Windows Ctrl-C, Ctrl-Break and the console's
// closing) calls `cleanUp` on a thread of its own and then ends the process as
// the interruption would have. A write past a limit on file sizes fails
// ("File too large") instead of ending the process. Called while the process
// has one thread.
void onInterruption(void (*cleanUp)());

}  // namespace vellomar::native

#endif  // VELLOMAR_PLATFORM_NATIVE_FILE_H_
