#include "platform/file_system.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <vector>

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

std::atomic<unsigned> temporaryCounter{0};

constexpr char kTemporaryPrefix[] = ".vellomar-partial-";
constexpr char kLockPrefix[] = ".vellomar-run-";

// This process's token, in the names of its temporaries and lock files.
const std::string& runToken() {
  static const std::string token = [] {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return std::string(text);
  }();
  return token;
}

// The directories this process has claimed, where its files are.
std::mutex claimedMutex;
std::vector<std::string> claimedDirectories;

std::string lockFileOf(const std::string& directory, const std::string& token) {
  return directory + kLockPrefix + token + ".lock";
}

std::string extensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot > 16) return "";
  return name.substr(dot);
}

// Creates a new temporary file for `name` in `directory`; sets `temporary`.
HANDLE createTemporary(const std::string& directory, const std::string& name,
                       std::string& temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = directory + kTemporaryPrefix + runToken() + "-" +
                std::to_string(temporaryCounter++) + extensionOf(name);
    HANDLE file = ::CreateFileW(widePath(temporary).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

struct Information {
  BY_HANDLE_FILE_INFORMATION info;
  bool directory() const { return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  uint64_t index() const { return (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow; }
  uint64_t size() const { return (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow; }
};

std::optional<Information> informationOf(const std::wstring& path) {
  Handle file(openExisting(path, 0));
  Information information;
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &information.info)) {
    return std::nullopt;
  }
  return information;
}

std::optional<std::pair<uint64_t, uint64_t>> identityOf(const std::wstring& path) {
  const std::optional<Information> information = informationOf(path);
  if (!information || !information->directory()) return std::nullopt;
  return std::make_pair(uint64_t{information->info.dwVolumeSerialNumber}, information->index());
}

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

// Moves `temporary` over `name` in `directory`; removes it on failure.
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

// Calls `visit` with the name of each entry of `directory` (which ends with a
// separator).
template <typename Visit>
void forEachEntry(const std::string& directory, Visit visit) {
  WIN32_FIND_DATAW entry;
  HANDLE listing = ::FindFirstFileW(widePath(directory + "*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    visit(narrowName(entry.cFileName));
  } while (::FindNextFileW(listing, &entry));
  ::FindClose(listing);
}

// Removes this process's lock files and temporaries from the directories it
// claimed, on Ctrl-C, Ctrl-Break or the console's closing, and ends it.
BOOL WINAPI onConsoleEvent(DWORD) {
  const std::lock_guard<std::mutex> lock(claimedMutex);
  const std::string own = kTemporaryPrefix + runToken() + "-";
  for (const std::string& directory : claimedDirectories) {
    ::DeleteFileW(widePath(lockFileOf(directory, runToken())).c_str());
    forEachEntry(directory, [&](const std::string& name) {
      if (name.compare(0, own.size(), own) == 0) ::DeleteFileW(widePath(directory + name).c_str());
    });
  }
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

std::string textModeText(std::string bytes) {
  const size_t end = bytes.find('\x1A');
  if (end != std::string::npos) bytes.resize(end);
  size_t out = 0;
  for (size_t in = 0; in < bytes.size(); ++in) {
    if (bytes[in] == '\r' && in + 1 < bytes.size() && bytes[in + 1] == '\n') continue;
    bytes[out++] = bytes[in];
  }
  bytes.resize(out);
  return bytes;
}

bool writeFileAtomically(const std::string& directory, const std::string& name,
                         std::string_view bytes, std::string& error) {
  std::string temporary;
  return writeTemporaryFile(directory, name, bytes, temporary, error) &&
         commitTemporaryFile(temporary, directory, name, error);
}

TemporaryFile::~TemporaryFile() {
  if (!path_.empty()) ::DeleteFileW(widePath(path_).c_str());
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    if (!path_.empty()) ::DeleteFileW(widePath(path_).c_str());
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

bool TemporaryFile::write(const std::string& directory, const std::string& name,
                          std::string_view bytes, std::string& error) {
  std::string path;
  if (!writeTemporaryFile(directory, name, bytes, path, error)) return false;
  *this = TemporaryFile();
  path_ = std::move(path);
  return true;
}

bool TemporaryFile::commit(const std::string& directory, const std::string& name,
                           std::string& error) {
  const std::string path = std::move(path_);
  path_.clear();
  return commitTemporaryFile(path, directory, name, error);
}

// The lock is a byte-range lock on the open lock file, which the system
// drops when the process ends, however it ends.
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
      const std::lock_guard<std::mutex> lock(claimedMutex);
      claimedDirectories.push_back(directory_);
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
  {
    const std::lock_guard<std::mutex> lock(claimedMutex);
    const auto claimed =
        std::find(claimedDirectories.begin(), claimedDirectories.end(), directory_);
    if (claimed != claimedDirectories.end()) claimedDirectories.erase(claimed);
  }
  ::DeleteFileW(widePath(lockFile_).c_str());
  ::_close(fd_);
}

void removeOwnFilesOnSignals() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void removeStaleTemporaries(const std::string& directory) {
  std::map<std::string, bool> alive;  // by token
  const auto isAlive = [&](const std::string& token) {
    const auto [known, fresh] = alive.emplace(token, true);
    if (fresh && token != runToken()) {
      // A lock that can be had has no live run behind it.
      Handle lock(::CreateFileW(widePath(lockFileOf(directory, token)).c_str(), GENERIC_READ,
                                kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      OVERLAPPED at = {};
      known->second =
          lock.valid() && !::LockFileEx(lock.get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
    }
    return known->second;
  };
  std::vector<std::string> stale;
  forEachEntry(directory, [&](const std::string& name) {
    for (const std::string_view prefix : {kTemporaryPrefix, kLockPrefix}) {
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string token(
          name.substr(prefix.size(), name.find_first_of("-.", prefix.size()) - prefix.size()));
      if (!isAlive(token)) stale.push_back(name);
    }
  });
  for (const std::string& name : stale) ::DeleteFileW(widePath(directory + name).c_str());
}

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
  const FILETIME& time = information->info.ftLastWriteTime;
  const int64_t ticks =
      static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
  constexpr int64_t kTicksBefore1970 = 116444736000000000;
  return FileIdentity{information->info.dwVolumeSerialNumber, information->index(),
                      information->size(), (ticks - kTicksBefore1970) * 100};
}

}  // namespace vellomar
