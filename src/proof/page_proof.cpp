#include "proof/page_proof.h"

#include <opencv2/imgproc.hpp>

namespace vellomar {
namespace {

// The box of a side that shows no picture, drawn with its label.
void drawBoxOf(const ProofSide& side, bool shown, const Canvas& canvas, cv::Mat& page) {
  if (side.drawn && !shown) drawBox(side.geometry, side.label, side.crossed, canvas, page);
}

// The difference of the two drawings inside `seen`: white where they agree.
cv::Mat differenceOf(const cv::Mat& before, const cv::Mat& after, const cv::Mat& seen) {
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

PageProofer::PageProofer(int page, const Canvas& canvas) : canvas_(canvas) {
  proof_.figures.page = page;
}

void PageProofer::add(const ElementProof& proved) {
  PageFigures& figures = proof_.figures;
  const ProofElement& element = proved.element;
  figures.notes.insert(figures.notes.end(), proved.notes.begin(), proved.notes.end());
  figures.failures.insert(figures.failures.end(), proved.failures.begin(), proved.failures.end());
  if (proved.picture) figures.pictures.push_back(*proved.picture);
  if (!element.before.drawn && !element.after.drawn) return;
  // The drawings are made for the first element drawn: a page of elements
  // that show nothing (no picture, no box) costs nothing.
  if (proof_.before.empty()) {
    const cv::Scalar paper(255, 255, 255);
    proof_.before = cv::Mat(canvas_.size, CV_8UC3, paper);
    proof_.after = cv::Mat(canvas_.size, CV_8UC3, paper);
    seenBefore_ = cv::Mat::zeros(canvas_.size, CV_8U);
    seenAfter_ = seenBefore_.clone();
  }
  drawBoxOf(element.before, proved.shownBefore, canvas_, proof_.before);
  drawBoxOf(element.after, proved.shownAfter, canvas_, proof_.after);
  layPicture(proved.before, proof_.before, seenBefore_);
  layPicture(proved.after, proof_.after, seenAfter_);
  shown_ = true;
}

PageProof PageProofer::finish() {
  if (shown_) {
    proof_.difference = differenceOf(proof_.before, proof_.after, seenBefore_ | seenAfter_);
  }
  proof_.figures.passes = proof_.figures.failures.empty();
  return std::move(proof_);
}

}  // namespace vellomar
