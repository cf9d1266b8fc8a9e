#ifndef VELLOMAR_PLATFORM_EXPECTED_H_
#define VELLOMAR_PLATFORM_EXPECTED_H_

// The one shape of a result below the runs: a value, or the problem that kept
// it from being had. Expected<> is a step that gives no value.

#include <optional>
#include <string>
#include <utility>

namespace vellomar {

// One problem, as it will be reported: in `file`, or in the album's
// description (which the layers below the run do not name) when
// `inDocument`; at `place` in it, when known. A problem of the file system
// carries only its reason, worded as the C library words it ("No such file
// or directory"): the caller knows which file it was about.
struct Problem {
  std::string file;
  std::string place;
  std::string text;
  bool inDocument = false;
};

// A problem that is only a reason.
inline Problem failure(std::string reason) { return Problem{"", "", std::move(reason), false}; }

template <typename T = void>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : value_(std::move(value)) {}  // NOLINT: a value is what is expected
  Expected(Problem problem) : problem_(std::move(problem)) {}  // NOLINT: or its problem
  bool ok() const { return !problem_; }
  const T& value() const& { return *value_; }
  T& value() & { return *value_; }
  T&& value() && { return std::move(*value_); }
  T value_or(T otherwise) const& { return value_ ? *value_ : std::move(otherwise); }
  T value_or(T otherwise) && { return value_ ? std::move(*value_) : std::move(otherwise); }
  const Problem& problem() const { return *problem_; }
  // The problem's text; "" when there is none.
  std::string reason() const { return problem_ ? problem_->text : std::string(); }

 private:
  std::optional<T> value_;
  std::optional<Problem> problem_;
};

template <>
class [[nodiscard]] Expected<void> {
 public:
  Expected() = default;
  Expected(Problem problem) : problem_(std::move(problem)) {}  // NOLINT: a step's problem
  bool ok() const { return !problem_; }
  const Problem& problem() const { return *problem_; }
  std::string reason() const { return problem_ ? problem_->text : std::string(); }

 private:
  std::optional<Problem> problem_;
};

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_EXPECTED_H_
