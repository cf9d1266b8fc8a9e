// Runs as processes: interrupted, killed, and two at once into one
// directory. POSIX processes and signals: not built for Windows.

#ifndef _WIN32
#include <unistd.h>

#include <csignal>
#include <thread>

#include "plan/run_state.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// A run that stays busy with a big picture while the small ones' temporaries
// and its lock file wait in the output directory.
class RunFilesTest : public AlbumRunTest {
 protected:
  RunFilesTest() {
    addPicture("big.png", makePicture(3000, 2000, CV_8UC3));
    addPicture("small.png", makePicture(40, 30, CV_8UC3));
    addPicture("other.png", makePicture(30, 40, CV_8UC3));
    writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[{"image":{"src":"big.png"}},
      {"image":{"src":"small.png"}},{"image":{"src":"other.png"}}]}]}})");
    fs::create_directory(outputDir());
    fs::create_directory(dir_.file("tmp"));
  }
  // The runs' own files: lock files and temporaries.
  long ownFiles() const {
    return std::count_if(
        fs::directory_iterator(outputDir()), fs::directory_iterator(), [](const auto& entry) {
          const std::string name = entry.path().filename().string();
          return name[0] == '.' && name != kStateFileName && name != kJournalFileName;
        });
  }
  // Runs `command` under sh in a process group of its own.
  static pid_t start(const std::string& command) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::setpgid(0, 0);
      // The run gets the signals' own dispositions, whatever started the
      // tests (a script's background job ignores SIGINT, nohup SIGHUP).
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
    ::setpgid(child, child);
    return child;
  }
  // The binary on the album, with `options`, its directory for temporary
  // files in the test's.
  std::string vellomar(const std::string& options = "") const {
    return "env TMPDIR='" + dir_.file("tmp") + "' " + VELLOMAR_BINARY + " " + options + " '" +
           sourceDir() + "' '" + outputDir() + "' 0";
  }
  // Waits until the run has `count` of its files there, or has ended.
  void waitForFiles(pid_t run, long count) const {
    while (ownFiles() < count && ::waitpid(run, nullptr, WNOHANG) == 0) std::this_thread::yield();
  }
  static int waitFor(pid_t run) {
    int status = 0;
    ::waitpid(run, &status, 0);
    return status;
  }
};

// Ended by a signal, a run removes its own files first and then ends by that
// signal, as a shell expects; a signal ignored when it started stays ignored.
TEST_F(RunFilesTest, SignalsEndTheRunWithoutLeavingItsFiles) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const pid_t run = start("exec " + vellomar() + " 2>/dev/null");
    waitForFiles(run, 3);  // its lock file and the small pictures' temporaries
    ::kill(run, signal);
    const int status = waitFor(run);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(ownFiles(), 0);
    EXPECT_TRUE(fs::is_empty(dir_.file("tmp")));
  }
  const pid_t ignoring = start("trap '' HUP; exec " + vellomar() + " 2>/dev/null");
  waitForFiles(ignoring, 3);
  ::kill(ignoring, SIGHUP);
  EXPECT_EQ(waitFor(ignoring), 0);
  EXPECT_NE(outputAlbum(), "");
}

// Many workers writing small pictures, interrupted: none of them leaves a
// file behind, however far it had come.
TEST_F(RunFilesTest, AnInterruptedRunLeavesNothingBehind) {
  std::string elements;
  for (int i = 0; i < 150; ++i) {
    const std::string name = "p" + std::to_string(i) + ".png";
    addPicture(name, makePicture(60 + i, 40, CV_8UC3));
    elements += std::string(i > 0 ? "," : "") + R"({"image":{"src":")" + name + R"("}})";
  }
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[)" + elements + "]}]}}");
  for (int attempt = 0; attempt < 8; ++attempt) {
    fs::remove_all(outputDir());
    fs::create_directory(outputDir());
    const pid_t run = start("exec " + vellomar("--jobs 16") + " 2>/dev/null");
    waitForFiles(run, 2 + attempt);
    ::kill(run, SIGINT);
    waitFor(run);
    EXPECT_EQ(ownFiles(), 0) << attempt;
  }
}

// A run killed part way (SIGKILL: nothing of its own is removed) leaves the
// files it put in place known as its own: the next run takes them without a
// word.
TEST_F(RunFilesTest, AKilledRunsFilesAreStillItsOwn) {
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[{"image":{"src":"small.png"}},
      {"image":{"src":"other.png"}},{"image":{"src":"big.png"}}]}]}})");
  const pid_t run = start("exec " + vellomar() + " 2>/dev/null");
  while (!fs::exists(outputFile(kJournalFileName)) && ::waitpid(run, nullptr, WNOHANG) == 0) {
    std::this_thread::yield();
  }
  ::kill(run, SIGKILL);
  waitFor(run);
  ASSERT_FALSE(fs::exists(outputFile(kStateFileName))) << "the run ended before it was killed";
  const RunResult again = runBinary({sourceDir(), outputDir(), "0"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.err, "");
}

// One run at a time writes into a directory. A second run, in another
// process namespace where there is one, ends at once with --no-wait and
// leaves the first's files alone; without it, it says that it waits, and runs
// once the first has ended: both runs' results are whole.
TEST_F(RunFilesTest, ASecondRunWaitsForTheFirst) {
  const pid_t first = start("exec " + vellomar() + " 2>/dev/null");
  waitForFiles(first, 3);
  ::kill(-first, SIGSTOP);
  ASSERT_EQ(ownFiles(), 3) << "the first run ended before it could be stopped";
  const bool namespaces = std::system("unshare -pf true 2>/dev/null") == 0;
  const RunResult refused =
      runBinary({"--no-wait", sourceDir(), outputDir(), "0"}, namespaces ? "unshare -pf " : "");
  EXPECT_EQ(refused.status, 255);
  EXPECT_EQ(refused.err, "vellomar: " + outputDir() + ": another run is writing into it\n");
  EXPECT_EQ(ownFiles(), 3);
  fs::create_directory(dir_.file("in2"));
  writeFile(dir_.file("in2/x.png"), encoded(".png", makePicture(20, 10, CV_8UC3)));
  writeFile(dir_.file("in2/album.desc"),
            R"({"photoBook":{"scale":1,"pages":[{"elements":[{"image":{"src":"x.png"}}]}]}})");
  const pid_t second = start(std::string(VELLOMAR_BINARY) + " '" + dir_.file("in2") + "' '" +
                             outputDir() + "' 0 2>'" + dir_.file("second-err") + "'");
  while (readFile(dir_.file("second-err")).empty()) std::this_thread::yield();
  EXPECT_EQ(
      readFile(dir_.file("second-err")),
      "vellomar: " + outputDir() + ": another run is writing into it: waiting for it to end\n");
  ::kill(-first, SIGCONT);
  EXPECT_EQ(waitFor(first), 0);
  EXPECT_EQ(waitFor(second), 0);
  EXPECT_TRUE(holds(outputAlbum(), R"("src":"x.png")"));
  // The second book replaced the first: none of its pictures is left.
  EXPECT_TRUE(fs::exists(outputFile("x.png")) && !fs::exists(outputFile("big.png")));
  EXPECT_EQ(ownFiles(), 0);
}

}  // namespace
}  // namespace vellomar
#endif  // _WIN32
