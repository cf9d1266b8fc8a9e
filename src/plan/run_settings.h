#ifndef VELLOMAR_PLAN_RUN_SETTINGS_H_
#define VELLOMAR_PLAN_RUN_SETTINGS_H_

// What one run works with, as the command line gives it; unchanged after.

#include <string>

namespace vellomar {

// The unit of a book's page coordinates, for the density its pictures print
// at: a page unit is 1 / scale printed pixels.
enum class PageUnit { kNone, kMillimetre, kInch, kPoint };

// Page units to an inch: 25.4 for millimetres, 1 for inches, 72 for points;
// 0 for none.
constexpr double unitsPerInch(PageUnit unit) {
  return unit == PageUnit::kMillimetre ? 25.4
         : unit == PageUnit::kInch     ? 1
         : unit == PageUnit::kPoint    ? 72
                                       : 0;
}

// How a window is reduced to its box: bilinearly, as the image library
// resizes (the default, and the files of every earlier run), or by averaging
// each box pixel's footprint of the picture.
enum class Resampling { kBilinear, kArea };

// The quality every derived JPEG file is encoded at unless asked otherwise.
constexpr int kDefaultJpegQuality = 95;

struct RunSettings {
  // Code-page bytes: the first argument with one backslash appended.
  std::string sourceDir;
  // Code-page bytes: the second argument; the run appends one backslash once
  // the directory has been created.
  std::string outputDir;
  // The third argument, read with atoi, equals 1.
  bool useOriginPath = false;
  // Pictures worked on at once; 0 for one per online processor.
  int workerCount = 0;
  // The error stream is a terminal: show how far the picture work has come.
  bool showProgress = false;
  // Make every picture, whatever an earlier run left.
  bool rebuild = false;
  // Turn every picture upright by its EXIF orientation before it is used.
  bool exifOrientation = false;
  // While another run writes into the output directory, wait for it to end
  // (or give up at once).
  bool waitForOtherRuns = true;
  // Code-page bytes: where the run's report goes; empty for none.
  std::string reportFile;
  // Replace files in the output directory that the tool did not write (never
  // a source file of the album).
  bool overwrite = false;
  // How derived JPEG files are encoded: their quality (1 to 100), and their
  // colour kept at full resolution (4:4:4) rather than halved each way (4:2:0).
  int jpegQuality = kDefaultJpegQuality;
  bool jpegFullChroma = false;
  // The unit the book's pages are laid out in, when known: the derived files
  // then state the density they print at.
  PageUnit pageUnit = PageUnit::kNone;
  Resampling resampling = Resampling::kBilinear;
};

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_RUN_SETTINGS_H_
