#ifndef VELLOMAR_UTIL_TEXT_ENCODING_H_
#define VELLOMAR_UTIL_TEXT_ENCODING_H_

// Conversions between the document's UTF-8 text and the code-page bytes of
// file-system paths. The two text conversions work on NUL-terminated text and
// count bytes with the terminator included; a null destination asks for the
// size only.

#include <string>

namespace vellomar {

class CodePage;

// Converts NUL-terminated UTF-8 `source` to the code page. With a null
// `destination`, returns the bytes the result needs, terminator included.
// Otherwise writes the result and its terminator when `destinationSize` is at
// least that, and returns the bytes written; returns 0 (leaving `destination`
// untouched) when it is smaller, and 0 for a null `source`.
int utf8ToAnsi(const CodePage& codePage, const char* source, char* destination,
               int destinationSize);

// The same from code-page bytes to UTF-8.
int ansiToUtf8(const CodePage& codePage, const char* source, char* destination,
               int destinationSize);

// The text up to its first NUL converted by the size query and conversion
// above; "" when a conversion fails.
std::string convertUtf8ToAnsi(const CodePage& codePage, const std::string& text);
std::string convertAnsiToUtf8(const CodePage& codePage, const std::string& text);

}  // namespace vellomar

#endif  // VELLOMAR_UTIL_TEXT_ENCODING_H_
