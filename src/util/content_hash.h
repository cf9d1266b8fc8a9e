#ifndef VELLOMAR_UTIL_CONTENT_HASH_H_
#define VELLOMAR_UTIL_CONTENT_HASH_H_

// A fast 64-bit hash of file contents (XXH3), to tell whether a file still
// holds the bytes it held.

#include <cstdint>
#include <string_view>

namespace vellomar {

uint64_t contentHash(std::string_view bytes);

}  // namespace vellomar

#endif  // VELLOMAR_UTIL_CONTENT_HASH_H_
