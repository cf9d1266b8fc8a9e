#include "platform/file_system.h"

#include <ctime>

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
    TemporaryFile moved = std::move(dropped);
    EXPECT_TRUE(kept.commit(at, "b.jpg", error));
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
  EXPECT_EQ(directoryIdentity(at), parentDirectoryIdentity(at + "a.txt"));
  EXPECT_FALSE(parentDirectoryIdentity(at + "missing\\a"));
  // a.txt, taken, b.jpg: no temporary left
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

}  // namespace
}  // namespace vellomar
