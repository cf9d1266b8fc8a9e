#include "platform/file_system.h"

#include <ctime>
#include <memory>
#include <thread>

#include "platform/native_file.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

TEST(FileSystemTest, WholeFilesOrNothing) {
  ScopedTempDir dir;
  FileSystem& files = nativeFileSystem();
  const std::string at = dir.path() + "\\";
  writeFile(dir.file("a.txt"), "old");
  const auto reason = [](const auto& result) { return result.ok() ? "ok" : result.reason(); };
  EXPECT_EQ(reason(writeFileAtomically(files, at, "a.txt", "new bytes", Leftover::kKept)), "ok");
  EXPECT_EQ(readFile(dir.file("a.txt")), "new bytes");
  EXPECT_EQ(
      reason(writeFileAtomically(files, dir.path() + "/missing\\", "a.txt", "x", Leftover::kKept)),
      "No such file or directory");
  EXPECT_TRUE(files.makeDirectory(at + "taken").value_or(false));
  EXPECT_FALSE(files.makeDirectory(at + "taken").value_or(true));  // there already
  EXPECT_EQ(reason(files.makeDirectory(at + "a.txt")), "File exists");
  EXPECT_EQ(reason(writeFileAtomically(files, at, "taken", "x", Leftover::kKept)),
            fs::path::preferred_separator == '\\' ? "Permission denied" : "Is a directory");
  {
    TemporaryFile kept, dropped;
    const Leftover swept = Leftover::kSweptUnderLock;
    ASSERT_TRUE(kept.write(files, at, "b.jpg", "picture", swept).ok());
    ASSERT_TRUE(dropped.write(files, at, "c.jpg", "picture", swept).ok());
    TemporaryFile moved = std::move(dropped), other;
    ASSERT_TRUE(other.write(files, at, "e.jpg", "picture", swept).ok());
    moved = std::move(other);  // c.jpg's goes
    EXPECT_TRUE(kept.commit(at, "b.jpg").ok() && kept.path().empty());
    EXPECT_FALSE(dropped.write(files, at + "missing\\", "d.jpg", "picture", swept).ok());
  }
  EXPECT_EQ(files.readFile(at + "b.jpg", 7).value_or("none"), "picture");
  EXPECT_EQ(reason(files.readFile(at + "b.jpg", 6)), "the file is larger than 6 bytes");
  // The time of the last write, in nanoseconds since 1970 on either system.
  const std::optional<FileIdentity> identity = fileIdentity(files, at + "b.jpg");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->size, 7u);
  EXPECT_NEAR(static_cast<double>(identity->modifiedNanoseconds) / 1e9,
              static_cast<double>(std::time(nullptr)), 600);
  for (const std::string& path : {dir.path(), dir.file("missing")})
    EXPECT_FALSE(files.readFile(path, UINT64_MAX).ok());
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
  std::unique_ptr<DirectoryLock> first = files.lock(at, false, nullptr).value_or(nullptr);
  ASSERT_TRUE(first);
  const auto busy = files.lock(at, false, nullptr);
  EXPECT_TRUE(busy.ok() && !busy.value());
  int waited = 0;
  std::thread letGo([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first.reset();
  });
  const auto second = files.lock(at, true, [&] { ++waited; });
  letGo.join();
  EXPECT_TRUE(second.ok() && second.value());
  EXPECT_EQ(waited, 1);
  EXPECT_TRUE(fs::exists(dir.file(kLockFileName)));
}

// The lock's file is known from one that took its name since it was opened.
TEST(FileSystemTest, AnOpenFileIsToldFromOneThatReplacedIt) {
  if (kWindows) GTEST_SKIP() << "Windows replaces no file that is open";
  ScopedTempDir dir;
  writeFile(dir.file("a"), "opened");
  native::Stat status;
  const Expected<native::File> open = native::openForReading(dir.file("a"), status);
  ASSERT_TRUE(open.ok());
  EXPECT_TRUE(native::stillNames(dir.file("a"), open.value()));
  writeFile(dir.file("b"), "another");
  fs::rename(dir.file("b"), dir.file("a"));
  EXPECT_FALSE(native::stillNames(dir.file("a"), open.value()));
}

}  // namespace
}  // namespace vellomar
