#include "platform/code_page.h"

#include <windows.h>

#include <cctype>

namespace vellomar {
namespace {

std::u16string toWide(unsigned codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::u16string text(static_cast<size_t>(length), u'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                        length);
  return text;
}

std::string fromWide(unsigned codePage, std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(codePage, 0, wide, size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string bytes(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, 0, wide, size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

}  // namespace

CodePage CodePage::fromLocale() {
  const unsigned number = ::GetACP();
  if (number == CP_UTF8) return CodePage("UTF-8", true, CP_UTF8);
  return CodePage("CP" + std::to_string(number), false, number);
}

CodePage CodePage::named(std::string_view charset) {
  std::string upper;
  for (char c : charset) {
    if (c != '-' && c != '_')
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  unsigned number = 0;
  if (upper == "GBK" || upper == "GB2312") {
    number = 936;
  } else {
    for (const char* prefix : {"CP", "WINDOWS", "IBM"}) {
      const std::string_view p(prefix);
      if (upper.size() > p.size() && upper.compare(0, p.size(), p) == 0 &&
          upper.find_first_not_of("0123456789", p.size()) == std::string::npos &&
          upper.size() - p.size() <= 5) {
        number = static_cast<unsigned>(std::stoul(upper.substr(p.size())));
      }
    }
  }
  if (number == 0 || number == CP_UTF8 || !::IsValidCodePage(number)) {
    return CodePage("UTF-8", true, CP_UTF8);
  }
  return CodePage("CP" + std::to_string(number), false, number);
}

std::u16string CodePage::toUtf16(std::string_view bytes) const { return toWide(number_, bytes); }

std::string CodePage::fromUtf16(std::u16string_view text) const { return fromWide(number_, text); }

std::u16string utf8ToUtf16(std::string_view bytes) { return toWide(CP_UTF8, bytes); }

std::string utf16ToUtf8(std::u16string_view text) { return fromWide(CP_UTF8, text); }

}  // namespace vellomar
