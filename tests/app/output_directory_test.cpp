// What a run may replace in its output directory, where its report may go,
// and the directory's lock.

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "plan/run_state.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using OutputDirectoryTest = AlbumRunTest;

// A run replaces only what vellomar wrote. An output directory holding an
// album.desc it did not write (the directories swapped) is refused before
// anything is written. A picture whose name a file vellomar did not write
// has, or whose file changed since vellomar wrote it, is its element's
// problem, and the file stays as it is; --overwrite replaces them. A
// directory an earlier release made is taken as vellomar's.
TEST_F(OutputDirectoryTest, OnlyWhatVellomarWroteIsReplaced) {
  for (const char* name : {"a.png", "b.png", "c.png"}) {
    addPicture(name, makePicture(40, 30, CV_8UC3));
  }
  writeAlbumOf({"a.png", "b.png"});
  ASSERT_EQ(run().status, 0);
  const auto source = treeOf(sourceDir());
  std::ostringstream out, err;
  EXPECT_EQ(runCommandLine({"vellomar", outputDir(), sourceDir(), "0"}, out, err), -1);
  EXPECT_EQ(err.str(), "vellomar: " + sourceFile("album.desc") +
                           ": was not written by vellomar (is this an album's source?): nothing "
                           "is written into its directory; --overwrite replaces files vellomar "
                           "did not write\n");
  EXPECT_TRUE(treeOf(sourceDir()) == source);

  writeAlbumOf({"a.png", "b.png", "c.png"});
  writeFile(outputFile("b.png"), "retouched in place");
  writeFile(outputFile("c.png"), "the customer's own");
  const RunResult refused = run();
  EXPECT_EQ(refused.status, -1);
  const std::string line = "vellomar: " + outputDir() + kSeparator;
  EXPECT_EQ(refused.err, line +
                             "b.png: photoBook.pages[0].elements[1]: has changed since vellomar "
                             "wrote it: it is left as it is (--overwrite replaces it)\n" +
                             line +
                             "c.png: photoBook.pages[0].elements[2]: a file vellomar did not "
                             "write has this name: it is left as it is (--overwrite replaces "
                             "it)\n");
  EXPECT_EQ(readFile(outputFile("b.png")), "retouched in place");
  EXPECT_EQ(readFile(outputFile("c.png")), "the customer's own");
  EXPECT_EQ(run({"--overwrite"}).status, 0);
  EXPECT_EQ(readFile(outputFile("c.png")), readFile(sourceFile("c.png")));
  EXPECT_EQ(run().status, 0);

  // As the earlier release left it: its state, without a word of album.desc.
  std::string state = readFile(outputFile(kStateFileName));
  state.replace(0, state.find('\n'), "vellomar-state 2");
  state.erase(state.find("own "));
  for (size_t at; (at = state.find(" as-is 1\n")) != std::string::npos;) state.erase(at, 8);
  writeFile(outputFile(kStateFileName), state);
  const auto made = treeOf(outputDir());
  const RunResult again = run();
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(readFile(outputFile("a.png")), made.at("a.png"));
}

