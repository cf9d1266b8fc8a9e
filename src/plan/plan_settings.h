#ifndef VELLOMAR_PLAN_PLAN_SETTINGS_H_
#define VELLOMAR_PLAN_PLAN_SETTINGS_H_

// What the plan of a run takes from its command line; unchanged after.

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

struct PlanSettings {
  // Code-page bytes: the first argument with one backslash appended.
  std::string sourceDir;
  // The third argument, read with atoi, equals 1.
  bool useOriginPath = false;
  // Turn every picture upright by its EXIF orientation before it is used.
  bool exifOrientation = false;
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

#endif  // VELLOMAR_PLAN_PLAN_SETTINGS_H_
