#ifndef VELLOMAR_PICTURES_PNG_WRITER_H_
#define VELLOMAR_PICTURES_PNG_WRITER_H_

// A PNG file of a drawing, written with zlib alone: the proof's drawings need
// no codec of the image library.

#include <opencv2/core.hpp>
#include <string>

namespace vellomar {

// `bgr` (8-bit, three channels) as a PNG file: 8-bit RGB, each row filtered
// by its difference from the row above; "" when it is not such a picture or
// zlib fails.
std::string encodePng(const cv::Mat& bgr);

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_PNG_WRITER_H_
