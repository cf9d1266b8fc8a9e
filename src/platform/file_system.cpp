// The parts of the file-system calls that are the same on every system.

#include "platform/file_system.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>

#include "platform/file_system_parts.h"
#include "platform/os_path.h"

namespace vellomar {
namespace {

std::atomic<unsigned> temporaryCounter{0};

std::mutex claimedMutex;
std::vector<std::string> claimedDirectories;

// The name's extension with its dot, when it is short enough to keep in a
// temporary name; "" otherwise.
std::string extensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot > 16) return "";
  return name.substr(dot);
}

}  // namespace

const std::string& runToken() {
  static const std::string token = [] {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return std::string(text);
  }();
  return token;
}

std::string lockFileOf(const std::string& directory, const std::string& token) {
  return directory + kLockPrefix + token + ".lock";
}

std::string temporaryNameFor(const std::string& directory, const std::string& name) {
  return toOsPath(directory + kTemporaryPrefix + runToken() + "-" +
                  std::to_string(temporaryCounter++) + extensionOf(name));
}

void addClaimedDirectory(const std::string& directory) {
  const std::lock_guard<std::mutex> lock(claimedMutex);
  claimedDirectories.push_back(directory);
}

void dropClaimedDirectory(const std::string& directory) {
  const std::lock_guard<std::mutex> lock(claimedMutex);
  const auto claimed = std::find(claimedDirectories.begin(), claimedDirectories.end(), directory);
  if (claimed != claimedDirectories.end()) claimedDirectories.erase(claimed);
}

void removeOwnFiles() {
  const std::lock_guard<std::mutex> lock(claimedMutex);
  const std::string own = kTemporaryPrefix + runToken() + "-";
  for (const std::string& directory : claimedDirectories) {
    removeFile(lockFileOf(directory, runToken()));
    for (const std::string& name : directoryEntries(directory)) {
      if (name.compare(0, own.size(), own) == 0) removeFile(directory + name);
    }
  }
}

std::string textModeText(std::string bytes) {
  if (kCtrlZEndsText) {
    const size_t end = bytes.find('\x1A');
    if (end != std::string::npos) bytes.resize(end);
  }
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
  if (!path_.empty()) removeFile(path_);
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    if (!path_.empty()) removeFile(path_);
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

void removeStaleTemporaries(const std::string& directory) {
  const std::string osDirectory = toOsPath(directory);
  std::map<std::string, bool> alive;  // by token
  const auto isAlive = [&](const std::string& token) {
    const auto [known, fresh] = alive.emplace(token, true);
    // A lock that can be had has no live run behind it.
    if (fresh && token != runToken()) known->second = lockIsHeld(lockFileOf(osDirectory, token));
    return known->second;
  };
  for (const std::string& name : directoryEntries(osDirectory)) {
    for (const std::string_view prefix : {kTemporaryPrefix, kLockPrefix}) {
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string token(
          name.substr(prefix.size(), name.find_first_of("-.", prefix.size()) - prefix.size()));
      if (!isAlive(token)) removeFile(osDirectory + name);
    }
  }
}

}  // namespace vellomar
