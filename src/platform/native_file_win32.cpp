#include "platform/native_file.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/win32_path.h"

namespace vellomar::native {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handleOf(const File& file) { return reinterpret_cast<HANDLE>(file.handle()); }

File fileOf(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? File() : File(reinterpret_cast<intptr_t>(handle));
}

// In 100-nanosecond ticks since 1601, counted here from 1970 as elsewhere (in
// nanoseconds since 1601 it would not fit).
int64_t nanoseconds(int64_t ticks) {
  constexpr int64_t kTicksBefore1970 = 116444736000000000;
  return (ticks - kTicksBefore1970) * 100;
}

std::optional<Stat> statusOf(HANDLE file, bool followLinks = true) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;  // for the change time
  if (!::GetFileInformationByHandle(file, &info) ||
      !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    return std::nullopt;
  }
  Stat status;
  const DWORD attributes = info.dwFileAttributes;
  status.kind = !followLinks && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Stat::Kind::kLink
                : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Stat::Kind::kDirectory
                : ::GetFileType(file) == FILE_TYPE_DISK        ? Stat::Kind::kRegular
                                                               : Stat::Kind::kOther;
  status.device = info.dwVolumeSerialNumber;
  status.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  status.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  const FILETIME& written = info.ftLastWriteTime;
  status.modifiedNanoseconds = nanoseconds(
      static_cast<int64_t>((uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime));
  status.changedNanoseconds = nanoseconds(basic.ChangeTime.QuadPart);
  return status;
}

// What `path` names, directories included; a link itself unless `followLinks`.
HANDLE openExisting(const std::string& path, DWORD access, bool followLinks = true) {
  return ::CreateFileW(
      widePath(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

}  // namespace

File::~File() {
  if (valid()) ::CloseHandle(handleOf(*this));
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (valid()) ::CloseHandle(handleOf(*this));
    handle_ = other.handle_;
    other.handle_ = kNone;
  }
  return *this;
}

Expected<> File::close() {
  const BOOL closed = ::CloseHandle(handleOf(*this));
  handle_ = kNone;
  if (closed) return {};
  return failure(systemErrorText(::GetLastError()));
}

std::optional<Stat> status(const std::string& path, bool followLinks) {
  const File file = fileOf(openExisting(path, 0, followLinks));
  if (!file.valid()) return std::nullopt;
  return statusOf(handleOf(file), followLinks);
}

Expected<File> openForReading(const std::string& path, Stat& status) {
  File file = fileOf(openExisting(path, GENERIC_READ));
  std::optional<Stat> found;
  if (!file.valid() || !(found = statusOf(handleOf(file)))) {
    return failure(systemErrorText(::GetLastError()));
  }
  status = *found;
  return file;
}

Expected<size_t> read(const File& file, char* buffer, size_t size) {
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 30));
  if (!::ReadFile(handleOf(file), buffer, chunk, &got, nullptr)) {
    return failure(systemErrorText(::GetLastError()));
  }
  return static_cast<size_t>(got);
}

Expected<File> createNew(const std::string& path, bool& exists) {
  File file = fileOf(::CreateFileW(widePath(path).c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD reason = ::GetLastError();
    exists = reason == ERROR_FILE_EXISTS;
    return failure(systemErrorText(reason));
  }
  return file;
}

Expected<> writeAll(const File& file, std::string_view bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 1 << 30));
    DWORD written = 0;
    if (!::WriteFile(handleOf(file), data, chunk, &written, nullptr)) {
      return failure(systemErrorText(::GetLastError()));
    }
    data += written;
    left -= written;
  }
  return {};
}

Expected<> rename(const std::string& from, const std::string& to) {
  if (::MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return {};
  }
  return failure(systemErrorText(::GetLastError()));
}

void remove(const std::string& path) { ::DeleteFileW(widePath(path).c_str()); }

