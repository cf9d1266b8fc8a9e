#include "platform/os_path.h"

#ifdef _WIN32
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/win32_path.h"
#else
#include <algorithm>
#endif

namespace vellomar {

#ifdef _WIN32

// Windows takes the backslash as it stands.
std::string toOsPath(std::string path) { return path; }

std::wstring widePath(const std::string& path) {
  if (path.empty()) return {};
  const int size = static_cast<int>(path.size());
  const int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, path.data(), size, wide.data(), length);
  return wide;
}

std::string narrowName(const std::wstring& name) {
  if (name.empty()) return {};
  const int size = static_cast<int>(name.size());
  const int length =
      ::WideCharToMultiByte(CP_ACP, 0, name.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string bytes(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, name.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

std::string systemErrorText(unsigned long error) {
  int number = 0;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: number = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: number = EACCES; break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: number = EEXIST; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: number = ENOSPC; break;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY: number = EINVAL; break;
    case ERROR_FILENAME_EXCED_RANGE: number = ENAMETOOLONG; break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: number = ENOMEM; break;
    default: break;
  }
  if (number != 0) return std::strerror(number);
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&text),
      0, nullptr);
  std::string reason = length > 0 && text != nullptr ? std::string(text, length) : "";
  if (text != nullptr) ::LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == '.' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason.empty() ? "system error " + std::to_string(error) : reason;
}

#else

std::string toOsPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

#endif

}  // namespace vellomar
