#ifndef VELLOMAR_PROOF_PAGE_PROOF_H_
#define VELLOMAR_PROOF_PAGE_PROOF_H_

// The proof of one page: its elements, proved one by one, laid on drawings
// of the page as the source book and the prepared book print it, with their
// difference; the page fails when one of its elements fails.

#include <opencv2/core.hpp>

#include "proof/element_proof.h"
#include "proof/page_drawing.h"
#include "proof/proof_report.h"

namespace vellomar {

struct PageProof {
  PageFigures figures;
  // 8-bit BGR drawings; empty for a page that shows no picture.
  cv::Mat before;
  cv::Mat after;
  cv::Mat difference;  // white where they agree, red as they differ, grey where no mask shows
};

// The proof of one page, laid element by element on `canvas` (a page's
// elements all fit it: canvasAround their boxes), so that no more than one
// element's drawings need be held at once.
class PageProofer {
 public:
  PageProofer(int page, const Canvas& canvas);
  // Lays an element proved on this page's canvas.
  void add(const ElementProof& proved);
  // The drawings and figures of the elements added.
  PageProof finish();

 private:
  Canvas canvas_;
  PageProof proof_;
  cv::Mat seenBefore_, seenAfter_;
  bool shown_ = false;  // a picture is drawn
};

}  // namespace vellomar

#endif  // VELLOMAR_PROOF_PAGE_PROOF_H_
