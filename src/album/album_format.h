#ifndef VELLOMAR_ALBUM_ALBUM_FORMAT_H_
#define VELLOMAR_ALBUM_ALBUM_FORMAT_H_

// The album description as the tool reads it: the keys it uses, the
// conversions of their values, the test for a picture element, and the names
// of places in the document used in diagnostics.

#include <optional>
#include <string>

#include "util/diagnostics.h"

namespace Json {
class Value;
}

namespace vellomar {

namespace keys {
constexpr const char kPhotoBook[] = "photoBook";
constexpr const char kScale[] = "scale";
constexpr const char kPages[] = "pages";
constexpr const char kElements[] = "elements";
constexpr const char kImage[] = "image";
constexpr const char kSrc[] = "src";
constexpr const char kWidth[] = "width";
constexpr const char kHeight[] = "height";
constexpr const char kPositionX[] = "positionX";
constexpr const char kPositionY[] = "positionY";
constexpr const char kRotation[] = "rotation";
constexpr const char kMask[] = "mask";
constexpr const char kWidthO[] = "width_o";
constexpr const char kHeightO[] = "height_o";
}  // namespace keys

// The value as a double: null 0.0, numbers their value, true 1.0, false 0.0;
// the problem "Type is not convertible to double" for a string, an array or
// an object.
Expected<double> asDouble(const Json::Value& value);

// The value as a 32-bit integer: null 0, booleans 0 or 1, integers their
// value, reals cut toward zero; the problem "Real out of signed integer range"
// (a real outside the 32-bit range, or NaN), "integer out of signed integer
// range" (an unsigned integer) or "Type is not convertible to int" (a string,
// an array or an object).
Expected<int> asInt(const Json::Value& value);

// True when the value can be looked up by key (null or an object).
bool isKeyed(const Json::Value& value);
// True when the value has members that cannot be reached by index (an object
// with members), where a list is expected.
bool isObjectWithMembers(const Json::Value& value);

// True when `element` is an object whose first member name, in key order, is
// exactly "image".
bool isPictureElement(const Json::Value& element);

// The first key of an element that holds a picture (an "image" record with
// a src of text) but is not a picture element by the rule above, because a
// key comes before "image"; nothing otherwise.
std::optional<std::string> keyBeforeImage(const Json::Value& element);

// Places in the document, as diagnostics name them.
std::string pagePlace(int pageIndex);
std::string elementPlace(int pageIndex, int elementIndex);

}  // namespace vellomar

#endif  // VELLOMAR_ALBUM_ALBUM_FORMAT_H_
