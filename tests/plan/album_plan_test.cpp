#include "plan/album_plan.h"

#include <cmath>

#include "album/json_writer.h"
#include "plan/derived_image.h"
#include "plan/plan_settings.h"
#include "plan/record_rewrite.h"
#include "plan/run_state.h"
#include "plan/source_path.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// The plan of `document`, one line per planned element ("page.element", how
// far it was read, then its problem or its job), then the problem that ends
// the run.
std::string planOf(const std::string& document, bool origin, const char* codePage) {
  PlanSettings settings;
  settings.sourceDir = "in\\";
  settings.useOriginPath = origin;
  const AlbumPlan plan = planAlbum(parseJson(document), settings, CodePage::named(codePage));
  std::string lines;
  for (const ElementPlan& e : plan.elements) {
    lines += std::to_string(e.page) + "." + std::to_string(e.element) + " " +
             "-sg"[static_cast<int>(e.reads)];
    if (e.problem) lines += " " + e.problem->file + "|" + e.problem->text;
    if (!e.leftOut.empty()) lines += " left out: " + e.leftOut.substr(0, e.leftOut.find(')') + 1);
    if (e.job) {
      lines += " " + e.job->sourceFilePath.substr(4) + ">" + e.newSrc + " x" +
               std::to_string(e.job->censusCount);
    }
    lines += "\n";
  }
  if (plan.fatal) lines += plan.fatal->place + ": " + plan.fatal->text;
  return lines;
}

std::string book(const std::string& elements) {
  return R"({"photoBook":{"scale":0.5,"pages":[{"elements":[)" + elements + "]}]}}";
}

