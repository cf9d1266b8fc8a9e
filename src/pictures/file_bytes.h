#ifndef VELLOMAR_PICTURES_FILE_BYTES_H_
#define VELLOMAR_PICTURES_FILE_BYTES_H_

// Reading the fields of a picture file's bytes without reading past them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellomar {

// The `count` bytes at `at`, fewer (or none) past the end.
inline std::string_view part(std::string_view bytes, size_t at, size_t count) {
  return at > bytes.size() ? std::string_view() : bytes.substr(at, count);
}

inline bool startsWith(std::string_view bytes, std::string_view prefix) {
  return part(bytes, 0, prefix.size()) == prefix;
}

// The unsigned integer of `size` bytes at `at`, big- or little-endian;
// nothing past the end.
inline std::optional<uint64_t> number(std::string_view b, size_t at, int size, bool bigEndian) {
  if (at > b.size() || static_cast<size_t>(size) > b.size() - at) return std::nullopt;
  uint64_t value = 0;
  for (int i = 0; i < size; ++i) {
    const uint64_t byte = static_cast<unsigned char>(b[at + (bigEndian ? i : size - 1 - i)]);
    value = (value << 8) | byte;
  }
  return value;
}

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_FILE_BYTES_H_
