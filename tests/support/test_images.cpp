#include "support/test_images.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace vellomar {

cv::Mat makePicture(int width, int height, int type) {
  const int depth = CV_MAT_DEPTH(type);
  const double top = depth == CV_16U ? 65535.0 : 255.0;
  cv::Mat picture(height, width, CV_MAKETYPE(CV_64F, CV_MAT_CN(type)));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double* pixel = picture.ptr<double>(y) + x * picture.channels();
      for (int c = 0; c < picture.channels(); ++c) {
        const double wave = ((x * (c + 3) + y * (7 - c)) % 97) / 96.0;
        const bool block = ((x / 5 + y / 3 + c) % 4) == 0;
        pixel[c] = top * (block ? 1.0 - wave : wave * 0.8);
      }
    }
  }
  cv::Mat converted;
  picture.convertTo(converted, type);
  return converted;
}

void writePicture(const std::string& path, const cv::Mat& picture) {
  if (!cv::imwrite(path, picture)) ADD_FAILURE() << "cannot write " << path;
}

cv::Mat readPicture(const std::string& path) { return cv::imread(path, cv::IMREAD_UNCHANGED); }

cv::Mat expectedWindow(const cv::Mat& picture, int targetWidth, int targetHeight,
                       cv::Rect window) {
  cv::Mat scaled;
  cv::resize(picture, scaled, cv::Size(targetWidth, targetHeight), 0, 0, cv::INTER_LINEAR);
  return scaled(window & cv::Rect(0, 0, targetWidth, targetHeight)).clone();
}

bool samePixels(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size() || a.type() != b.type()) return false;
  return cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace vellomar