TEST(AlbumPlanTest, SourcesAreCountedNamedSkippedOrReported) {
  const std::string longName = std::string(1016, 'a') + ".png";
  const std::string lost = kWindows ? "??" : "?";  // Windows: one for each half of U+1F600
  const struct {
    std::string document;
    bool origin;
    const char* codePage;
    std::string plan;
  } rows[] = {
      {R"({"photoBook":{"pages":[{"elements":[{"image":{"src":"a.jpg"},"type":1},
        {"id":1,"image":{"src":"a.jpg"}},{"image":{"src":"photos\\2013/p1.jpg"}},
        {"image":{"src":"httpdocs/a.jpg"}},{"image":{"src":"HTTP://h/b.jpg"}},
        {"image":{"src":"x/default"}},{"image":{"src":"default"}},{"image":{"src":""}},
        {"image":{"src":7}},{"image":5},{"Image":{}},{},{"image":{"src":"a\u0000b.jpg"}},
        {"image":{"src":"p/../../s.png"}},{"image":{"src":"p\\.."}},{"image":{"src":"p/."}},
        {"image":{"src":"..."}}]},{},null,
        {"elements":[{"image":{"src":"a.jpg"}},{"image":{"src":"p\\..a.png"}}]}]}})",
       false, "UTF-8",
       "0.0 g a.jpg>a.jpg x2\n"
       "0.1 - left out: not a picture element (its first key is \"id\", not \"image\")\n"
       "0.2 g photos\\2013/p1.jpg>p1.jpg x1\n0.3 s\n"
       "0.4 g HTTP://h/b.jpg>b.jpg x1\n0.5 g x/default>default x1\n0.6 s\n0.7 s\n0.8 s\n0.9 -\n"
       "0.12 g a>a x1\n"
       "0.13 s |the source path leads out of the source directory: p/../../s.png\n"
       "0.14 s |the source path leads out of the source directory: p\\..\n"
       "0.15 s |the source path names no file: p/.\n0.16 g ...>... x1\n"
       "3.0 g a.jpg>a.jpg x2\n3.1 g p\\..a.png>..a.png x1\n"},
      {book(R"({"image":{"src":"thumb/s/a.jpg"}},{"image":{"src":"origin/o/a.jpg"}})"), true,
       "UTF-8", "0.0 g origin/o/a.jpg>a.jpg x2\n0.1 g origin/o/a.jpg>a.jpg x2\n"},
      {book(R"({"image":{"src":"thumb/s/a.jpg"}},{"image":{"src":"origin/o/a.jpg"}})"), false,
       "UTF-8", "0.0 g thumb/s/a.jpg>a.jpg x1\n0.1 g origin/o/a.jpg>a-2.jpg x1\n"},
      // Two names that lose the same characters in GBK meet as one source;
      // the new src is the derived name in UTF-8.
      {book("{\"image\":{\"src\":\"\xF0\x9F\x98\x80.jpg\"}},"
            "{\"image\":{\"src\":\"\xE7\x85\xA7/\xE7\x89\x87.jpg\"}},"
            "{\"image\":{\"src\":\"\xF0\x9F\x98\x81.jpg\"}}"),
       false, "GBK",
       "0.0 g " + lost + ".jpg>" + lost +
           ".jpg x2\n0.1 g \xD5\xD5/\xC6\xAC.jpg>\xE7\x89\x87.jpg x1\n0.2 g " + lost + ".jpg>" +
           lost + ".jpg x2\n"},
      // Each source has a derived name of its own, as a case-insensitive file
      // system tells names apart: the first keeps it, the later ones are
      // numbered past the names the book's sources have and the tool's own.
      {book(R"({"image":{"src":"Papa/IMG_0042.jpg"}},{"image":{"src":"Mama/IMG_0042.jpg"}},
             {"image":{"src":"Papa/IMG_0042.jpg"}},{"image":{"src":"img_0042-2.JPG"}},
             {"image":{"src":"x/\u00c9t\u00e9"}},{"image":{"src":"y/\u00e9t\u00e9"}},
             {"image":{"src":"album.desc"}},{"image":{"src":"a/.vellomar-state.jpg"}})"),
       false, "UTF-8",
       "0.0 g Papa/IMG_0042.jpg>IMG_0042.jpg x2\n0.1 g Mama/IMG_0042.jpg>IMG_0042-3.jpg x1\n"
       "0.2 g Papa/IMG_0042.jpg>IMG_0042.jpg x2\n0.3 g img_0042-2.JPG>img_0042-2.JPG x1\n"
       "0.4 g x/\xC3\x89t\xC3\xA9>\xC3\x89t\xC3\xA9 x1\n"
       "0.5 g y/\xC3\xA9t\xC3\xA9>\xC3\xA9t\xC3\xA9-2 x1\n0.6 g album.desc>album-2.desc x1\n"
       "0.7 g a/.vellomar-state.jpg>_.vellomar-state-2.jpg x1\n"},
      // Paths are held to 1023 bytes: src, src after the origin rule, and the
      // path of the file (in\\ and the path).
      {book(R"({"image":{"src":")" + std::string(1024, 'a') + R"("}})"), false, "UTF-8",
       "0.0 s |src is longer than 1023 bytes\n"},
      {book(R"({"image":{"src":"thumb/s)" + std::string(1016, 'a') + R"("}})"), true, "UTF-8",
       "0.0 s |the source path is longer than 1023 bytes\n"},
      {book(R"({"image":{"src":")" + longName + R"("}})"), false, "UTF-8",
       std::string("0.0 g in") + kSeparator + kSeparator + longName +
           "|the source file path is longer than 1023 bytes\n"},
      {book(R"({"image":{"src":")" + longName.substr(1) + R"("}})"), false, "UTF-8",
       "0.0 g " + longName.substr(1) + ">" + longName.substr(1) + " x1\n"},
      // Document errors end the run after the elements before them.
      {"[1]", false, "UTF-8", ": the document is neither an object nor null"},
      {R"({"photoBook":[]})", false, "UTF-8", "photoBook: neither an object nor null"},
      {R"({"photoBook":{"scale":"1"}})", false, "UTF-8",
       "photoBook.scale: Type is not convertible to double"},
      {R"({"photoBook":{"pages":{"a":{}}}})", false, "UTF-8",
       "photoBook.pages: an object where a list of pages is expected"},
      {R"({"photoBook":{"pages":[{"elements":[{"image":{"src":"a.png"}}]},"x"]}})", false, "UTF-8",
       "photoBook.pages[1]: a page that is neither an object nor null"},
      {R"({"photoBook":{"pages":[{},{"elements":{"0":{}}}]}})", false, "UTF-8",
       "photoBook.pages[1].elements: an object where a list of elements is expected"},
      {book(R"({"image":{"src":"a.png"}},{"image":{"src":"b.png","width":"400"}})"), false, "UTF-8",
       "0.0 g a.png>a.png x1\n"
       "photoBook.pages[0].elements[1].image.width: Type is not convertible to double"},
      {book(R"({"image":{"src":"b.png","mask":5}})"), false, "UTF-8",
       "photoBook.pages[0].elements[0].image.mask: neither an object nor null"},
      {book(R"({"image":{"src":"b","mask":{"positionY":{}}}})"), false, "UTF-8",
       "photoBook.pages[0].elements[0].image.mask.positionY: Type is not convertible to double"},
      {R"({"photoBook":{"scale":true,"pages":{}}})", false, "UTF-8", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.document.substr(0, 100));
    EXPECT_EQ(planOf(row.document, row.origin, row.codePage), row.plan);
  }
}

