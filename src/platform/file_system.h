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
// created, which includes the case where it exists already.
bool makeDirectory(const std::string& path);

// Reads the whole file. Returns false (and leaves `bytes` empty) when the file
// cannot be opened or read, is not a regular file (a named pipe or a device is
// never waited on), or holds more than `maxBytes`, which is checked before
// reading; `error`, when given, then says why.
bool readFileBytes(const std::string& path, std::string& bytes, std::string* error = nullptr,
                   uint64_t maxBytes = UINT64_MAX);

// Files are written so that the target is either absent, the old file, or
// complete: the bytes go to a temporary file in the target's directory, which
// is then renamed over the target. Temporary names begin with
// ".vellomar-partial-" and keep the target's extension.
//
// Writes `bytes` to a new temporary file for `name` in `directory` (which
// ends with a separator) and sets `temporary` to its operating-system path.
// On failure sets `error` to the system's reason and leaves no file.
bool writeTemporaryFile(const std::string& directory, const std::string& name,
                        std::string_view bytes, std::string& temporary, std::string& error);
// Renames `temporary` over `name` in `directory`; removes it on failure.
bool commitTemporaryFile(const std::string& temporary, const std::string& directory,
                         const std::string& name, std::string& error);
// Both of the above.
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

  // Writes `bytes` for `name` in `directory`, as writeTemporaryFile.
  bool write(const std::string& directory, const std::string& name, std::string_view bytes,
             std::string& error);
  // Renames it over `name` in `directory`, as commitTemporaryFile.
  bool commit(const std::string& directory, const std::string& name, std::string& error);

 private:
  std::string path_;  // operating-system path; empty when there is none
};

// Removes from `directory` the temporary files that runs of the tool which
// have ended (killed, say) left behind: those whose process is gone, or that
// carry this process's own number (left by an earlier process of that number).
void removeStaleTemporaries(const std::string& directory);

// Removes a file given by its operating-system path, if it is there.
void removeOsFile(const std::string& osPath);

// The identity of the directory holding `path` (the file need not exist), or
// empty when that directory does not exist.
std::optional<std::pair<uint64_t, uint64_t>> parentDirectoryIdentity(const std::string& path);
// The identity of the directory itself.
std::optional<std::pair<uint64_t, uint64_t>> directoryIdentity(const std::string& path);

// The size of the file in bytes, or 0 when it cannot be read.
uint64_t fileSize(const std::string& path);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_FILE_SYSTEM_H_
