#include "util/text_encoding.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace vellomar {
namespace {

const CodePage& gbk() {
  static const CodePage codePage = CodePage::named("GBK");
  return codePage;
}
const CodePage& utf8() {
  static const CodePage codePage = CodePage::named("UTF-8");
  return codePage;
}

// "中文/照片.jpg" in UTF-8 and in GBK.
const char kChineseUtf8[] = "\xE4\xB8\xAD\xE6\x96\x87/\xE7\x85\xA7\xE7\x89\x87.jpg";
const char kChineseGbk[] = "\xD6\xD0\xCE\xC4/\xD5\xD5\xC6\xAC.jpg";

TEST(CodePageTest, UnknownNamesAndPlainAsciiFallBackToUtf8) {
  EXPECT_TRUE(CodePage::named("no-such-charset").isUtf8());
  EXPECT_TRUE(CodePage::named("utf8").isUtf8());
  EXPECT_FALSE(gbk().isUtf8());
}

TEST(TextEncodingTest, SizeQueryCountsTheTerminatorAndExactBufferIsEnough) {
  for (const CodePage* codePage : {&gbk(), &utf8()}) {
    SCOPED_TRACE(codePage->name());
    EXPECT_EQ(utf8ToAnsi(*codePage, "", nullptr, 0), 1);
    EXPECT_EQ(ansiToUtf8(*codePage, "", nullptr, 0), 1);
    EXPECT_EQ(utf8ToAnsi(*codePage, nullptr, nullptr, 0), 0);
    EXPECT_EQ(ansiToUtf8(*codePage, nullptr, nullptr, 0), 0);
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(utf8ToAnsi(*codePage, nullptr, buffer, 8), 0);

    const int size = utf8ToAnsi(*codePage, "a/b.jpg", nullptr, 0);
    ASSERT_EQ(size, 8);
    char tooSmall[8] = "-------";
    EXPECT_EQ(utf8ToAnsi(*codePage, "a/b.jpg", tooSmall, size - 1), 0);
    EXPECT_STREQ(tooSmall, "-------");
    char exact[8];
    EXPECT_EQ(utf8ToAnsi(*codePage, "a/b.jpg", exact, size), size);
    EXPECT_STREQ(exact, "a/b.jpg");
    EXPECT_EQ(ansiToUtf8(*codePage, "a/b.jpg", exact, size), size);
    EXPECT_STREQ(exact, "a/b.jpg");
  }
}

TEST(TextEncodingTest, GbkConvertsChineseBothWays) {
  EXPECT_EQ(utf8ToAnsi(gbk(), kChineseUtf8, nullptr, 0), static_cast<int>(sizeof kChineseGbk));
  EXPECT_EQ(convertUtf8ToAnsi(gbk(), kChineseUtf8), kChineseGbk);
  EXPECT_EQ(convertAnsiToUtf8(gbk(), kChineseGbk), kChineseUtf8);
  EXPECT_EQ(ansiToWide(gbk(), kChineseGbk), u"\u4E2D\u6587/\u7167\u7247.jpg");
}

TEST(TextEncodingTest, UnrepresentableCharactersBecomeTheDefaultCharacter) {
  // U+00F6 and U+1F600 have no GBK form; invalid UTF-8 is U+FFFD first, which
  // has none either.
  EXPECT_EQ(convertUtf8ToAnsi(gbk(), "a\xC3\xB6" "b\xF0\x9F\x98\x80" "c\xFF" "d"), "a?b?c?d");
  // In UTF-8 the invalid byte stays visible as U+FFFD.
  EXPECT_EQ(convertUtf8ToAnsi(utf8(), "c\xFF" "d"), "c\xEF\xBF\xBD" "d");
  // Two different names that lose the same characters meet as one path.
  EXPECT_EQ(convertUtf8ToAnsi(gbk(), "\xF0\x9F\x98\x80.jpg"),
            convertUtf8ToAnsi(gbk(), "\xF0\x9F\x98\x81.jpg"));
}

TEST(TextEncodingTest, Utf8CodePageKeepsValidTextAndMendsInvalidSequences) {
  const std::string valid = "\xE4\xB8\xAD/\xF0\x9F\x98\x80.png";
  EXPECT_EQ(convertUtf8ToAnsi(utf8(), valid), valid);
  EXPECT_EQ(convertAnsiToUtf8(utf8(), valid), valid);
  // A truncated sequence is one U+FFFD; an encoded surrogate is refused byte by
  // byte after its lead.
  EXPECT_EQ(utf16ToUtf8(utf8ToUtf16("a\xE4\xB8")), "a\xEF\xBF\xBD");
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
}

TEST(TextEncodingTest, InvalidGbkBytesBecomeReplacementCharacters) {
  EXPECT_EQ(convertAnsiToUtf8(gbk(), "a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ansiToWide(gbk(), ""), u"");
}

}  // namespace
}  // namespace vellomar
