// Whole runs of the tool, from the album to the book, the report and the
// state.

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>

#include "app/album_run.h"
#include "app/run_settings.h"
#include "plan/run_state.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// A 40 x 30 box with a 20 x 10 mask inside it.
const char kBoxAndMask[] =
    R"(,"width":40,"height":30,"mask":{"width":20,"height":10,"positionX":3})";

// An album.desc that cannot be read prints its message and creates nothing;
// one that can is written back in its compact form, ending in CR LF (an
// element whose first key comes before "image" is said to be left out). The
// rows share one output directory, so the last ones also show an existing
// directory used as it is and its album.desc replaced.
TEST_F(AlbumRunTest, AlbumIsReadAndWrittenBackInItsCompactForm) {
  const struct {
    const char* input;  // nullptr: no album.desc at all
    const char* out;
    const char* written;  // nullptr: nothing
  } rows[] = {
      {nullptr, kFileOpenErrorLine, nullptr},
      {"{\"photoBook\":", kParseErrorLine, nullptr},
      {" \n{}", kParseErrorLine, nullptr},
      {"\xEF\xBB\xBF// by hand\r\n{\"z\":1,\"photoBook\":{\"scale\":2,\"pages\":[{\"elements\":"
       "[{\"id\":1,\"image\":{\"src\":\"a.jpg\"}}],\"title\":\"t\\u00e9\"},{}]}}\r\n",
       "",
       "{\"photoBook\":{\"pages\":[{\"elements\":[{\"id\":1,\"image\":{\"src\":\"a.jpg\"}}],"
       "\"title\":\"t\xC3\xA9\"},{}],\"scale\":2},\"z\":1}\r\n"},
      // Three bytes are dropped from a text that does not begin with a brace.
      {"   null", "", "{\"photoBook\":{\"pages\":null,\"scale\":null}}\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input ? row.input : "(no file)");
    fs::remove(sourceFile("album.desc"));
    if (row.input) writeAlbum(row.input);
    const RunResult result = run();
    EXPECT_EQ(result.status, row.written ? 0 : -1);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err.find("album.desc: "), 10 + sourceDir().size() + 1) << result.err;
    EXPECT_EQ(outputAlbum(), row.written ? row.written : "");
    EXPECT_EQ(fs::exists(outputDir()), row.written != nullptr);
  }
}

// Each element's record as the run writes it, by the rule that changes it or
// leaves it alone: each row a book of its own, the elements of its first page
// as given, what they become, and what the run says ('%' for the source
// directory). The reads add members as null ('@') on a page's elements up to
// its last rewritten one; a page without elements gains them as null once any
// record is rewritten.
TEST_F(AlbumRunTest, EachRuleWritesItsElementsRecord) {
  addPicture("pics/solo.png", makePicture(40, 20, CV_8UC3));
  addPicture("pics/shared.png", makePicture(7, 5, CV_8UC1));
  addPicture("pics/small.png", makePicture(4, 4, CV_8UC1));
  const std::string nulls =
      R"("height":null,"mask":{"height":null,"positionX":null,"positionY":null,"width":null},)"
      R"("positionX":null,"positionY":null,"rotation":null,)";
  const std::string out = R"({"image":{"src":"../p.png","width":1}})",
                    small = R"({"image":{"src":"pics/small.png","width":8}})",
                    copied = R"({"image":{@"src":"small.png","width":8}})",
                    missing = R"({"image":{"src":"missing.png"}})",
                    lost = ": the picture cannot be loaded: No such file or directory\n";
  const struct {
    const char* rule;
    std::string elements, written, said;
  } rows[] = {
      {"a window of a picture used once is cut, its record rewritten whole",
       R"({"image":{"src":"pics/solo.png","width":20,"height":10,"rotation":0,)"
       R"("mask":{"width":10,"height":5,"positionX":2,"positionY":3}}})",
       R"({"image":{"height":5.0,"height_o":10,"mask":{"height":5,"positionX":2,"positionY":3,)"
       R"("width":10},"positionX":2.0,"positionY":3.0,"rotation":0,"src":"solo.png",)"
       R"("width":10.0,"width_o":20}})",
       ""},
      {"a picture used twice is copied, only its src changed",
       R"({"image":{"src":"pics/shared.png"},"type":"photo"},{"image":{"src":"pics/shared.png"}})",
       R"({"image":{@"src":"shared.png","width":null},"type":"photo"},)"
       R"({"image":{@"src":"shared.png","width":null}})",
       ""},
      {"a path out of the source directory is left alone", out, out,
       "%album.desc: photoBook.pages[0].elements[0].image.src: the source path leads out of the "
       "source directory: ../p.png\n"},
      {"a picture that cannot be loaded after the last rewrite is left as read",
       small + "," + missing, copied + "," + missing,
       "%missing.png: photoBook.pages[0].elements[1]" + lost},
      {"a picture that cannot be loaded before a rewrite shows its reads", missing + "," + small,
       R"({"image":{@"src":"missing.png","width":null}},)" + copied,
       "%missing.png: photoBook.pages[0].elements[0]" + lost},
  };
  const auto with = [](std::string text, char mark, const std::string& by) {
    for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 1, by);
    return text;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rule);
    writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[)" + row.elements +
               R"(]},{"title":"no elements"}]}})");
    const RunResult result = run();
    EXPECT_EQ(result.err, with(row.said, '%', "vellomar: " + sourceDir() + kSeparator));
    EXPECT_EQ(result.status, row.said.empty() ? 0 : -1);
    const std::string after = row.written == row.elements ? "" : R"("elements":null,)";
    EXPECT_EQ(outputAlbum(), with(R"({"photoBook":{"pages":[{"elements":[)" + row.written + "]},{" +
                                      after + R"("title":"no elements"}],"scale":1}})",
                                  '@', nulls) +
                                 "\r\n");
    // Cut to its window; gone once the book no longer names it.
    EXPECT_EQ(readPicture(outputFile("solo.png")).size(),
              &row == rows ? cv::Size(10, 5) : cv::Size());
  }
}

