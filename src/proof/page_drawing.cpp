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

cv::Mat grey(const cv::Mat& picture) {
  cv::Mat one;
  cv::cvtColor(picture, one, cv::COLOR_BGR2GRAY);
  cv::Mat floats;
  one.convertTo(floats, CV_32F);
  return floats;
}

// Where the smallest value of three neighbours lies, between -0.5 and 0.5
// from the middle one.
double vertex(float before, float at, float after) {
  const double curve = before - 2.0 * at + after;
  return curve > 0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0.0;
}

// The corner of the `piece` of a picture of `size` with the most detail, on
// a grid of places; looked for in a small copy of `look` (a copy of the
// picture at any scale).
cv::Point detailedPiece(const cv::Mat& look, cv::Size size, cv::Size piece) {
  constexpr double kLookSide = 384;
  const double shrink = std::min(1.0, kLookSide / std::max(look.cols, look.rows));
  cv::Mat small = look;
  if (shrink < 1) cv::resize(look, small, cv::Size(), shrink, shrink, cv::INTER_AREA);
  const cv::Mat seenGrey = grey(small);
  const double f = static_cast<double>(small.cols) / size.width;  // small pixels per pixel
  cv::Mat dx, dy, sums;
  cv::Sobel(seenGrey, dx, CV_32F, 1, 0);
  cv::Sobel(seenGrey, dy, CV_32F, 0, 1);
  cv::integral(cv::abs(dx) + cv::abs(dy), sums, CV_64F);
  const cv::Size seen(std::max(1, static_cast<int>(piece.width * f)),
                      std::max(1, static_cast<int>(piece.height * f)));
  cv::Point best;
  double most = -1;
  const int stepX = std::max(1, seen.width / 2), stepY = std::max(1, seen.height / 2);
  for (int y = 0; y + seen.height <= seenGrey.rows; y += stepY) {
    for (int x = 0; x + seen.width <= seenGrey.cols; x += stepX) {
      const double sum = sums.at<double>(y + seen.height, x + seen.width) -
                         sums.at<double>(y, x + seen.width) - sums.at<double>(y + seen.height, x) +
                         sums.at<double>(y, x);
      if (sum > most) most = sum, best = {x, y};
    }
  }
  return {std::min(static_cast<int>(best.x / f), size.width - piece.width),
          std::min(static_cast<int>(best.y / f), size.height - piece.height)};
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

cv::Matx23d pictureToPage(const ElementGeometry& geometry, cv::Size pictureSize) {
  const double sx = geometry.boxWidth / pictureSize.width;
  const double sy = geometry.boxHeight / pictureSize.height;
  const cv::Point2d across = turned(geometry, sx, 0), down = turned(geometry, 0, sy);
  const cv::Point2d centre = (across + down) * 0.5;
  return {across.x, down.x, geometry.boxX + centre.x, across.y, down.y, geometry.boxY + centre.y};
}

double shownDepth(const ElementGeometry& geometry) {
  // A picture of one pixel: its rows are then parts of its height, less a half.
  cv::Matx23d toPicture;
  cv::invertAffineTransform(pictureToPage(geometry, cv::Size(1, 1)), toPicture);
  double lowest = 0;
  for (const cv::Point2d& corner : maskCorners(geometry)) {
    lowest = std::max(
        lowest, toPicture(1, 0) * corner.x + toPicture(1, 1) * corner.y + toPicture(1, 2) + 0.5);
  }
  return std::isfinite(lowest) ? std::min(lowest, 1.0) : 1.0;
}

DrawnPicture drawPicture(const cv::Mat& picture, cv::Size fullSize, const ElementGeometry& geometry,
                         const Canvas& canvas) {
  const std::vector<cv::Point2d> mask = maskCorners(geometry);
  const cv::Rect area = canvasBounds(mask, canvas);
  if (area.empty() || picture.empty()) return {};
  // A picture much larger than its place is first averaged down to about the
  // size it is drawn at, so that the drawing shows it as the eye would.
  cv::Mat drawn = picture;
  const double across = std::abs(geometry.boxWidth) * canvas.pixelsPerUnit;
  const double down = std::abs(geometry.boxHeight) * canvas.pixelsPerUnit;
  if (across < fullSize.width / 2.0 && down < fullSize.height / 2.0) {
    cv::resize(picture, drawn,
               {std::max(1, static_cast<int>(std::ceil(across))),
                std::max(1, static_cast<int>(std::ceil(down)))},
               0, 0, cv::INTER_AREA);
  }
  const cv::Matx33d toArea =
      cv::Matx33d(1, 0, -area.x, 0, 1, -area.y, 0, 0, 1) * pageToCanvas(canvas);
  const cv::Matx23d map = part(toArea * full(pictureToPage(geometry, drawn.size())));
  DrawnPicture made{area, {}, {}};
  cv::warpAffine(drawn, made.pixels, map, area.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
  // Seen where both the mask and the picture's box are.
  cv::Mat inMask = cv::Mat::zeros(area.size(), CV_8U), inBox = inMask.clone();
  fillCorners(mask, canvas, area.tl(), inMask);
  fillCorners(boxCorners(geometry), canvas, area.tl(), inBox);
  made.visible = inMask & inBox;
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
                              static_cast<int>((unit.height + baseline) * scale))});
    height += (height > 0 ? gap : 0) + shown.back().size.height;
  }
  int y = (points[0].y + points[2].y) / 2 - inside.y - height / 2;
  for (const Shown& line : shown) {
    const cv::Point corner((points[0].x + points[2].x) / 2 - inside.x - line.size.width / 2, y);
    cv::rectangle(area,
                  cv::Rect(corner.x - 3, corner.y - 3, line.size.width + 6, line.size.height + 6),
                  cv::Scalar(255, 255, 255), cv::FILLED);
    const int descent = static_cast<int>(line.size.height * 0.2);
    cv::putText(area, line.text, corner + cv::Point(0, line.size.height - descent),
                cv::FONT_HERSHEY_SIMPLEX, line.scale, colour, thickness, cv::LINE_AA);
    y += line.size.height + gap;
  }
}

