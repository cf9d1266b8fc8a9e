#include "platform/c_number.h"

#include <locale.h>
#include <stdlib.h>

namespace vellomar {

double parseCNumber(const char* text, char** end) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  return strtod_l(text, end, cLocale);
}

}  // namespace vellomar