// A run keeps the derived files the last one left, as they are, when nothing
// they were made from has changed (a source touched but holding the same
// bytes included; a picture shared by two elements, written once), and makes
// the others again: a changed source (one whose time was set back included),
// a derived file that is gone, everything after a damaged state file (with
// --overwrite: whose the files are is not known then).
// What it leaves is what a full run leaves, diagnostics and status included.
TEST_F(AlbumRunTest, ReRunsMakeOnlyWhatChanged) {
  const std::vector<std::string> names = {"a.png", "b.jpg", "c.png", "d.bmp", "e.png"};
  for (const std::string& name : names) {
    addPicture(name, makePicture(name[0] == 'c' ? 80 : 90, 60, CV_8UC3));
  }
  writeAlbumOf({"a.png", "b.jpg", "c.png", "d.bmp", "e.png", "e.png", "none.png"}, kBoxAndMask);
  const RunResult first = run();
  const auto inode = [&](const std::string& name) {
    return fileIdentity(nativeFileSystem(), outputFile(name)).value_or(FileIdentity()).inode;
  };
  const auto sameFiles = [&](const std::string& made,
                             const std::vector<std::string>& options = {}) {
    std::vector<uint64_t> before;
    for (const std::string& name : names) before.push_back(inode(name));
    const RunResult again = run(options);
    EXPECT_EQ(again.status, first.status);
    EXPECT_EQ(again.err.substr(again.err.find("none.png")),
              first.err.substr(first.err.find("none.png")));
    std::string remade;
    for (size_t i = 0; i < names.size(); ++i) {
      if (inode(names[i]) != before[i]) remade += names[i];
    }
    EXPECT_EQ(remade, made);
    // A full run into another directory leaves the same bytes.
    std::ostringstream out, err;
    runCommandLine({"v", "--rebuild", sourceDir(), dir_.file("full"), "0"}, out, err);
    for (const char* name : {"a.png", "b.jpg", "c.png", "d.bmp", "e.png", "album.desc"}) {
      EXPECT_EQ(readFile(outputFile(name)), readFile(dir_.file("full/") + name)) << name;
    }
    return again.err;
  };
  sameFiles("");
  const std::string state = readFile(outputFile(kStateFileName));
  // The header, e.png once, and album.desc.
  EXPECT_EQ(std::count(state.begin(), state.end(), '\n'), 7);
  addPicture("c.png", makePicture(80, 61, CV_8UC3));
  writeFile(sourceFile("a.png"), readFile(sourceFile("a.png")));  // touched, same bytes
  sameFiles("c.png");
  // Other pixels of the same size, the time set back as a restore sets it.
  const auto time = fs::last_write_time(sourceFile("d.bmp"));
  addPicture("d.bmp", makePicture(60, 90, CV_8UC3).t());
  fs::last_write_time(sourceFile("d.bmp"), time);
  sameFiles("d.bmp");
  fs::remove(outputFile("b.jpg"));
  sameFiles("b.jpg");
  // The last run's album.desc is gone before a file it names is replaced: a
  // run that ends there leaves no description naming another picture.
  addPicture("c.png", makePicture(80, 62, CV_8UC3));
  FaultyFileSystem watched;
  std::string describedAt;
  watched.fails = [&](const std::string& call, const std::string& path) {
    if (call == "rename" && holds(path, "c.png") && fs::exists(outputFile("album.desc"))) {
      describedAt += path;
    }
    return std::string();
  };
  EXPECT_EQ(run({}, watched).status, first.status);
  EXPECT_EQ(describedAt, "");
  EXPECT_TRUE(holds(outputAlbum(), "c.png"));
  // A damaged state tells nothing: whose the files are is not known either.
  writeFile(outputFile(kStateFileName), "vellomar-state 2\n2e 1 2\n");
  EXPECT_TRUE(holds(sameFiles("a.pngb.jpgc.pngd.bmpe.png", {"--overwrite"}),
                    "state: is not a state file this tool can read"));
  // Pictures taken out of the book go with it; one changed since stays, and
  // so does the picture of an element that could not be made again.
  writeFile(outputFile("d.bmp"), "retouched");
  fs::remove(sourceFile("b.jpg"));
  writeAlbumOf({"c.png", "b.jpg"}, kBoxAndMask);
  EXPECT_EQ(run().status, -1);
  EXPECT_TRUE(fs::exists(outputFile("d.bmp")) && fs::exists(outputFile("b.jpg")) &&
              !fs::exists(outputFile("a.png")));
}