// Names are compared as a case-insensitive file system compares them: each
// letter with a case, at the edges of its block, in lower case; other bytes
// (a sign, a letter without a case, bytes that are no UTF-8) as they are.
TEST(AlbumPlanTest, NamesAreFoldedToLowerCase) {
  EXPECT_EQ(foldedName(
                "AZ@[\xC3\x80\xC3\x9E\xC3\x97\xC4\x80\xC4\xB6\xC4\xB9\xC5\x87\xC5\x8A"
                "\xC5\xB6\xC5\xB8\xC5\xB9\xC5\xBD\xCE\x86\xCE\x88\xCE\x8C\xCE\x8E\xCE\x8F"
                "\xCE\x91\xCE\xAB\xD0\x80\xD0\x8F\xD0\x90\xD0\xAF\xD0\xB0\xC4\xB8\xC5\x89\xC2\xFF"),
            "az@[\xC3\xA0\xC3\xBE\xC3\x97\xC4\x81\xC4\xB7\xC4\xBA\xC5\x88\xC5\x8B"
            "\xC5\xB7\xC3\xBF\xC5\xBA\xC5\xBE\xCE\xAC\xCE\xAD\xCF\x8C\xCF\x8D\xCF\x8E"
            "\xCE\xB1\xCF\x8B\xD1\x90\xD1\x9F\xD0\xB0\xD1\x8F\xD0\xB0\xC4\xB8\xC5\x89\xC2\xFF");
}

// The origin rule: any five bytes, one or more separators of either kind,
// then 's'; anything else stays as it is.
TEST(AlbumPlanTest, OriginPathsReplaceTheThumbnailsPrefix) {
  const std::pair<const char*, const char*> rows[] = {
      {"thumb/s/a.jpg", "origin/o/a.jpg"},
      {"thumb\\s\\a.jpg", "origin/o\\a.jpg"},
      {"thumb//s/a.jpg", "origin/o/a.jpg"},
      {"thumb/\\/s", "origin/o"},
      {"thumb/small/a.jpg", "origin/omall/a.jpg"},
      {"thumb/s12.jpg", "origin/o12.jpg"},
      {"12345/s", "origin/o"},
      {"./s/a.jpg", "./s/a.jpg"},
      {"thumbs/a.jpg", "thumbs/a.jpg"},
      {"thumb/S/a.jpg", "thumb/S/a.jpg"},
      {"thumb/t/s.jpg", "thumb/t/s.jpg"},
      {"thumb//", "thumb//"},
      {"thumb/", "thumb/"},
      {"a/s", "a/s"},
  };
  for (const auto& [src, path] : rows) EXPECT_EQ(toOriginPath(src), path) << src;
}

TEST(AlbumPlanTest, WindowsInPixelsOfTheBox) {
  // Box x, y, width, height, rotation; mask x, y, width, height; scale; then
  // the region's left, top, width, height, box width, box height and the area.
  const double rows[][17] = {
      {100, 200, 400, 300, 0, 150, 250, 200, 150, 0.5, 100, 100, 400, 300, 800, 600, 120000},
      // The five-decimal pi leaves a quarter turn short: localX is 99.99999999991.
      {0, 0, 1000, 1000, 90, 0, 100, 100, 100, 1, 99, 0, 100, 100, 1000, 1000, 10000},
      {10, 10, 99.9, 50.5, 0, 9.3, 8.5, 7.9, 3.2, 1, 0, -1, 7, 3, 99, 50, 7.9 * 3.2},
      {1.25, 2.5, 1, 1, 0, 10.75, -3.5, 2, 2, 0.5, 19, -12, 4, 4, 2, 2, 16},
  };
  for (const auto& r : rows) {
    ElementGeometry g{r[2], r[3], r[0], r[1], r[4], r[7], r[8], r[5], r[6]};
    placeWindow(g);
    const auto region = pixelRegionOf(g, r[9]);
    ASSERT_TRUE(region.has_value());
    EXPECT_EQ(std::vector<double>({double(region->left), double(region->top), double(region->width),
                                   double(region->height), double(region->targetWidth),
                                   double(region->targetHeight), visibleArea(g, r[9])}),
              std::vector<double>(r + 10, r + 17));
    for (double scale : {0.0, std::nan("")}) EXPECT_FALSE(pixelRegionOf(g, scale));
  }
  EXPECT_EQ(truncateToInt(2147483647.9), 2147483647);
  EXPECT_EQ(truncateToInt(-2147483648.9), -2147483647 - 1);
  EXPECT_FALSE(truncateToInt(2147483648.0));
  EXPECT_FALSE(truncateToInt(-2147483649.0));
}

