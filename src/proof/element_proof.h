#ifndef VELLOMAR_PROOF_ELEMENT_PROOF_H_
#define VELLOMAR_PROOF_ELEMENT_PROOF_H_

// The proof of one picture element: what prints, judged at print resolution
// against what should print. For a cut window the grid is the derived
// picture's own pixels, and the source is averaged over each one's part of
// it, the window placed as the run cuts it (its whole-pixel corner and size,
// from the plan); for a copied picture the grid is its mask at print
// resolution, both pictures averaged onto it. The pictures come from the
// program, through a loader: the proof itself reads no file.

#include <functional>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "plan/album_plan.h"
#include "plan/element_geometry.h"
#include "proof/element_figures.h"
#include "proof/page_drawing.h"

namespace vellomar {

// A picture averaged onto grids laid over its box, as the loader gives it.
struct GridPicture {
  bool loaded = false;
  std::string problem;           // why it cannot be loaded, when there is more to say
  int orientation = 1;           // the EXIF orientation it states
  bool decodedUpright = false;   // the image library turns it as it reads it
  std::string colourSpace;       // as the file stores it
  cv::Size storedSize;           // before it was turned upright
  cv::Size size;                 // as it is used
  std::vector<cv::Mat> cells;    // for each grid: 32-bit float BGR, on paper
  std::vector<cv::Mat> covered;  // 255 where the picture covers a cell
};

// Loads the picture at `path` (a tool path) onto the grids.
using PictureLoader = std::function<GridPicture(const std::string& path, const GridsFor&)>;

// One side (before or after) of an element.
struct ProofSide {
  bool drawn = false;  // a picture element with a geometry to draw
  ElementGeometry geometry;
  std::string path;                // its picture's file; "" when it has none
  std::vector<std::string> label;  // written in its box when no picture is shown
  bool crossed = true;             // the box is crossed out: its picture cannot be shown
};

struct ProofElement {
  std::string place;  // in the document
  ProofSide before;
  ProofSide after;
  // The run's work for the source book's element, when it has any: which
  // window of which size it cuts, or whether it copies.
  std::optional<PictureJob> job;
};

// One picture of a page, as it prints and as it is judged.
struct PictureFigure {
  std::string place;      // the element
  std::string name;       // its picture file
  double resolution = 0;  // source pixels per printed pixel; 0 when not known
  ElementFigures figures;
  bool passes = true;
};

// An element proved, to be laid on its page.
struct ElementProof {
  ProofElement element;
  DrawnPicture before, after;
  bool shownBefore = false, shownAfter = false;  // a picture is shown
  std::optional<PictureFigure> picture;          // of the source book's picture, when shown
  std::vector<std::string> notes;
  std::vector<std::string> failures;  // make the page fail
};

// What proving an element takes besides it: the book's scale, the canvas of
// its page, the thresholds, whether pictures are turned upright by their
// EXIF orientation, and the loader.
struct ProofContext {
  double scale = 0;
  Canvas canvas;
  ProofThresholds thresholds;
  bool upright = false;
  PictureLoader load;
};

// Draws and judges `element`. Independent of every other element: elements
// may be proved side by side.
ElementProof proveElement(const ProofElement& element, const ProofContext& context);

}  // namespace vellomar

#endif  // VELLOMAR_PROOF_ELEMENT_PROOF_H_