// The report: a line for every picture element in document order, with what
// became of it, its sizes and the resolution it prints at, then the counts and
// the status; a second run keeps what it can and says so.
TEST_F(AlbumRunTest, TheReportSaysWhatBecameOfEveryPicture) {
  addPicture("big.png", makePicture(80, 60, CV_8UC3));
  addPicture("small.png", makePicture(20, 15, CV_8UC3));
  writeAlbumOf({"big.png", "small.png", "small.png", "none.png", "http://x/y.jpg"}, kBoxAndMask);
  const std::string report = dir_.file("report.jsonl");
  const std::string place = R"("place":"photoBook.pages[0].elements[)";
  for (const char* made : {"cut", "kept"}) {
    std::ostringstream out, err;
    EXPECT_EQ(runCommandLine({"v", "--report", report, sourceDir(), outputDir(), "0"}, out, err),
              -1);
    const bool first = made == std::string("cut");
    const std::string copied = first ? "copied" : "kept";
    const auto line = [&](const std::string& decision, const std::string& derived, int i,
                          const std::string& rest) {
      return R"({"decision":")" + decision + "\"," +
             (derived.empty() ? "" : R"("derived":")" + derived + "\",") + place +
             std::to_string(i) + "]\"," + rest + "}\n";
    };
    const std::string small = R"("resolution":0.50,"size":[20,15],"source":"small.png")";
    EXPECT_EQ(readFile(report),
              line(made, "big.png", 0,
                   R"("resolution":2.0,"size":[20,10],"source":"big.png","window":[40,20])") +
                  line(copied, "small.png", 1, small + R"(,"window":[10,5])") +
                  line(copied, "small.png", 2, small + R"(,"window":[10,5])") +
                  line("problem", "", 3,
                       R"("problem":"the picture cannot be loaded: No such file or directory",)"
                       R"("source":"none.png")") +
                  line("skipped", "", 4,
                       R"("reason":"a web address or \"default\": no file of the album",)"
                       R"("source":"http://x/y.jpg")") +
                  R"({"counts":{"copied":)" + (first ? "2" : "0") + R"(,"cut":)" +
                  (first ? "1" : "0") + R"(,"kept":)" + (first ? "0" : "3") +
                  R"(,"problem":1,"skipped":1},"status":255})" + "\n");
  }
}

