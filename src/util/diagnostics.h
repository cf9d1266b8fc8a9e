#ifndef VELLOMAR_UTIL_DIAGNOSTICS_H_
#define VELLOMAR_UTIL_DIAGNOSTICS_H_

// Diagnostics on the error stream: one line each, "vellomar: " followed by the
// file, the place in the document and what happened. A problem leaves the run
// going but makes its exit status a failure.

#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "platform/expected.h"

namespace vellomar {

class Progress;

// Formats one diagnostic line of `program` (with its line feed): the
// problem's file, place and text; empty parts are left out, control bytes
// are written as \xHH.
std::string diagnosticLine(const Problem& problem, const std::string& program = "vellomar");

// A problem at `place` of the album's description.
inline Problem documentProblem(std::string place, std::string text) {
  return Problem{"", std::move(place), std::move(text), true};
}

class Diagnostics {
 public:
  // Each line begins with `program` and a colon.
  explicit Diagnostics(std::ostream& err, std::string program = "vellomar")
      : err_(err), program_(std::move(program)) {}

  // Reports a problem that leaves the run going; the run then fails.
  void problem(const std::string& file, const std::string& place, const std::string& text);
  void problem(const Problem& problem) { this->problem(problem.file, problem.place, problem.text); }
  // Reports without changing the outcome.
  void note(const std::string& file, const std::string& place, const std::string& text);

  bool failed() const { return failed_; }
  std::ostream& stream() { return err_; }

  // A progress line on the same stream, erased before each diagnostic.
  void setProgress(Progress* progress) { progress_ = progress; }

 private:
  std::ostream& err_;
  std::string program_;
  bool failed_ = false;
  Progress* progress_ = nullptr;
};

}  // namespace vellomar

#endif  // VELLOMAR_UTIL_DIAGNOSTICS_H_
