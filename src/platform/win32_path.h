#ifndef VELLOMAR_PLATFORM_WIN32_PATH_H_
#define VELLOMAR_PLATFORM_WIN32_PATH_H_

// What the Windows variants of the platform layer share: paths handed to the
// wide-character calls, and the system's reasons as text.

#include <string>

namespace vellomar {

// The tool path (code-page bytes) as UTF-16, by the system's ANSI code page.
std::wstring widePath(const std::string& path);

// A name the system gave in UTF-16, as code-page bytes.
std::string narrowName(const std::wstring& name);

// The reason for a failed call (GetLastError's code), worded as the C library
// words the same reason ("No such file or directory").
std::string systemErrorText(unsigned long error);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_WIN32_PATH_H_
