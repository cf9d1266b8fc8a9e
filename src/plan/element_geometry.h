#ifndef VELLOMAR_PLAN_ELEMENT_GEOMETRY_H_
#define VELLOMAR_PLAN_ELEMENT_GEOMETRY_H_

// Where a picture element's window lies: the picture box and the mask box read
// from the image record, the mask's corner in the picture box's own axes, and
// the window in pixels of the derived picture.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "util/diagnostics.h"

namespace Json {
class Value;
}

namespace vellomar {

// Page units, as read; angle in radians, localX / localY in page units along
// the picture box's axes.
struct ElementGeometry {
  double boxWidth = 0;
  double boxHeight = 0;
  double boxX = 0;
  double boxY = 0;
  double rotationDegrees = 0;
  double maskWidth = 0;
  double maskHeight = 0;
  double maskX = 0;
  double maskY = 0;
  double angle = 0;
  double localX = 0;
  double localY = 0;
};

// Pixels of the derived picture.
struct PixelRegion {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int targetWidth = 0;  // the whole picture box
  int targetHeight = 0;
};

// Cells laid over a picture's box: the picture scaled to `boxWidth` x
// `boxHeight` cells, and `width` x `height` cells of it from (`originX`,
// `originY`) on, cell (i, j) covering [originX + i, originX + i + 1) across
// and [originY + j, originY + j + 1) down.
struct CellGrid {
  double boxWidth = 0;
  double boxHeight = 0;
  double originX = 0;
  double originY = 0;
  int width = 0;
  int height = 0;
};

// The grids to lay over a picture of `width` x `height` pixels (as it is used).
using GridsFor = std::function<std::vector<CellGrid>(int width, int height)>;

// Reads width, height, positionX, positionY and rotation of element.image,
// then width, positionX, height and positionY of element.image.mask, in that
// order (an absent member reads as 0). Returns the problem that ends the run,
// naming `elementPlace` and the key, for the first value that is not a
// number, null or boolean, or a mask that is neither an object nor null.
Expected<> readElementGeometry(const Json::Value& element, const std::string& elementPlace,
                               ElementGeometry& geometry);

// Sets angle, localX and localY: the offset from the picture box's position
// point to the mask box's, turned by minus the rotation.
void placeWindow(ElementGeometry& geometry);

// The window's area in pixels of the derived picture.
double visibleArea(const ElementGeometry& geometry, double scale);

// The window and the whole box in pixels, each value cut toward zero; empty
// when a value is not finite or does not fit a 32-bit integer.
std::optional<PixelRegion> pixelRegionOf(const ElementGeometry& geometry, double scale);

// The resolution at which a `pictureWidth` x `pictureHeight` picture prints in
// a box of `boxWidth` x `boxHeight` page units at `scale` page units to the
// pixel: the smaller of its two sides' source pixels per printed pixel.
double printResolution(int pictureWidth, int pictureHeight, double boxWidth, double boxHeight,
                       double scale);

// Whether the EXIF orientation turns the stored picture on its side (5 to 8):
// upright, its width is the stored height.
bool turnsSideways(int orientation);

// Whether a picture of `storedWidth` x `storedHeight` pixels, stored turned
// on its side by its EXIF `orientation`, lies in a box with the proportions of
// the upright picture (within 3 %) and not of the stored one: the book was
// likely laid out with it upright.
bool boxSuggestsUpright(const ElementGeometry& geometry, int storedWidth, int storedHeight,
                        int orientation);

// `value` cut toward zero, when it is finite and the result fits a 32-bit
// signed integer.
std::optional<int> truncateToInt(double value);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_ELEMENT_GEOMETRY_H_
