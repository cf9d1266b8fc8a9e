#ifndef VELLOMAR_PROOF_PROOF_REPORT_H_
#define VELLOMAR_PROOF_PROOF_REPORT_H_

// The proof's figures for each page and the page that shows them: plain HTML
// and CSS, no script, no address outside the proof directory.

#include <string>
#include <vector>

#include "proof/element_figures.h"
#include "proof/element_proof.h"

namespace vellomar {

struct PageFigures {
  int page = 0;  // index in the book
  // The pictures of the source book, as they print and as they are judged.
  std::vector<PictureFigure> pictures;
  // Elements the drawings leave out or cross out, and why; `failures` make
  // the page fail, each naming its element and why.
  std::vector<std::string> notes;
  std::vector<std::string> failures;
  bool passes = true;
  bool drawn = true;  // false when the page could not be drawn at all
  // File names in the proof directory; empty for a page with no picture.
  std::string before, after, difference;
};

// "N pages, M below the thresholds": how the proof sums up a book.
std::string pagesBelowThresholds(size_t pages, size_t failing);

// The proof's index.html: the pages, those that fail first, each with its
// drawings and the figures of each of its pictures.
std::string proofIndexHtml(const std::vector<PageFigures>& pages, const ProofThresholds& thresholds,
                           const std::string& sourceDir, const std::string& outputDir);

}  // namespace vellomar

#endif  // VELLOMAR_PROOF_PROOF_REPORT_H_