TEST(AlbumPlanTest, ReduceOnlyASoleUseWithMorePixelsThanItsSoundWindow) {
  const PixelRegion inside{100, 100, 800, 600, 2000, 1500};
  struct Row {
    int count, width, height;
    double area;
    std::optional<PixelRegion> region;
    std::vector<int> window;  // of a reduction; empty for a copy
  };
  const Row rows[] = {
      {1, 4000, 3000, 480000, inside, {100, 100, 800, 600}},
      {2, 4000, 3000, 480000, inside, {}},
      {1, 300, 200, 60000, inside, {}},
      {1, 300, 200, std::nan(""), inside, {}},
      {1, 4000, 3000, 480000, std::nullopt, {}},
      // 50000 x 50000 overflows a 32-bit product; the pixel count is still right.
      {1, 50000, 50000, 480000, inside, {100, 100, 800, 600}},
      // Only a window wholly inside the box is cut: touching each edge, not
      // reaching past one, not empty.
      {1, 4000, 3000, 1, PixelRegion{0, 0, 100, 100, 100, 100}, {0, 0, 100, 100}},
      {1, 4000, 3000, 1, PixelRegion{70, 60, 30, 40, 100, 100}, {70, 60, 30, 40}},
      {1, 4000, 3000, 1, PixelRegion{-1, 0, 30, 40, 100, 100}, {}},
      {1, 4000, 3000, 1, PixelRegion{0, -1, 30, 40, 100, 100}, {}},
      {1, 4000, 3000, 1, PixelRegion{71, 0, 30, 40, 100, 100}, {}},
      {1, 4000, 3000, 1, PixelRegion{0, 61, 30, 40, 100, 100}, {}},
      {1, 4000, 3000, 1, PixelRegion{-10, -10, 300, 300, 100, 100}, {}},
      {1, 4000, 3000, 1, PixelRegion{0, 0, 0, 40, 100, 100}, {}},
      {1, 4000, 3000, 1, PixelRegion{0, 0, 30, 0, 100, 100}, {}},
      {1, 4000, 3000, 1, PixelRegion{0, 0, -5, 40, 100, 100}, {}},
      {1, 4000, 3000, 1, PixelRegion{2147483600, 0, 2147483600, 1, 100, 100}, {}},
  };
  for (const Row& row : rows) {
    const DerivedPlan plan =
        planDerivedImage(row.count, row.width, row.height, row.area, row.region);
    const PixelRegion& w = plan.region;
    EXPECT_EQ(plan.derivation == Derivation::kCut
                  ? std::vector<int>({w.left, w.top, w.width, w.height})
                  : std::vector<int>(),
              row.window)
        << row.count << " " << row.width << " " << row.area;
  }
}

