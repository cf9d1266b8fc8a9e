#ifndef VELLOMAR_TESTS_SUPPORT_TEST_IMAGES_H_
#define VELLOMAR_TESTS_SUPPORT_TEST_IMAGES_H_

// Small pictures made by the tests themselves.

#include <opencv2/core.hpp>
#include <string>

namespace vellomar {

// A deterministic picture with gradients and a few hard edges, so that any
// shift of a window or change of sampling shows in the pixels. `type` is an
// OpenCV type such as CV_8UC3 or CV_16UC1.
cv::Mat makePicture(int width, int height, int type);

// Writes `picture` to `path` (the format follows the extension); fails the
// test when it cannot.
void writePicture(const std::string& path, const cv::Mat& picture);

// The picture at `path` as stored, or an empty matrix.
cv::Mat readPicture(const std::string& path);

// The window of `picture` resized bilinearly to targetWidth x targetHeight,
// clipped to that size: what a reduction must produce.
cv::Mat expectedWindow(const cv::Mat& picture, int targetWidth, int targetHeight, cv::Rect window);

// True when the two pictures have the same size, type and pixels.
bool samePixels(const cv::Mat& a, const cv::Mat& b);

}  // namespace vellomar

#endif  // VELLOMAR_TESTS_SUPPORT_TEST_IMAGES_H_
