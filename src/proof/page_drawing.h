#ifndef VELLOMAR_PROOF_PAGE_DRAWING_H_
#define VELLOMAR_PROOF_PAGE_DRAWING_H_

// Drawing a page of a book as it will print: each picture scaled to its box,
// turned by the box's rotation about the box's position point, and seen only
// through its mask box, which lies along the box's axes with its corner at the
// mask's position point. The geometry is the tool's own (ElementGeometry, as
// read and placed for cutting windows), so that a drawing of the source book
// and one of the prepared book agree wherever the tool did its work right.

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "plan/element_geometry.h"

namespace vellomar {

// Where a page is drawn: page units from `origin` on, `pixelsPerUnit` canvas
// pixels to a page unit.
struct Canvas {
  cv::Point2d origin;
  double pixelsPerUnit = 1;
  cv::Size size;
};

// The page-unit corners of the picture box of `geometry` (placed), turned.
std::vector<cv::Point2d> boxCorners(const ElementGeometry& geometry);
// The same for the mask box.
std::vector<cv::Point2d> maskCorners(const ElementGeometry& geometry);

// The canvas holding every point of `corners` (page units), its long side
// `longSide` pixels; a canvas of longSide x longSide over the unit square when
// there are no points or they span nothing.
Canvas canvasAround(const std::vector<cv::Point2d>& corners, int longSide);

// The map from the cells of `grid` (their centres at integers) to page units,
// for the grid laid over the box of `geometry`.
cv::Matx23d cellsToPage(const ElementGeometry& geometry, const CellGrid& grid);

// A picture drawn as an element, to be laid on its page: the pixels of the
// canvas it may touch, and what its mask lets be seen of them.
struct DrawnPicture {
  cv::Rect area;    // of the canvas; empty when nothing is seen
  cv::Mat pixels;   // 8-bit BGR, of the area's size
  cv::Mat visible;  // 8-bit, one channel, 255 where seen
};

// Draws the cells of `grid` laid over the box of the element of `geometry`
// (8-bit BGR, `covered` 255 where they hold the picture) on `canvas`,
// seen through the element's mask.
DrawnPicture drawCells(const cv::Mat& cells, const cv::Mat& covered, const CellGrid& grid,
                       const ElementGeometry& geometry, const Canvas& canvas);

// Lays `drawn` onto `page` (8-bit BGR, of the canvas's size) and marks what
// it lets be seen in `seen` (8-bit, one channel).
void layPicture(const DrawnPicture& drawn, cv::Mat& page, cv::Mat& seen);

// Draws the box of `geometry` outlined with `lines` written inside: crossed
// when the element's picture cannot be shown, plain for a source that is not
// a file of the book (a web address, "default").
void drawBox(const ElementGeometry& geometry, const std::vector<std::string>& lines, bool crossed,
             const Canvas& canvas, cv::Mat& page);

}  // namespace vellomar

#endif  // VELLOMAR_PROOF_PAGE_DRAWING_H_
