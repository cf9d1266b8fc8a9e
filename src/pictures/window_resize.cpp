#include "pictures/window_resize.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace vellomar {
namespace {

// The library's bilinear resize of 8-bit pictures works in fixed point:
// weights of 11 bits, rows resampled first and kept at 11 extra bits, then
// columns of two rows combined in 16-bit lanes.
constexpr int kWeightBits = 11;
constexpr int kOne = 1 << kWeightBits;

// Where an output column (or row) samples the picture: the neighbours
// `first` and `first + 1`, weighted `near` and `far` (fixed point) or, when
// `single`, `first` alone. Positions are the library's: centres aligned,
// computed in single precision.
struct Tap {
  int first;
  float weight;  // of `first + 1`
  short near;
  short far;
  bool single;
};

// Columns clamp both the neighbour and the weight at the picture's edges;
// rows clamp only the neighbours they read (`clampWeights` false).
std::vector<Tap> taps(cv::Range outputs, int sourceSize, int targetSize, bool clampWeights) {
  const double scale = 1.0 / (static_cast<double>(targetSize) / sourceSize);
  std::vector<Tap> result(static_cast<size_t>(outputs.size()));
  for (int i = 0; i < outputs.size(); ++i) {
    float f = static_cast<float>((outputs.start + i + 0.5) * scale - 0.5);
    int s = static_cast<int>(std::floor(f));
    f -= static_cast<float>(s);
    bool single = false;
    if (clampWeights) {
      if (s < 0) {
        f = 0;
        s = 0;
      }
      if (s >= sourceSize - 1) {
        single = true;
        f = 0;
        s = sourceSize - 1;
      }
    }
    result[static_cast<size_t>(i)] = {s, f, cv::saturate_cast<short>((1.f - f) * kOne),
                                      cv::saturate_cast<short>(f * kOne), single};
  }
  return result;
}

// A column's two neighbours as offsets into a row of `part`, with their
// weights; a single neighbour is read twice, the second time weighted 0.
struct ColumnTap {
  int first;
  int second;
  int near;
  int far;
};

std::vector<ColumnTap> columnTaps(const std::vector<Tap>& columns, int originX, int channels) {
  std::vector<ColumnTap> result;
  result.reserve(columns.size());
  for (const Tap& tap : columns) {
    const int first = (tap.first - originX) * channels;
    result.push_back(tap.single ? ColumnTap{first, first, kOne, 0}
                                : ColumnTap{first, first + channels, tap.near, tap.far});
  }
  return result;
}

// One row of `part` resampled along the columns.
template <int kChannels>
void resampleRow(const uchar* __restrict row, const std::vector<ColumnTap>& columns,
                 int* __restrict out) {
  const ColumnTap* __restrict tap = columns.data();
  for (size_t x = 0; x < columns.size(); ++x, out += kChannels) {
    const uchar* first = row + tap[x].first;
    const uchar* second = row + tap[x].second;
    const int near = tap[x].near, far = tap[x].far;
    for (int c = 0; c < kChannels; ++c) out[c] = first[c] * near + second[c] * far;
  }
}

void resampleRow(const uchar* row, const std::vector<ColumnTap>& columns, int channels,
                 std::vector<int>& out) {
  switch (channels) {
    case 1: resampleRow<1>(row, columns, out.data()); break;
    case 3: resampleRow<3>(row, columns, out.data()); break;
    case 4: resampleRow<4>(row, columns, out.data()); break;
    default: {
      int* target = out.data();
      for (const ColumnTap& tap : columns) {
        for (int c = 0; c < channels; ++c) {
          *target++ = row[tap.first + c] * tap.near + row[tap.second + c] * tap.far;
        }
      }
    }
  }
}

// Two resampled rows combined as the library's vector code does it: each
// row's value (at most 255 << 11) shifted down to 16 bits, multiplied by its
// weight keeping the high 16 bits of the product, the two added and rounded
// off by two more bits. No step can leave its 16-bit lane.
void combineRows(const int* __restrict upper, const int* __restrict lower, int near, int far,
                 uchar* __restrict out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const int sum = (((upper[i] >> 4) * near) >> 16) + (((lower[i] >> 4) * far) >> 16);
    out[i] = static_cast<uchar>((sum + 2) >> 2);
  }
}