// Every line of the report is UTF-8 JSON, whatever bytes a src holds. An
// element left out by the first-key rule has a skipped line that says why, a
// picture named apart from another's the name it would have had, and a
// picture stored turned in a box laid out for it upright its orientation
// (said on the error stream too, as is a book without a scale).
TEST_F(AlbumRunTest, TheReportSaysWhatIsLeftOutRenamedOrTurned) {
  addPicture("Papa/x.png", makePicture(20, 10, CV_8UC3));
  addPicture("Mama/x.png", makePicture(10, 20, CV_8UC3));
  writeFile(sourceFile("turned.jpg"),
            withOrientation(encoded(".jpg", makePicture(30, 20, CV_8UC3)), 6));
  writeAlbum(
      "{\"photoBook\":{\"pages\":[{\"elements\":[{\"id\":7,\"image\":{\"src\":\"p.png\"}},"
      "{\"image\":{\"src\":\"\\udc80\xD5\xD5.png\"}},{\"image\":{\"src\":\"Papa/x.png\"}},"
      "{\"image\":{\"src\":\"Mama/x.png\",\"height\":3e9,\"mask\":{\"height\":5}}},"
      "{\"image\":{\"src\":\"turned.jpg\",\"width\":20,\"height\":30}}]}]}}");
  const std::string report = dir_.file("report.jsonl");
  const RunResult result = run({"--report", report});
  EXPECT_TRUE(holds(result.err,
                    ": photoBook.scale: the book has no scale: every picture is copied "
                    "whole\n"));
  std::istringstream lines(readFile(report));
  std::vector<std::string> line;
  for (std::string text; std::getline(lines, text);) {
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(text)), text);
    line.push_back(text);
  }
  ASSERT_EQ(line.size(), 6u);
  EXPECT_EQ(line[0],
            R"({"decision":"skipped","place":"photoBook.pages[0].elements[0]","reason":"not a )"
            R"(picture element (its first key is \"id\", not \"image\"): its picture is left out )"
            R"(of the book","source":"p.png"})");
  EXPECT_TRUE(holds(line[1], "\"decision\":\"problem\""));
  EXPECT_EQ(line[3], R"({"decision":"copied","derived":"x-2.png","place":"photoBook.pages[0].)"
                     R"(elements[3]","renamedFrom":"x.png","size":[10,20],"source":"Mama/x.png",)"
                     R"("window":[0,0]})");  // a box too large to measure the window by
  EXPECT_TRUE(holds(line[4], R"("storedTurned":6)"));
  EXPECT_TRUE(holds(result.err,
                    "turned.jpg: photoBook.pages[0].elements[4]: stored turned (EXIF "
                    "orientation 6) in a box with the upright picture's proportions"));
}

#ifndef _WIN32
// An album of JPEG pictures never loads the image library's codecs once the
// JPEG path's comparison with them is in the user's cache: the first run
// makes it, the second runs without them.
TEST_F(AlbumRunTest, JpegAlbumsRunWithoutTheCodecs) {
  addPicture("a.jpg", makePicture(90, 60, CV_8UC3));
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[{"image":{"src":"a.jpg",)"
             R"("width":40,"height":30,"mask":{"width":20,"height":10}}}]}]}})");
  const std::string cache = "XDG_CACHE_HOME=" + dir_.file("");
  EXPECT_EQ(runBinary({sourceDir(), outputDir(), "0"}, cache + " ").status, 0);
  fs::remove_all(outputDir());
  const std::string trace = " LD_DEBUG=files LD_DEBUG_OUTPUT=" + dir_.file("loaded") + " ";
  EXPECT_EQ(runBinary({sourceDir(), outputDir(), "0"}, cache + trace).status, 0);
  std::string loaded;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    if (entry.path().filename().string().rfind("loaded", 0) == 0) loaded += readFile(entry.path());
  }
  EXPECT_TRUE(holds(loaded, "libopencv_core"));  // the loader's own account
  EXPECT_FALSE(holds(loaded, "libopencv_imgcodecs"));
  // A verdict kept for another release is not taken: the comparison is made
  // again and kept for this one.
  const std::string verdict = dir_.file("vellomar/jpeg-path");
  const std::string kept = readFile(verdict);
  writeFile(verdict, "vellomar 0.0.1, libjpeg-turbo 2010000, /old/libopencv 1 2 3 4\ndiffers\n");
  EXPECT_EQ(runBinary({"--rebuild", sourceDir(), outputDir(), "0"}, cache + " ").status, 0);
  EXPECT_EQ(readFile(verdict), kept);
  EXPECT_EQ(kept.substr(kept.size() - 7), "agrees\n");
}
#endif  // _WIN32

