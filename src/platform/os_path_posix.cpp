#include "platform/os_path.h"

#include <algorithm>

namespace vellomar {

std::string toOsPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace vellomar
