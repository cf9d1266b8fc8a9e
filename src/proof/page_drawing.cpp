#include "proof/page_drawing.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace vellomar {
namespace {

// The box's turn, as the tool places windows: the page offset (x, y) along
// the box's own axes lies at this vector from the box's position point.
cv::Point2d turned(const ElementGeometry& geometry, double x, double y) {
  const double c = std::cos(geometry.angle), s = std::sin(geometry.angle);
  return {x * c - y * s, x * s + y * c};
}

std::vector<cv::Point2d> rectangle(const ElementGeometry& geometry, cv::Point2d corner,
                                   double width, double height) {
  return {corner, corner + turned(geometry, width, 0), corner + turned(geometry, width, height),
          corner + turned(geometry, 0, height)};
}

// Page units to canvas pixel coordinates, pixel centres at integers.
cv::Matx33d pageToCanvas(const Canvas& canvas) {
  const double k = canvas.pixelsPerUnit;
  return {k, 0, -canvas.origin.x * k - 0.5, 0, k, -canvas.origin.y * k - 0.5, 0, 0, 1};
}

cv::Matx33d full(const cv::Matx23d& affine) {
  return {
      affine(0, 0), affine(0, 1), affine(0, 2), affine(1, 0), affine(1, 1), affine(1, 2), 0, 0, 1};
}

cv::Matx23d part(const cv::Matx33d& m) {
  return {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2)};
}

// The polygon of `corners` (page units) filled into `into` at 255, by the
// centres of its pixels; `offset` is the canvas place of into's first pixel.
void fillCorners(const std::vector<cv::Point2d>& corners, const Canvas& canvas, cv::Point offset,
                 cv::Mat& into) {
  constexpr int kShift = 8;  // fractional bits of the points
  std::vector<cv::Point> points;
  const cv::Matx33d toCanvas = pageToCanvas(canvas);
  for (const cv::Point2d& corner : corners) {
    const cv::Vec3d p = toCanvas * cv::Vec3d(corner.x, corner.y, 1);
    points.emplace_back(static_cast<int>(std::lround((p[0] - offset.x) * (1 << kShift))),
                        static_cast<int>(std::lround((p[1] - offset.y) * (1 << kShift))));
  }
  cv::fillConvexPoly(into, points, cv::Scalar(255), cv::LINE_8, kShift);
}

// The canvas pixels that may be touched by `corners`.
cv::Rect canvasBounds(const std::vector<cv::Point2d>& corners, const Canvas& canvas) {
  const cv::Matx33d toCanvas = pageToCanvas(canvas);
  double left = HUGE_VAL, top = HUGE_VAL, right = -HUGE_VAL, bottom = -HUGE_VAL;
  for (const cv::Point2d& corner : corners) {
    const cv::Vec3d p = toCanvas * cv::Vec3d(corner.x, corner.y, 1);
    left = std::min(left, p[0]), right = std::max(right, p[0]);
    top = std::min(top, p[1]), bottom = std::max(bottom, p[1]);
  }
  if (!(left < right) || !(top < bottom)) return {};
  const cv::Rect2d bounds(left - 1, top - 1, right - left + 3, bottom - top + 3);
  const cv::Rect2d whole(0, 0, canvas.size.width, canvas.size.height);
  const cv::Rect2d clipped = bounds & whole;
  return cv::Rect(cv::Point(static_cast<int>(clipped.x), static_cast<int>(clipped.y)),
                  cv::Point(static_cast<int>(std::ceil(clipped.br().x)),
                            static_cast<int>(std::ceil(clipped.br().y))));
}

}  // namespace

std::vector<cv::Point2d> boxCorners(const ElementGeometry& geometry) {
  return rectangle(geometry, {geometry.boxX, geometry.boxY}, geometry.boxWidth, geometry.boxHeight);
}

std::vector<cv::Point2d> maskCorners(const ElementGeometry& geometry) {
  return rectangle(geometry, {geometry.maskX, geometry.maskY}, geometry.maskWidth,
                   geometry.maskHeight);
}

