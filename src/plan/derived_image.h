#ifndef VELLOMAR_PLAN_DERIVED_IMAGE_H_
#define VELLOMAR_PLAN_DERIVED_IMAGE_H_

// What a picture element's derived picture is called and how it is made: the
// window of the picture scaled to its box (reduce), or the whole picture
// encoded again (copy).

#include <optional>
#include <string>
#include <string_view>

#include "plan/element_geometry.h"

namespace vellomar {

// True for sources that are not files of the album: a path beginning with the
// bytes "http", or exactly "default".
bool isSkippedSource(const std::string& sourcePath);

// The bytes of the source path after its last '/' or '\\' (all of it when it
// has none): the derived file's name.
std::string derivedNameOf(const std::string& sourcePath);

// True for a derived name that names no file of its own: "", "." or "..".
bool isUnusableDerivedName(const std::string& derivedName);

// A file name as a case-insensitive file system compares it: letters in lower
// case (the ASCII ones, and those of UTF-8's Latin, Greek and Cyrillic
// letters that have a case); other bytes as they are. Two names whose folded
// forms differ are two files on every system.
std::string foldedName(std::string_view name);

// True for names of the output directory that are not a picture's: the
// album's description and the tool's own files (".vellomar-...").
bool isReservedName(const std::string& name);

// How a derived picture is made from its source: its window cut and reduced
// to print resolution, or the whole picture copied (decoded and encoded
// again). The report says "cut" and "copied"; the state file, as since its
// first version, "reduce" and "copy".
enum class Derivation { kCut, kCopy };

struct DerivedPlan {
  Derivation derivation = Derivation::kCopy;
  PixelRegion region;  // cut only
};

// Whether the region's window is not empty and lies wholly inside the
// picture scaled to its box (0, 0, targetWidth, targetHeight). A window
// reaching past the picture cannot be cut from it: the rewritten record would
// stretch what is left over the whole mask.
bool windowInBox(const PixelRegion& region);

// Reduce when the picture is used by one element only, has more pixels than
// the window needs, and the window is sound (`region` present, its window in
// the box); copy otherwise.
DerivedPlan planDerivedImage(int censusCount, int pictureWidth, int pictureHeight,
                             double visibleArea, const std::optional<PixelRegion>& region);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_DERIVED_IMAGE_H_
