#include "platform/system.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdlib>

namespace vellomar {

int onlineProcessorCount() {
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(count) : 1;
}

void keepFreedMemory() {
  // Large blocks come from the heap rather than from fresh mappings, every
  // thread shares the one heap (other arenas map their large blocks anew),
  // and the heap is never trimmed.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_TRIM_THRESHOLD, -1);
}

void restartWithEnvironment(const char* name, const std::string& value, char** argv) {
  const char* current = std::getenv(name);
  if (current != nullptr && value == current) return;
  if (::setenv(name, value.c_str(), 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  ::unsetenv(name);  // not run again: the caller goes on without it
}

}  // namespace vellomar
