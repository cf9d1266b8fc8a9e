#include "album/json_number.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/c_number.h"

namespace vellomar {

std::string formatReal(double value) {
  if (std::isnan(value)) return "null";
  if (std::isinf(value)) return value > 0 ? "1e+9999" : "-1e+9999";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%#.16g", value);
  std::string text(buffer);

  const size_t e = text.find('e');
  if (e != std::string::npos) {
    // The exponent keeps its sign and has at least three digits.
    std::string digits = text.substr(e + 2);
    while (digits.size() < 3) digits.insert(0, "0");
    return text.substr(0, e + 2) + digits;
  }
  if (text.back() != '0') return text;
  size_t last = text.size() - 1;
  while (last > 0 && text[last] == '0') --last;
  // Keep exactly one zero after the last non-zero digit of the fraction, or
  // after the point when the fraction is all zeros.
  for (size_t k = last + 1; k-- > 0;) {
    const char c = text[k];
    if (c >= '0' && c <= '9') continue;
    if (c == '.') return text.substr(0, last + 2);
    break;
  }
  return text;
}

bool scanReal(std::string_view token, double& value) {
  std::string text(token);
  char* end = nullptr;
  const double parsed = parseCNumber(text.c_str(), &end);
  if (end == text.c_str()) return false;
  value = parsed;
  return true;
}

}  // namespace vellomar
