#include "element/element_geometry.h"

#include <cmath>
#include <gtest/gtest.h>
#include <json/value.h>
#include <limits>

#include "album/json_reader.h"
#include "album/json_writer.h"
#include "util/diagnostics.h"

namespace vellomar {
namespace {

ElementGeometry placed(double boxX, double boxY, double boxWidth, double boxHeight,
                       double rotation, double maskX, double maskY, double maskWidth,
                       double maskHeight) {
  ElementGeometry g;
  g.boxX = boxX;
  g.boxY = boxY;
  g.boxWidth = boxWidth;
  g.boxHeight = boxHeight;
  g.rotationDegrees = rotation;
  g.maskX = maskX;
  g.maskY = maskY;
  g.maskWidth = maskWidth;
  g.maskHeight = maskHeight;
  placeWindow(g);
  return g;
}

TEST(ElementGeometryTest, WorkedPlacements) {
  struct Row {
    const char* name;
    ElementGeometry g;
    double scale;
    PixelRegion region;
    double area;
  };
  const Row rows[] = {
      {"unrotated, half scale", placed(100, 200, 400, 300, 0, 150, 250, 200, 150), 0.5,
       {100, 100, 400, 300, 800, 600}, 120000},
      // The five-decimal pi leaves the quarter turn short of exact: 99.99999999991.
      {"quarter turn", placed(0, 0, 1000, 1000, 90, 0, 100, 100, 100), 1,
       {99, 0, 100, 100, 1000, 1000}, 10000},
      {"half turn", placed(0, 0, 1000, 1000, 180, -100, -100, 100, 100), 1,
       {99, 100, 100, 100, 1000, 1000}, 10000},
      {"fractions cut toward zero", placed(10, 10, 99.9, 50.5, 0, 9.3, 8.5, 7.9, 3.2), 1,
       {0, -1, 7, 3, 99, 50}, 7.9 * 3.2},
      {"no mask", placed(5, 5, 100, 100, 0, 0, 0, 0, 0), 1, {-5, -5, 0, 0, 100, 100}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto region = pixelRegionOf(row.g, row.scale);
    ASSERT_TRUE(region.has_value());
    EXPECT_EQ(region->left, row.region.left);
    EXPECT_EQ(region->top, row.region.top);
    EXPECT_EQ(region->width, row.region.width);
    EXPECT_EQ(region->height, row.region.height);
    EXPECT_EQ(region->targetWidth, row.region.targetWidth);
    EXPECT_EQ(region->targetHeight, row.region.targetHeight);
    EXPECT_DOUBLE_EQ(visibleArea(row.g, row.scale), row.area);
  }
  const ElementGeometry quarter = placed(0, 0, 1000, 1000, 90, 0, 100, 100, 100);
  EXPECT_EQ(quarter.angle, 1.570795);
  EXPECT_LT(quarter.localX, 100.0);
  EXPECT_GT(quarter.localY, 0.0001);
  const ElementGeometry straight = placed(1.25, 2.5, 1, 1, 0, 10.75, -3.5, 1, 1);
  EXPECT_EQ(straight.localX, 9.5);
  EXPECT_EQ(straight.localY, -6.0);
}

TEST(ElementGeometryTest, RegionIsEmptyWhenAValueDoesNotFitAnInteger) {
  const ElementGeometry g = placed(0, 0, 400, 300, 0, 10, 10, 200, 100);
  EXPECT_FALSE(pixelRegionOf(g, 0).has_value());
  EXPECT_FALSE(pixelRegionOf(g, 1e-8).has_value());
  EXPECT_FALSE(pixelRegionOf(g, std::nan("")).has_value());
  EXPECT_TRUE(std::isnan(visibleArea(placed(0, 0, 1, 1, 0, 0, 0, 0, 0), 0)));
  EXPECT_TRUE(pixelRegionOf(g, -1).has_value());  // negative, but it fits

  EXPECT_EQ(truncateToInt(2147483647.9), 2147483647);
  EXPECT_EQ(truncateToInt(-2147483648.9), -2147483647 - 1);
  EXPECT_EQ(truncateToInt(-0.7), 0);
  EXPECT_FALSE(truncateToInt(2147483648.0).has_value());
  EXPECT_FALSE(truncateToInt(-2147483649.0).has_value());
  EXPECT_FALSE(truncateToInt(std::numeric_limits<double>::infinity()).has_value());
}

TEST(ElementGeometryTest, ReadingAddsAbsentMembersAsNull) {
  Json::Value element;
  ASSERT_TRUE(readJson("{\"image\":{\"src\":\"a.jpg\",\"width\":400,\"height\":true,"
                       "\"positionX\":-1.5}}",
                       element));
  const ElementGeometry g = readElementGeometry(element, "here");
  EXPECT_EQ(g.boxWidth, 400);
  EXPECT_EQ(g.boxHeight, 1);
  EXPECT_EQ(g.boxX, -1.5);
  EXPECT_EQ(g.maskWidth, 0);
  EXPECT_EQ(writeJson(element),
            "{\"image\":{\"height\":true,\"mask\":{\"height\":null,\"positionX\":null,"
            "\"positionY\":null,\"width\":null},\"positionX\":-1.50,\"positionY\":null,"
            "\"rotation\":null,\"src\":\"a.jpg\",\"width\":400}}\n");
}

TEST(ElementGeometryTest, ValuesOfTheWrongKindEndTheRunNamingTheKey) {
  struct Row {
    const char* element;
    const char* place;
  };
  const Row rows[] = {
      {"{\"image\":{\"width\":\"400\"}}", "e.image.width"},
      {"{\"image\":{\"rotation\":[]}}", "e.image.rotation"},
      {"{\"image\":{\"mask\":5}}", "e.image.mask"},
      {"{\"image\":{\"mask\":{\"positionY\":{}}}}", "e.image.mask.positionY"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.element);
    Json::Value element;
    ASSERT_TRUE(readJson(row.element, element));
    try {
      readElementGeometry(element, "e");
      ADD_FAILURE() << "no error";
    } catch (const FatalError& error) {
      EXPECT_EQ(error.place(), row.place);
    }
  }
}

}  // namespace
}  // namespace vellomar