// A document the run cannot follow (a value of the wrong kind, a mask that
// is no object, a box to cut whose width is no 32-bit integer) ends the run
// before anything is written, however far into the book it is: the book an
// earlier run made stays whole, pictures and album.desc alike. An image
// library error (an extension it has no encoder for) is its element's
// problem; the rest of the book is made.
TEST_F(AlbumRunTest, DocumentErrorsLeaveThePreviousBookWhole) {
  addPicture("p.png", makePicture(80, 60, CV_8UC3));
  addPicture("q.png", makePicture(60, 40, CV_8UC3));
  const auto album = [&](const std::string& scale, const char* coverWidth, const char* more) {
    writeAlbum(R"({"photoBook":{"scale":)" + scale +
               R"(,"pages":[{"elements":[{"image":{"src":"p.png","width":40,"height":30,)"
               R"("mask":{"height":10,"width":)" +
               coverWidth + "}}}" + more + "]}]}}");
  };
  album("1", "20", "");
  ASSERT_EQ(run().status, 0);
  const auto book = treeOf(outputDir());
  const struct {
    const char* scale;
    const char* element;
    const char* said;
  } rows[] = {
      {"1", R"(,{"image":{"src":"q.png","width":"120mm"}})",
       "elements[1].image.width: Type is not convertible to double"},
      {"1", R"(,{"image":{"src":"q.png","mask":1}})",
       "elements[1].image.mask: neither an object nor null"},
      // At this scale the box is 2147 x 20 pixels, but 2147483647.5 is no int.
      {"1e6",
       R"(,{"image":{"src":"q.png","width":2147483647.5,"height":2e7,)"
       R"("mask":{"width":1e8,"height":1e7}}})",
       "elements[1].image.width: Real out of signed integer range"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.element);
    album(row.scale, "25", row.element);  // the cover's window changed too
    const RunResult result = run();
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.err,
              "vellomar: " + sourceFile("album.desc") + ": photoBook.pages[0]." + row.said + "\n");
    EXPECT_TRUE(treeOf(outputDir()) == book);
  }
  writeFile(sourceFile("q.unknown"), readFile(sourceFile("q.png")));
  album("1", "25", R"(,{"image":{"src":"q.unknown"}})");
  const RunResult result = run();
  EXPECT_EQ(result.status, -1);
  EXPECT_TRUE(
      holds(result.err, kSeparator + std::string("q.unknown: photoBook.pages[0].elements[1]: "
                                                 "the image library failed: ")));
  EXPECT_TRUE(holds(outputAlbum(), R"("src":"q.unknown"}}]}])"));
  EXPECT_EQ(readPicture(outputFile("p.png")).size(), cv::Size(25, 10));
}

// A write that fails (the disk full), whatever part of it fails (the
// temporary file, its record in the journal, its rename), is a problem of its
// element, which is not rewritten: no element names a file this run did not
// write.
TEST_F(AlbumRunTest, UnwritablePlacesAreReportedAndNothingElseIsLost) {
  addPicture("big/a.png", makePicture(64, 48, CV_8UC3));
  addPicture("small/b.png", makePicture(2, 2, CV_8UC1));
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[{"image":{"src":"big/a.png"}},
      {"image":{"src":"small/b.png"}}]}]}})");
  for (const char* failing : {"writeTemporary", "append", "rename"}) {
    SCOPED_TRACE(failing);
    fs::remove_all(outputDir());
    FaultyFileSystem full;
    int calls = 0;
    // a.png's: its journal line is the first one (files are put in place in
    // element order).
    full.fails = [&](const std::string& call, const std::string& path) {
      const bool its = call == "append" ? ++calls == 1 : path.find("a.png") != std::string::npos;
      return call == failing && its ? "No space left on device" : "";
    };
    const RunResult result = run({}, full);
    EXPECT_EQ(result.err, "vellomar: " + outputFile("a.png") +
                              ": photoBook.pages[0].elements[0]: cannot be written: No space "
                              "left on device\n");
    EXPECT_TRUE(holds(outputAlbum(), R"("src":"big/a.png")"));
    EXPECT_TRUE(holds(outputAlbum(), R"("src":"b.png")"));
    EXPECT_FALSE(fs::exists(outputFile("a.png")));
    EXPECT_EQ(std::distance(fs::directory_iterator(outputDir()), fs::directory_iterator()), 3);
  }
  // The parent of the output directory does not exist: nothing is created.
  RunSettings settings;
  settings.sourceDir = sourceDir() + "\\";
  settings.outputDir = outputDir() + kSeparator + "missing" + kSeparator + "deeper";
  std::ostringstream out, err;
  EXPECT_EQ(processAlbum(settings, CodePage::named("UTF-8"), nativeFileSystem(), out, err), -1);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(),
            "vellomar: " + settings.outputDir + ": cannot be created: No such file or directory\n");
#ifndef _WIN32
  // The program under a limit on file sizes: the write fails, the run goes on.
  fs::remove_all(outputDir());
  const RunResult limited = runBinary({sourceDir(), outputDir(), "0"}, "ulimit -f 8; ");
  EXPECT_EQ(limited.status, 255);
  EXPECT_TRUE(holds(limited.err, "elements[0]: cannot be written: File too large\n"));
  // b.png, album.desc and the state.
  EXPECT_EQ(std::distance(fs::directory_iterator(outputDir()), fs::directory_iterator()), 3);