double misplacement(const ShownPicture& before, const ElementGeometry& beforeGeometry,
                    const ShownPicture& after, const ElementGeometry& afterGeometry,
                    int searchPixels) {
  constexpr int kPiece = 96;  // the side of the piece of `after` aligned
  if (before.size.empty() || !before.region || after.pixels.empty()) return 0;
  const cv::Size piece(std::min(after.size.width, kPiece), std::min(after.size.height, kPiece));
  const cv::Point corner = detailedPiece(after.pixels, after.size, piece);
  // The pixels of `after`, around the piece, to the pixels of `before`
  // showing the same place of the page.
  const cv::Matx23d beforeToPage = pictureToPage(beforeGeometry, before.size);
  const double determinant =
      beforeToPage(0, 0) * beforeToPage(1, 1) - beforeToPage(0, 1) * beforeToPage(1, 0);
  if (!std::isnormal(determinant)) return 0;  // a box of no size shows nothing to align
  cv::Matx23d pageToBefore;
  cv::invertAffineTransform(beforeToPage, pageToBefore);
  const int r = searchPixels;
  const cv::Size searched = piece + cv::Size(2 * r, 2 * r);
  cv::Matx33d map = full(pageToBefore) * full(pictureToPage(afterGeometry, after.size)) *
                    cv::Matx33d(1, 0, corner.x - r, 0, 1, corner.y - r, 0, 0, 1);
  for (const double value : map.val) {
    if (!std::isfinite(value) || std::abs(value) > 1e9) return 0;
  }
  // Only the part of `before` the searched place shows is read, with a pixel
  // more on each side for the interpolation.
  double left = HUGE_VAL, top = HUGE_VAL, right = -HUGE_VAL, bottom = -HUGE_VAL;
  for (const cv::Point2d corner :
       {cv::Point2d(0, 0), cv::Point2d(searched.width, 0), cv::Point2d(0, searched.height),
        cv::Point2d(searched.width, searched.height)}) {
    const cv::Vec3d p = map * cv::Vec3d(corner.x, corner.y, 1);
    left = std::min(left, p[0]), right = std::max(right, p[0]);
    top = std::min(top, p[1]), bottom = std::max(bottom, p[1]);
  }
  const cv::Rect shown = cv::Rect(cv::Point(static_cast<int>(std::floor(left)) - 2,
                                            static_cast<int>(std::floor(top)) - 2),
                                  cv::Point(static_cast<int>(std::ceil(right)) + 3,
                                            static_cast<int>(std::ceil(bottom)) + 3)) &
                         cv::Rect(cv::Point(), before.size);
  if (shown.empty()) return 0;
  map = cv::Matx33d(1, 0, -shown.x, 0, 1, -shown.y, 0, 0, 1) * map;
  cv::Mat expected;
  cv::warpAffine(before.region(shown), expected, part(map), searched,
                 cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
  cv::Mat scores;
  cv::matchTemplate(grey(expected), grey(after.region(cv::Rect(corner, piece))), scores,
                    cv::TM_SQDIFF);
  cv::Point best;
  cv::minMaxLoc(scores, nullptr, nullptr, &best);
  // Along an axis where the piece looks the same at every shift (a plain
  // area, an edge along that axis) there is nothing to measure.
  const double area = piece.area();
  const auto offset = [&](cv::Mat line, int at) {  // the scores along one axis
    line = line.reshape(1, 1);
    double low, high;
    cv::minMaxLoc(line, &low, &high);
    if ((high - low) / area < 4) return 0.0;
    const auto v = [&](int i) { return line.at<float>(0, i); };
    const bool inside = at > 0 && at < line.cols - 1;
    return at - r + (inside ? vertex(v(at - 1), v(at), v(at + 1)) : 0.0);
  };
  const double dx = offset(scores.row(best.y).clone(), best.x);
  const double dy = offset(scores.col(best.x).clone(), best.y);
  return std::round(std::hypot(dx, dy) * 10) / 10;
}

}  // namespace vellomar
