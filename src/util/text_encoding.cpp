#include "util/text_encoding.h"

#include <climits>
#include <cstring>
#include <vector>

#include "platform/code_page.h"

namespace vellomar {
namespace {

// Shared shape of both conversions: `convert` gives the converted text
// (without terminator) of the NUL-terminated source.
template <typename Convert>
int convertTerminated(const char* source, char* destination, int destinationSize, Convert convert) {
  if (source == nullptr) return 0;
  const std::string converted = convert(std::string_view(source, std::strlen(source)));
  if (converted.size() >= static_cast<size_t>(INT_MAX)) return 0;
  const int needed = static_cast<int>(converted.size()) + 1;
  if (destination == nullptr) return needed;
  if (destinationSize < needed) return 0;
  std::memcpy(destination, converted.data(), converted.size());
  destination[converted.size()] = '\0';
  return needed;
}

template <typename Conversion>
std::string convertText(const CodePage& codePage, const std::string& text, Conversion conversion) {
  const char* source = text.c_str();
  const int size = conversion(codePage, source, nullptr, 0);
  if (size <= 0) return "";
  std::vector<char> buffer(static_cast<size_t>(size) + 1);
  if (conversion(codePage, source, buffer.data(), size) == 0) return "";
  return std::string(buffer.data());
}

}  // namespace

int utf8ToAnsi(const CodePage& codePage, const char* source, char* destination,
               int destinationSize) {
  return convertTerminated(source, destination, destinationSize, [&](std::string_view text) {
    return codePage.fromUtf16(utf8ToUtf16(text));
  });
}

int ansiToUtf8(const CodePage& codePage, const char* source, char* destination,
               int destinationSize) {
  return convertTerminated(source, destination, destinationSize, [&](std::string_view text) {
    return utf16ToUtf8(codePage.toUtf16(text));
  });
}

std::string convertUtf8ToAnsi(const CodePage& codePage, const std::string& text) {
  return convertText(codePage, text, utf8ToAnsi);
}

std::string convertAnsiToUtf8(const CodePage& codePage, const std::string& text) {
  return convertText(codePage, text, ansiToUtf8);
}

}  // namespace vellomar
