#include "proof/element_proof.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "plan/derived_image.h"
#include "platform/os_path.h"

namespace vellomar {
namespace {

// A grid's side at the most: a finer one is laid with larger cells.
constexpr int kMostCells = 3000;

// Print pixels to a page unit: the book's scale's, or failing that (a book
// without one) the picture's own.
double printUnitsOf(double scale, const ElementGeometry& g, cv::Size size) {
  if (scale > 0 && std::isfinite(scale)) return 1 / scale;
  const double across = std::abs(g.boxWidth);
  return across > 0 && size.width > 0 ? size.width / across : 1;
}

// The cells of `cells` of count `n` along a side of `extent` cells, when it
// is a number of them there can be.
int cellCount(double extent) {
  return extent > 0 && extent < 1e7 ? static_cast<int>(std::ceil(extent - 1e-9)) : 0;
}

// The grid over the mask of `g`, `units` cells to a page unit (larger cells
// when there would be too many), with `margin` more cells each way.
CellGrid maskGrid(const ElementGeometry& g, double units, int margin) {
  const double longest = std::max(std::abs(g.maskWidth), std::abs(g.maskHeight)) * units;
  if (longest > kMostCells) units /= std::ceil(longest / kMostCells);
  CellGrid grid;
  grid.boxWidth = g.boxWidth * units;
  grid.boxHeight = g.boxHeight * units;
  grid.originX = g.localX * units - margin;
  grid.originY = g.localY * units - margin;
  const int across = cellCount(g.maskWidth * units), down = cellCount(g.maskHeight * units);
  if (across == 0 || down == 0 || !std::isfinite(grid.originX) || !std::isfinite(grid.originY)) {
    return {};
  }
  grid.width = across + 2 * margin;
  grid.height = down + 2 * margin;
  return grid;
}

// The grid less `margin` cells each way, and its cells.
CellGrid coreOf(const CellGrid& grid, int margin) {
  return {grid.boxWidth,
          grid.boxHeight,
          grid.originX + margin,
          grid.originY + margin,
          std::max(0, grid.width - 2 * margin),
          std::max(0, grid.height - 2 * margin)};
}

cv::Mat coreOf(const cv::Mat& cells, int margin) {
  if (cells.cols <= 2 * margin || cells.rows <= 2 * margin) return {};
  return cells(cv::Rect(margin, margin, cells.cols - 2 * margin, cells.rows - 2 * margin));
}

// Whether the run cuts its window for `job` from a picture of `size`.
bool cuts(const std::optional<PictureJob>& job, cv::Size size) {
  return job &&
         planDerivedImage(job->censusCount, size.width, size.height, job->visibleArea, job->region)
                 .derivation == Derivation::kCut;
}

// Whether two boxes lie at one place of the page.
bool samePlace(double x, double y, double width, double height, const ElementGeometry& g) {
  const auto same = [](double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::max({1.0, std::abs(a), std::abs(b)});
  };
  return same(x, g.boxX) && same(y, g.boxY) && same(width, g.boxWidth) && same(height, g.boxHeight);
}

std::string fileName(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

}  // namespace

ElementProof proveElement(const ProofElement& element, const ProofContext& c) {
  ElementProof proof;
  proof.element = element;
  const ProofSide& before = element.before;
  const ProofSide& after = element.after;
  const std::string& place = element.place;
  const int r = kSearchCells;
  // A side whose picture cannot be loaded says why in its box and in a note.
  const auto unloaded = [&](const char* side, const std::string& path, const GridPicture& picture,
                            ProofSide& shown) {
    const std::string reason =
        picture.problem.empty() ? "the image library cannot decode it" : picture.problem;
    shown.label = {fileName(path), reason};
    proof.notes.push_back(side + (": " + place) + ": " + toOsPath(path) +
                          ": the picture cannot be loaded: " + reason);
  };

  // The source, on the grid of what prints: the window the run cuts (with
  // the search around it), or the mask.
  bool cut = false;
  CellGrid beforeGrid;
  GridPicture source;
  if (before.drawn && !before.path.empty()) {
    source = c.load(before.path, [&](int width, int height) {
      const cv::Size size(width, height);
      cut = cuts(element.job, size);
      if (cut) {
        const PixelRegion& w = *element.job->region;
        beforeGrid = {static_cast<double>(w.targetWidth),
                      static_cast<double>(w.targetHeight),
                      static_cast<double>(w.left - r),
                      static_cast<double>(w.top - r),
                      w.width + 2 * r,
                      w.height + 2 * r};
      } else {
        beforeGrid = maskGrid(before.geometry, printUnitsOf(c.scale, before.geometry, size), r);
      }
      return std::vector<CellGrid>{beforeGrid};
    });
    if (!source.loaded) unloaded("before", before.path, source, proof.element.before);
  }
  // What prints, on the same grid: the derived picture's own pixels for a
  // window, the mask laid over its box for a copy.
  CellGrid afterGrid;
  GridPicture prepared;
  if (after.drawn && !after.path.empty()) {
    prepared = c.load(after.path, [&](int width, int height) {
      const cv::Size size(width, height);
      if (source.loaded && cut) {
        const PixelRegion& w = *element.job->region;
        afterGrid = {
            static_cast<double>(w.width), static_cast<double>(w.height), 0, 0, w.width, w.height};
      } else if (source.loaded) {
        // The source's grid, laid over the prepared box.
        afterGrid =
            maskGrid(after.geometry, printUnitsOf(c.scale, before.geometry, source.size), 0);
        afterGrid.width = std::max(0, beforeGrid.width - 2 * r);
        afterGrid.height = std::max(0, beforeGrid.height - 2 * r);
      } else {
        afterGrid = maskGrid(after.geometry, printUnitsOf(c.scale, after.geometry, size), 0);
      }
      return std::vector<CellGrid>{afterGrid};
    });
    if (!prepared.loaded) unloaded("after", after.path, prepared, proof.element.after);
  }

  if (source.loaded && !source.cells.empty()) {
    proof.shownBefore = true;
    proof.before = drawCells(coreOf(source.cells[0], r), coreOf(source.covered[0], r),
                             coreOf(beforeGrid, r), before.geometry, c.canvas);
  }
  if (prepared.loaded && !prepared.cells.empty()) {
    proof.shownAfter = true;
    proof.after =
        drawCells(prepared.cells[0], prepared.covered[0], afterGrid, after.geometry, c.canvas);
  }
  if (!source.loaded) {
    // Nothing to judge what prints against: the page is not proved.
    if (before.drawn && !before.path.empty()) {
      proof.failures.push_back(place +
                               ": its source picture cannot be loaded: what prints is not judged");
    }
    return proof;
  }

  // How it prints, and how it is stored.
  const ElementGeometry& g = before.geometry;
  PictureFigure figure{place, fileName(before.path), 0, {}, true};
  const double resolution =
      printResolution(source.size.width, source.size.height, g.boxWidth, g.boxHeight, c.scale);
  if (std::isfinite(resolution) && resolution > 0) {
    figure.resolution = resolution;
    char text[160];
    std::snprintf(text, sizeof text,
                  ": enlarged %.1f times to print (%.2f source pixels per printed pixel)",
                  1 / resolution, resolution);
    const double most = c.thresholds.maxEnlargement;
    if (most > 0 && 1 / resolution > most) {
      char limit[64];
      std::snprintf(limit, sizeof limit, ", more than %.1f (--max-enlargement)", most);
      proof.failures.push_back(place + text + limit);
      figure.passes = false;
    } else if (1 / resolution > kNotedEnlargement) {
      proof.notes.push_back("before: " + place + text);
    }
  }
  // A picture stored turned is used upright when the image library turns it
  // as it reads it, and otherwise as --exif-orientation says.
  const bool turnedByOption = source.orientation != 1 && !source.decodedUpright;
  if (source.orientation != 1) {
    std::string text = "before: " + place + ": stored turned (EXIF orientation " +
                       std::to_string(source.orientation) + "): " + toOsPath(before.path);
    if (!turnedByOption) {
      text += "; used upright, as the image library reads it";
    } else if (c.upright) {
      text += "; used upright (--exif-orientation)";
    } else if (boxSuggestsUpright(g, source.storedSize.width, source.storedSize.height,
                                  source.orientation)) {
      text +=
          "; its box has the proportions of the upright picture, not of the stored one: "
          "the book was likely laid out with it upright (--exif-orientation)";
    }
    proof.notes.push_back(text);
  }
  if (source.colourSpace == "CMYK") {
    proof.notes.push_back("before: " + place +
                          ": stored as CMYK ink: drawn in the image library's plain conversion "
                          "to RGB: " +
                          toOsPath(before.path));
    if (prepared.loaded && prepared.colourSpace != "CMYK") {
      proof.notes.push_back(place +
                            ": the prepared picture is no longer CMYK: its ink was converted "
                            "to RGB by a plain formula, and prints in other colours");
    }
  }

  // Judged against what should print.
  if (!prepared.loaded) {
    proof.failures.push_back(place + ": the prepared book has no picture here");
    figure.passes = false;
  } else {
    const ElementGeometry& a = after.geometry;
    const bool placed = (cut ? samePlace(g.maskX, g.maskY, g.maskWidth, g.maskHeight, a)
                             : samePlace(g.boxX, g.boxY, g.boxWidth, g.boxHeight, a)) &&
                        a.rotationDegrees == g.rotationDegrees;
    if (!placed) {
      proof.failures.push_back(place +
                               ": the prepared book puts its picture elsewhere than the source "
                               "book shows it");
    }
    if (!prepared.cells.empty()) {
      figure.figures =
          measure(source.cells[0], source.covered[0], prepared.cells[0], prepared.covered[0]);
    }
    const std::vector<std::string> failures = failuresOf(figure.figures, c.thresholds);
    for (const std::string& failure : failures) {
      proof.failures.push_back(place + ": ");
      proof.failures.back() += failure;
    }
    // It prints another way up when the book was prepared with the other
    // setting.
    if (!failures.empty() && turnedByOption) {
      const char* setting = c.upright ? "without" : "with";
      proof.failures.back() += "; its picture is stored turned (EXIF orientation " +
                               std::to_string(source.orientation) + "): if the book was prepared " +
                               setting + " --exif-orientation, prove it " + setting + " it too";
    }
    figure.passes = proof.failures.empty();
  }
  proof.picture = figure;
  return proof;
}

}  // namespace vellomar
