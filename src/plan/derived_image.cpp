#include "plan/derived_image.h"

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

std::optional<Window> windowInBox(const PixelRegion& region) {
  const int64_t right = int64_t{region.left} + region.width;
  const int64_t bottom = int64_t{region.top} + region.height;
  if (region.width <= 0 || region.height <= 0 || region.left < 0 || region.top < 0 ||
      right > region.targetWidth || bottom > region.targetHeight) {
    return std::nullopt;
  }
  return Window{region.left, region.top, region.width, region.height};
}

DerivedPlan planDerivedImage(int censusCount, int pictureWidth, int pictureHeight,
                             double visibleArea, const std::optional<PixelRegion>& region) {
  DerivedPlan plan;
  const int64_t pixels = int64_t{pictureWidth} * pictureHeight;
  // A visible area that is not a number fails the comparison: copy.
  if (censusCount != 1 || !(static_cast<double>(pixels) > visibleArea) || !region) return plan;
  const std::optional<Window> window = windowInBox(*region);
  if (!window) return plan;
  plan.path = DerivedPath::kReduce;
  plan.region = *region;
  plan.window = *window;
  return plan;
}

}  // namespace vellomar