Canvas canvasAround(const std::vector<cv::Point2d>& corners, int longSide) {
  double left = HUGE_VAL, top = HUGE_VAL, right = -HUGE_VAL, bottom = -HUGE_VAL;
  for (const cv::Point2d& corner : corners) {
    if (!std::isfinite(corner.x) || !std::isfinite(corner.y)) continue;
    left = std::min(left, corner.x), right = std::max(right, corner.x);
    top = std::min(top, corner.y), bottom = std::max(bottom, corner.y);
  }
  Canvas canvas;
  if (!(left < right) && !(top < bottom)) {
    canvas.size = {longSide, longSide};
    canvas.pixelsPerUnit = longSide;
    return canvas;
  }
  const double width = std::max(right - left, 0.0), height = std::max(bottom - top, 0.0);
  canvas.origin = {left, top};
  canvas.pixelsPerUnit = longSide / std::max(width, height);
  canvas.size = {std::max(1, static_cast<int>(std::ceil(width * canvas.pixelsPerUnit))),
                 std::max(1, static_cast<int>(std::ceil(height * canvas.pixelsPerUnit)))};
  return canvas;
}

cv::Matx23d cellsToPage(const ElementGeometry& geometry, const CellGrid& grid) {
  const double sx = geometry.boxWidth / grid.boxWidth, sy = geometry.boxHeight / grid.boxHeight;
  const cv::Point2d across = turned(geometry, sx, 0), down = turned(geometry, 0, sy);
  const cv::Point2d first = turned(geometry, (grid.originX + 0.5) * sx, (grid.originY + 0.5) * sy);
  return {across.x, down.x, geometry.boxX + first.x, across.y, down.y, geometry.boxY + first.y};
}

