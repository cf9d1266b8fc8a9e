// The work pool that runs tasks on workers and gives their results in order.

#include "util/ordered_map.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vellomar {
namespace {

// Work that fails while other work runs (as a picture that cannot get its
// memory) succeeds when it is run again alone, and no worker starts another
// task meanwhile.
TEST(OrderedMapTest, ATaskRunAgainAloneHasTheWorkersWaiting) {
  std::atomic<int> running{0}, started{0};
  OrderedMap<bool> map({0, 1, 2, 3, 4, 5}, 2, [&](size_t) {
    ++running;
    if (++started <= 2) {
      while (started < 2) std::this_thread::yield();  // the first two overlap
    }
    bool alone = running == 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    alone = alone && running == 1;
    --running;
    return alone;
  });
  for (size_t i = 0; i < 6; ++i) EXPECT_TRUE(map.get(i) || map.rerunAlone(i)) << i;
  EXPECT_FALSE(map.get(0));
}

// Tasks run no further ahead of the results taken than they are let; each
// result is taken once, in its order.
TEST(OrderedMapTest, TasksRunNoFurtherAheadThanLet) {
  std::atomic<size_t> taken{0}, furthest{0};
  OrderedMap<size_t> map(
      {0, 1, 2, 3, 4, 5, 6, 7}, 3,
      [&](size_t i) {
        for (size_t ahead = i + 1 - taken, seen = furthest; ahead > seen;) {
          furthest.compare_exchange_weak(seen, ahead);
        }
        return i * 10;
      },
      2);
  for (size_t i = 0; i < 8; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // slower than the workers
    taken = i + 1;                                              // never behind the map's count
    EXPECT_EQ(map.take(i), i * 10);
  }
  EXPECT_LE(furthest, 2u);
}

}  // namespace
}  // namespace vellomar
