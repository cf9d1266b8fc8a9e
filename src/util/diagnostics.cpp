#include "util/diagnostics.h"

#include "util/progress.h"

namespace vellomar {
namespace {

// Names and paths come from the document: a control byte in them is written
// as \xHH, so that every diagnostic stays one line and none can be forged.
void appendVisible(std::string& line, const std::string& part) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const char c : part) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      line += "\\x";
      line += kHex[byte >> 4];
      line += kHex[byte & 0xF];
    } else {
      line += c;
    }
  }
}

// A path built as directory, separator, name shows its doubled separator as
// one, as the system reads it; two at the start (a Windows network path) stay.
std::string singleSeparators(std::string path) {
  const auto isSeparator = [](char c) { return c == '/' || c == '\\'; };
  for (size_t at = 2; at < path.size();) {
    if (isSeparator(path[at]) && isSeparator(path[at - 1])) {
      path.erase(at, 1);
    } else {
      ++at;
    }
  }
  return path;
}

}  // namespace

std::string diagnosticLine(const Problem& problem, const std::string& program) {
  std::string line = program + ": ";
  const std::string path = singleSeparators(problem.file);
  for (const std::string* part : {&path, &problem.place}) {
    if (part->empty()) continue;
    appendVisible(line, *part);
    line += ": ";
  }
  appendVisible(line, problem.text);
  line += '\n';
  return line;
}

void Diagnostics::problem(const std::string& file, const std::string& place,
                          const std::string& text) {
  failed_ = true;
  note(file, place, text);
}

void Diagnostics::note(const std::string& file, const std::string& place, const std::string& text) {
  if (progress_ != nullptr) {
    progress_->printAbove(diagnosticLine({file, place, text}, program_));
    return;
  }
  err_ << diagnosticLine({file, place, text}, program_) << std::flush;
}

}  // namespace vellomar
