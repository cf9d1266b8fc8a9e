#ifndef VELLOMAR_PLATFORM_FILE_SYSTEM_PARTS_H_
#define VELLOMAR_PLATFORM_FILE_SYSTEM_PARTS_H_

// What file_system.cpp asks of each system's variant (file_system_posix.cpp,
// file_system_win32.cpp), and what it gives them. Paths here are
// operating-system paths; a directory ends with a separator.

#include <string>
#include <string_view>
#include <vector>

namespace vellomar {

constexpr char kTemporaryPrefix[] = ".vellomar-partial-";
constexpr char kLockPrefix[] = ".vellomar-run-";

// This process's token, in the names of its temporaries and lock files: a
// process number is not unique across namespaces or machines.
const std::string& runToken();
// The lock file of the run with `token` in `directory`.
std::string lockFileOf(const std::string& directory, const std::string& token);
// A fresh temporary name for `name` in `directory`: the prefix, this run's
// token, a counter, and the name's extension when it is short.
std::string temporaryNameFor(const std::string& directory, const std::string& name);

// The directories this process has claimed, where its files are.
void addClaimedDirectory(const std::string& directory);
void dropClaimedDirectory(const std::string& directory);
// Removes this process's lock files and temporaries from them.
void removeOwnFiles();

// From each variant:
// Writes `bytes` to a new temporary file for `name` in `directory` and sets
// `temporary` to its path; on failure leaves no file and sets `error`.
bool writeTemporaryFile(const std::string& directory, const std::string& name,
                        std::string_view bytes, std::string& temporary, std::string& error);
// Renames `temporary` over `name` in `directory`; removes it on failure.
bool commitTemporaryFile(const std::string& temporary, const std::string& directory,
                         const std::string& name, std::string& error);
void removeFile(const std::string& path);
// The names in `directory`; none when it cannot be listed.
std::vector<std::string> directoryEntries(const std::string& directory);
// True when some process holds the lock on `lockFile`.
bool lockIsHeld(const std::string& lockFile);
// Whether a Ctrl-Z ends a text read in text mode.
extern const bool kCtrlZEndsText;

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_FILE_SYSTEM_PARTS_H_
