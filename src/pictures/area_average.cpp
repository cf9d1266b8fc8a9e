#include "pictures/area_average.h"

#include <algorithm>
#include <cmath>

namespace vellomar {
namespace {

// How much of [at, at + 1) the span covers.
double overlap(const Span& span, int at) {
  return std::max(0.0,
                  std::min(span.end, at + 1.0) - std::max(span.begin, static_cast<double>(at)));
}

// Sums each cell column's pixels of `sums` (a row of picture pixels summed
// down), weighed, into `line`: `taps` pixels from `first` on for each
// (kTaps of them when it is not 0).
template <int kChannels, int kTaps>
void sumColumns(const float* sums, const std::vector<int>& first, int taps,
                const std::vector<float>& weights, float* line) {
  const int count = kTaps > 0 ? kTaps : taps;
  for (size_t i = 0; i < first.size(); ++i) {
    const float* pixel = sums + static_cast<size_t>(first[i]) * kChannels;
    const float* weight = weights.data() + i * static_cast<size_t>(count);
    float sum[kChannels] = {};
    for (int k = 0; k < count; ++k, pixel += kChannels) {
      for (int c = 0; c < kChannels; ++c) sum[c] += weight[k] * pixel[c];
    }
    for (int c = 0; c < kChannels; ++c) line[i * kChannels + c] = sum[c];
  }
}

template <int kChannels>
void sumColumns(const float* sums, const std::vector<int>& first, int taps,
                const std::vector<float>& weights, float* line) {
  switch (taps) {
    case 1: sumColumns<kChannels, 1>(sums, first, taps, weights, line); break;
    case 2: sumColumns<kChannels, 2>(sums, first, taps, weights, line); break;
    case 3: sumColumns<kChannels, 3>(sums, first, taps, weights, line); break;
    case 4: sumColumns<kChannels, 4>(sums, first, taps, weights, line); break;
    case 5: sumColumns<kChannels, 5>(sums, first, taps, weights, line); break;
    default: sumColumns<kChannels, 0>(sums, first, taps, weights, line); break;
  }
}

}  // namespace

std::vector<Span> cellSpans(double origin, double size, int count, double factor, double least) {
  std::vector<Span> spans;
  spans.reserve(static_cast<size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    Span span{(origin + i * size) * factor, (origin + (i + 1) * size) * factor};
    if (span.end - span.begin < least) {
      const double middle = (span.begin + span.end) / 2;
      span = {middle - least / 2, middle + least / 2};
    }
    spans.push_back(span);
  }
  return spans;
}

AreaAverage::AreaAverage(const std::vector<Span>& columns, const std::vector<Span>& rows,
                         int channels, int firstColumn, int columnCount)
    : rows_(rows),
      rowCover_(rows.size(), 0.0),
      channels_(std::clamp(channels, 1, 4)),
      width_(std::max(columnCount, 0)),
      means_(static_cast<int>(rows.size()), static_cast<int>(columns.size()),
             CV_8UC(std::clamp(channels, 1, 4))),  // each row written once: complete, or zero
      rowCovered_(rows.size(), 0) {
  // Every cell column reads as many pixels, the widest's: the others' weights
  // padded with zeros, before them near the row's end and after them
  // elsewhere.
  std::vector<std::pair<int, int>> reaches;  // [from, to) of each column
  for (const Span& column : columns) {
    const int from = std::max(firstColumn, static_cast<int>(std::floor(column.begin)));
    const int to = std::min(firstColumn + width_, static_cast<int>(std::ceil(column.end)));
    reaches.emplace_back(from, std::max(from, to));
    taps_ = std::max(taps_, to - from);
  }
  taps_ = std::min(taps_, width_);
  for (size_t i = 0; i < columns.size(); ++i) {
    const auto [from, to] = reaches[i];
    const int start = std::max(firstColumn, std::min(from, firstColumn + width_ - taps_));
    first_.push_back(start - firstColumn);
    double cover = 0;
    for (int x = start; x < start + taps_; ++x) {
      const double weight = x >= from && x < to ? overlap(columns[i], x) : 0.0;
      weights_.push_back(static_cast<float>(weight));
      cover += weight;
    }
    const float inverse = cover > 0 ? static_cast<float>(1 / cover) : 0.0f;
    inverseCover_.insert(inverseCover_.end(), static_cast<size_t>(channels_), inverse);
    columnCovered_.push_back(cover > 0 && cover >= 0.5 * (columns[i].end - columns[i].begin) ? 255
                                                                                             : 0);
  }
  line_.resize(columns.size() * static_cast<size_t>(channels_));
  // Cells that are the pixels themselves, one for one.
  copies_ = taps_ == 1 && !rows.empty();
  for (size_t i = 0; copies_ && i < columns.size(); ++i) {
    copies_ = weights_[i] == 1 && first_[i] == first_[0] + static_cast<int>(i) &&
              columns[i].end - columns[i].begin == 1;
  }
  for (size_t j = 0; copies_ && j < rows.size(); ++j) {
    copies_ = rows[j].begin == std::floor(rows[0].begin) + static_cast<double>(j) &&
              rows[j].end == rows[j].begin + 1;
  }
}

void AreaAverage::add(int y, const unsigned char* row) {
  if (copies_) {
    const double j = y - rows_.front().begin;
    if (j >= 0 && j < static_cast<double>(rows_.size())) {
      const int cellRow = static_cast<int>(j);
      std::copy(row + static_cast<size_t>(first_.front()) * channels_,
                row + (static_cast<size_t>(first_.front()) + first_.size()) * channels_,
                means_.ptr<unsigned char>(cellRow));
      rowCovered_[static_cast<size_t>(cellRow)] = 255;
    }
    return;
  }
  // Cells lie in order down the picture: those above this row are complete.
  while (done_ < rows_.size() && rows_[done_].end <= y) complete();
  const size_t values = static_cast<size_t>(width_) * static_cast<size_t>(channels_);
  // Down first: the row weighed into each cell row it reaches.
  for (size_t j = done_; j < rows_.size() && rows_[j].begin < y + 1.0; ++j) {
    const double weight = overlap(rows_[j], y);
    if (weight <= 0) continue;
    rowCover_[j] += weight;
    while (sums_.size() <= j - done_) {
      if (spare_.empty()) spare_.emplace_back(values);
      sums_.push_back(std::move(spare_.back()));
      spare_.pop_back();
      std::fill(sums_.back().begin(), sums_.back().end(), 0.0f);
    }
    float* sums = sums_[j - done_].data();
    const auto w = static_cast<float>(weight);
    for (size_t k = 0; k < values; ++k) sums[k] += w * static_cast<float>(row[k]);
  }
}

void AreaAverage::complete() {
  const size_t cellRow = done_++;
  if (sums_.empty()) {  // no picture row reached it
    means_.row(static_cast<int>(cellRow)).setTo(cv::Scalar::all(0));
    return;
  }
  // Then across, once for the cell row.
  std::vector<float>& sums = sums_.front();
  switch (channels_) {
    case 1: sumColumns<1>(sums.data(), first_, taps_, weights_, line_.data()); break;
    case 2: sumColumns<2>(sums.data(), first_, taps_, weights_, line_.data()); break;
    case 3: sumColumns<3>(sums.data(), first_, taps_, weights_, line_.data()); break;
    default: sumColumns<4>(sums.data(), first_, taps_, weights_, line_.data()); break;
  }
  const double down = rowCover_[cellRow];
  const float inverseDown = down > 0 ? static_cast<float>(1 / down) : 0.0f;
  for (size_t k = 0; k < line_.size(); ++k) line_[k] *= inverseCover_[k] * inverseDown;
  cv::Mat(1, static_cast<int>(line_.size()), CV_32F, line_.data())
      .convertTo(cv::Mat(1, static_cast<int>(line_.size()), CV_8U,
                         means_.ptr<unsigned char>(static_cast<int>(cellRow))),
                 CV_8U);
  const Span& span = rows_[cellRow];
  if (down >= 0.5 * (span.end - span.begin)) rowCovered_[cellRow] = 255;
  spare_.push_back(std::move(sums));
  sums_.pop_front();
}

cv::Mat AreaAverage::finish(cv::Mat* covered) {
  while (!copies_ && done_ < rows_.size()) complete();
  for (size_t y = 0; copies_ && y < rows_.size(); ++y) {
    if (rowCovered_[y] == 0) means_.row(static_cast<int>(y)).setTo(cv::Scalar::all(0));
  }
  if (covered != nullptr) {
    // Covered where both its row and its column are.
    *covered = cv::Mat::zeros(means_.size(), CV_8U);
    for (int y = 0; y < covered->rows; ++y) {
      if (rowCovered_[static_cast<size_t>(y)] != 0) {
        std::copy(columnCovered_.begin(), columnCovered_.end(), covered->ptr<unsigned char>(y));
      }
    }
  }
  return means_;
}

}  // namespace vellomar
