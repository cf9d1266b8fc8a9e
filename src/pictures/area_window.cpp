#include "pictures/area_window.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace vellomar {

bool reducesBothWays(cv::Size size, cv::Size box) {
  return box.width > 0 && box.height > 0 && box.width <= size.width && box.height <= size.height;
}

std::pair<std::vector<Span>, std::vector<Span>> windowFootprints(cv::Size size, cv::Size box,
                                                                 const cv::Rect& window,
                                                                 int denominator) {
  const double across = static_cast<double>(size.width) / box.width / denominator;
  const double down = static_cast<double>(size.height) / box.height / denominator;
  return {cellSpans(window.x, 1, window.width, across, 1.0 / denominator),
          cellSpans(window.y, 1, window.height, down, 1.0 / denominator)};
}

int shrinkOnLoad(cv::Size size, cv::Size box) {
  int denominator = 1;
  while (denominator < 8 &&
         (size.width + 2 * denominator - 1) / (2 * denominator) >= 2 * box.width &&
         (size.height + 2 * denominator - 1) / (2 * denominator) >= 2 * box.height) {
    denominator *= 2;
  }
  return denominator;
}

void premultiply(const unsigned char* row, int pixels, unsigned char* into) {
  for (int x = 0; x < pixels; ++x, row += 4, into += 4) {
    const int alpha = row[3];
    for (int c = 0; c < 3; ++c) into[c] = static_cast<unsigned char>((row[c] * alpha + 127) / 255);
    into[3] = row[3];
  }
}

void unpremultiply(cv::Mat& pixels) {
  for (int y = 0; y < pixels.rows; ++y) {
    auto* p = pixels.ptr<unsigned char>(y);
    for (int x = 0; x < pixels.cols; ++x, p += 4) {
      const int alpha = p[3];
      for (int c = 0; c < 3; ++c) {
        p[c] = alpha == 0
                   ? 0
                   : static_cast<unsigned char>(std::min(255, (p[c] * 255 + alpha / 2) / alpha));
      }
    }
  }
}

cv::Mat areaWindow(const cv::Mat& picture, cv::Size box, const cv::Rect& window, bool ink) {
  const int channels = picture.channels();
  if (picture.depth() != CV_8U || (channels != 1 && channels != 3 && channels != 4)) return {};
  const auto [columns, rows] = windowFootprints(picture.size(), box, window, 1);
  if (columns.empty() || rows.empty()) return {};
  // Only the part of the picture under the window is read.
  const auto from = [](double at, int extent) {
    return std::clamp(static_cast<int>(std::floor(at)), 0, extent);
  };
  const auto to = [](double at, int extent) {
    return std::clamp(static_cast<int>(std::ceil(at)), 0, extent);
  };
  const int left = from(columns.front().begin, picture.cols);
  const int width = to(columns.back().end, picture.cols) - left;
  AreaAverage average(columns, rows, channels, left, width);
  const bool alpha = channels == 4 && !ink;
  std::vector<unsigned char> weighed(alpha ? static_cast<size_t>(width) * 4 : 0);
  for (int y = from(rows.front().begin, picture.rows); y < to(rows.back().end, picture.rows); ++y) {
    const unsigned char* row = picture.ptr<unsigned char>(y) + static_cast<size_t>(left) * channels;
    if (alpha) {
      premultiply(row, width, weighed.data());
      row = weighed.data();
    }
    average.add(y, row);
  }
  cv::Mat pixels = average.finish();
  if (alpha) unpremultiply(pixels);
  return pixels;
}

cv::Mat areaResized(const cv::Mat& picture, cv::Size box, bool ink) {
  const int channels = picture.channels();
  if (channels != 1 && channels != 3 && channels != 4) return {};
  cv::Mat resized;
  if (channels != 4 || ink) {
    cv::resize(picture, resized, box, 0, 0, cv::INTER_AREA);
    return resized;
  }
  // The colour weighed by the alpha, in floating point, and back.
  const double full = picture.depth() == CV_16U ? 65535 : picture.depth() == CV_8U ? 255 : 1;
  cv::Mat weighed;
  picture.convertTo(weighed, CV_32F);
  std::vector<cv::Mat> planes;
  cv::split(weighed, planes);
  for (int c = 0; c < 3; ++c) cv::multiply(planes[c], planes[3], planes[c], 1 / full);
  cv::merge(planes, weighed);
  cv::resize(weighed, resized, box, 0, 0, cv::INTER_AREA);
  cv::split(resized, planes);
  for (int c = 0; c < 3; ++c) {
    cv::divide(planes[c], planes[3], planes[c], full);
    planes[c].setTo(0, planes[3] <= 0);
  }
  cv::merge(planes, resized);
  resized.convertTo(resized, picture.depth());
  return resized;
}

}  // namespace vellomar
