#include "platform/system.h"

#include <malloc.h>
#include <sys/stat.h>
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

std::string userCacheDirectory(const std::string& program) {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  std::string base;
  if (cache != nullptr && cache[0] == '/') {
    base = cache;
  } else if (home != nullptr && home[0] == '/') {
    base = std::string(home) + "/.cache";
    ::mkdir(base.c_str(), 0700);
  } else {
    return "";
  }
  const std::string directory = base + "/" + program;
  ::mkdir(directory.c_str(), 0700);
  struct stat info;
  return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? directory : "";
}

std::string programFile() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  return length > 0 && static_cast<size_t>(length) < sizeof path ? std::string(path, length) : "";
}

std::string programDirectory() {
  const std::string file = programFile();
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? "" : file.substr(0, slash + 1);
}

void setEnvironment(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}

}  // namespace vellomar