// The report is never written over a file of the album: its description on
// either side, a source picture, a derived picture (there already, or one the
// run makes), a file of vellomar's own; the run then ends before anything is
// written. It is written into links, named pipes and devices, not over them,
// and while another run sweeps the directory it goes into.
TEST_F(OutputDirectoryTest, TheReportReplacesNothingOfTheAlbum) {
  addPicture("a.png", makePicture(40, 30, CV_8UC3));
  writeAlbumOf({"a.png"});
  ASSERT_EQ(run().status, 0);
  writeAlbumOf({"a.png", "a.png", "n.png"});
  addPicture("n.png", makePicture(20, 10, CV_8UC3));
  const auto before = treeOf(dir_.path());
  const auto beforeOut = treeOf(outputDir());
  for (const std::string& path :
       {sourceFile("album.desc"), sourceFile("a.png"), outputFile("album.desc"),
        outputFile("A.PNG"), outputFile("n.png"), outputFile(kStateFileName)}) {
    const RunResult refused = run({"--report", path});
    EXPECT_EQ(refused.status, -1);
    EXPECT_EQ(refused.err, "vellomar: " + path +
                               ": cannot be written: it would replace a file of the album (its "
                               "description, a picture or a file of vellomar's)\n");
    EXPECT_TRUE(treeOf(dir_.path()) == before) << path;
  }
  EXPECT_TRUE(holds(run({"--report="}).err, "vellomar: --report: the path is empty\n"));
#ifndef _WIN32
  fs::create_symlink(outputFile("a.png"), dir_.file("to-a"));
  EXPECT_EQ(run({"--report", dir_.file("to-a")}).status, -1);
#endif
  // However early the run ends.
  const std::string album = readFile(sourceFile("album.desc"));
  writeAlbum("{");
  EXPECT_TRUE(
      holds(run({"--report", outputFile("a.png")}).err, "would replace a file of the album"));
  EXPECT_TRUE(treeOf(outputDir()) == beforeOut);
  writeAlbum(album);

  const std::string other = dir_.file("other");
  fs::create_directory(other);
  FaultyFileSystem sweeping;
  sweeping.fails = [&](const std::string& call, const std::string& path) {
    if (call == "rename" && path.find("report") != std::string::npos) {
      removeStaleTemporaries(nativeFileSystem(), other + kSeparator);
    }
    return std::string();
  };
  EXPECT_EQ(run({"--report", other + kSeparator + "report"}, sweeping).status, 0);
  EXPECT_TRUE(holds(readFile(other + kSeparator + "report"), "\"status\":0"));
#ifndef _WIN32
  EXPECT_EQ(run({"--report", "/dev/null"}).status, 0);
  struct stat null;
  EXPECT_TRUE(::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode));
  const std::string pipe = dir_.file("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(run({"--report", pipe}).status, 0);
  char read[4096];
  const ssize_t got = ::read(reader, read, sizeof read);
  ::close(reader);
  EXPECT_TRUE(holds(std::string(read, got > 0 ? got : 0), "\"status\":0"));
  EXPECT_EQ(run({"--report", pipe}).err,
            "vellomar: " + pipe + ": cannot be written: a named pipe that nothing reads\n");
  fs::create_symlink(other + "/report", dir_.file("link"));
  EXPECT_EQ(run({"--report", dir_.file("link")}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir_.file("link")));
  const std::string twice = readFile(other + "/report");  // the report added after the first
  EXPECT_NE(twice.find("\"status\":0"), twice.rfind("\"status\":0"));
#endif
}

// The lock is taken on what can be locked, never through a link, and a lock
// that cannot be taken says why.
TEST_F(OutputDirectoryTest, TheLockFileIsOnlyEverOurs) {
  writeAlbumOf({});
  FaultyFileSystem lockless;
  lockless.fails = [](const std::string& call, const std::string&) {
    return call == "lock" ? "No locks available" : "";
  };
  EXPECT_EQ(run({}, lockless).err, "vellomar: " + outputDir() +
                                       ": cannot be locked: .vellomar-lock: No locks available\n");
#ifndef _WIN32
  fs::create_symlink(dir_.file("elsewhere"), outputFile(kLockFileName));
  EXPECT_EQ(run().err, "vellomar: " + outputDir() +
                           ": cannot be locked: .vellomar-lock: it is a symbolic link\n");
  EXPECT_FALSE(fs::exists(dir_.file("elsewhere")));
  // A lock file a run of root's left, which others may read but not write.
  fs::remove(outputFile(kLockFileName));
  writeFile(outputFile(kLockFileName), "");
  fs::permissions(outputFile(kLockFileName),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(outputDir(), fs::perms::all);
  fs::permissions(dir_.path(), fs::perms::all);
  if (::geteuid() == 0) {
    const RunResult other = runBinary({sourceDir(), outputDir(), "0"},
                                      "setpriv --reuid=65534 --regid=65534 --clear-groups ");
    EXPECT_EQ(other.status, 0) << other.err;
  }
#endif
}

}  // namespace
}  // namespace vellomar
