#include "util/progress.h"

namespace vellomar {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr char kEraseLine[] = "\r\033[K";

std::string minutesAndSeconds(Progress::Clock::duration time) {
  const long seconds =
      static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(time).count());
  const std::string rest = std::to_string(seconds % 60);
  return std::to_string(seconds / 60) + ":" + (rest.size() < 2 ? "0" : "") + rest;
}

}  // namespace

std::string Progress::line(int done, int total, Clock::duration elapsed, const std::string& program,
                           const std::string& things) {
  std::string text = program + ": " + std::to_string(done) + " of " + std::to_string(total) + " " +
                     things + ", " + minutesAndSeconds(elapsed) + " elapsed";
  if (done > 0 && done < total) {
    text += ", about " + minutesAndSeconds(elapsed / done * (total - done)) + " left";
  }
  return text;
}

void Progress::start(int total) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (total <= fewest_) enabled_ = false;
  total_ = total;
  done_ = 0;
  started_ = drawn_ = Clock::now();
}

void Progress::advance() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (shown_ && now - drawn_ < kRedrawEvery && done_ < total_) return;
  terminal_ << kEraseLine << line(done_, total_, now - started_, program_, things_) << std::flush;
  shown_ = true;
  drawn_ = now;
}

void Progress::clear() {
  const std::lock_guard<std::mutex> lock(mutex_);
  erase();
}

void Progress::printAbove(const std::string& text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  erase();
  terminal_ << text << std::flush;
}

void Progress::erase() {
  if (!shown_) return;
  terminal_ << kEraseLine << std::flush;
  shown_ = false;
}

}  // namespace vellomar
