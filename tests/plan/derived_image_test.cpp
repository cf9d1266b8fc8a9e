#include "plan/derived_image.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vellomar {
namespace {

TEST(DerivedImageTest, NamesAndSkippedSources) {
  struct Row {
    const char* path;
    const char* derivedName;
    bool skipped;
  };
  const Row rows[] = {
      {"photos\\2013/p1.jpg", "p1.jpg", false},
      {"p1.jpg", "p1.jpg", false},
      {"dir/", "", false},
      {"httpdocs/a.jpg", "a.jpg", true},
      {"HTTP://host/a.jpg", "a.jpg", false},
      {"default", "default", true},
      {"x/default", "default", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(derivedNameOf(row.path), row.derivedName);
    EXPECT_EQ(isSkippedSource(row.path), row.skipped);
  }
  for (const char* name : {"", ".", ".."}) EXPECT_TRUE(isUnusableDerivedName(name));
  EXPECT_FALSE(isUnusableDerivedName("..."));
}

TEST(DerivedImageTest, ReduceOnlyForASoleUseWithMorePixelsThanTheWindow) {
  const PixelRegion inside{100, 100, 800, 600, 2000, 1500};
  struct Row {
    const char* name;
    int count;
    int width;
    int height;
    double area;
    std::optional<PixelRegion> region;
    DerivedPath path;
  };
  const Row rows[] = {
      {"sole use, larger picture", 1, 4000, 3000, 480000, inside, DerivedPath::kReduce},
      {"shared picture", 2, 4000, 3000, 480000, inside, DerivedPath::kCopy},
      {"equal area", 1, 300, 200, 60000, inside, DerivedPath::kCopy},
      {"area not a number", 1, 300, 200, std::nan(""), inside, DerivedPath::kCopy},
      {"region out of range", 1, 4000, 3000, 480000, std::nullopt, DerivedPath::kCopy},
      {"no mask: empty window", 1, 4000, 3000, 0, PixelRegion{0, 0, 0, 0, 2000, 1500},
       DerivedPath::kCopy},
      {"window beside the box", 1, 4000, 3000, 10, PixelRegion{2000, 0, 10, 10, 2000, 1500},
       DerivedPath::kCopy},
      // 50000 x 50000 overflows a 32-bit product; the pixel count is still right.
      {"huge picture", 1, 50000, 50000, 480000, inside, DerivedPath::kReduce},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(planDerivedImage(row.count, row.width, row.height, row.area, row.region).path,
              row.path);
  }
}

TEST(DerivedImageTest, WindowIsClippedToTheScaledPicture) {
  // Region (left, top, width, height) in a 100 x 100 box, and the clipped
  // window as "x y width height", or "" when nothing is left.
  const std::pair<PixelRegion, const char*> rows[] = {
      {{10, 20, 30, 40, 100, 100}, "10 20 30 40"},
      {{-10, -20, 30, 40, 100, 100}, "0 0 20 20"},
      {{-10, -10, 300, 300, 100, 100}, "0 0 100 100"},
      {{100, 0, 30, 40, 100, 100}, ""},
      {{0, 0, -5, 40, 100, 100}, ""},
      {{2147483600, 0, 2147483600, 1, 100, 100}, ""},
      {{0, 0, 10, 10, -1, 100}, ""},
  };
  for (const auto& [region, expected] : rows) {
    const std::optional<Window> w = clippedWindow(region);
    EXPECT_EQ(w ? std::to_string(w->x) + " " + std::to_string(w->y) + " " +
                      std::to_string(w->width) + " " + std::to_string(w->height)
                : "",
              expected)
        << region.left << "," << region.top;
  }
}

}  // namespace
}  // namespace vellomar