DrawnPicture drawCells(const cv::Mat& cells, const cv::Mat& covered, const CellGrid& grid,
                       const ElementGeometry& geometry, const Canvas& canvas) {
  const std::vector<cv::Point2d> mask = maskCorners(geometry);
  const cv::Rect area = canvasBounds(mask, canvas);
  if (area.empty() || cells.empty()) return {};
  // Cells much finer than the canvas are averaged down to about its pixels
  // first, so that the drawing shows them as the eye would.
  cv::Mat drawn = cells, seen = covered;
  CellGrid shown = grid;
  const double across = std::abs(geometry.boxWidth) * canvas.pixelsPerUnit / grid.boxWidth;
  const double down = std::abs(geometry.boxHeight) * canvas.pixelsPerUnit / grid.boxHeight;
  if (across < 0.5 && down < 0.5) {
    // By whole numbers of cells each way, which the library averages fast;
    // the last few cells short of a whole block (less than a canvas pixel)
    // are left out.
    const int kx = std::min(cells.cols, static_cast<int>(1 / across));
    const int ky = std::min(cells.rows, static_cast<int>(1 / down));
    const cv::Size smaller(cells.cols / kx, cells.rows / ky);
    const cv::Rect whole(0, 0, smaller.width * kx, smaller.height * ky);
    cv::resize(cells(whole), drawn, smaller, 0, 0, cv::INTER_AREA);
    cv::resize(covered(whole), seen, smaller, 0, 0, cv::INTER_NEAREST);
    shown = {grid.boxWidth / kx, grid.boxHeight / ky, grid.originX / kx,
             grid.originY / ky,  smaller.width,       smaller.height};
  }
  const cv::Matx33d toArea =
      cv::Matx33d(1, 0, -area.x, 0, 1, -area.y, 0, 0, 1) * pageToCanvas(canvas);
  const cv::Matx23d map = part(toArea * full(cellsToPage(geometry, shown)));
  DrawnPicture made{area, {}, {}};
  cv::Mat inCells;
  cv::warpAffine(drawn, made.pixels, map, area.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
  cv::warpAffine(seen, inCells, map, area.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT,
                 cv::Scalar(0));
  // Seen where the mask, the picture's box and the cells all are.
  cv::Mat inMask = cv::Mat::zeros(area.size(), CV_8U), inBox = inMask.clone();
  fillCorners(mask, canvas, area.tl(), inMask);
  fillCorners(boxCorners(geometry), canvas, area.tl(), inBox);
  made.visible = inMask & inBox & inCells;
  return made;
}

void layPicture(const DrawnPicture& drawn, cv::Mat& page, cv::Mat& seen) {
  if (drawn.area.empty()) return;
  drawn.pixels.copyTo(page(drawn.area), drawn.visible);
  seen(drawn.area) |= drawn.visible;
}

void drawBox(const ElementGeometry& geometry, const std::vector<std::string>& lines, bool crossed,
             const Canvas& canvas, cv::Mat& page) {
  const cv::Matx33d toCanvas = pageToCanvas(canvas);
  std::vector<cv::Point> points;
  for (const cv::Point2d& corner : boxCorners(geometry)) {
    const cv::Vec3d p = toCanvas * cv::Vec3d(corner.x, corner.y, 1);
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || std::abs(p[0]) > 1e6 ||
        std::abs(p[1]) > 1e6) {
      return;
    }
    points.emplace_back(static_cast<int>(std::lround(p[0])), static_cast<int>(std::lround(p[1])));
  }
  const cv::Scalar colour = crossed ? cv::Scalar(0, 0, 200) : cv::Scalar(160, 90, 0);
  cv::polylines(page, points, true, colour, 2, cv::LINE_AA);
  if (crossed) {
    cv::line(page, points[0], points[2], colour, 2, cv::LINE_AA);
    cv::line(page, points[1], points[3], colour, 2, cv::LINE_AA);
  }
  // Each line as large as fits the box's width, within what stays readable,
  // shortened until it fits, on paper so that it reads over the lines; none
  // is drawn outside the box.
  const cv::Rect inside = cv::boundingRect(points) & cv::Rect(cv::Point(), page.size());
  if (inside.empty()) return;
  cv::Mat area = page(inside);
  const double wide =
      std::min<double>(std::abs(geometry.boxWidth) * canvas.pixelsPerUnit, inside.width) - 6;
  // Sizes for a drawing seen at about a quarter of its width, as the proof
  // page shows it.
  const double seen = std::max(canvas.size.width, canvas.size.height) / 1600.0;
  const double smallest = 1.2 * seen, largest = 2.5 * seen;
  const int thickness = std::max(1, static_cast<int>(std::lround(2 * seen)));
  const int gap = std::max(4, static_cast<int>(std::lround(12 * seen)));
  struct Shown {
    std::string text;
    double scale;
    cv::Size size;
    int ascent;  // from its top to its baseline
  };
  std::vector<Shown> shown;
  int height = 0;
  for (const std::string& line : lines) {
    int baseline = 0;
    const auto unitOf = [&](const std::string& text) {
      return cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, 1, thickness, &baseline);
    };
    const double scale = std::clamp(wide / std::max(unitOf(line).width, 1), smallest, largest);
    std::string text = line;
    for (size_t kept = line.size(); kept > 1 && unitOf(text).width * scale > wide;) {
      text = line.substr(0, --kept) + "...";
    }
    const cv::Size unit = unitOf(text);
    shown.push_back({text, scale,
                     cv::Size(static_cast<int>(unit.width * scale),
                              static_cast<int>((unit.height + baseline) * scale)),
                     static_cast<int>(unit.height * scale)});
    height += (height > 0 ? gap : 0) + shown.back().size.height;
  }
  int y = (points[0].y + points[2].y) / 2 - inside.y - height / 2;
  for (const Shown& line : shown) {
    const cv::Point corner((points[0].x + points[2].x) / 2 - inside.x - line.size.width / 2, y);
    cv::rectangle(area,
                  cv::Rect(corner.x - 3, corner.y - 3, line.size.width + 6, line.size.height + 6),
                  cv::Scalar(255, 255, 255), cv::FILLED);
    cv::putText(area, line.text, corner + cv::Point(0, line.ascent), cv::FONT_HERSHEY_SIMPLEX,
                line.scale, colour, thickness, cv::LINE_AA);
    y += line.size.height + gap;
  }
}

}  // namespace vellomar
