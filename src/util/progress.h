#ifndef VELLOMAR_UTIL_PROGRESS_H_
#define VELLOMAR_UTIL_PROGRESS_H_

// A one-line display of how far the picture work has come, for a person at a
// terminal: pictures done of the total, time elapsed, an estimate of the time
// left. It is erased before every diagnostic and at the end, so that a run
// leaves nothing of it on the screen.

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

namespace vellomar {

class Progress {
 public:
  using Clock = std::chrono::steady_clock;

  // Shown on `terminal` only when `enabled`, and only for more than
  // `fewest` things done (pictures, unless `things` says otherwise), as
  // `program` says it.
  Progress(std::ostream& terminal, bool enabled, int fewest = 0, std::string program = "vellomar",
           std::string things = "pictures")
      : terminal_(terminal),
        enabled_(enabled),
        fewest_(fewest),
        program_(std::move(program)),
        things_(std::move(things)) {}
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Starts counting toward `total` pictures. Called before any advance().
  void start(int total);
  // One more picture is done; redraws the line now and then, and at the last.
  // Any thread may call it.
  void advance();
  // Erases the line, if it is shown.
  void clear();
  // Erases the line and writes `text` in its place, in one piece: what the
  // other threads draw comes before or after it.
  void printAbove(const std::string& text);

  // The line for `done` of `total` things after `elapsed`.
  static std::string line(int done, int total, Clock::duration elapsed,
                          const std::string& program = "vellomar",
                          const std::string& things = "pictures");

 private:
  void erase();  // with the lock held

  std::mutex mutex_;
  std::ostream& terminal_;
  bool enabled_;
  const int fewest_;
  const std::string program_;
  const std::string things_;
  bool shown_ = false;
  int total_ = 0;
  int done_ = 0;
  Clock::time_point started_;
  Clock::time_point drawn_;
};

}  // namespace vellomar

#endif  // VELLOMAR_UTIL_PROGRESS_H_
