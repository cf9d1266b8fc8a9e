#include "platform/file_system.h"

#include <ctime>
#include <memory>
#include <thread>

#include "support/test_support.h"

namespace vellomar {
namespace {

TEST(FileSystemTest, WholeFilesOrNothing) {
  ScopedTempDir dir;
  FileSystem& files = nativeFileSystem();
  const std::string at = dir.path() + "\\";
  std::string error;
  writeFile(dir.file("a.txt"), "old");
  ASSERT_TRUE(writeFileAtomically(files, at, "a.txt", "new bytes", Leftover::kKept, error))
      << error;
  EXPECT_EQ(readFile(dir.file("a.txt")), "new bytes");
  EXPECT_FALSE(
      writeFileAtomically(files, dir.path() + "/missing\\", "a.txt", "x", Leftover::kKept, error));
  EXPECT_EQ(error, "No such file or directory");
  ASSERT_TRUE(files.makeDirectory(at + "taken", error));
  EXPECT_FALSE(files.makeDirectory(at + "taken", error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(writeFileAtomically(files, at, "taken", "x", Leftover::kKept, error));
#ifdef _WIN32
  EXPECT_EQ(error, "Permission denied");
#else
  EXPECT_EQ(error, "Is a directory");
#endif
  {
    TemporaryFile kept, dropped;
    const Leftover swept = Leftover::kSweptUnderLock;
    ASSERT_TRUE(kept.write(files, at, "b.jpg", "picture", swept, error));
    ASSERT_TRUE(dropped.write(files, at, "c.jpg", "picture", swept, error));
    TemporaryFile moved = std::move(dropped), other;
    ASSERT_TRUE(other.write(files, at, "e.jpg", "picture", swept, error));
    moved = std::move(other);  // c.jpg's goes
    EXPECT_TRUE(kept.commit(at, "b.jpg", error));
    EXPECT_FALSE(dropped.write(files, at + "missing\\", "d.jpg", "picture", swept, error));
  }
  std::string bytes = "stale";
  EXPECT_TRUE(files.readFile(at + "b.jpg", bytes, error, 7));
  EXPECT_EQ(bytes, "picture");
  EXPECT_FALSE(files.readFile(at + "b.jpg", bytes, error, 6));
  EXPECT_EQ(error, "the file is larger than 6 bytes");
  // The time of the last write, in nanoseconds since 1970 on either system.
  const std::optional<FileIdentity> identity = fileIdentity(files, at + "b.jpg");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->size, 7u);
  EXPECT_NEAR(static_cast<double>(identity->modifiedNanoseconds) / 1e9,
              static_cast<double>(std::time(nullptr)), 600);
  for (const std::string& path : {dir.path(), dir.file("missing")}) {
    EXPECT_FALSE(files.readFile(path, bytes, error, UINT64_MAX));
    EXPECT_EQ(bytes, "");
  }
  EXPECT_NEAR(static_cast<double>(identity->changedNanoseconds) / 1e9,
              static_cast<double>(std::time(nullptr)), 600);
  EXPECT_TRUE(directoryIdentity(files, at) && !directoryIdentity(files, at + "a.txt") &&
              !fileIdentity(files, at + "taken"));
  // a.txt, taken, b.jpg: no temporary left
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

// One holder at a time: another gives up at once, or waits (saying so once)
// until the first lets go; the lock file goes with the last holder.
TEST(FileSystemTest, ADirectoryIsLockedByOneAtATime) {
  ScopedTempDir dir;
  const std::string at = dir.path() + "\\";
  FileSystem& files = nativeFileSystem();
  std::string error;
  std::unique_ptr<DirectoryLock> first = files.lock(at, false, nullptr, error);
  ASSERT_TRUE(first);
  EXPECT_FALSE(files.lock(at, false, nullptr, error));
  EXPECT_EQ(error, "");
  int waited = 0;
  std::thread letGo([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first.reset();
  });
  const std::unique_ptr<DirectoryLock> second = files.lock(
      at, true, [&] { ++waited; }, error);
  letGo.join();
  EXPECT_TRUE(second);
  EXPECT_EQ(waited, 1);
  EXPECT_TRUE(fs::exists(dir.file(kLockFileName)));
}

}  // namespace
}  // namespace vellomar
