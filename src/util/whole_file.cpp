#include "util/whole_file.h"

#include "platform/file_system.h"

namespace vellomar {

std::string wholeFileText(std::string data) {
  data = textModeText(std::move(data));

  size_t start = 0;
  if (data.empty() || data[0] != '{') start = 3;
  if (data.size() <= start) return "";
  const size_t nul = data.find('\0', start);
  data.resize(nul == std::string::npos ? data.size() : nul);
  data.erase(0, start);
  return data;
}

std::string readWholeFile(FileSystem& files, const std::string& path) {
  Expected<std::string> data = files.readFile(path, UINT64_MAX);
  if (!data.ok()) return "";
  return wholeFileText(std::move(data).value());
}

}  // namespace vellomar
