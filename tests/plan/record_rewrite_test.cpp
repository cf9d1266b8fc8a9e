#include "plan/record_rewrite.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include "album/json_writer.h"
#include "plan/element_geometry.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

ElementGeometry maskBox(double x, double y, double width, double height) {
  ElementGeometry g;
  g.maskX = x;
  g.maskY = y;
  g.maskWidth = width;
  g.maskHeight = height;
  return g;
}

TEST(RecordRewriteTest, FullRewriteDescribesTheWindow) {
  struct Row {
    const char* input;
    const char* output;
  };
  const Row rows[] = {
      {"{\"src\":\"t/a.jpg\",\"width\":400,\"height\":300,\"positionX\":1,\"positionY\":2,"
       "\"rotation\":0,\"mask\":{\"a\":1},\"extra\":\"kept\"}",
       "{\"extra\":\"kept\",\"height\":150.0,\"height_o\":1500,\"mask\":{\"a\":1},"
       "\"positionX\":150.0,\"positionY\":250.0,\"rotation\":0,\"src\":\"a.jpg\","
       "\"width\":200.0,\"width_o\":2000}"},
      // The box's integer part decides width_o: 400.9 counts as 400.
      {"{\"width\":400.9,\"height\":300.2,\"width_o\":\"old\",\"height_o\":[1]}",
       "{\"height\":150.0,\"height_o\":1500,\"positionX\":150.0,\"positionY\":250.0,"
       "\"src\":\"a.jpg\",\"width\":200.0,\"width_o\":2000}"},
      // A box side below 1 gives 0 rather than a division by zero.
      {"{\"width\":0.5,\"height\":null}",
       "{\"height\":150.0,\"height_o\":0,\"positionX\":150.0,\"positionY\":250.0,"
       "\"src\":\"a.jpg\",\"width\":200.0,\"width_o\":0}"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    Json::Value image = parseJson(row.input);
    fullRewrite(image, maskBox(150, 250, 200, 150), 4000, 3000, "a.jpg", "here");
    EXPECT_EQ(writeJson(image), std::string(row.output) + "\n");
  }
}

TEST(RecordRewriteTest, OriginalSideIsZeroWhereTheQuotientIsNoInteger) {
  EXPECT_EQ(originalSide(3, -10, 4), -7);
  EXPECT_EQ(originalSide(4000, 200, 0), 0);
  EXPECT_EQ(originalSide(4000, 1e300, 1), 0);
  EXPECT_EQ(originalSide(4000, 2e9, 1), 0);
}

}  // namespace
}  // namespace vellomar
