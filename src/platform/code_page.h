#ifndef VELLOMAR_PLATFORM_CODE_PAGE_H_
#define VELLOMAR_PLATFORM_CODE_PAGE_H_

// The byte encoding used for file-system paths (the "ANSI code page"), and the
// UTF-8 / UTF-16 conversions around it. On Windows they are the system's own
// calls (MultiByteToWideChar, WideCharToMultiByte); elsewhere iconv and our
// own UTF-8 code do the same: invalid input becomes U+FFFD, a character the
// code page cannot represent becomes '?'.

#include <string>
#include <string_view>

namespace vellomar {

class CodePage {
 public:
  // The system's ANSI code page: on Windows the one GetACP names; elsewhere the
  // character set of the locale's LC_CTYPE, or UTF-8 when that is plain ASCII
  // (C/POSIX) or a set iconv does not know.
  static CodePage fromLocale();
  // A code page by name ("GBK", "CP936", "UTF-8"); UTF-8 when the system does
  // not know the name. Tests use this to choose the code page.
  static CodePage named(std::string_view charset);

  bool isUtf8() const { return utf8_; }

  // Code-page bytes to UTF-16; a byte sequence that is not valid in the code
  // page becomes U+FFFD.
  std::u16string toUtf16(std::string_view bytes) const;
  // UTF-16 to code-page bytes; a character the code page cannot represent (or a
  // lone surrogate) becomes '?' (on Windows, one '?' for each half of a
  // character outside the Basic Multilingual Plane).
  std::string fromUtf16(std::u16string_view text) const;

 private:
  CodePage(std::string name, bool utf8, unsigned number = 0)
      : name_(std::move(name)), utf8_(utf8), number_(number) {}

  std::string name_;  // iconv's name for it
  bool utf8_;
  [[maybe_unused]] unsigned number_;  // Windows's number for it
};

// UTF-8 to UTF-16. Each maximal invalid subsequence becomes one U+FFFD, as do
// encoded surrogates and overlong forms.
std::u16string utf8ToUtf16(std::string_view bytes);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
// Appends the UTF-8 bytes (one to four) of a code point up to U+10FFFF.
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_CODE_PAGE_H_
