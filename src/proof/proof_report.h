#ifndef VELLOMAR_PROOF_PROOF_REPORT_H_
#define VELLOMAR_PROOF_PROOF_REPORT_H_

// The proof's figures for each page and the page that shows them: plain HTML
// and CSS, no script, no address outside the proof directory.

#include <string>
#include <vector>

namespace vellomar {

// What a page must reach to pass.
struct ProofThresholds {
  double minPsnr = 30;  // dB, inside the masks
  // Pixels of a derived picture: its whole-pixel corner and its whole-pixel size
  // each move it by less than one pixel.
  double maxMisplacement = 2.5;
  // Times a picture may be enlarged to print (printed pixels per source
  // pixel); 0 for no limit.
  double maxEnlargement = 0;
};

// Pictures enlarged more than this many times are named in a page's notes.
constexpr double kNotedEnlargement = 1.5;

// One picture of a page, as it prints.
struct PictureFigure {
  std::string place;      // the element
  std::string name;       // its picture file
  double resolution = 0;  // source pixels per printed pixel
};

struct PageFigures {
  int page = 0;  // index in the book
  // Inside the masks, before against after: dB, infinite when they agree to
  // the last bit; NaN when no mask shows anything.
  double psnr = 0;
  double misplacement = 0;     // the largest of the page's pictures
  std::string misplacedPlace;  // the element that has it
  // Elements the drawings leave out or cross out, and why; `failures` make
  // the page fail.
  std::vector<std::string> notes;
  std::vector<std::string> failures;
  std::vector<PictureFigure> pictures;  // of the source book, as they print
  bool passes = true;
  bool drawn = true;                      // false when the page could not be drawn at all
  std::string before, after, difference;  // file names in the proof directory
};

// Whether the figures reach the thresholds, with no failure.
bool pagePasses(const PageFigures& figures, const ProofThresholds& thresholds);

// The proof's index.html: a table of the pages, those that fail first, each
// with its three drawings and its figures.
std::string proofIndexHtml(const std::vector<PageFigures>& pages, const ProofThresholds& thresholds,
                           const std::string& sourceDir, const std::string& outputDir);

}  // namespace vellomar

#endif  // VELLOMAR_PROOF_PROOF_REPORT_H_
