#ifndef VELLOMAR_PLATFORM_C_NUMBER_H_
#define VELLOMAR_PLATFORM_C_NUMBER_H_

// Numbers in text the way the C locale writes them, whatever locale the
// process runs in.

namespace vellomar {

// strtod in the C locale: the decimal point is '.', the result correctly
// rounded; `end` as strtod sets it.
double parseCNumber(const char* text, char** end);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_C_NUMBER_H_
