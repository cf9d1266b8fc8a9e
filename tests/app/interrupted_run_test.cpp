#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace vellomar {
namespace {

namespace fs = std::filesystem;

using InterruptedRunTest = AlbumPassTest;

bool isTemporary(const fs::path& file) {
  return file.filename().string().rfind(".vellomar-partial-", 0) == 0;
}

// Starts the binary on `source` and `output` with nothing printed; returns its
// process.
pid_t startRun(const std::string& source, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string binary = VELLOMAR_BINARY, flag = "0";
  std::string in = source, out = output;
  char* argv[] = {binary.data(), in.data(), out.data(), flag.data(), nullptr};
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int waitFor(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// Killed at any moment, a run leaves every album.desc and derived picture in
// the output directory absent or whole; its temporary files say what they are,
// and the next run removes them.
TEST_F(InterruptedRunTest, KilledRunsLeaveOnlyWholeFiles) {
  std::string elements;
  for (int i = 0; i < 40; ++i) {
    addPicture("p" + std::to_string(i) + ".jpg", makePicture(400 + i, 300, CV_8UC3));
    elements += std::string(i ? "," : "") + R"({"image":{"src":"p)" + std::to_string(i) +
                R"(.jpg","width":200,"height":150,"mask":{"width":150,"height":100}}})";
  }
  writeAlbum(R"({"photoBook":{"scale":0.5,"pages":[{"elements":[)" + elements + "]}]}}");

  const std::string reference = dir_.file("reference");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(waitFor(startRun(sourceDir(), reference)), 0);
  const auto duration = std::chrono::steady_clock::now() - start;

  std::mt19937 random(20261206);
  int partial = 0;
  for (int attempt = 0; attempt < 12; ++attempt) {
    fs::remove_all(outputDir());
    const pid_t run = startRun(sourceDir(), outputDir());
    std::this_thread::sleep_for(duration * std::uniform_real_distribution<>(0, 1.1)(random));
    ::kill(run, SIGKILL);
    waitFor(run);
    std::error_code notThereYet;
    for (const auto& entry : fs::directory_iterator(outputDir(), notThereYet)) {
      if (isTemporary(entry.path())) {
        ++partial;
        continue;
      }
      EXPECT_TRUE(readFile(entry.path().string()) ==
                  readFile(reference + "/" + entry.path().filename().string()))
          << entry.path();
    }
  }
  // Leftovers of the last killed run go with the next run.
  ASSERT_EQ(waitFor(startRun(sourceDir(), outputDir())), 0);
  for (const auto& entry : fs::directory_iterator(outputDir())) {
    EXPECT_FALSE(isTemporary(entry.path())) << entry.path();
    EXPECT_TRUE(readFile(entry.path().string()) ==
                readFile(reference + "/" + entry.path().filename().string()));
  }
  RecordProperty("temporaries_seen", partial);
}

}  // namespace
}  // namespace vellomar
