#ifndef VELLOMAR_PROOF_PAGE_DRAWING_H_
#define VELLOMAR_PROOF_PAGE_DRAWING_H_

// Drawing a page of a book as it will print: each picture scaled to its box,
// turned by the box's rotation about the box's position point, and seen only
// through its mask box, which lies along the box's axes with its corner at the
// mask's position point. The geometry is the tool's own (ElementGeometry, as
// read and placed for cutting windows), so that a drawing of the source book
// and one of the prepared book agree wherever the tool did its work right.

#include <functional>
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

// The map from pixel coordinates of a `pictureSize` picture (pixel centres at
// integers) to page units, for the picture scaled to the box of `geometry`.
cv::Matx23d pictureToPage(const ElementGeometry& geometry, cv::Size pictureSize);

// A picture drawn as an element, to be laid on its page: the pixels of the
// canvas it may touch, and what its mask lets be seen of them.
struct DrawnPicture {
  cv::Rect area;    // of the canvas; empty when nothing is seen
  cv::Mat pixels;   // 8-bit BGR, of the area's size
  cv::Mat visible;  // 8-bit, one channel, 255 where seen
};

// How far down its picture the mask of `geometry` shows it: the part of the
// picture's height (0 to 1) above the lowest point seen.
double shownDepth(const ElementGeometry& geometry);

// Draws `picture` (8-bit BGR: a picture of `fullSize` pixels, at that size
// or smaller) as the element of `geometry` on `canvas`. A picture of more
// than twice the pixels it is drawn with is averaged down to them first.
DrawnPicture drawPicture(const cv::Mat& picture, cv::Size fullSize, const ElementGeometry& geometry,
                         const Canvas& canvas);

// Lays `drawn` onto `page` (8-bit BGR, of the canvas's size) and marks what
// it lets be seen in `seen` (8-bit, one channel).
void layPicture(const DrawnPicture& drawn, cv::Mat& page, cv::Mat& seen);

// Draws the box of `geometry` outlined with `lines` written inside: crossed
// when the element's picture cannot be shown, plain for a source that is not
// a file of the book (a web address, "default").
void drawBox(const ElementGeometry& geometry, const std::vector<std::string>& lines, bool crossed,
             const Canvas& canvas, cv::Mat& page);

// A picture to draw and to measure: a copy of the whole of it at its size or
// smaller, to draw and to look for detail in, and its pixels at full size
// region by region, to measure.
struct ShownPicture {
  cv::Mat pixels;                           // 8-bit BGR
  cv::Size size;                            // the picture's full size
  std::function<cv::Mat(cv::Rect)> region;  // 8-bit BGR, at full size, within the picture
};

// How far, in pixels of `after`, the picture `after` drawn as `afterGeometry`
// lies from `before` drawn as `beforeGeometry` on the page: the shift that
// best aligns a piece of `after` (at full size) with what `before` shows at
// the same page place, to a tenth of a pixel. Negative when no alignment
// within `searchPixels` is found (the pictures are not of the same thing).
// Of `before`, only its size and regions are read.
double misplacement(const ShownPicture& before, const ElementGeometry& beforeGeometry,
                    const ShownPicture& after, const ElementGeometry& afterGeometry,
                    int searchPixels);

}  // namespace vellomar

#endif  // VELLOMAR_PROOF_PAGE_DRAWING_H_
