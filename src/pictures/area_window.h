#ifndef VELLOMAR_PICTURES_AREA_WINDOW_H_
#define VELLOMAR_PICTURES_AREA_WINDOW_H_

// A window reduced to its box by area: each pixel of the box the mean of the
// picture over its footprint, every source pixel under it counted (a bilinear
// reduction reads only the four nearest and skips the rest from 2x on, which
// prints fine patterns as moiré).

#include <opencv2/core.hpp>
#include <vector>

#include "pictures/area_average.h"

namespace vellomar {

// Whether a picture of `size` is reduced (or kept) along both axes in `box`:
// then area averaging applies; an enlarged axis is left to the bilinear resize.
bool reducesBothWays(cv::Size size, cv::Size box);

// The footprints of `window`'s columns and rows (of `box`) in a picture of
// `size` scaled to 1/`denominator` of it.
std::pair<std::vector<Span>, std::vector<Span>> windowFootprints(cv::Size size, cv::Size box,
                                                                 const cv::Rect& window,
                                                                 int denominator);

// The largest of 1, 2, 4 and 8 that leaves a picture of `size` at least twice
// `box` each way when it is scaled to 1/denominator of it.
int shrinkOnLoad(cv::Size size, cv::Size box);

// `window` of `picture` (8-bit, 1, 3 or 4 channels) resized to `box` by area;
// a fourth channel that is alpha (not `ink`) is averaged with the colour
// weighed by it. Empty for any other picture.
cv::Mat areaWindow(const cv::Mat& picture, cv::Size box, const cv::Rect& window, bool ink);

// `picture` (of any depth, 1, 3 or 4 channels) resized to `box` by area, as
// the image library averages, alpha as above. Empty for any other picture.
cv::Mat areaResized(const cv::Mat& picture, cv::Size box, bool ink);

// Rows of 4 channels, colour and alpha, with the colour weighed by the alpha
// (premultiplied), and back.
void premultiply(const unsigned char* row, int pixels, unsigned char* into);
void unpremultiply(cv::Mat& pixels);

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_AREA_WINDOW_H_
