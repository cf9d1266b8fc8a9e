#ifndef VELLOMAR_UTIL_WHOLE_FILE_H_
#define VELLOMAR_UTIL_WHOLE_FILE_H_

// Reading the album description into memory as one text.

#include <string>

namespace vellomar {

class FileSystem;

// The text of the file at `path` (a tool path), read as a text-mode stream
// reads it (each CR LF arrives as LF; on Windows a Ctrl-Z ends it). When the first byte is not '{',
// the first three bytes are dropped (a UTF-8 byte-order mark, or whatever stands there). The text
// ends before the first NUL byte. Returns "" when the file cannot be opened, is empty, or has
// nothing left after the dropped bytes.
std::string readWholeFile(FileSystem& files, const std::string& path);

// The same rules applied to bytes already in memory.
std::string wholeFileText(std::string data);

}  // namespace vellomar

#endif  // VELLOMAR_UTIL_WHOLE_FILE_H_