// The mask box replaces the box; the box's integer part decides width_o and
// height_o (400.9 counts as 400, 0.5 as 0); every other member is kept.
TEST(AlbumPlanTest, RewrittenRecordsDescribeTheWindow) {
  ElementPlan plan;
  plan.place = "e";
  plan.reads = ElementReads::kGeometry;
  plan.geometry = ElementGeometry{0, 0, 0, 0, 0, 200, 150, 150, 250};
  plan.newSrc = "a.jpg";
  Json::Value image;
  EXPECT_TRUE(
      rewrittenImage(
          plan,
          parseJson(R"({"image":{"width":400.9,"height":0.5,"height_o":[1],"mask":{"k":1}}})"),
          Derivation::kCut, 4000, 3000, image)
          .ok());
  EXPECT_EQ(writeJson(image),
            R"({"height":150.0,"height_o":0,"mask":{"height":null,"k":1,"positionX":null,)"
            R"("positionY":null,"width":null},"positionX":150.0,"positionY":250.0,"rotation":null,)"
            R"("src":"a.jpg","width":200.0,"width_o":2000})"
            "\n");
  const auto problem = rewrittenImage(plan, parseJson(R"({"image":{"height":3000000000}})"),
                                      Derivation::kCut, 4000, 3000, image);
  EXPECT_EQ(problem.problem().place + ": " + problem.reason(),
            "e.image.height: integer out of signed integer range");
  EXPECT_EQ(originalSide(3, -10, 4), -7);
  EXPECT_EQ(originalSide(4000, 1e300, 1), 0);
  EXPECT_EQ(originalSide(4000, 2e9, 1), 0);
}

// The state a run leaves reads back as it was written; a text that is not
// exactly such a state reads as nothing. The job's recipe tells apart what
// makes other bytes, but not the windows of a picture that is only copied.
TEST(RunStateTest, StateReadsBackAndDamageIsRefused) {
  const std::vector<DerivedFile> files = {{"a b\n.jpg",
                                           7,
                                           {1, 2, 3, -4, 5},
                                           0xFFFFFFFFFFFFFFFF,
                                           {5, 6, 7, 8, 9},
                                           9,
                                           4000,
                                           3000,
                                           Derivation::kCut},
                                          {"c.png", 0, {}, 0, {}, 0, 0, 0, Derivation::kCopy}};
  const std::string text = stateText(RunState{files, {}});
  const auto read = readState(text);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(stateText(*read), text);
  const std::string first = text.substr(0, text.find('\n', 17) + 1);
  for (const std::string& damaged :
       {std::string("vellomar-state 1\n"), text.substr(0, text.size() - 3),
        first + "zz" + text.substr(first.size()), first + "-1" + text.substr(first.size() + 2),
        text + "61 0 1 1 1 1 1 0 0 1 1 1 1 0 3000000000 1 copy\n",
        text.substr(0, text.size() - 5) + "cop\n",
        std::string("vellomar-state 2\n2e 0 1 2 3 4 5 0 0 5 6 7 8 9 0 1 1 +1\n"),
        std::string("vellomar-state 2\n2e 0 0 0 -1 0 0 0 0 0 0 0 0 0 0 0 copy\n")}) {
    EXPECT_FALSE(readState(damaged).has_value()) << damaged;
  }
  PictureJob job{"in/a.jpg", "a.jpg", 1, 1200.0000000001, PixelRegion{1, 2, 3, 4, 5, 6}};
  const uint64_t recipe = recipeOf(job, "v1");
  EXPECT_NE(recipe, recipeOf(job, "v2"));
  PictureJob area = job, window = job, name = job, upright = job, copy = job;
  area.visibleArea = 1200;
  window.region->targetHeight = 7;
  name.derivedName = "a.jpeg";
  upright.upright = true;
  copy.censusCount = 2;
  for (const PictureJob& other : {area, window, name, upright, copy}) {
    EXPECT_NE(recipeOf(other, "v1"), recipe);
  }
  PictureJob otherCopy = copy;
  otherCopy.region = std::nullopt;
  otherCopy.visibleArea = 1;
  otherCopy.censusCount = 3;
  EXPECT_EQ(recipeOf(otherCopy, "v1"), recipeOf(copy, "v1"));
}

// A file of the output directory is the tool's when it is one the tool put
// there (the same file, not written since) or holds the bytes of one (the
// directory copied); a name is the same name in any case.
TEST(RunStateTest, OwnedFilesAreThoseTheToolWrote) {
  OwnedFiles owned;
  const FileIdentity put{1, 2, 3, 4, 5};
  owned.add(OwnedFile{"IMG.jpg", put, 77});
  FileIdentity renamed = put, written = put, other{1, 9, 3, 4, 5};
  renamed.changedNanoseconds = 6;
  written.modifiedNanoseconds = 8;
  const struct {
    const char* name;
    std::optional<FileIdentity> now;
    std::optional<uint64_t> hash;
    Ownership owner;
  } rows[] = {
      {"img.JPG", std::nullopt, std::nullopt, Ownership::kAbsent},
      {"a.jpg", put, 77, Ownership::kForeign},
      {"IMG.jpg", put, std::nullopt, Ownership::kOwn},
      {"img.JPG", renamed, std::nullopt, Ownership::kOwn},
      {"IMG.jpg", written, 77, Ownership::kOwn},
      {"IMG.jpg", other, 77, Ownership::kOwn},
      {"IMG.jpg", written, 78, Ownership::kChanged},
      {"IMG.jpg", other, std::nullopt, Ownership::kChanged},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(owned.of(row.name, row.now, [&] { return row.hash; }), row.owner) << row.name;
  }
  // The journal a killed run leaves reads back but for a line cut short.
  const std::string journal = journalLine({"a b.jpg", put, 77}) + journalLine({"c", other, 1});
  const std::vector<OwnedFile> read = readJournal(journal.substr(0, journal.size() - 3));
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(journalLine(read[0]), journal.substr(0, journal.find('\n') + 1));
}

