#ifndef VELLOMAR_UTIL_ORDERED_MAP_H_
#define VELLOMAR_UTIL_ORDERED_MAP_H_

// An ordered parallel map: a task for every index, run by a pool of workers in
// a chosen order, each result taken back by its index whenever the caller is
// ready for it.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/system.h"

namespace vellomar {

template <typename Result>
class OrderedMap {
 public:
  // Runs `task(i)` for every index in `order` (each of 0 .. order.size() - 1
  // once; the workers start them in that order) on `workerCount` workers, or
  // on as many as the system lets start and a limited address space leaves
  // room for (see missingWorkers()). With no
  // workers, each task runs when its result is first asked for. `task` must
  // not throw. With `ahead`, a task starts only while fewer than that many
  // results are done and not yet taken by take().
  OrderedMap(std::vector<size_t> order, size_t workerCount, std::function<Result(size_t)> task,
             size_t ahead = SIZE_MAX)
      : task_(std::move(task)), order_(std::move(order)), results_(order_.size()), ahead_(ahead) {
    size_t wanted = std::min(workerCount, order_.size());
    // In a limited address space their stacks take a quarter of what is left
    // at most: the rest is for their work.
    if (const auto left = addressSpaceLeft()) {
      const size_t fit = static_cast<size_t>(std::max<uint64_t>(1, *left / 4 / threadStackBytes()));
      if (fit < wanted) {
        missing_ = "only " + std::to_string(fit) + " of " + std::to_string(wanted) +
                   " workers start (the address space is limited)";
        wanted = fit;
      }
    }
    for (size_t w = 0; w < wanted; ++w) {
      try {
        workers_.emplace_back([this] { work(); });
      } catch (const std::system_error& error) {
        missing_ = "only " + std::to_string(workers_.size()) + " of " + std::to_string(wanted) +
                   " workers could start (" + error.code().message() + ")";
        break;
      }
    }
  }
  // Lets the running tasks end, starts no other, and drops every result.
  ~OrderedMap() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    done_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }
  OrderedMap(const OrderedMap&) = delete;
  OrderedMap& operator=(const OrderedMap&) = delete;

  // Runs task `index` again, on the calling thread, while no worker runs a
  // task: for work that may succeed when it has the machine to itself.
  Result rerunAlone(size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    paused_ = true;
    done_.wait(lock, [&] { return running_ == 0; });
    lock.unlock();
    Result result = task_(index);
    lock.lock();
    paused_ = false;
    lock.unlock();
    done_.notify_all();
    return result;
  }

  // Why fewer workers run than were asked for; "" when all of them run.
  const std::string& missingWorkers() const { return missing_; }

  // The result of task `index`, once it is done.
  Result& get(size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (workers_.empty() && !results_[index]) results_[index] = task_(index);
    done_.wait(lock, [&] { return results_[index].has_value(); });
    return *results_[index];
  }

  // The result of task `index`, moved out once it is done; it counts no more
  // against `ahead`.
  Result take(size_t index) {
    Result result = std::move(get(index));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      results_[index].reset();
      ++taken_;
    }
    done_.notify_all();
    return result;
  }

 private:
  void work() {
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return (!paused_ && next_ - taken_ < ahead_) || stopping_; });
        if (stopping_ || next_ == order_.size()) return;
        index = order_[next_++];
        ++running_;
      }
      Result result = task_(index);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[index] = std::move(result);
        --running_;
      }
      done_.notify_all();
    }
  }

  const std::function<Result(size_t)> task_;
  const std::vector<size_t> order_;
  std::vector<std::optional<Result>> results_;
  const size_t ahead_;
  size_t next_ = 0;
  size_t taken_ = 0;     // results taken
  size_t running_ = 0;   // tasks the workers are running
  bool paused_ = false;  // no worker starts a task
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable done_;
  std::string missing_;
  std::vector<std::thread> workers_;  // last: they start once the rest is ready
};

}  // namespace vellomar

#endif  // VELLOMAR_UTIL_ORDERED_MAP_H_
