#ifndef VELLOMAR_UTIL_DIAGNOSTICS_H_
#define VELLOMAR_UTIL_DIAGNOSTICS_H_

// Diagnostics on the error stream: one line each, "vellomar: " followed by the
// file, the place in the document and what happened. A problem leaves the run
// going but makes its exit status a failure.

#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace vellomar {

class Progress;

// Formats one diagnostic line of `program` (with its line feed); empty parts
// are left out, control bytes are written as \xHH.
std::string diagnosticLine(const std::string& file, const std::string& place,
                           const std::string& text, const std::string& program = "vellomar");

// One problem, as it will be reported: in `file`, or in the album's
// description (which the layers below the run do not name) when
// `inDocument`; at `place` in it, when known.
struct Problem {
  std::string file;
  std::string place;
  std::string text;
  bool inDocument = false;
};

// A problem at `place` of the album's description.
inline Problem documentProblem(std::string place, std::string text) {
  return Problem{"", std::move(place), std::move(text), true};
}

// A value, or the problem that kept it from being had.
template <typename T>
class Expected {
 public:
  Expected(T value) : value_(std::move(value)) {}  // NOLINT: a value is what is expected
  Expected(Problem problem) : problem_(std::move(problem)) {}  // NOLINT: or its problem
  bool ok() const { return !problem_; }
  const T& value() const { return *value_; }
  T value_or(T otherwise) const { return value_ ? *value_ : otherwise; }
  const Problem& problem() const { return *problem_; }

 private:
  std::optional<T> value_;
  std::optional<Problem> problem_;
};

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