#endif
}

// An output directory that is the source directory, however it is named, is
// refused before anything is read or written. A derived picture that would
// replace a source picture of the album (its own, or another element's) is
// its element's problem, even with --overwrite, and the source stays as it
// was.
TEST_F(AlbumRunTest, NothingOfTheCustomersIsReplaced) {
  addPicture("print/p.png", makePicture(40, 30, CV_8UC3));
  addPicture("print/q.png", makePicture(20, 10, CV_8UC1));
  addPicture("q.png", makePicture(20, 10, CV_8UC3));
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[{"image":{"src":"print/p.png"}},
      {"image":{"src":"q.png"}},{"image":{"src":"print/q.png"}}]}]}})");
  const auto source = treeOf(sourceDir());
  std::vector<std::string> spellings = {sourceDir(), sourceDir() + kSeparator + "." + kSeparator,
                                        dir_.file("in") + kSeparator + ".." + kSeparator + "in"};
#ifndef _WIN32
  fs::create_directory_symlink("in", dir_.file("link"));
  spellings.push_back(dir_.file("link"));
#endif
  for (const std::string& spelling : spellings) {
    std::ostringstream out, err;
    EXPECT_EQ(runCommandLine({"vellomar", sourceDir(), spelling, "0"}, out, err), -1);
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(holds(err.str(), ": is the source directory: nothing is written into it\n"))
        << spelling << ": " << err.str();
    EXPECT_TRUE(treeOf(sourceDir()) == source);
  }
  std::ostringstream out, err;
  const std::string print = sourceFile("print");
  EXPECT_EQ(runCommandLine({"vellomar", "--overwrite", sourceDir(), print, "0"}, out, err), -1);
  const std::string line = "vellomar: " + print + kSeparator;
  EXPECT_EQ(err.str(), line +
                           "p.png: photoBook.pages[0].elements[0]: the derived picture would "
                           "replace its own source\n" +
                           line +
                           "q.png: photoBook.pages[0].elements[1]: the derived picture would "
                           "replace the source picture of photoBook.pages[0].elements[2]\n" +
                           "vellomar: " + sourceFile("album.desc") +
                           ": photoBook.pages[0].elements[2]: its derived picture is named "
                           "q-2.png: q.png is another picture's\n");
  for (const auto& [path, bytes] : source) EXPECT_EQ(readFile(sourceFile(path)), bytes) << path;
  EXPECT_TRUE(holds(readFile(print + kSeparator + "album.desc"), R"("src":"print/p.png")"));
  EXPECT_TRUE(fs::exists(print + kSeparator + "q-2.png"));
}

// The temporary file of a run that was killed is removed by the next run
// into the directory, which holds its lock; a file another run is writing
// there without that lock (its report) stays; the lock file goes at the end.
TEST_F(AlbumRunTest, ARunRemovesWhatKilledRunsLeft) {
  fs::create_directory(outputDir());
  writeFile(outputFile(".vellomar-partial-5f3759df5f3759df-1.jpg"), "");
  const std::string live = ".vellomar-pending-0123456789abcdef-3.jsonl";
  writeFile(outputFile(live), "");
  writeAlbum("{\"photoBook\":{\"scale\":0.5}}");
  const RunResult done = run({}, nativeFileSystem(), "1");
  EXPECT_EQ(done.status, 0);
  EXPECT_EQ(done.out + done.err, "vellomar: " + sourceFile("album.desc") +
                                     ": photoBook.pages: no pages: nothing is prepared\n");
  EXPECT_EQ(outputAlbum(), "{\"photoBook\":{\"pages\":null,\"scale\":0.50}}\r\n");
  // album.desc, the state, and the other run's report
  EXPECT_EQ(std::distance(fs::directory_iterator(outputDir()), fs::directory_iterator()), 3);
  EXPECT_TRUE(fs::exists(outputFile(live)));
}

