#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "plan/run_settings.h"
#include "platform/code_page.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

TEST(CommandLineTest, OriginFlagIsSetOnlyWhenAtoiGivesOne) {
  struct Row {
    const char* flag;
    bool set;
  };
  const Row rows[] = {{"1", true},   {"01", true},   {"  1", true}, {"1abc", true},
                      {"+1", true},  {"1.9", true},  {"0", false},  {"2", false},
                      {"-1", false}, {"yes", false}, {"", false},   {"11", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("flag '") + row.flag + "'");
    RunSettings settings;
    ASSERT_TRUE(readRunSettings({"vellomar", "in", "out", row.flag}, settings));
    EXPECT_EQ(settings.useOriginPath, row.set);
  }
  RunSettings settings;
  ASSERT_TRUE(readRunSettings({"vellomar", "D:\\in\\", "out/", "0"}, settings));
  EXPECT_EQ(settings.sourceDir, "D:\\in\\\\");
  EXPECT_EQ(settings.outputDir, "out/");
}

TEST(CommandLineTest, WrongArgumentCountFailsSilentlyAndTouchesNothing) {
  ScopedTempDir dir;
  writeFile(dir.file("album.desc"), "{}");
  const std::vector<std::vector<std::string>> commands = {
      {"vellomar"},
      {"vellomar", dir.path()},
      {"vellomar", dir.path(), dir.file("out")},
      {"vellomar", dir.path(), dir.file("out"), "0", "extra"},
      {"vellomar", "--help", "x"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command.size());
    std::ostringstream out, err;
    EXPECT_EQ(runCommandLine(command, out, err), -1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "");
    EXPECT_FALSE(fileExists(dir.file("out")));
  }
}

TEST(CommandLineTest, HelpAndVersionPrintToStandardOutput) {
  for (const char* option : {"--help", "-h", "--version"}) {
    SCOPED_TRACE(option);
    std::ostringstream out, err;
    EXPECT_EQ(runCommandLine({"vellomar", option}, out, err), 0);
    EXPECT_NE(out.str().find("vellomar"), std::string::npos);
    EXPECT_EQ(err.str(), "");
  }
}

TEST(CommandLineTest, EmptyOutputDirectoryIsRefused) {
  ScopedTempDir dir;
  writeFile(dir.file("album.desc"), "{}");
  std::ostringstream out, err;
  EXPECT_EQ(runCommandLine({"vellomar", dir.path(), "", "0"}, out, err), -1);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "vellomar: the output directory is empty\n");
}

}  // namespace
}  // namespace vellomar
