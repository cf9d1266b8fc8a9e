#include "platform/system.h"

#include <windows.h>

#include <cstdlib>

#include "platform/win32_path.h"

namespace vellomar {

int onlineProcessorCount() {
  const DWORD count = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return count > 0 ? static_cast<int>(count) : 1;
}

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

}  // namespace vellomar
