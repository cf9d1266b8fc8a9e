#include "plan/element_geometry.h"

#include <json/value.h>

#include <algorithm>
#include <cmath>

#include "album/album_format.h"

namespace vellomar {
namespace {

// The book's layouts were made with pi to five decimals; keeping that
// constant keeps every window where the layout program put it.
constexpr double kPi = 3.14159;

}  // namespace

Expected<> readElementGeometry(const Json::Value& element, const std::string& elementPlace,
                               ElementGeometry& g) {
  std::optional<Problem> problem;
  // Reads one member as a double, unless an earlier read failed.
  const auto read = [&](const Json::Value& record, const std::string& recordPlace, const char* key,
                        double& number) {
    if (problem) return;
    const Expected<double> read = asDouble(record[key]);
    if (read.ok()) {
      number = read.value();
    } else {
      problem = documentProblem(recordPlace + "." + key, read.problem().text);
    }
  };
  const std::string imagePlace = elementPlace + "." + keys::kImage;
  const Json::Value& image = element[keys::kImage];
  read(image, imagePlace, keys::kWidth, g.boxWidth);
  read(image, imagePlace, keys::kHeight, g.boxHeight);
  read(image, imagePlace, keys::kPositionX, g.boxX);
  read(image, imagePlace, keys::kPositionY, g.boxY);
  read(image, imagePlace, keys::kRotation, g.rotationDegrees);
  const std::string maskPlace = imagePlace + "." + keys::kMask;
  const Json::Value& mask = image[keys::kMask];
  if (!problem && !isKeyed(mask)) return documentProblem(maskPlace, "neither an object nor null");
  read(mask, maskPlace, keys::kWidth, g.maskWidth);
  read(mask, maskPlace, keys::kPositionX, g.maskX);
  read(mask, maskPlace, keys::kHeight, g.maskHeight);
  read(mask, maskPlace, keys::kPositionY, g.maskY);
  if (problem) return *problem;
  return {};
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

double printResolution(int pictureWidth, int pictureHeight, double boxWidth, double boxHeight,
                       double scale) {
  return std::min(pictureWidth / std::abs(boxWidth / scale),
                  pictureHeight / std::abs(boxHeight / scale));
}

bool turnsSideways(int orientation) { return orientation >= 5 && orientation <= 8; }

bool boxSuggestsUpright(const ElementGeometry& g, int storedWidth, int storedHeight,
                        int orientation) {
  // How far the box's proportions (width / height) are from a picture's.
  const auto gap = [&](double width, double height) {
    return std::abs(std::log(std::abs(g.boxWidth / g.boxHeight) * (height / width)));
  };
  constexpr double kSameProportions = 0.03;
  return turnsSideways(orientation) && storedWidth > 0 && storedHeight > 0 &&
         gap(storedHeight, storedWidth) < kSameProportions &&
         gap(storedWidth, storedHeight) >= kSameProportions;
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
