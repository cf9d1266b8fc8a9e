#include "element/element_geometry.h"

#include <json/value.h>

#include <cmath>
#include <stdexcept>

#include "album/album_format.h"
#include "util/diagnostics.h"

namespace vellomar {
namespace {

// The book's layouts were made with pi to five decimals; keeping that
// constant keeps every window where the layout program put it.
constexpr double kPi = 3.14159;

double readNumber(Json::Value& record, const char* key, const std::string& recordPlace) {
  try {
    return asDouble(record[key]);
  } catch (const std::runtime_error& error) {
    throw FatalError("", recordPlace + "." + key, error.what());
  }
}

}  // namespace

ElementGeometry readElementGeometry(Json::Value& element, const std::string& elementPlace) {
  const std::string imagePlace = elementPlace + "." + keys::kImage;
  Json::Value& image = element[keys::kImage];
  ElementGeometry g;
  g.boxWidth = readNumber(image, keys::kWidth, imagePlace);
  g.boxHeight = readNumber(image, keys::kHeight, imagePlace);
  g.boxX = readNumber(image, keys::kPositionX, imagePlace);
  g.boxY = readNumber(image, keys::kPositionY, imagePlace);
  g.rotationDegrees = readNumber(image, keys::kRotation, imagePlace);

  const std::string maskPlace = imagePlace + "." + keys::kMask;
  Json::Value& mask = image[keys::kMask];
  if (!isKeyed(mask)) throw FatalError("", maskPlace, "neither an object nor null");
  g.maskWidth = readNumber(mask, keys::kWidth, maskPlace);
  g.maskX = readNumber(mask, keys::kPositionX, maskPlace);
  g.maskHeight = readNumber(mask, keys::kHeight, maskPlace);
  g.maskY = readNumber(mask, keys::kPositionY, maskPlace);
  return g;
}

void placeWindow(ElementGeometry& g) {
  g.angle = (g.rotationDegrees * kPi) / 180;
  const double s = std::sin(g.angle);
  const double c = std::cos(g.angle);
  const double dy = g.maskY - g.boxY;
  const double dx = g.maskX - g.boxX;
  g.localX = dx * c + dy * s;
  g.localY = dy * c - dx * s;
}

double visibleArea(const ElementGeometry& g, double scale) {
  return ((g.maskWidth / scale) * g.maskHeight) / scale;
}

std::optional<int> truncateToInt(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<PixelRegion> pixelRegionOf(const ElementGeometry& g, double scale) {
  const auto targetWidth = truncateToInt(g.boxWidth / scale);
  const auto targetHeight = truncateToInt(g.boxHeight / scale);
  const auto width = truncateToInt(g.maskWidth / scale);
  const auto height = truncateToInt(g.maskHeight / scale);
  const auto left = truncateToInt(g.localX / scale);
  const auto top = truncateToInt(g.localY / scale);
  if (!targetWidth || !targetHeight || !width || !height || !left || !top) return std::nullopt;
  return PixelRegion{*left, *top, *width, *height, *targetWidth, *targetHeight};
}

}  // namespace vellomar
