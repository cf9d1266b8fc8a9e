#ifndef VELLOMAR_ALBUM_JSON_WRITER_H_
#define VELLOMAR_ALBUM_JSON_WRITER_H_

// The compact text form in which the album description is written.

#include <cstddef>
#include <string>

namespace Json {
class Value;
}

namespace vellomar {

// The whole value on one line, members in key order, no spaces, followed by one
// line feed. Strings escape '"', '\\', the control bytes (\b \f \n \r \t, the
// others and NUL as \u00XX) and nothing else. Room for `expectedSize` bytes
// is made at once (a large text then grows no copy of itself).
std::string writeJson(const Json::Value& root, size_t expectedSize = 0);

}  // namespace vellomar

#endif  // VELLOMAR_ALBUM_JSON_WRITER_H_
