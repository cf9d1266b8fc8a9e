#ifndef VELLOMAR_PICTURES_AREA_AVERAGE_H_
#define VELLOMAR_PICTURES_AREA_AVERAGE_H_

// A picture averaged over cells: each cell the mean of the picture over its
// rectangle of picture coordinates, a pixel x covering [x, x + 1), pixels the
// cell covers in part weighed by how much of them it covers. The picture's
// rows are taken one by one, in order, as a decoder gives them; only the
// cells, and the few rows of them still being summed, are held.

#include <deque>
#include <opencv2/core.hpp>
#include <vector>

namespace vellomar {

// [begin, end) of picture coordinates along one axis.
struct Span {
  double begin = 0;
  double end = 0;
};

class AreaAverage {
 public:
  // Cells of `columns` across and `rows` down (each list in increasing
  // order), over a picture of 8-bit pixels with `channels` channels (1 to 4)
  // whose rows are given from column `firstColumn` on, `columnCount` of them.
  AreaAverage(const std::vector<Span>& columns, const std::vector<Span>& rows, int channels,
              int firstColumn, int columnCount);

  // Takes picture row `y` (rows in increasing order; any may be left out
  // where no cell reads it).
  void add(int y, const unsigned char* row);

  // The cells' means, rounded (8-bit, `channels` channels); `covered` is 255
  // where the picture rows and columns given cover at least half the cell.
  // Ends the averaging.
  cv::Mat finish(cv::Mat* covered = nullptr);

 private:
  void complete();  // the first cell row not complete: no later picture row reaches it

  int taps_ = 0;                     // pixels each cell column reads
  std::vector<int> first_;           // for each cell column: its first pixel, from firstColumn
  std::vector<float> weights_;       // taps_ for each cell column
  std::vector<float> inverseCover_;  // for each cell value: 1 / its column's weight; 0 for none
  std::vector<unsigned char> columnCovered_;  // 255 where half a cell column is covered
  std::vector<Span> rows_;
  std::vector<double> rowCover_;  // what rows have added to each cell row
  int channels_;
  int width_;            // pixels of a picture row
  bool copies_ = false;  // each cell is a pixel: rows are copied
  size_t done_ = 0;      // cell rows before it are complete
  std::deque<std::vector<float>>
      sums_;  // picture rows summed down, for the cell rows from done_ on
  std::vector<std::vector<float>> spare_;
  std::vector<float> line_;  // a cell row summed across
  cv::Mat means_;
  std::vector<unsigned char> rowCovered_;  // 255 where half a cell row is covered
};

// The spans of `count` cells of `size` from `origin` on, scaled by `factor`
// into picture coordinates; a span narrower than `least` widened to it
// about its middle.
std::vector<Span> cellSpans(double origin, double size, int count, double factor, double least);

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_AREA_AVERAGE_H_