#ifndef _WIN32
// The binary's status (-1 is 255) and its standard output.
// A named pipe is refused, never waited on, and so is a (sparse) file larger
// than the image library reads, before it is read. An error stream whose
// reader has gone loses the diagnostics, not the run.
TEST_F(AlbumRunTest, SpecialFilesAndStreamsAreRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo(sourceFile("album.desc").c_str(), 0600), 0);
  EXPECT_EQ(run().out, kFileOpenErrorLine);
  fs::remove(sourceFile("album.desc"));
  ASSERT_EQ(::mkfifo(sourceFile("pipe\n.png").c_str(), 0600), 0);
  writeFile(sourceFile("huge.png"), "");
  fs::resize_file(sourceFile("huge.png"), uintmax_t{1} << 32);
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[{"image":{"src":"pipe\n.png"}},
                                                   {"image":{"src":"huge.png"}}]}]}})");
  const std::string in = "vellomar: " + sourceDir() + kSeparator;
  EXPECT_EQ(run().err, in +
                           "pipe\\x0A.png: photoBook.pages[0].elements[0]: the picture cannot be "
                           "loaded: not a regular file\n" +
                           in +
                           "huge.png: photoBook.pages[0].elements[1]: the picture cannot be "
                           "loaded: the file is larger than 2147483647 bytes\n");
  fs::remove(outputFile("album.desc"));
  std::system(("(" VELLOMAR_BINARY " " + sourceDir() + " " + outputDir() + " 0 2>&1 >/dev/null; " +
               "echo $? >" + dir_.file("status") + ") | true")
                  .c_str());
  EXPECT_EQ(readFile(dir_.file("status")), "255\n");
  EXPECT_NE(outputAlbum(), "");
}

#endif  // _WIN32

#ifndef _WIN32
// Nothing ends in an abort without a word: codecs that cannot be loaded (the
// program without its module, no comparison of the JPEG path kept) make the
// pictures that need them problems of their own; in a limited address space
// only as many workers start as leave room for the pictures (here, stacks of
// a tenth of it each); a picture of grey and alpha is its element's problem.
// Each run writes album.desc and leaves no file of its own.
TEST_F(AlbumRunTest, FailuresOfTheMachineAreSaidAndEndNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's memory does not keep to a limit on address space";
#endif
  std::string elements;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "p" + std::to_string(i) + (i == 0 ? ".jpg" : ".png");
    addPicture(name, makePicture(40 + i, 30, CV_8UC3));
    elements += R"({"image":{"src":")" + name +
                R"(","width":20,"height":15,"mask":{"width":10,"height":5}}},)";
  }
  writeFile(sourceFile("ga.pam"),
            "P7\nWIDTH 4\nHEIGHT 3\nDEPTH 2\nMAXVAL 255\nTUPLTYPE "
            "GRAYSCALE_ALPHA\nENDHDR\n" +
                std::string(24, '\x80'));
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[)" + elements +
             R"({"image":{"src":"ga.pam"}}]}]}})");
  const std::string alone = dir_.file("alone");
  fs::create_directory(alone);
  fs::copy_file(VELLOMAR_BINARY, alone + "/vellomar");
  const std::string cache = "XDG_CACHE_HOME=" + dir_.file("cache") + " ";
  const std::string notLoaded =
      ": the picture cannot be loaded: cannot load the image library's codecs: vellomar-codecs.so "
      "is not installed beside the program\n";
  std::string args = " '" + sourceDir() + "' '" + outputDir() + "' 0 2>" + dir_.file("e");
  EXPECT_NE(std::system((cache + alone + "/vellomar" + args).c_str()), 0);
  std::string err = readFile(dir_.file("e"));
  EXPECT_TRUE(holds(err, "p0.jpg: photoBook.pages[0].elements[0]" + std::string(notLoaded)));
  EXPECT_TRUE(holds(err, "p7.png: photoBook.pages[0].elements[7]" + std::string(notLoaded)));
  EXPECT_NE(outputAlbum(), "");
  EXPECT_FALSE(fs::exists(outputFile(kLockFileName)));
  fs::remove_all(outputDir());
  const RunResult few = runBinary({"--jobs", "400", sourceDir(), outputDir(), "0"},
                                  "ulimit -s 100000; ulimit -v 1500000; ");
  EXPECT_EQ(few.status, 255);
  EXPECT_TRUE(holds(few.err, "vellomar: only "));
  EXPECT_TRUE(holds(few.err,
                    " of 9 workers start (the address space is limited): the pictures are "
                    "made by those\n"))
      << few.err;
  EXPECT_TRUE(holds(few.err,
                    "ga.pam: photoBook.pages[0].elements[8]: cannot be written: the image "
                    "library encodes no picture of grey and alpha\n"));
  EXPECT_TRUE(fs::exists(outputFile("p7.png")));
  EXPECT_NE(outputAlbum(), "");
}
#endif

