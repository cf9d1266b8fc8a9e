#ifndef VELLOMAR_PROOF_ELEMENT_FIGURES_H_
#define VELLOMAR_PROOF_ELEMENT_FIGURES_H_

// The figures by which a prepared picture is judged against what it should
// be, both on one grid of print pixels: what prints against the source
// averaged over each printed pixel's part of it.

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace vellomar {

// What a picture must reach to pass; each figure's threshold.
struct ProofThresholds {
  // dB, after against before, over the cells both cover.
  double minPsnr = 22;
  // Print pixels: how far the prepared picture lies from its place, on the
  // whole and piece by piece. A window's whole-pixel corner and size are the
  // run's own, and its place is judged with them.
  double maxMisplacement = 1.5;
  // The fine detail the prepared picture keeps of the source's (its energy
  // above what a one-pixel blur keeps, after against before).
  double minDetail = 0.5;
  // The correlation of the prepared picture with the source, as best aligned
  // within the search: below it, it is another picture, or another part of
  // it (mirrored, turned, swapped, another window).
  double minAlignment = 0.5;
  // Times a picture may be enlarged to print (printed pixels per source
  // pixel); 0 for no limit.
  double maxEnlargement = 0;
};

// Pictures enlarged more than this many times are named in a page's notes.
constexpr double kNotedEnlargement = 1.5;

// How far, in print pixels, a prepared picture is looked for around its
// place: the grid of `before` reaches this many cells past `after` each way.
constexpr int kSearchCells = 8;

struct ElementFigures {
  bool measured = false;   // false when there is too little to measure
  double psnr = INFINITY;  // dB; infinite when they agree to the last bit
  double misplacement = 0;
  double detail = 1;
  double alignment = 1;
};

// `after` (32-bit float BGR) against `before` (the same grid with
// kSearchCells more cells on each side), each with the cells its picture
// covers (8-bit, 255).
ElementFigures measure(const cv::Mat& before, const cv::Mat& beforeCovered, const cv::Mat& after,
                       const cv::Mat& afterCovered);

// Why the figures fail, one sentence each; none when they pass.
std::vector<std::string> failuresOf(const ElementFigures& figures,
                                    const ProofThresholds& thresholds);

}  // namespace vellomar

#endif  // VELLOMAR_PROOF_ELEMENT_FIGURES_H_
