#include "plan/source_census.h"

#include <gtest/gtest.h>

#include <sstream>

#include "album/json_reader.h"
#include "plan/run_settings.h"
#include "platform/code_page.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// The census of the pages given as JSON text, as path=count pairs.
std::string censusOf(const std::string& pages, bool origin,
                     const CodePage& codePage = CodePage::named("UTF-8")) {
  const SourceCensus census = buildSourceCensus(parseJson(pages), origin, codePage);
  std::string entries;
  for (const auto& [path, count] : census.entries()) {
    entries += path + "=" + std::to_string(count) + " ";
  }
  EXPECT_EQ(census.find(""), 0);
  return entries;
}

TEST(SourceCensusTest, CountsEachPictureElementUnderItsSourcePath) {
  const std::string pages =
      R"([{"elements":[{"image":{"src":"a.jpg"},"type":1},{"image":{"src":"a.jpg"}},
          {"id":1,"image":{"src":"a.jpg"}},{"Image":{"src":"a.jpg"}},{"image":{"src":""}},
          {"image":{}},{"image":{"src":"pics\\b.jpg"}},null,7]},
          {},null,
          {"elements":[{"image":{"src":"a.jpg"}},{"image":{"src":"pics/b.jpg"}},
          {"image":{"src":"http://x/c.jpg"}},{"image":{"src":"default"}}]}])";
  EXPECT_EQ(censusOf(pages, false),
            "a.jpg=3 default=1 http://x/c.jpg=1 pics/b.jpg=1 pics\\b.jpg=1 ");
}

TEST(SourceCensusTest, OriginRuleAndCodePageDecideWhichSourcesAreOne) {
  const std::string pages =
      R"([{"elements":[{"image":{"src":"thumb/s/a.jpg"}},{"image":{"src":"origin/o/a.jpg"}}]}])";
  EXPECT_EQ(censusOf(pages, true), "origin/o/a.jpg=2 ");
  EXPECT_EQ(censusOf(pages, false), "origin/o/a.jpg=1 thumb/s/a.jpg=1 ");
  // Two names that lose the same characters in GBK meet as one source.
  EXPECT_EQ(censusOf("[{\"elements\":[{\"image\":{\"src\":\"\xF0\x9F\x98\x80.jpg\"}},"
                     "{\"image\":{\"src\":\"\xF0\x9F\x98\x81.jpg\"}}]}]",
                     false, CodePage::named("GBK")),
            "?.jpg=2 ");
}

}  // namespace
}  // namespace vellomar
