#include "census/source_census.h"

#include <gtest/gtest.h>
#include <sstream>

#include "album/json_reader.h"
#include "app/album_document.h"
#include "app/run_settings.h"
#include "platform/code_page.h"
#include "util/diagnostics.h"

namespace vellomar {
namespace {

// A census over the pages given as JSON text.
class SourceCensusTest : public ::testing::Test {
 protected:
  void countPages(const std::string& pages, bool origin = false,
                  const CodePage& codePage = CodePage::named("UTF-8")) {
    ASSERT_TRUE(readJson(pages, document_.pageList));
    document_.pageCount = static_cast<int>(document_.pageList.size());
    settings_.useOriginPath = origin;
    AlbumRun run{settings_, document_, census_, codePage, diagnostics_, albumFile_};
    buildSourceCensus(run);
  }
  int count(const std::string& path) {
    census_.find(path);
    return census_.cursorAtEnd() ? 0 : census_.censusCursor()->second;
  }

  RunSettings settings_;
  AlbumDocument document_;
  SourceCensus census_;
  std::ostringstream err_;
  Diagnostics diagnostics_{err_};
  std::string albumFile_ = "album.desc";
};

TEST_F(SourceCensusTest, CountsEachPictureElementUnderItsSourcePath) {
  countPages(
      "[{\"elements\":[{\"image\":{\"src\":\"a.jpg\"},\"type\":1},{\"image\":{\"src\":\"a.jpg\"}},"
      "{\"id\":1,\"image\":{\"src\":\"a.jpg\"}},{\"Image\":{\"src\":\"a.jpg\"}},"
      "{\"images\":{\"src\":\"a.jpg\"}},{\"image\":{\"src\":\"\"}},{\"image\":{}},"
      "{\"image\":{\"src\":\"pics\\\\b.jpg\"}},null,7]},"
      "{},null,"
      "{\"elements\":[{\"image\":{\"src\":\"a.jpg\"}},{\"image\":{\"src\":\"pics/b.jpg\"}},"
      "{\"image\":{\"src\":\"http://x/c.jpg\"}},{\"image\":{\"src\":\"default\"}}]}]");
  EXPECT_EQ(count("a.jpg"), 3);
  EXPECT_EQ(count("pics\\b.jpg"), 1);
  EXPECT_EQ(count("pics/b.jpg"), 1);
  EXPECT_EQ(count("http://x/c.jpg"), 1);  // counted like any other path
  EXPECT_EQ(count("default"), 1);
  EXPECT_EQ(count(""), 0);
  EXPECT_EQ(census_.entries().size(), 5u);
  // Pages without elements gained them as null; the cursor is left at the end.
  EXPECT_TRUE(document_.pageList[1].isMember("elements"));
  EXPECT_TRUE(document_.pageList[2]["elements"].isNull());
  EXPECT_EQ(document_.pageIndex, 4);
  EXPECT_EQ(document_.elementIndex, 4);
  EXPECT_EQ(document_.elementCount, 4);
  EXPECT_EQ(err_.str(), "");  // the census reports nothing
}

TEST_F(SourceCensusTest, OriginRuleMergesThumbnailAndOriginSources) {
  const std::string pages =
      "[{\"elements\":[{\"image\":{\"src\":\"thumb/s/a.jpg\"}},"
      "{\"image\":{\"src\":\"origin/o/a.jpg\"}}]}]";
  countPages(pages, true);
  EXPECT_EQ(count("origin/o/a.jpg"), 2);
  census_.clear();
  countPages(pages, false);
  EXPECT_EQ(count("origin/o/a.jpg"), 1);
  EXPECT_EQ(count("thumb/s/a.jpg"), 1);
  // A second pass adds to what is there.
  countPages(pages, false);
  EXPECT_EQ(count("thumb/s/a.jpg"), 2);
}

TEST_F(SourceCensusTest, NamesTheCodePageCannotTellApartAreOneSource) {
  countPages(
      "[{\"elements\":[{\"image\":{\"src\":\"\xF0\x9F\x98\x80.jpg\"}},"
      "{\"image\":{\"src\":\"\xF0\x9F\x98\x81.jpg\"}}]}]",
      false, CodePage::named("GBK"));
  EXPECT_EQ(count("?.jpg"), 2);
}

TEST_F(SourceCensusTest, EmptyOrAbsentPageListLeavesTheCensusEmpty) {
  for (const char* pages : {"[]", "null", "{}", "5"}) {
    SCOPED_TRACE(pages);
    countPages(pages);
    EXPECT_TRUE(census_.entries().empty());
    EXPECT_EQ(document_.pageIndex, 0);
  }
}

}  // namespace
}  // namespace vellomar
