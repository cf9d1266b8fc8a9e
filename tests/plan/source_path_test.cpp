#include "plan/source_path.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include "album/json_reader.h"
#include "platform/code_page.h"

namespace vellomar {
namespace {

TEST(SourcePathTest, OriginRuleReplacesTheThumbnailPrefix) {
  struct Row {
    const char* src;
    const char* path;
  };
  const Row rows[] = {
      {"thumb/s/a.jpg", "origin/o/a.jpg"},
      {"thumb\\s\\a.jpg", "origin/o\\a.jpg"},
      {"thumb//s/a.jpg", "origin/o/a.jpg"},
      {"thumb/\\/s/a.jpg", "origin/o/a.jpg"},
      {"thumb/small/a.jpg", "origin/omall/a.jpg"},
      {"thumb/s12.jpg", "origin/o12.jpg"},
      {"thumb/s", "origin/o"},
      {"x\xC3\xA9yz/s/\xC3\xA9.jpg", "origin/o/\xC3\xA9.jpg"},
      {"http://server/a.jpg", "origin/oerver/a.jpg"},
      {"./s/a.jpg", "./s/a.jpg"},
      {"thumbs/a.jpg", "thumbs/a.jpg"},
      {"thumb/S/a.jpg", "thumb/S/a.jpg"},
      {"thumb/t/s.jpg", "thumb/t/s.jpg"},
      {"thumb/", "thumb/"},
      {"a/s", "a/s"},
      {"https://server/a.jpg", "https://server/a.jpg"},
      {"", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.src);
    EXPECT_EQ(toOriginPath(row.src), row.path);
  }
}

TEST(SourcePathTest, SourcePathOfTellsUsableSilentAndReportedSources) {
  const CodePage utf8 = CodePage::named("UTF-8");
  const std::string longest(kMaxPathBytes, 'a');
  struct Row {
    std::string element;
    bool origin;
    SourcePath::Status status;
    std::string path;
  };
  using S = SourcePath::Status;
  const Row rows[] = {
      {"{\"image\":{\"src\":\"p/a.jpg\"}}", false, S::kUsable, "p/a.jpg"},
      {"{\"image\":{\"src\":\"thumb/s/a.jpg\"}}", true, S::kUsable, "origin/o/a.jpg"},
      {"{\"image\":{\"src\":\"a\\u0000b.jpg\"}}", false, S::kUsable, "a"},
      {"{\"image\":{\"src\":\"\\u0000b.jpg\"}}", false, S::kNone, ""},
      {"{\"image\":{\"src\":\"\"}}", false, S::kNone, ""},
      {"{\"image\":{\"src\":null}}", false, S::kNone, ""},
      {"{\"image\":{\"src\":7}}", false, S::kNone, ""},
      {"{\"image\":null}", false, S::kNone, ""},
      {"{\"image\":\"a.jpg\"}", false, S::kNone, ""},
      {"{\"image\":{\"src\":\"" + longest + "\"}}", false, S::kUsable, longest},
      {"{\"image\":{\"src\":\"" + longest + "b\"}}", false, S::kProblem, ""},
      // The origin rule makes this one byte longer than the buffer holds.
      {"{\"image\":{\"src\":\"thumb/s" + std::string(kMaxPathBytes - 7, 'a') + "\"}}", true,
       S::kProblem, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.element.substr(0, 60));
    Json::Value element;
    ASSERT_TRUE(readJson(row.element, element));
    const SourcePath source = sourcePathOf(element, row.origin, utf8);
    EXPECT_EQ(source.status, row.status);
    EXPECT_EQ(source.path, row.path);
    EXPECT_EQ(source.problem.empty(), row.status != S::kProblem);
  }
}

TEST(SourcePathTest, ParentComponentsAreFoundBetweenEitherSeparator) {
  struct Row {
    const char* path;
    bool parent;
  };
  const Row rows[] = {{"..", true},   {"a/../b.jpg", true}, {"a\\..\\b.jpg", true},
                      {"a/..", true}, {"..a/b.jpg", false}, {"a../b.jpg", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(hasParentComponent(row.path), row.parent);
  }
}

}  // namespace
}  // namespace vellomar
