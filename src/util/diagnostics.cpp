#include "util/diagnostics.h"

namespace vellomar {

std::string diagnosticLine(const std::string& file, const std::string& place,
                           const std::string& text) {
  std::string line = "vellomar: ";
  for (const std::string* part : {&file, &place}) {
    if (!part->empty()) line += *part + ": ";
  }
  line += text;
  line += '\n';
  return line;
}

void Diagnostics::problem(const std::string& file, const std::string& place,
                          const std::string& text) {
  failed_ = true;
  note(file, place, text);
}

void Diagnostics::note(const std::string& file, const std::string& place,
                       const std::string& text) {
  err_ << diagnosticLine(file, place, text) << std::flush;
}

}  // namespace vellomar
