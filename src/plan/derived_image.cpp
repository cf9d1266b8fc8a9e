#include "plan/derived_image.h"

#include <algorithm>
#include <cstdint>

namespace vellomar {

bool isSkippedSource(const std::string& sourcePath) {
  return sourcePath.compare(0, 4, "http") == 0 || sourcePath == "default";
}

std::string derivedNameOf(const std::string& sourcePath) {
  const size_t separator = sourcePath.find_last_of("/\\");
  return separator == std::string::npos ? sourcePath : sourcePath.substr(separator + 1);
}

bool isUnusableDerivedName(const std::string& derivedName) {
  return derivedName.empty() || derivedName == "." || derivedName == "..";
}

std::optional<Window> clippedWindow(const PixelRegion& region) {
  if (region.targetWidth <= 0 || region.targetHeight <= 0) return std::nullopt;
  const int64_t left = std::max<int64_t>(region.left, 0);
  const int64_t top = std::max<int64_t>(region.top, 0);
  const int64_t right = std::min<int64_t>(int64_t{region.left} + region.width, region.targetWidth);
  const int64_t bottom =
      std::min<int64_t>(int64_t{region.top} + region.height, region.targetHeight);
  if (right <= left || bottom <= top) return std::nullopt;
  return Window{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                static_cast<int>(bottom - top)};
}

DerivedPlan planDerivedImage(int censusCount, int pictureWidth, int pictureHeight,
                             double visibleArea, const std::optional<PixelRegion>& region) {
  DerivedPlan plan;
  const int64_t pixels = int64_t{pictureWidth} * pictureHeight;
  // A visible area that is not a number fails the comparison: copy.
  if (censusCount != 1 || !(static_cast<double>(pixels) > visibleArea) || !region) return plan;
  const std::optional<Window> window = clippedWindow(*region);
  if (!window) return plan;
  plan.path = DerivedPath::kReduce;
  plan.region = *region;
  plan.window = *window;
  return plan;
}

}  // namespace vellomar
