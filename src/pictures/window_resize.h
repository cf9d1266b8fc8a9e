#ifndef VELLOMAR_PICTURES_WINDOW_RESIZE_H_
#define VELLOMAR_PICTURES_WINDOW_RESIZE_H_

// Bilinear resizing of only a window of the result: the window comes out as
// the library's bilinear resize of the whole picture gives it, so that a box
// too large to hold, or a picture decoded only where the window reads it,
// still yields the same pixels.

#include <functional>
#include <opencv2/core.hpp>

#include "plan/element_geometry.h"

namespace vellomar {

// The window of `region`, in pixels of the picture scaled to its box.
inline cv::Rect windowOf(const PixelRegion& region) {
  return {region.left, region.top, region.width, region.height};
}

// Boxes that would take more memory than this are computed window only.
constexpr size_t kMaxWholeBoxBytes = size_t{256} << 20;

// The window `window` (inside 0, 0, box.width, box.height) of `picture`
// resized bilinearly to `box`: bit for bit the library's result for 8-bit
// pictures (when windowResizeIsExact()), within one level for the others.
cv::Mat resizeWindow(const cv::Mat& picture, cv::Size box, cv::Rect window);

// The same from `part` (8-bit), the pixels of a `pictureSize` picture from
// `origin` on, which must hold sourcesOfWindow(...) of the picture.
cv::Mat resizeWindowOfPart(const cv::Mat& part, cv::Point origin, cv::Size pictureSize,
                           cv::Size box, cv::Rect window);

// The rows of a picture, each from column `originX` on, handed out in order:
// `row(y)` is called with y never smaller than in the call before, and its
// pixels are read before the next call.
using PictureRows = std::function<const uchar*(int y)>;

// The same from rows read in order, for 8-bit pictures that are not halved.
cv::Mat resizeWindowOfRows(const PictureRows& row, int originX, int channels, cv::Size pictureSize,
                           cv::Size box, cv::Rect window);

// Whether the library resizes a `picture` to `box` by averaging 2 x 2 blocks.
bool isHalving(cv::Size picture, cv::Size box);

// The pixels of a `pictureSize` picture that the window's samples read.
cv::Rect sourcesOfWindow(cv::Size pictureSize, cv::Size box, cv::Rect window);

// Whether the window resize of 8-bit pictures gives the library's bytes: the
// arithmetic follows one release of the library, so it is checked against the
// library itself on a few small cases, once.
bool windowResizeIsExact();

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_WINDOW_RESIZE_H_
