#include "util/whole_file.h"

#include "platform/file_system.h"

namespace vellomar {

std::string wholeFileText(std::string data) {
  // Text mode: CR LF becomes LF; a CR on its own stays.
  size_t out = 0;
  for (size_t in = 0; in < data.size(); ++in) {
    if (data[in] == '\r' && in + 1 < data.size() && data[in + 1] == '\n') continue;
    data[out++] = data[in];
  }
  data.resize(out);

  size_t start = 0;
  if (data.empty() || data[0] != '{') start = 3;
  if (data.size() <= start) return "";
  const size_t nul = data.find('\0', start);
  data.resize(nul == std::string::npos ? data.size() : nul);
  data.erase(0, start);
  return data;
}

std::string readWholeFile(const std::string& path) {
  std::string data;
  if (!readFileBytes(path, data)) return "";
  return wholeFileText(std::move(data));
}

}  // namespace vellomar
