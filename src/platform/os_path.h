#ifndef VELLOMAR_PLATFORM_OS_PATH_H_
#define VELLOMAR_PLATFORM_OS_PATH_H_

// Paths inside the tool are code-page byte strings that use the backslash as
// their separator, built exactly as the album's rules say. They become
// operating-system paths only at the moment they are handed to the system.

#include <string>

namespace vellomar {

// The path as the operating system takes it: on Windows as it stands,
// elsewhere with every backslash turned into '/'.
std::string toOsPath(std::string path);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_OS_PATH_H_
