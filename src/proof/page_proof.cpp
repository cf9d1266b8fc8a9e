#include "proof/page_proof.h"

#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "proof/page_drawing.h"

namespace vellomar {
namespace {

constexpr int kSearchPixels = 8;  // how far a window is looked for around its place

// The box of a side that shows no picture, drawn with its label.
void drawBoxOf(const ProofSide& side, bool shown, const Canvas& canvas, cv::Mat& page) {
  if (side.drawn && !shown) drawBox(side.geometry, side.label, side.crossed, canvas, page);
}

// The PSNR of the two drawings inside `seen`, and the difference drawing.
cv::Mat compare(const cv::Mat& before, const cv::Mat& after, const cv::Mat& seen,
                PageFigures& figures) {
  const double count = cv::countNonZero(seen);
  const double mse = cv::norm(before, after, cv::NORM_L2SQR, seen) / (3 * count);
  figures.psnr = count == 0 ? NAN : mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
  cv::Mat diff;
  cv::absdiff(before, after, diff);
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

PageProofer::PageProofer(int page, const Canvas& canvas, const ProofThresholds& thresholds)
    : canvas_(canvas), thresholds_(thresholds) {
  const cv::Scalar paper(255, 255, 255);
  proof_.figures.page = page;
  proof_.before = cv::Mat(canvas.size, CV_8UC3, paper);
  proof_.after = cv::Mat(canvas.size, CV_8UC3, paper);
  seenBefore_ = cv::Mat::zeros(canvas.size, CV_8U);
  seenAfter_ = seenBefore_.clone();
}

bool drawSide(const ProofSide& side, const Canvas& canvas, DrawnPicture& drawn) {
  if (!side.drawn || side.picture.pixels.empty()) return false;
  drawn = drawPicture(side.picture.pixels, side.picture.size, side.geometry, canvas);
  return true;
}

double misplacementOf(const ProofElement& element) {
  return misplacement(element.before.picture, element.before.geometry, element.after.picture,
                      element.after.geometry, kSearchPixels);
}

ElementProof proveElement(ProofElement element, const Canvas& canvas) {
  ElementProof proved;
  proved.shownBefore = drawSide(element.before, canvas, proved.before);
  proved.shownAfter = drawSide(element.after, canvas, proved.after);
  proved.misplacement = misplacementOf(element);  // 0 unless both sides show a picture
  element.before.picture = ShownPicture();
  element.after.picture = ShownPicture();
  proved.element = std::move(element);
  return proved;
}

void PageProofer::add(const ElementProof& proved) {
  PageFigures& figures = proof_.figures;
  const ProofElement& element = proved.element;
  drawBoxOf(element.before, proved.shownBefore, canvas_, proof_.before);
  drawBoxOf(element.after, proved.shownAfter, canvas_, proof_.after);
  layPicture(proved.before, proof_.before, seenBefore_);
  layPicture(proved.after, proof_.after, seenAfter_);
  if (proved.shownBefore && !proved.shownAfter) {
    figures.failures.push_back(element.place + ": the prepared book has no picture here");
  }
  if (!proved.shownBefore || !proved.shownAfter) return;
  const double shift = proved.misplacement;
  if (shift > thresholds_.maxMisplacement) {
    char text[64];
    std::snprintf(text, sizeof text, ": the derived picture lies %.1f px from its place", shift);
    figures.failures.push_back(element.place + text);
  }
  if (shift > figures.misplacement || figures.misplacedPlace.empty()) {
    figures.misplacement = shift;
    figures.misplacedPlace = element.place;
  }
}

PageProof PageProofer::finish() {
  proof_.difference =
      compare(proof_.before, proof_.after, seenBefore_ | seenAfter_, proof_.figures);
  proof_.figures.passes = pagePasses(proof_.figures, thresholds_);
  return std::move(proof_);
}

PageProof proofPage(int page, const std::vector<ProofElement>& elements, int longSide,
                    const ProofThresholds& thresholds) {
  std::vector<cv::Point2d> corners;
  for (const ProofElement& element : elements) {
    for (const ProofSide* side : {&element.before, &element.after}) {
      if (!side->drawn) continue;
      for (const cv::Point2d& corner : boxCorners(side->geometry)) corners.push_back(corner);
    }
  }
  PageProofer proofer(page, canvasAround(corners, longSide), thresholds);
  for (const ProofElement& element : elements) proofer.add(element);
  return proofer.finish();
}

cv::Mat drawable(const cv::Mat& picture) {
  if (picture.empty() || picture.type() == CV_8UC3) return picture;
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
