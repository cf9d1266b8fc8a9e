#include "platform/file_system.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/file_system_parts.h"
#include "platform/win32_path.h"

namespace vellomar {
namespace {

// Closes the handle when the scope ends.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens for reading what `path` names, directories included.
HANDLE openExisting(const std::wstring& path, DWORD access) {
  return ::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool writeAll(HANDLE file, std::string_view bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 1 << 30));
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr)) return false;
    data += written;
    left -= written;
  }
  return true;
}

// Creates a new temporary file for `name` in `directory`; sets `temporary`.
HANDLE createTemporary(const std::string& directory, const std::string& name,
                       std::string& temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = temporaryNameFor(directory, name);
    HANDLE file = ::CreateFileW(widePath(temporary).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

struct Information {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;  // for the change time, which no user sets back
  bool directory() const { return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  uint64_t index() const { return (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow; }
  uint64_t size() const { return (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow; }
};

std::optional<Information> informationOf(const std::wstring& path) {
  Handle file(openExisting(path, 0));
  Information information;
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &information.info) ||
      !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &information.basic,
                                      sizeof information.basic)) {
    return std::nullopt;
  }
  return information;
}

std::optional<std::pair<uint64_t, uint64_t>> identityOf(const std::wstring& path) {
  const std::optional<Information> information = informationOf(path);
  if (!information || !information->directory()) return std::nullopt;
  return std::make_pair(uint64_t{information->info.dwVolumeSerialNumber}, information->index());
}

}  // namespace

bool writeTemporaryFile(const std::string& directory, const std::string& name,
                        std::string_view bytes, std::string& temporary, std::string& error) {
  HANDLE file = createTemporary(directory, name, temporary);
  if (file == INVALID_HANDLE_VALUE) {
    error = systemErrorText(::GetLastError());
    return false;
  }
  bool ok = writeAll(file, bytes);
  DWORD reason = ::GetLastError();
  if (!::CloseHandle(file) && ok) {
    ok = false;
    reason = ::GetLastError();
  }
  if (!ok) {
    ::DeleteFileW(widePath(temporary).c_str());
    error = systemErrorText(reason);
  }
  return ok;
}

bool commitTemporaryFile(const std::string& temporary, const std::string& directory,
                         const std::string& name, std::string& error) {
  const std::wstring from = widePath(temporary);
  if (::MoveFileExW(from.c_str(), widePath(directory + name).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  error = systemErrorText(::GetLastError());
  ::DeleteFileW(from.c_str());
  return false;
}

void removeFile(const std::string& path) { ::DeleteFileW(widePath(path).c_str()); }

std::vector<std::string> directoryEntries(const std::string& directory) {
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

// The lock is a byte-range lock on the open lock file, which the system drops
// when the process ends, however it ends.
bool lockIsHeld(const std::string& lockFile) {
  Handle lock(::CreateFileW(widePath(lockFile).c_str(), GENERIC_READ, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  OVERLAPPED at = {};
  return lock.valid() && !::LockFileEx(lock.get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

// The C runtime's text mode.
const bool kCtrlZEndsText = true;

namespace {

// On Ctrl-C, Ctrl-Break or the console's closing.
BOOL WINAPI onConsoleEvent(DWORD) {
  removeOwnFiles();
  ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

}  // namespace

bool makeDirectory(const std::string& path, std::string* error) {
  const std::wstring wide = widePath(path);
  if (::CreateDirectoryW(wide.c_str(), nullptr)) return true;
  const DWORD reason = ::GetLastError();
  if (error != nullptr) {
    *error = reason == ERROR_ALREADY_EXISTS && identityOf(wide) ? "" : systemErrorText(reason);
  }
  return false;
}

bool readFileBytes(const std::string& path, std::string& bytes, std::string* error,
                   uint64_t maxBytes) {
  bytes.clear();
  const auto fail = [&](const std::string& why) {
    bytes.clear();
    if (error != nullptr) *error = why;
    return false;
  };
  const std::wstring wide = widePath(path);
  Handle file(::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return fail(systemErrorText(::GetLastError()));
  BY_HANDLE_FILE_INFORMATION info;
  // A directory, a pipe or a device is not read (nor waited on).
  if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return fail("not a regular file");
  }
  const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  const std::string tooLarge = "the file is larger than " + std::to_string(maxBytes) + " bytes";
  if (size > maxBytes) return fail(tooLarge);
  bytes.reserve(static_cast<size_t>(size));
  char buffer[1 << 16];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      return fail(systemErrorText(::GetLastError()));
    }
    if (got == 0) return true;
    if (bytes.size() + got > maxBytes) return fail(tooLarge);  // it grew
    bytes.append(buffer, got);
  }
}

RunClaim::RunClaim(const std::string& directory)
    : directory_(directory), lockFile_(lockFileOf(directory_, runToken())) {
  const std::wstring fresh = widePath(lockFile_ + ".new");
  HANDLE file = ::CreateFileW(fresh.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  OVERLAPPED at = {};
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) &&
      ::MoveFileExW(fresh.c_str(), widePath(lockFile_).c_str(), 0)) {
    fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
    if (fd_ >= 0) {
      addClaimedDirectory(directory_);
      return;
    }
    ::DeleteFileW(widePath(lockFile_).c_str());
  }
  ::CloseHandle(file);
  ::DeleteFileW(fresh.c_str());
  fd_ = -1;
}

RunClaim::~RunClaim() {
  if (fd_ < 0) return;
  dropClaimedDirectory(directory_);
  ::DeleteFileW(widePath(lockFile_).c_str());
  ::_close(fd_);
}

void removeOwnFilesOnSignals() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

std::optional<std::pair<uint64_t, uint64_t>> parentDirectoryIdentity(const std::string& path) {
  // A link is followed to the file it names.
  std::wstring wide = widePath(path);
  Handle file(openExisting(wide, 0));
  if (file.valid()) {
    wchar_t final[32768];
    const DWORD length = ::GetFinalPathNameByHandleW(file.get(), final, 32768, 0);
    if (length > 0 && length < 32768) wide.assign(final, length);
  }
  const size_t separator = wide.find_last_of(L"\\/");
  return identityOf(separator == std::wstring::npos ? L"." : wide.substr(0, separator + 1));
}

std::optional<std::pair<uint64_t, uint64_t>> directoryIdentity(const std::string& path) {
  return identityOf(widePath(path));
}

uint64_t fileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
  const std::optional<Information> information = informationOf(widePath(path));
  if (!information || information->directory()) return std::nullopt;
  // In 100-nanosecond ticks since 1601, counted here from 1970 as elsewhere (in
  // nanoseconds since 1601 it would not fit).
  constexpr int64_t kTicksBefore1970 = 116444736000000000;
  const auto nanoseconds = [](int64_t ticks) { return (ticks - kTicksBefore1970) * 100; };
  const FILETIME& time = information->info.ftLastWriteTime;
  const int64_t ticks =
      static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
  return FileIdentity{information->info.dwVolumeSerialNumber, information->index(),
                      information->size(), nanoseconds(ticks),
                      nanoseconds(information->basic.ChangeTime.QuadPart)};
}

}  // namespace vellomar
