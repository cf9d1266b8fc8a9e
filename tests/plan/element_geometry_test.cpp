#include "plan/element_geometry.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <cmath>

#include "album/json_reader.h"
#include "util/diagnostics.h"

namespace vellomar {
namespace {

// Box and mask as (x, y, width, height), the box turned by `rotation`.
ElementGeometry placed(double boxX, double boxY, double boxWidth, double boxHeight, double rotation,
                       double maskX, double maskY, double maskWidth, double maskHeight) {
  ElementGeometry g{boxWidth, boxHeight, boxX, boxY, rotation, maskWidth, maskHeight, maskX, maskY};
  placeWindow(g);
  return g;
}

TEST(ElementGeometryTest, WorkedPlacements) {
  struct Row {
    const char* name;
    ElementGeometry g;
    double scale;
    std::vector<int> region;  // left, top, width, height, targetWidth, targetHeight
    double area;
  };
  const Row rows[] = {
      {"unrotated, half scale",
       placed(100, 200, 400, 300, 0, 150, 250, 200, 150),
       0.5,
       {100, 100, 400, 300, 800, 600},
       120000},
      // The five-decimal pi leaves a quarter turn short: localX is 99.99999999991.
      {"quarter turn",
       placed(0, 0, 1000, 1000, 90, 0, 100, 100, 100),
       1,
       {99, 0, 100, 100, 1000, 1000},
       10000},
      {"half turn",
       placed(0, 0, 1000, 1000, 180, -100, -100, 100, 100),
       1,
       {99, 100, 100, 100, 1000, 1000},
       10000},
      {"cut toward zero",
       placed(10, 10, 99.9, 50.5, 0, 9.3, 8.5, 7.9, 3.2),
       1,
       {0, -1, 7, 3, 99, 50},
       7.9 * 3.2},
      {"no mask", placed(5, 5, 100, 100, 0, 0, 0, 0, 0), 1, {-5, -5, 0, 0, 100, 100}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto r = pixelRegionOf(row.g, row.scale);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(
        std::vector<int>({r->left, r->top, r->width, r->height, r->targetWidth, r->targetHeight}),
        row.region);
    EXPECT_DOUBLE_EQ(visibleArea(row.g, row.scale), row.area);
  }
  EXPECT_EQ(rows[1].g.angle, 1.570795);
  const ElementGeometry straight = placed(1.25, 2.5, 1, 1, 0, 10.75, -3.5, 1, 1);
  EXPECT_EQ(straight.localX, 9.5);
  EXPECT_EQ(straight.localY, -6.0);
}

TEST(ElementGeometryTest, RegionIsEmptyWhenAValueDoesNotFitAnInteger) {
  const ElementGeometry g = placed(0, 0, 400, 300, 0, 10, 10, 200, 100);
  for (double scale : {0.0, 1e-8, std::nan("")}) EXPECT_FALSE(pixelRegionOf(g, scale));
  EXPECT_TRUE(pixelRegionOf(g, -1));  // negative, but it fits
  EXPECT_EQ(truncateToInt(2147483647.9), 2147483647);
  EXPECT_EQ(truncateToInt(-2147483648.9), -2147483647 - 1);
  EXPECT_FALSE(truncateToInt(2147483648.0));
  EXPECT_FALSE(truncateToInt(-2147483649.0));
}

TEST(ElementGeometryTest, ValuesOfTheWrongKindEndTheRunNamingTheKey) {
  const std::pair<const char*, const char*> rows[] = {
      {"{\"image\":{\"width\":\"400\"}}", "e.image.width"},
      {"{\"image\":{\"rotation\":[]}}", "e.image.rotation"},
      {"{\"image\":{\"mask\":5}}", "e.image.mask"},
      {"{\"image\":{\"mask\":{\"positionY\":{}}}}", "e.image.mask.positionY"},
  };
  for (const auto& [text, place] : rows) {
    SCOPED_TRACE(text);
    Json::Value element;
    ASSERT_TRUE(readJson(text, element));
    ElementGeometry geometry;
    const auto problem = readElementGeometry(element, "e", geometry);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->place, place);
  }
}

}  // namespace
}  // namespace vellomar
