#ifndef VELLOMAR_ALBUM_JSON_READER_H_
#define VELLOMAR_ALBUM_JSON_READER_H_

// Reading the album description's JSON text into a value tree.
//
// Accepted: one value of any kind, with space, tab, CR and LF between tokens
// and "//" and "/* */" comments wherever white space may stand (they are
// dropped). Whatever follows the value is ignored. Number tokens run over
// 0-9 . e E + - : a token without '.', 'e', 'E', '+' and without a '-' after
// its first character is a 32-bit integer (unsigned above 2147483647) unless
// it grows past the integer thresholds, when it is read as a real; every other
// token is read as "%lf" reads it. Strings keep raw bytes (controls and
// non-ASCII included); \u escapes become UTF-8, a high surrogate must be
// followed by a second \u escape. A later duplicate key replaces the earlier.
// Arrays and objects nest at most kMaxJsonDepth deep.

#include <cstddef>
#include <string>
#include <string_view>

namespace Json {
class Value;
}

namespace vellomar {

constexpr int kMaxJsonDepth = 1000;

struct JsonParseError {
  size_t line = 0;    // counted from 1
  size_t column = 0;  // bytes, counted from 1
  std::string reason;
};

// Parses `text` into `root`. Returns false and fills `error` when the text is
// not accepted; `root` then holds an unspecified partial value.
bool readJson(std::string_view text, Json::Value& root, JsonParseError* error = nullptr);

}  // namespace vellomar

#endif  // VELLOMAR_ALBUM_JSON_READER_H_
