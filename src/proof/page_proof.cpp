#include "proof/page_proof.h"

#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "proof/page_drawing.h"

namespace vellomar {
namespace {

constexpr int kSearchPixels = 8;  // how far a window is looked for around its place

// Draws one side of an element; true when its picture is shown.
bool draw(const ProofSide& side, const Canvas& canvas, cv::Mat& page, cv::Mat& seen) {
  if (!side.drawn) return false;
  if (side.picture.empty()) {
    drawBox(side.geometry, side.label, side.crossed, canvas, page);
    return false;
  }
  drawPicture(side.picture, side.geometry, canvas, page, seen);
  return true;
}

// The PSNR of the two drawings inside `seen`, and the difference drawing.
cv::Mat compare(const cv::Mat& before, const cv::Mat& after, const cv::Mat& seen,
                PageFigures& figures) {
  cv::Mat diff;
  cv::absdiff(before, after, diff);
  cv::Mat squares;
  diff.convertTo(squares, CV_64F);
  squares = squares.mul(squares);
  squares.setTo(cv::Scalar::all(0), seen == 0);
  const double count = cv::countNonZero(seen);
  const cv::Scalar sums = cv::sum(squares);
  const double mse = (sums[0] + sums[1] + sums[2]) / (3 * count);
  figures.psnr = count == 0 ? NAN : mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
  cv::Mat channels[3];
  cv::split(diff, channels);
  const cv::Mat largest = cv::max(cv::max(channels[0], channels[1]), channels[2]);
  const cv::Mat fade = 255 - largest * 4;
  const cv::Mat planes[] = {fade, fade, cv::Mat(diff.size(), CV_8U, cv::Scalar(255))};
  cv::Mat drawing;
  cv::merge(planes, 3, drawing);
  drawing.setTo(cv::Scalar(200, 200, 200), seen == 0);
  return drawing;
}

}  // namespace

PageProof proofPage(int page, const std::vector<ProofElement>& elements, int longSide,
                    const ProofThresholds& thresholds) {
  std::vector<cv::Point2d> corners;
  for (const ProofElement& element : elements) {
    for (const ProofSide* side : {&element.before, &element.after}) {
      if (!side->drawn) continue;
      for (const cv::Point2d& corner : boxCorners(side->geometry)) corners.push_back(corner);
    }
  }
  const Canvas canvas = canvasAround(corners, longSide);
  const cv::Scalar paper(255, 255, 255);
  PageProof proof;
  proof.before = cv::Mat(canvas.size, CV_8UC3, paper);
  proof.after = cv::Mat(canvas.size, CV_8UC3, paper);
  cv::Mat seenBefore = cv::Mat::zeros(canvas.size, CV_8U), seenAfter = seenBefore.clone();
  PageFigures& figures = proof.figures;
  figures.page = page;
  for (const ProofElement& element : elements) {
    const bool was = draw(element.before, canvas, proof.before, seenBefore);
    const bool is = draw(element.after, canvas, proof.after, seenAfter);
    if (was && !is)
      figures.failures.push_back(element.place + ": the prepared book has no picture here");
    if (!was || !is) continue;
    const double shift = misplacement(element.before.picture, element.before.geometry,
                                      element.after.picture, element.after.geometry, kSearchPixels);
    if (shift > thresholds.maxMisplacement) {
      char text[64];
      std::snprintf(text, sizeof text, ": the derived picture lies %.1f px from its place", shift);
      figures.failures.push_back(element.place + text);
    }
    if (shift > figures.misplacement || figures.misplacedPlace.empty()) {
      figures.misplacement = shift;
      figures.misplacedPlace = element.place;
    }
  }
  proof.difference = compare(proof.before, proof.after, seenBefore | seenAfter, figures);
  figures.passes = pagePasses(figures, thresholds);
  return proof;
}

cv::Mat drawable(const cv::Mat& picture) {
  if (picture.empty()) return picture;
  cv::Mat eight = picture;
  if (picture.depth() == CV_16U) picture.convertTo(eight, CV_8U, 1 / 257.0);
  if (picture.depth() == CV_32F || picture.depth() == CV_64F) picture.convertTo(eight, CV_8U, 255);
  if (eight.depth() != CV_8U) picture.convertTo(eight, CV_8U);
  std::vector<cv::Mat> planes;
  cv::split(eight, planes);
  cv::Mat alpha;
  if (planes.size() == 2 || planes.size() == 4) {
    alpha = planes.back();
    planes.pop_back();
  }
  if (planes.size() == 1) planes.assign(3, planes.front());
  cv::Mat bgr;
  cv::merge(planes.data(), 3, bgr);
  if (alpha.empty()) return bgr;
  cv::Mat colour, opacity, blended;
  bgr.convertTo(colour, CV_32FC3);
  cv::Mat alphas[] = {alpha, alpha, alpha};
  cv::merge(alphas, 3, opacity);
  opacity.convertTo(opacity, CV_32FC3, 1 / 255.0);
  const cv::Mat paper(colour.size(), CV_32FC3, cv::Scalar::all(255));
  colour = colour.mul(opacity) + paper.mul(cv::Scalar::all(1) - opacity);
  colour.convertTo(blended, CV_8UC3);
  return blended;
}

}  // namespace vellomar
