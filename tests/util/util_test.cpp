// Text encodings and whole-file reading.

#include <clocale>
#include <cstdlib>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "util/text_encoding.h"
#include "util/whole_file.h"

namespace vellomar {
namespace {

const CodePage kGbk = CodePage::named("GBK");
const CodePage kUtf8 = CodePage::named("UTF-8");

TEST(TextEncodingTest, SizeQueryCountsTheTerminatorAndAShortBufferIsLeftAlone) {
  for (const CodePage* codePage : {&kGbk, &kUtf8}) {
    for (auto convert : {utf8ToAnsi, ansiToUtf8}) {
      EXPECT_EQ(convert(*codePage, "", nullptr, 0), 1);
      EXPECT_EQ(convert(*codePage, nullptr, nullptr, 0), 0);
      ASSERT_EQ(convert(*codePage, "a/b.jpg", nullptr, 0), 8);
      char buffer[8] = "-------";
      EXPECT_EQ(convert(*codePage, "a/b.jpg", buffer, 7), 0);
      EXPECT_STREQ(buffer, "-------");
      EXPECT_EQ(convert(*codePage, "a/b.jpg", buffer, 8), 8);
      EXPECT_STREQ(buffer, "a/b.jpg");
    }
  }
}

TEST(TextEncodingTest, ConversionsThroughGbkAndUtf8) {
  // 中文/照片.jpg
  const std::string chineseUtf8 = "\xE4\xB8\xAD\xE6\x96\x87/\xE7\x85\xA7\xE7\x89\x87.jpg";
  const std::string chineseGbk = "\xD6\xD0\xCE\xC4/\xD5\xD5\xC6\xAC.jpg";
  EXPECT_EQ(convertUtf8ToAnsi(kGbk, chineseUtf8), chineseGbk);
  EXPECT_EQ(convertAnsiToUtf8(kGbk, chineseGbk), chineseUtf8);
  // What GBK cannot represent (U+00F6, U+1F600, and U+FFFD standing for
  // invalid UTF-8) becomes the default character (on Windows, one for each
  // half of U+1F600); invalid GBK becomes U+FFFD.
  EXPECT_EQ(convertUtf8ToAnsi(kGbk, "a\xC3\xB6_\xF0\x9F\x98\x80_\xFF_"),
            kWindows ? "a?_??_?_" : "a?_?_?_");
  EXPECT_EQ(convertAnsiToUtf8(kGbk, "a\xFF_"),
            kWindows ? "a\xEF\xA3\xB5_" : "a\xEF\xBF\xBD_");  // Windows' table: U+F8F5
  // UTF-8 keeps valid text and mends the rest: a truncated sequence is one
  // U+FFFD, an encoded surrogate or overlong form one per byte.
  EXPECT_EQ(convertUtf8ToAnsi(kUtf8, chineseUtf8 + "\xF0\x9F\x98\x80"),
            chineseUtf8 + "\xF0\x9F\x98\x80");
  EXPECT_EQ(convertUtf8ToAnsi(kUtf8, "a\xE4\xB8"), "a\xEF\xBF\xBD");
#ifdef _WIN32
  // How many U+FFFD stand for them is the system's choice.
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80\xC0\xAF").find_first_not_of(u'\uFFFD'), std::u16string::npos);
#else
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80\xC0\xAF"), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
#endif
  EXPECT_EQ(utf8ToUtf16("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xE0\xA0\x80\xC2\x80"),
            u"\U00010000\U0010FFFF\u0800\u0080");  // the first and last of each length
  EXPECT_TRUE(CodePage::named("no-such-charset").isUtf8());
#ifndef _WIN32
  // The C locale's ASCII is read as UTF-8.
  const char* saved = std::getenv("LC_ALL");
  const std::string was = saved ? saved : "";
  ::setenv("LC_ALL", "C", 1);
  EXPECT_TRUE(CodePage::fromLocale().isUtf8());
  if (const locale_t gbk =
          ::newlocale(LC_CTYPE_MASK, "zh_CN.GBK", nullptr)) {  // scripts/test makes it
    ::freelocale(gbk);
    ::setenv("LC_ALL", "zh_CN.GBK", 1);
    EXPECT_EQ(convertUtf8ToAnsi(CodePage::fromLocale(), chineseUtf8), chineseGbk);
  }
  saved ? ::setenv("LC_ALL", was.c_str(), 1) : ::unsetenv("LC_ALL");
#endif
}

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
      {"{a\x1A\r\n}", kWindows ? "{a" : "{a\x1A\n}"},  // Ctrl-Z ends a Windows text-mode read
  };
  for (const auto& [data, text] : rows) EXPECT_EQ(wholeFileText(data), text) << data;
  ScopedTempDir dir;
  writeFile(dir.file("album.desc"), "\xEF\xBB\xBF{\r\n}\r\n");
  EXPECT_EQ(readWholeFile(nativeFileSystem(), dir.path() + "\\album.desc"), "{\n}\n");
  EXPECT_EQ(readWholeFile(nativeFileSystem(), dir.file("missing.desc")), "");
  EXPECT_EQ(readWholeFile(nativeFileSystem(), dir.path()), "");  // a directory is not a file
#ifdef _WIN32
  // The C runtime's own text mode reads what the tool reads.
  const std::string tricky = "{\r\r\n\ra\r\nb\x1A\r\nc}";
  writeFile(dir.file("text"), tricky);
  std::FILE* stream = std::fopen(dir.file("text").c_str(), "r");
  ASSERT_NE(stream, nullptr);
  std::string read(64, '\0');
  read.resize(std::fread(read.data(), 1, read.size(), stream));
  std::fclose(stream);
  EXPECT_EQ(readWholeFile(nativeFileSystem(), dir.file("text")), read);
  EXPECT_EQ(read, "{\r\n\ra\nb");
#endif
}

}  // namespace
}  // namespace vellomar
