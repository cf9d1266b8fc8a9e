#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_support.h"

namespace vellomar {
namespace {

TEST(FileSystemTest, AtomicWriteReplacesTheFileAndLeavesNoTemporary) {
  ScopedTempDir dir;
  std::string error;
  writeFile(dir.file("a.txt"), "old");
  ASSERT_TRUE(writeFileAtomically(dir.path() + "\\", "a.txt", "new bytes", error)) << error;
  EXPECT_EQ(readFile(dir.file("a.txt")), "new bytes");
  ASSERT_TRUE(writeFileAtomically(dir.path() + "/", "b.jpg", "", error)) << error;
  EXPECT_EQ(readFile(dir.file("b.jpg")), "");

  int entries = 0;
  for (const char* name : {"a.txt", "b.jpg"}) entries += fileExists(dir.file(name));
  EXPECT_EQ(entries, 2);
}

TEST(FileSystemTest, AtomicWriteFailsCleanlyWhereItCannotWrite) {
  ScopedTempDir dir;
  std::string error;
  EXPECT_FALSE(writeFileAtomically(dir.path() + "/missing\\", "a.txt", "x", error));
  EXPECT_FALSE(error.empty());
  // A directory in the way of the target.
  ASSERT_EQ(::mkdir(dir.file("taken").c_str(), 0777), 0);
  EXPECT_FALSE(writeFileAtomically(dir.path() + "/", "taken", "x", error));
  EXPECT_TRUE(makeDirectory(dir.path() + "\\made"));
  EXPECT_FALSE(makeDirectory(dir.path() + "\\made"));
}

}  // namespace
}  // namespace vellomar
