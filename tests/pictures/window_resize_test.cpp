#include "pictures/window_resize.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace vellomar {
namespace {

// The window alone against the whole box resized by the library, on random
// geometries of modest size: within one level everywhere, and exact where the
// library averages (an exact halving).
TEST(WindowResizeTest, WindowSamplesAsTheWholeResizeDoes) {
  cv::RNG rng(20261206);
  const int types[] = {CV_8UC1, CV_8UC3, CV_8UC4, CV_16UC1, CV_16UC3};
  for (int trial = 0; trial < 600; ++trial) {
    const int type = types[trial % 5];
    const bool halving = trial % 10 == 0;
    const cv::Size source(rng.uniform(1, 50) * (halving ? 2 : 1),
                          rng.uniform(1, 50) * (halving ? 2 : 1));
    const cv::Size box = halving ? source / 2 : cv::Size(rng.uniform(1, 120), rng.uniform(1, 120));
    cv::Mat picture(source, type);
    rng.fill(picture, cv::RNG::UNIFORM, 0, CV_MAT_DEPTH(type) == CV_16U ? 65536 : 256);
    const int x = rng.uniform(0, box.width), y = rng.uniform(0, box.height);
    const cv::Rect window(x, y, rng.uniform(1, box.width - x + 1),
                          rng.uniform(1, box.height - y + 1));

    cv::Mat whole;
    cv::resize(picture, whole, box, 0, 0, cv::INTER_LINEAR);
    const cv::Mat part = resizeWindow(picture, box, window);
    ASSERT_EQ(part.type(), type);
    EXPECT_LE(cv::norm(whole(window), part, cv::NORM_INF), halving ? 0 : 1)
        << "picture " << source << ", box " << box << ", window " << window;
  }
}

}  // namespace
}  // namespace vellomar
