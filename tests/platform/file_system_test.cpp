#include "platform/file_system.h"

#include <ctime>
#include <memory>
#include <thread>

#include "support/test_support.h"

namespace vellomar {
namespace {

TEST(FileSystemTest, WholeFilesOrNothing) {
  ScopedTempDir dir;
  const std::string at = dir.path() + "\\";
  std::string error;
  writeFile(dir.file("a.txt"), "old");
  ASSERT_TRUE(writeFileAtomically(at, "a.txt", "new bytes", error)) << error;
  EXPECT_EQ(readFile(dir.file("a.txt")), "new bytes");
  EXPECT_FALSE(writeFileAtomically(dir.path() + "/missing\\", "a.txt", "x", error));
  EXPECT_EQ(error, "No such file or directory");
  ASSERT_TRUE(makeDirectory(at + "taken"));
  EXPECT_FALSE(makeDirectory(at + "taken"));
  EXPECT_FALSE(writeFileAtomically(at, "taken", "x", error));
#ifdef _WIN32
  EXPECT_EQ(error, "Permission denied");
#else
  EXPECT_EQ(error, "Is a directory");
#endif
  {
    TemporaryFile kept, dropped;
    ASSERT_TRUE(kept.write(at, "b.jpg", "picture", error));
    ASSERT_TRUE(dropped.write(at, "c.jpg", "picture", error));
    TemporaryFile moved = std::move(dropped), other;
    ASSERT_TRUE(other.write(at, "e.jpg", "picture", error));
    moved = std::move(other);  // c.jpg's goes
    EXPECT_TRUE(kept.commit(at, "b.jpg", error));
    EXPECT_FALSE(dropped.write(at + "missing\\", "d.jpg", "picture", error));
  }
  std::string bytes = "stale";
  EXPECT_TRUE(readFileBytes(at + "b.jpg", bytes));
  EXPECT_EQ(bytes, "picture");
  EXPECT_EQ(fileSize(at + "b.jpg"), 7u);
  // The time of the last write, in nanoseconds since 1970 on either system.
  const std::optional<FileIdentity> identity = fileIdentity(at + "b.jpg");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->size, 7u);
  EXPECT_NEAR(static_cast<double>(identity->modifiedNanoseconds) / 1e9,
              static_cast<double>(std::time(nullptr)), 600);
  for (const std::string& path : {dir.path(), dir.file("missing")}) {
    EXPECT_FALSE(readFileBytes(path, bytes));
    EXPECT_EQ(bytes, "");
  }
  EXPECT_NEAR(static_cast<double>(identity->changedNanoseconds) / 1e9,
              static_cast<double>(std::time(nullptr)), 600);
  EXPECT_TRUE(directoryIdentity(at) && !directoryIdentity(at + "a.txt") &&
              !fileIdentity(at + "taken"));
  // a.txt, taken, b.jpg: no temporary left
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

// One holder at a time: another gives up at once, or waits (saying so once)
// until the first lets go; the lock file goes with the last holder.
TEST(FileSystemTest, ADirectoryIsLockedByOneAtATime) {
  ScopedTempDir dir;
  const std::string at = dir.path() + "\\";
  auto first = std::make_unique<DirectoryLock>(at, false, nullptr);
  ASSERT_TRUE(first->held());
  const DirectoryLock refused(at, false, nullptr);
  EXPECT_FALSE(refused.held());
  EXPECT_EQ(refused.error(), "");
  int waited = 0;
  std::thread letGo([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first.reset();
  });
  const DirectoryLock second(at, true, [&] { ++waited; });
  letGo.join();
  EXPECT_TRUE(second.held());
  EXPECT_EQ(waited, 1);
  EXPECT_TRUE(fs::exists(dir.file(kLockFileName)));
}

}  // namespace
}  // namespace vellomar