// Pictures whose headers the tool's own reading gets wrong are refused all
// the same, before they are decoded: the image library checks the size its
// decoder reads, with the limit the binary gives it, and leaves no copy. Each
// is a real picture, patched, except the BigTIFF, which the library does not
// write.
TEST_F(AlbumRunTest, BombsAreRefusedByTheDecodersOwnReading) {
  const std::string big = bytesOf(25000, 4), bigBE = bytesOf(25000, 4, true);
  std::string jpeg = encoded(".jpg", makePicture(16, 16, CV_8UC1));
  const size_t frame = jpeg.find("\xFF\xC0");
  jpeg.replace(frame + 5, 4, bigBE.substr(2) + bigBE.substr(2));
  jpeg.insert(frame, 1, '\x01');  // a stray byte the decoder skips
  std::vector<std::pair<const char*, std::string>> bombs = {
      {"stray.jpg", jpeg},
      {"zeros.pgm", "P5\n" + std::string(40, '0') + "25000 25000\n255\n" + std::string(64, 'x')},
      {"plus.pfm", "Pf\n+25000 +25000\n-1.0\n" + std::string(64, 'x')},
      {"plus.hdr",
       "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y +25000 +X +25000\n" + std::string(64, 'x')}};
  // The width twice: 25000 for the decoder, then 64.
  std::string tiff = encoded(".tif", makePicture(64, 64, CV_8UC1));
  const auto entry = [&](char tag) { return tiff.rfind(std::string{tag, '\x01', '\x03', '\0'}); };
  for (char tag : {'\0', '\x01'}) tiff.replace(entry(tag) + 8, 2, big.substr(0, 2));
  tiff.replace(entry('\x1C'), 10, std::string("\0\x01\x03\0\x01\0\0\0\x40\0", 10));
  std::string bigTiff("II\x2B\0\x08\0\0\0", 8);
  bigTiff += bytesOf(16, 8) + bytesOf(6, 8);
  for (int tag : {256, 257, 258, 262, 273, 279}) {
    const int value = tag < 258 ? 25000 : tag == 258 ? 8 : 1;
    bigTiff += bytesOf(tag, 2) + bytesOf(4, 2) + bytesOf(1, 8) + bytesOf(value, 8);
  }
  // An "ihdr" of 64 x 64 inside a box before the real one, and a codestream of
  // one tile of 25000 x 25000.
  std::string jp2 = encoded(".jp2", makePicture(64, 64, CV_8UC3));
  jp2.replace(jp2.find("ihdr") + 4, 8, bigBE + bigBE);
  const size_t siz = jp2.find("\xFF\x51");
  for (size_t at : {siz + 6, siz + 10, siz + 22, siz + 26}) jp2.replace(at, 4, bigBE);
  jp2.insert(32, bytesOf(20, 4, true) + "freeihdr" + bytesOf(64, 4, true) + bytesOf(64, 4, true));
  bombs.insert(bombs.end(), {{"wide.tif", tiff}, {"big.tif", bigTiff}, {"box.jp2", jp2}});
#ifndef _WIN32  // the Windows build has no OpenEXR codec
  cv::Mat floats;
  makePicture(64, 64, CV_8UC3).convertTo(floats, CV_32FC3);
  std::string exr = encoded(".exr", floats);
  const std::string window = std::string("dataWindow\0box2i\0\x10\0\0\0", 21);
  exr.insert(exr.find(window) + 37, window + std::string(8, '\0') + big + big);
  bombs.push_back({"two.exr", exr});
#endif
  std::vector<std::string> names;
  for (const auto& [name, bytes] : bombs) {
    writeFile(sourceFile(name), bytes);
    names.push_back(name);
  }
  writeAlbumOf(names);
#ifdef _WIN32
  // The library is linked in: the limit is the one this process started with.
  std::istringstream err(run().err);
#else
  // Some of the library's decoders work through a file, which it leaves when
  // it refuses the picture: none is left, even where it was told to put them.
  const std::string scratch = dir_.file("scratch");
  fs::create_directory(scratch);
  const std::string into = "TMPDIR=" + scratch + " OPENCV_TEMP_PATH=" + scratch + " ";
  std::istringstream err(runBinary({sourceDir(), outputDir(), "0"}, into).err);
  EXPECT_TRUE(fs::is_empty(scratch));
#endif
  for (const auto& [name, bytes] : bombs) {
    std::string line;
    std::getline(err, line);
    EXPECT_TRUE(holds(line, std::string(name) + ": photoBook"));
    EXPECT_TRUE(holds(line, ": the picture cannot be loaded: it declares "));
    EXPECT_TRUE(holds(line, "more than 500 megapixels"));
  }
}

}  // namespace
}  // namespace vellomar
