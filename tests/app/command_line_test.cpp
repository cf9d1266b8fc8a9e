#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "plan/run_settings.h"
#include "support/test_support.h"
#include "util/progress.h"

namespace vellomar {
namespace {

using CommandLineTest = AlbumRunTest;

TEST_F(CommandLineTest, OnlyThreeArgumentsRunAndHelpAndVersionStandAlone) {
  for (const auto& [flag, set] : std::vector<std::pair<const char*, bool>>{
           {"1", true}, {" 1x", true}, {"+1", true}, {"0", false}, {"", false}, {"11", false}}) {
    RunSettings settings;
    ASSERT_TRUE(readRunSettings({"vellomar", "D:\\in\\", "out/", flag}, settings));
    EXPECT_EQ(settings.useOriginPath, set) << "flag '" << flag << "'";
    EXPECT_EQ(settings.sourceDir + settings.outputDir, "D:\\in\\\\out/");
  }
  writeAlbum("{}");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* out;  // what standard output begins with
    const char* err;
  } rows[] = {
      {{"vellomar", sourceDir()}, -1, "", ""},
      {{"vellomar", sourceDir(), outputDir(), "0", "extra"}, -1, "", ""},
      {{"vellomar", "--help", "x"}, -1, "", ""},
      {{"vellomar", sourceDir(), "", "0"}, -1, "", "vellomar: the output directory is empty\n"},
      {{"vellomar", "--help"}, 0, "usage: vellomar", ""},
      {{"vellomar", "-h"}, 0, "usage: vellomar", ""},
      {{"vellomar", "--version"}, 0, "vellomar 0.", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.back());
    std::ostringstream out, err;
    EXPECT_EQ(runCommandLine(row.args, out, err), row.status);
    EXPECT_EQ(out.str().rfind(row.out, 0), 0u) << out.str();
    EXPECT_EQ(err.str(), row.err);
    EXPECT_FALSE(fileExists(outputDir()));
  }
}

// On a terminal a run of more than a few pictures shows how far it has come
// and erases the line at the end; elsewhere it shows nothing.
TEST_F(CommandLineTest, TerminalSeesProgressErasedAtTheEnd) {
  addPicture("p.png", makePicture(20, 10, CV_8UC3));
  for (const int pictures : {6, 4}) {
    std::string elements = R"({"image":{"src":"p.png"}})";
    for (int i = 1; i < pictures; ++i) elements += R"(,{"image":{"src":"p.png"}})";
    writeAlbum(R"({"photoBook":{"pages":[{"elements":[)" + elements + "]}]}}");
    for (const bool terminal : {true, false}) {
      std::ostringstream out, err;
      EXPECT_EQ(runCommandLine({"vellomar", sourceDir(), outputDir(), "0"},
                               CodePage::named("UTF-8"), out, err, terminal),
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
  EXPECT_EQ(Progress::line(12, 12, std::chrono::seconds(600)),
            "vellomar: 12 of 12 pictures, 10:00 elapsed");
}

}  // namespace
}  // namespace vellomar