std::vector<std::string> list(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW entry;
  HANDLE listing = ::FindFirstFileW(widePath(directory + "*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(narrowName(entry.cFileName));
  } while (::FindNextFileW(listing, &entry));
  ::FindClose(listing);
  return names;
}

Expected<> makeDirectory(const std::string& path, bool& exists) {
  if (::CreateDirectoryW(widePath(path).c_str(), nullptr)) return {};
  const DWORD reason = ::GetLastError();
  exists = reason == ERROR_ALREADY_EXISTS;
  return failure(systemErrorText(reason));
}

Expected<std::string> makePrivateDirectory(const std::string& prefix) {
  // The user's own directory for temporary files: only the user may enter
  // what is made in it.
  wchar_t base[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) return failure(systemErrorText(::GetLastError()));
  const std::string directory = narrowName(std::wstring(base, length));
  if (widePath(directory) != std::wstring(base, length)) {
    return failure("the code page cannot hold the name of the directory for temporary files");
  }
  // Named by the process and the time it starts: wine gives its processes
  // the same few numbers again and again.
  const std::string name = prefix + std::to_string(::GetCurrentProcessId()) + "-" +
                           std::to_string(::GetTickCount64()) + "-";
  for (int attempt = 0;; ++attempt) {
    const std::string path = directory + name + std::to_string(attempt);
    bool exists = false;
    const Expected<> made = makeDirectory(path, exists);
    if (made.ok()) return path;
    if (!exists || attempt == 99) return made.problem();
  }
}

void removeDirectory(const std::string& path) { ::RemoveDirectoryW(widePath(path).c_str()); }

Expected<File> openForAppending(const std::string& path) {
  File file = fileOf(::CreateFileW(widePath(path).c_str(), FILE_APPEND_DATA, kShareAll, nullptr,
                                   OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return failure(systemErrorText(::GetLastError()));
  return file;
}

Expected<File> openExistingForWriting(const std::string& path) {
  File file = fileOf(::CreateFileW(widePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return failure(systemErrorText(::GetLastError()));
  // A file on disk is written after what it holds.
  if (::GetFileType(handleOf(file)) == FILE_TYPE_DISK) {
    ::SetFilePointer(handleOf(file), 0, nullptr, FILE_END);
  }
  return file;
}

Expected<File> openLockFile(const std::string& path) {
  const auto open = [&](DWORD access) {
    return fileOf(::CreateFileW(widePath(path).c_str(), access, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  };
  File file = open(GENERIC_READ | GENERIC_WRITE);
  // A read-only lock file locks as well for reading.
  if (!file.valid() && ::GetLastError() == ERROR_ACCESS_DENIED) file = open(GENERIC_READ);
  if (!file.valid()) return failure(systemErrorText(::GetLastError()));
  const auto found = statusOf(handleOf(file), false);
  if (found && found->kind == Stat::Kind::kLink) return failure("it is a symbolic link");
  return file;
}

// A byte-range lock on the open lock file, which the system drops when the
// process ends, however it ends.
Expected<bool> lock(const File& file, bool wait) {
  OVERLAPPED at = {};
  if (::LockFileEx(handleOf(file), LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY),
                   0, 1, 0, &at)) {
    return true;
  }
  const DWORD reason = ::GetLastError();
  if (reason == ERROR_LOCK_VIOLATION || reason == ERROR_IO_PENDING) return false;
  return failure(systemErrorText(reason));
}

bool stillNames(const std::string& path, const File& file) {
  const File named = fileOf(openExisting(path, 0));
  if (!named.valid()) return false;
  const auto a = statusOf(handleOf(named)), b = statusOf(handleOf(file));
  return a && b && a->device == b->device && a->inode == b->inode;
}

// The C runtime's text mode.
const bool kCtrlZEndsText = true;

namespace {

void (*interruptionCleanUp)() = nullptr;

// On Ctrl-C, Ctrl-Break or the console's closing.
BOOL WINAPI onConsoleEvent(DWORD) {
  if (interruptionCleanUp != nullptr) interruptionCleanUp();
  ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

}  // namespace

void onInterruption(void (*cleanUp)()) {
  interruptionCleanUp = cleanUp;
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

}  // namespace vellomar::native
