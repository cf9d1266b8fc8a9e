#include "platform/system.h"

#include <malloc.h>
#include <unistd.h>

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

}  // namespace vellomar