template <typename T>
void resampleAny(const cv::Mat& picture, const std::vector<Tap>& columns,
                 const std::vector<Tap>& rows, cv::Mat& out) {
  const int channels = picture.channels();
  for (size_t y = 0; y < rows.size(); ++y) {
    const int first = std::clamp(rows[y].first, 0, picture.rows - 1);
    const int second = std::clamp(rows[y].first + 1, 0, picture.rows - 1);
    const T* top = picture.ptr<T>(first);
    const T* bottom = picture.ptr<T>(second);
    const double wy = rows[y].weight;
    T* target = out.ptr<T>(static_cast<int>(y));
    for (size_t x = 0; x < columns.size(); ++x) {
      const Tap& column = columns[x];
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

cv::Mat exactWindow(const PictureRows& row, int originX, int channels, cv::Size pictureSize,
                    cv::Size box, cv::Rect window) {
  const auto columns =
      columnTaps(taps({window.x, window.x + window.width}, pictureSize.width, box.width, true),
                 originX, channels);
  const auto rows =
      taps({window.y, window.y + window.height}, pictureSize.height, box.height, false);
  cv::Mat out(window.height, window.width, CV_8UC(channels));
  const size_t width = columns.size() * static_cast<size_t>(channels);
  std::vector<int> upper(width), lower(width);
  int upperRow = -1, lowerRow = -1;
  for (size_t y = 0; y < rows.size(); ++y) {
    const Tap& tap = rows[y];
    const int first = std::clamp(tap.first, 0, pictureSize.height - 1);
    const int second = std::clamp(tap.first + 1, 0, pictureSize.height - 1);
    if (first == lowerRow) {
      std::swap(upper, lower);
      std::swap(upperRow, lowerRow);
    }
    if (first != upperRow) {
      resampleRow(row(first), columns, channels, upper);
      upperRow = first;
    }
    if (second != lowerRow) {
      resampleRow(row(second), columns, channels, lower);
      lowerRow = second;
    }
    combineRows(upper.data(), lower.data(), tap.near, tap.far, out.ptr<uchar>(static_cast<int>(y)),
                width);
  }
  return out;
}

// The origin is a point and the two sizes are the library's own kinds, which
// convert into each other: no wrapper would make them harder to swap.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
cv::Mat exactWindow(const cv::Mat& part, cv::Point origin, cv::Size pictureSize, cv::Size box,
                    cv::Rect window) {
  return exactWindow([&](int y) { return part.ptr<uchar>(y - origin.y); }, origin.x,
                     part.channels(), pictureSize, box, window);
}

}  // namespace

bool isHalving(cv::Size picture, cv::Size box) {
  return picture.width == 2 * box.width && picture.height == 2 * box.height;
}

cv::Mat resizeWindowOfRows(const PictureRows& row, int originX, int channels, cv::Size pictureSize,
                           cv::Size box, cv::Rect window) {
  return exactWindow(row, originX, channels, pictureSize, box, window);
}

cv::Rect sourcesOfWindow(cv::Size pictureSize, cv::Size box, cv::Rect window) {
  if (isHalving(pictureSize, box)) {
    return {2 * window.x, 2 * window.y, 2 * window.width, 2 * window.height};
  }
  const auto columns =
      taps({window.x, window.x + window.width}, pictureSize.width, box.width, true);
  const auto rows =
      taps({window.y, window.y + window.height}, pictureSize.height, box.height, false);
  const int left = columns.front().first;
  const int right = std::min(columns.back().first + 1, pictureSize.width - 1);
  const int top = std::clamp(rows.front().first, 0, pictureSize.height - 1);
  const int bottom = std::clamp(rows.back().first + 1, 0, pictureSize.height - 1);
  return {left, top, right - left + 1, bottom - top + 1};
}

cv::Mat resizeWindowOfPart(const cv::Mat& part, cv::Point origin, cv::Size pictureSize,
                           cv::Size box, cv::Rect window) {
  if (isHalving(pictureSize, box)) {
    // Each 2 x 2 block stands alone, so the window's blocks give its pixels.
    cv::Mat out;
    const cv::Rect blocks(2 * window.x - origin.x, 2 * window.y - origin.y, 2 * window.width,
                          2 * window.height);
    cv::resize(part(blocks), out, window.size(), 0, 0, cv::INTER_LINEAR);
    return out;
  }
  return exactWindow(part, origin, pictureSize, box, window);
}

cv::Mat resizeWindow(const cv::Mat& picture, cv::Size box, cv::Rect window) {
  if (isHalving(picture.size(), box) || (picture.depth() == CV_8U && windowResizeIsExact())) {
    return resizeWindowOfPart(picture, {0, 0}, picture.size(), box, window);
  }
  const auto columns = taps({window.x, window.x + window.width}, picture.cols, box.width, true);
  const auto rows = taps({window.y, window.y + window.height}, picture.rows, box.height, false);
  cv::Mat out(window.height, window.width, picture.type());
  switch (picture.depth()) {
    case CV_8U: resampleAny<uchar>(picture, columns, rows, out); break;
    case CV_8S: resampleAny<schar>(picture, columns, rows, out); break;
    case CV_16U: resampleAny<ushort>(picture, columns, rows, out); break;
    case CV_16S: resampleAny<short>(picture, columns, rows, out); break;
    case CV_32S: resampleAny<int>(picture, columns, rows, out); break;
    case CV_32F: resampleAny<float>(picture, columns, rows, out); break;
    default: resampleAny<double>(picture, columns, rows, out); break;
  }
  return out;
}

bool windowResizeIsExact() {
  static const bool exact = [] {
    cv::RNG rng(20261207);
    const struct {
      cv::Size picture, box;
      cv::Rect window;
      int channels;
    } cases[] = {
        {{37, 29}, {11, 9}, {2, 3, 8, 6}, 3},      {{23, 31}, {71, 53}, {0, 40, 71, 13}, 1},
        {{64, 48}, {63, 47}, {30, 20, 33, 27}, 3}, {{5, 90}, {40, 7}, {35, 0, 5, 7}, 1},
        {{300, 2}, {17, 33}, {0, 0, 17, 33}, 3},
    };
    for (const auto& c : cases) {
      cv::Mat picture(c.picture, CV_8UC(c.channels)), whole;
      rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
      cv::resize(picture, whole, c.box, 0, 0, cv::INTER_LINEAR);
      const cv::Mat window = exactWindow(picture, {0, 0}, c.picture, c.box, c.window);
      if (cv::norm(window, whole(c.window), cv::NORM_INF) != 0) return false;
    }
    return true;
  }();
  return exact;
}

}  // namespace vellomar