// A file the last run made is kept only when its recipe is the same, and its
// source and the file itself are as they were: the same identity, or failing
// that, the same bytes. Every other job is made once for its source file, a
// later job of that source taking the file its first one writes.
TEST(RunStateTest, ReRunsKeepMakeOrCopy) {
  const FileIdentity source{1, 2, 3, 4, 5}, written{1, 9, 3, 4, 5};
  FileIdentity touched = source;
  touched.changedNanoseconds = 6;  // a restore set the time back, not the change time
  const std::optional<uint64_t> no;
  const struct {
    const char* source;  // and name: "s" and "k" are each two jobs' source
    bool made;           // by the last run, with this run's recipe
    FilesNow now;        // its source and its file
    const char* fate;
  } rows[] = {
      {"as it was", true, {source, no, written, no}, "kept"},
      {"another recipe", false, {source, no, written, no}, "made"},
      {"no source", true, {std::nullopt, no, written, no}, "made"},
      {"no file", true, {source, no, std::nullopt, no}, "made"},
      {"source touched, same bytes", true, {touched, 11, written, no}, "kept"},
      {"source touched, other bytes", true, {touched, 13, written, no}, "made"},
      {"source touched, not read", true, {touched, no, written, no}, "made"},
      {"file touched, same bytes", true, {source, no, touched, 12}, "kept"},
      {"file touched, other bytes", true, {source, no, touched, 11}, "made"},
      {"s", false, {}, "made"},
      {"s", false, {}, "copy"},
      {"k", true, {source, no, written, no}, "kept"},
      {"k", true, {}, "kept"},
  };
  std::vector<PictureJob> jobs;
  std::vector<DerivedFile> previous;
  std::map<std::string, FilesNow> found;  // by source, and by name
  for (const auto& row : rows) {
    const std::string name = std::string(row.source) + ".jpg";
    jobs.push_back({row.source, name, 1, 10.0, PixelRegion{1, 2, 3, 4, 5, 6}});
    if (found.emplace(row.source, row.now).second) {
      found.emplace(name, row.now);
      previous.push_back({name, recipeOf(jobs.back(), "v") + (row.made ? 0 : 1), source, 11,
                          written, 12, 40, 30, Derivation::kCut});
    }
  }
  int looks = 0;
  const RerunLedger ledger =
      planReruns(jobs, previous, "v", "/",
                 [&](const std::string& path, const FileIdentity&,
                     std::optional<FileIdentity>& identity, std::optional<uint64_t>& hash) {
                   ++looks;
                   const bool file = path[0] == '/';
                   const FilesNow& now = found.at(path.substr(file ? 1 : 0));
                   identity = file ? now.written : now.source;
                   hash = file ? now.writtenHash : now.sourceHash;
                 });
  for (size_t i = 0; i < std::size(rows); ++i) {
    const JobFile& job = ledger.jobs.at(i);
    EXPECT_EQ(job.kept ? "kept" : job.copy ? "copy" : "made", std::string(rows[i].fate)) << i;
    EXPECT_TRUE(!job.kept || job.kept->source == rows[i].now.source.value_or(source)) << i;
    EXPECT_TRUE(job.kept || jobs[ledger.tasks[job.task]].sourceFilePath == rows[i].source) << i;
  }
  EXPECT_EQ(ledger.tasks.size(), 7u);  // one for each source made
  EXPECT_EQ(looks, 2 * 9);             // each file the last run made with these recipes, once
}

}  // namespace
}  // namespace vellomar
