#ifndef VELLOMAR_PROOF_PAGE_PROOF_H_
#define VELLOMAR_PROOF_PAGE_PROOF_H_

// The proof of one page: its elements as the source book and the prepared
// book show them, drawn side by side, with the figures that say whether the
// two agree. Values in, values out: the pictures come loaded, and the
// drawings go back to be written.

#include <opencv2/core.hpp>
#include <string>
#include <utility>
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

// An element drawn and measured, to be laid on its page: its sides with
// their pictures let go, the drawings of those pictures, and how far its
// derived picture lies from its place.
struct ElementProof {
  ProofElement element;  // no pixels
  DrawnPicture before, after;
  bool shownBefore = false, shownAfter = false;  // a picture is shown
  double misplacement = 0;
};

// Draws a side of an element on `canvas`; true when it shows a picture.
bool drawSide(const ProofSide& side, const Canvas& canvas, DrawnPicture& drawn);
// How far the derived picture of `element`, both sides shown, lies from its
// place: its `before` side need keep only its size and regions.
double misplacementOf(const ProofElement& element);

// Draws `element` on `canvas` and measures where its derived picture lies.
// Independent of every other element: elements may be proved side by side.
ElementProof proveElement(ProofElement element, const Canvas& canvas);

// The proof of one page, laid element by element on `canvas` (a page's
// elements all fit it: canvasAround their boxes), so that no more than one
// element's pictures need be held at once. A page fails when a picture of the
// source book is missing from the prepared one, or a derived picture lies
// further than the thresholds allow from its place (the PSNR is judged with
// the notes, by pagePasses).
class PageProofer {
 public:
  PageProofer(int page, const Canvas& canvas, const ProofThresholds& thresholds);
  // Lays an element proved on this page's canvas.
  void add(const ElementProof& proved);
  void add(ProofElement element) { add(proveElement(std::move(element), canvas_)); }
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
