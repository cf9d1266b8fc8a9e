#ifndef VELLOMAR_PICTURES_WINDOW_RESIZE_H_
#define VELLOMAR_PICTURES_WINDOW_RESIZE_H_

// Bilinear resizing of only a window of the result, for boxes too large to
// hold whole: the window comes out as the library's bilinear resize of the
// whole picture would give it (sampled at the same points, within one level).

#include <opencv2/core.hpp>

namespace vellomar {

// Boxes that would take more memory than this are computed window only.
constexpr size_t kMaxWholeBoxBytes = size_t{256} << 20;

// The window `window` (inside 0, 0, box.width, box.height) of `picture`
// resized bilinearly to `box`.
cv::Mat resizeWindow(const cv::Mat& picture, cv::Size box, cv::Rect window);

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_WINDOW_RESIZE_H_
