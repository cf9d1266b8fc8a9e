#ifndef VELLOMAR_ALBUM_JSON_NUMBER_H_
#define VELLOMAR_ALBUM_JSON_NUMBER_H_

// The text forms of numbers in the album description.

#include <string>
#include <string_view>

namespace vellomar {

// A real as the writer prints it: "%#.16g" with a signed three-digit exponent,
// then trailing fraction zeros cut down to one ("1.50", "0.0"). Infinities are
// written 1e+9999 and -1e+9999, so that reading them back gives the same
// value; a NaN has no number form and is written null.
std::string formatReal(double value);

// Reads a real the way the "%lf" scanf conversion reads the start of `token`
// (in the C locale). Returns false when it reads nothing.
bool scanReal(std::string_view token, double& value);

}  // namespace vellomar

#endif  // VELLOMAR_ALBUM_JSON_NUMBER_H_
