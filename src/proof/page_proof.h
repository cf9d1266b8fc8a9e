#ifndef VELLOMAR_PROOF_PAGE_PROOF_H_
#define VELLOMAR_PROOF_PAGE_PROOF_H_

// The proof of one page: its elements as the source book and the prepared
// book show them, drawn side by side, with the figures that say whether the
// two agree. Values in, values out: the pictures come loaded, and the
// drawings go back to be written.

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "plan/element_geometry.h"
#include "proof/page_drawing.h"
#include "proof/proof_report.h"

namespace vellomar {

// One side (before or after) of an element.
struct ProofSide {
  bool drawn = false;  // a picture element with a geometry to draw
  ElementGeometry geometry;
  ShownPicture picture;            // empty pixels when none is shown
  std::vector<std::string> label;  // written in its box when no picture is shown
  bool crossed = true;             // the box is crossed out: its picture cannot be shown
  std::string name;                // its picture's file name
};

struct ProofElement {
  std::string place;  // in the document
  ProofSide before;
  ProofSide after;
};

struct PageProof {
  PageFigures figures;  // its notes are the caller's to add
  cv::Mat before;       // 8-bit BGR drawings
  cv::Mat after;
  cv::Mat difference;  // white where they agree, red as they differ, grey where no mask shows
};

// The proof of one page, drawn element by element on `canvas` (a page's
// elements all fit it: canvasAround their boxes), so that no more than one
// element's pictures need be held at once. A page fails when a picture of the
// source book is missing from the prepared one, or a derived picture lies
// further than the thresholds allow from its place (the PSNR is judged with
// the notes, by pagePasses).
class PageProofer {
 public:
  PageProofer(int page, const Canvas& canvas, const ProofThresholds& thresholds);
  // Draws the element and measures where its derived picture lies.
  void add(const ProofElement& element);
  // The drawings and figures of the elements added.
  PageProof finish();
  const Canvas& canvas() const { return canvas_; }

 private:
  Canvas canvas_;
  ProofThresholds thresholds_;
  PageProof proof_;
  cv::Mat seenBefore_, seenAfter_;
};

// The same for all of a page's elements at once.
PageProof proofPage(int page, const std::vector<ProofElement>& elements, int longSide,
                    const ProofThresholds& thresholds);

// `picture` as drawings take it: 8-bit BGR, any depth scaled to 8 bits, what
// is transparent in it shown as paper.
cv::Mat drawable(const cv::Mat& picture);

}  // namespace vellomar

#endif  // VELLOMAR_PROOF_PAGE_PROOF_H_
