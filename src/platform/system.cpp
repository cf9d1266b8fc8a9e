#include "platform/system.h"

#include <cstdlib>
#ifdef _WIN32
#include <windows.h>

#include "platform/win32_path.h"
#else
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace vellomar {

#ifdef _WIN32

int onlineProcessorCount() {
  const DWORD count = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return count > 0 ? static_cast<int>(count) : 1;
}

// A limit on a process's address space is a job object's; none is looked at.
std::optional<uint64_t> addressSpaceLeft() { return std::nullopt; }

// What the C++ runtime asks of CreateThread when it is asked nothing.
uint64_t threadStackBytes() { return uint64_t{2} << 20; }

// The Windows heap keeps what it has been given back for the next allocation
// of its size on its own; there is nothing to set.
void keepFreedMemory() {}

std::string userCacheDirectory(const std::string& program) {
  const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
  if (local == nullptr || local[0] == L'\0') return "";
  const std::wstring directory = std::wstring(local) + L"\\" + widePath(program);
  ::CreateDirectoryW(directory.c_str(), nullptr);
  const DWORD attributes = ::GetFileAttributesW(directory.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return "";
  }
  const std::string path = narrowName(directory);
  // A name the code page cannot hold cannot be handed back to the system.
  return widePath(path) == directory ? path : "";
}

std::string programFile() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), 32768);
  if (length == 0 || length >= 32768) return "";
  path.resize(length);
  return narrowName(path);
}

std::string programDirectory() {
  const std::string file = programFile();
  const size_t separator = file.find_last_of("\\/");
  return separator == std::string::npos ? "" : file.substr(0, separator + 1);
}

void setEnvironment(const char* name, const std::string& value) {
  ::_putenv_s(name, value.c_str());
}

#else

int onlineProcessorCount() {
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(count) : 1;
}

std::optional<uint64_t> addressSpaceLeft() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  unsigned long pages = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return std::nullopt;
  const bool read = std::fscanf(statm, "%lu", &pages) == 1;
  std::fclose(statm);
  const uint64_t held = uint64_t{pages} * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  if (!read) return std::nullopt;
  return held < limit.rlim_cur ? limit.rlim_cur - held : 0;
}

uint64_t threadStackBytes() {
  pthread_attr_t attributes;
  size_t size = 0;
  if (::pthread_getattr_default_np(&attributes) == 0) {
    ::pthread_attr_getstacksize(&attributes, &size);
    ::pthread_attr_destroy(&attributes);
  }
  return size > 0 ? size : uint64_t{8} << 20;
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

#endif

}  // namespace vellomar
