#ifndef VELLOMAR_PICTURES_TIFF_INK_H_
#define VELLOMAR_PICTURES_TIFF_INK_H_

// CMYK TIFF pictures kept as ink, as a designer's file is: read with libtiff
// as the file stores its samples (the image library would convert them to RGB
// by a plain formula), and written as a CMYK TIFF file.

#include <opencv2/core.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace vellomar {

// Whether the derived file's name is a TIFF name (.tif, .tiff, any case).
bool isTiffName(const std::string& name);

// The ink of a CMYK TIFF file of 8-bit samples, four of them a pixel in one
// plane (any compression libtiff reads, in strips or tiles): four channels,
// C, M, Y and K as stored (0 no ink). Empty for any other file, or one
// libtiff reads only with an error.
cv::Mat decodeTiffInk(std::string_view bytes);

// A CMYK TIFF file of `ink` (four 8-bit channels), compressed as the image
// library compresses its TIFF files (LZW); false when it cannot be written.
bool encodeTiffInk(const cv::Mat& ink, std::vector<unsigned char>& bytes);

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_TIFF_INK_H_
