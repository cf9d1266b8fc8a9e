#include "util/progress.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

namespace vellomar {
namespace {

using ProgressTest = AlbumPassTest;

// Runs the binary with its output on a pseudo-terminal; returns all it wrote.
std::string runOnTerminal(const std::vector<std::string>& args) {
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    std::vector<char*> argv;
    std::string binary = VELLOMAR_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  std::string written;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(terminal, buffer, sizeof buffer);
    if (got <= 0) break;  // the child has closed the terminal
    written.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(terminal);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << written;
  return written;
}

TEST_F(ProgressTest, TerminalSeesProgressErasedAtTheEndAndPipesSeeNothing) {
  std::string elements;
  for (int i = 0; i < 6; ++i) {
    addPicture("p" + std::to_string(i) + ".png", makePicture(20, 10, CV_8UC3));
    elements +=
        std::string(i ? "," : "") + R"({"image":{"src":"p)" + std::to_string(i) + R"(.png"}})";
  }
  writeAlbum(R"({"photoBook":{"pages":[{"elements":[)" + elements + "]}]}}");
  const std::string shown = runOnTerminal({sourceDir(), outputDir(), "0"});
  EXPECT_NE(shown.find("vellomar: 6 of 6 pictures, 0:00 elapsed"), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K");

  const PassResult piped = runBinary({sourceDir(), outputDir(), "0"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out + piped.err, "");

  EXPECT_EQ(Progress::line(3, 12, std::chrono::seconds(75)),
            "vellomar: 3 of 12 pictures, 1:15 elapsed, about 3:45 left");
}

}  // namespace
}  // namespace vellomar
