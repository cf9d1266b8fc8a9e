#include "platform/c_number.h"

#include <cstdlib>

namespace vellomar {

// mingw-w64's own strtod (not the C runtime's, which does not always round
// correctly); the tool never changes its locale from "C" on Windows.
double parseCNumber(const char* text, char** end) { return __mingw_strtod(text, end); }

}  // namespace vellomar
