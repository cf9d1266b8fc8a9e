#include "util/whole_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace vellomar {
namespace {

TEST(WholeFileTest, LeadingBytesNulAndLineEndRules) {
  const std::pair<std::string, std::string> rows[] = {
      {"\xEF\xBB\xBF{\"a\":1}", "{\"a\":1}"},
      {" \n\t{\"a\":1}", "{\"a\":1}"},
      {"\n{\"a\"}", "a\"}"},  // a brace among the first three bytes is lost
      {"{a\r\nb\rc\r\r\n}", "{a\nb\rc\r\n}"},
      {"\r\n\r\n\r\n{}", "{}"},  // CR LF is one byte by the time the rule drops three
      {std::string("{ab\0cd", 6), "{ab"},
      {"xyz", ""},
      {std::string("\xEF\xBB\xBF\0{}", 6), ""},
  };
  for (const auto& [data, text] : rows) EXPECT_EQ(wholeFileText(data), text) << data;
  ScopedTempDir dir;
  writeFile(dir.file("album.desc"), "\xEF\xBB\xBF{\r\n}\r\n");
  EXPECT_EQ(readWholeFile(dir.path() + "\\album.desc"), "{\n}\n");
  EXPECT_EQ(readWholeFile(dir.file("missing.desc")), "");
  EXPECT_EQ(readWholeFile(dir.path()), "");  // a directory is not a file
}

}  // namespace
}  // namespace vellomar
