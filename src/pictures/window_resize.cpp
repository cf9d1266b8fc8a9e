#include "pictures/window_resize.h"

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace vellomar {
namespace {

// Where an output column (or row) samples the picture: the two neighbours
// `first` and `first + 1` weighted 1 - `weight` and `weight`. The mapping and
// its clamping at the edges are the library's: centres aligned, the weight
// computed in single precision, and no second neighbour past the last one.
struct Sample {
  int first;
  float weight;
  bool single;  // only `first` counts
};

std::vector<Sample> samples(int from, int count, int sourceSize, int targetSize) {
  const double scale = 1.0 / (static_cast<double>(targetSize) / sourceSize);
  std::vector<Sample> result(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    float f = static_cast<float>((from + i + 0.5) * scale - 0.5);
    int s = static_cast<int>(std::floor(f));
    f -= static_cast<float>(s);
    if (s < 0) {
      f = 0;
      s = 0;
    }
    const bool single = s + 1 >= sourceSize;
    if (s >= sourceSize - 1) {
      f = 0;
      s = sourceSize - 1;
    }
    result[static_cast<size_t>(i)] = {s, f, single};
  }
  return result;
}

template <typename T>
void resample(const cv::Mat& picture, const std::vector<Sample>& columns,
              const std::vector<Sample>& rows, cv::Mat& out) {
  const int channels = picture.channels();
  for (size_t y = 0; y < rows.size(); ++y) {
    const Sample& row = rows[y];
    const T* top = picture.ptr<T>(row.first);
    const T* bottom = row.single ? top : picture.ptr<T>(row.first + 1);
    const double wy = row.weight;
    T* target = out.ptr<T>(static_cast<int>(y));
    for (size_t x = 0; x < columns.size(); ++x) {
      const Sample& column = columns[x];
      const int left = column.first * channels;
      const int right = column.single ? left : left + channels;
      const double wx = column.weight;
      for (int c = 0; c < channels; ++c) {
        const double upper = (1 - wx) * top[left + c] + wx * top[right + c];
        const double lower = (1 - wx) * bottom[left + c] + wx * bottom[right + c];
        target[x * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
            cv::saturate_cast<T>((1 - wy) * upper + wy * lower);
      }
    }
  }
}

}  // namespace

cv::Mat resizeWindow(const cv::Mat& picture, cv::Size box, cv::Rect window) {
  // An exact halving is averaged over 2 x 2 blocks by the library; each block
  // stands alone, so the window's blocks give exactly its pixels.
  if (picture.cols == 2 * box.width && picture.rows == 2 * box.height) {
    cv::Mat out;
    cv::resize(picture(cv::Rect(2 * window.x, 2 * window.y, 2 * window.width, 2 * window.height)),
               out, window.size(), 0, 0, cv::INTER_LINEAR);
    return out;
  }
  const auto columns = samples(window.x, window.width, picture.cols, box.width);
  const auto rows = samples(window.y, window.height, picture.rows, box.height);
  cv::Mat out(window.height, window.width, picture.type());
  switch (picture.depth()) {
    case CV_8U: resample<uchar>(picture, columns, rows, out); break;
    case CV_8S: resample<schar>(picture, columns, rows, out); break;
    case CV_16U: resample<ushort>(picture, columns, rows, out); break;
    case CV_16S: resample<short>(picture, columns, rows, out); break;
    case CV_32S: resample<int>(picture, columns, rows, out); break;
    case CV_32F: resample<float>(picture, columns, rows, out); break;
    default: resample<double>(picture, columns, rows, out); break;
  }
  return out;
}

}  // namespace vellomar
