// The command line: its mistakes, and the progress line on a terminal.

#include "app/run_settings.h"
#include "support/test_support.h"
#include "util/progress.h"

namespace vellomar {
namespace {

using CommandLineTest = AlbumRunTest;

// A command line that is wrong says why on the error stream, with the usage
// line, prints nothing on the output stream and touches nothing; options are
// read as GNU tools read them; --help and --version stand alone.
TEST_F(CommandLineTest, WrongCommandLinesSayWhy) {
  // The flag is set when atoi gives 1; the source directory gains a backslash.
  RunSettings settings;
  ASSERT_TRUE(readRunSettings({"v", "in", "out", "11"}, settings));
  EXPECT_FALSE(settings.useOriginPath);
  ASSERT_TRUE(readRunSettings({"v", "D:\\in", "o/", " 1x"}, settings));
  EXPECT_TRUE(settings.useOriginPath);
  EXPECT_EQ(settings.sourceDir + settings.outputDir, "D:\\in\\o/");
  writeAlbum("{}");
  const std::string in = sourceDir(), out = outputDir();
  const struct {
    std::vector<std::string> args;
    int status;
    const char* said;  // the first line of the output stream, or of the error stream
  } rows[] = {
      {{}, -1, "vellomar: expected SOURCE_DIR OUTPUT_DIR ORIGIN_FLAG, got 0 arguments"},
      {{in, out}, -1, "vellomar: expected SOURCE_DIR OUTPUT_DIR ORIGIN_FLAG, got 2 arguments"},
      {{in}, -1, "vellomar: expected SOURCE_DIR OUTPUT_DIR ORIGIN_FLAG, got 1 argument"},
      {{in, out, "0", "x"}, -1, "vellomar: expected SOURCE_DIR OUTPUT_DIR ORIGIN_FLAG, got 4"},
      {{"--frobnicate", in, out, "0"}, -1, "vellomar: unknown option --frobnicate"},
      {{"-j", "2", in, out, "0"}, -1, "vellomar: unknown option -j"},
      {{"--rebuild=yes", in, out, "0"}, -1, "vellomar: --rebuild takes no value"},
      {{in, out, "0", "--jobs"}, -1, "vellomar: --jobs needs a value"},
      {{"--jobs", "0", in, out, "0"},
       -1,
       "vellomar: --jobs: not a number of pictures from 1 to 1024: 0"},
      {{"--jobs=2x", in, out, "0"},
       -1,
       "vellomar: --jobs: not a number of pictures from 1 to 1024: 2x"},
      {{in, "", "0"}, -1, "vellomar: the output directory is empty"},
      {{"--help"}, 0, "usage: vellomar [--jobs N] [--rebuild]"},
      {{in, "-h", "x"}, 0, "usage: vellomar [--jobs N] [--rebuild]"},
      {{"--version"}, 0, "vellomar 0."},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"vellomar"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    std::ostringstream printed, said;
    EXPECT_EQ(runCommandLine(args, printed, said), row.status) << row.said;
    const std::string stream = row.status == 0 ? printed.str() : said.str();
    EXPECT_EQ(stream.rfind(row.said, 0), 0u) << stream;
    EXPECT_EQ((row.status == 0 ? said : printed).str(), "");
    EXPECT_TRUE(row.status == 0 || holds(stream, "\nusage: vellomar [--jobs N]")) << stream;
    EXPECT_FALSE(fs::exists(outputDir()));
  }
  // Options anywhere before "--", in either form; an ORIGIN_FLAG of -1.
  std::ostringstream printed, said;
  EXPECT_EQ(runCommandLine({"v", in, "--jobs=1", "--", out, "-1"}, printed, said), 0);
  EXPECT_EQ(printed.str(), "");
  EXPECT_TRUE(holds(said.str(), "album.desc: photoBook: missing: the book has no pages"));
  EXPECT_EQ(outputAlbum(), "{\"photoBook\":{\"pages\":null,\"scale\":null}}\r\n");
}

// On a terminal a run of more than a few pictures shows how far it has come
// and erases the line at the end; elsewhere it shows nothing.
TEST_F(CommandLineTest, TerminalSeesProgressErasedAtTheEnd) {
  for (int i = 0; i < 6; ++i)
    addPicture("p" + std::to_string(i) + ".png", makePicture(20, 10, CV_8UC3));
  for (const int pictures : {6, 4}) {
    // Each picture twice: a picture is made once for all its copies.
    std::vector<std::string> names = {"p0.png"};
    for (int i = 0; i < 2 * pictures; ++i) names.push_back("p" + std::to_string(i / 2) + ".png");
    writeAlbumOf(names);
    for (const bool terminal : {true, false}) {
      std::ostringstream out, err;
      EXPECT_EQ(runCommandLine({"vellomar", sourceDir(), outputDir(), "0"},
                               CodePage::named("UTF-8"), nativeFileSystem(), out, err, terminal),
                0);
      const std::string shown = err.str();
      const std::string last = "\r\033[Kvellomar: 6 of 6 pictures, 0:00 elapsed\r\033[K";
      if (!terminal || pictures == 4) {
        EXPECT_EQ(shown, "");
        continue;
      }
      ASSERT_GE(shown.size(), last.size());
      EXPECT_EQ(shown.substr(shown.size() - last.size()), last);
    }
  }
  EXPECT_EQ(Progress::line(3, 12, std::chrono::seconds(75)),
            "vellomar: 3 of 12 pictures, 1:15 elapsed, about 3:45 left");
}
}  // namespace
}  // namespace vellomar
