#include "platform/c_number.h"

#include <cstdlib>
#ifndef _WIN32
#include <locale.h>
#endif

namespace vellomar {

double parseCNumber(const char* text, char** end) {
#ifdef _WIN32
  // mingw-w64's own strtod (not the C runtime's, which does not always round
  // correctly); the tool never changes its locale from "C" on Windows.
  return __mingw_strtod(text, end);
#else
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  return strtod_l(text, end, cLocale);
#endif
}

}  // namespace vellomar
