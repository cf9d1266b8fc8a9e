#ifndef VELLOMAR_PLATFORM_SYSTEM_H_
#define VELLOMAR_PLATFORM_SYSTEM_H_

// What the process asks of the system as a whole.

#include <cstdint>
#include <optional>
#include <string>

namespace vellomar {

// The number of processors online (at least 1).
int onlineProcessorCount();

// The address space the process may still take (its limit, less what it
// holds), when a limit is set (ulimit -v); nothing otherwise.
std::optional<uint64_t> addressSpaceLeft();
// The address space a new thread's stack takes.
uint64_t threadStackBytes();

// Makes freed memory stay in the process for the next allocation, instead of
// going back to the system: pictures of tens of megabytes are decoded one
// after another, and fresh pages for each would cost more than the decoding.
void keepFreedMemory();

// The user's cache directory for `program` ($XDG_CACHE_HOME/program, or
// $HOME/.cache/program; on Windows %LOCALAPPDATA%\program), created when
// missing; empty when there is none.
std::string userCacheDirectory(const std::string& program);

// The running program's file (a tool path), and the directory holding it,
// with its separator; empty when not known.
std::string programFile();
std::string programDirectory();

// Sets `name`=`value` in the process's environment. Only while the process
// has one thread.
void setEnvironment(const char* name, const std::string& value);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_SYSTEM_H_
