#include "platform/code_page.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace vellomar {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr const char* kUtf16 = "UTF-16LE";

bool isUtf8Name(std::string_view name) {
  std::string upper;
  for (char c : name) {
    if (c != '-' && c != '_')
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper == "UTF8";
}

bool isAsciiName(std::string_view name) {
  return name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII" || name == "646" ||
         name.empty();
}

bool iconvKnows(const std::string& name) {
  iconv_t cd = iconv_open(name.c_str(), kUtf16);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

// Runs iconv over the whole input. On a sequence it cannot convert, it emits
// `replacement`, skips `skipUnit` input bytes (or a whole surrogate pair when
// converting from UTF-16) and goes on.
std::string runIconv(const char* to, const char* from, std::string_view input,
                     std::string_view replacement, size_t skipUnit, bool fromUtf16) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  out.resize(input.size() * 2 + 16);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  size_t used = 0;
  while (inLeft > 0) {
    char* dst = &out[used];
    size_t dstLeft = out.size() - used;
    size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ or EINVAL: one unconvertible character (or a truncated one at
    // the end). Replace it and go on after it.
    size_t skip = skipUnit;
    if (fromUtf16 && inLeft >= 4) {
      unsigned unit = static_cast<unsigned char>(in[0]) | (static_cast<unsigned char>(in[1]) << 8);
      unsigned next = static_cast<unsigned char>(in[2]) | (static_cast<unsigned char>(in[3]) << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) skip = 4;
    }
    if (skip > inLeft) skip = inLeft;
    in += skip;
    inLeft -= skip;
    out.resize(used);
    out.append(replacement);
    used = out.size();
    out.resize(used + inLeft * 2 + 16);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state.
  for (;;) {
    char* dst = &out[used];
    size_t dstLeft = out.size() - used;
    size_t rc = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (rc != static_cast<size_t>(-1) || errno != E2BIG) break;
    out.resize(out.size() * 2);
  }
  out.resize(used);
  iconv_close(cd);
  return out;
}

}  // namespace

CodePage CodePage::fromLocale() {
  std::string name;
  locale_t loc = newlocale(LC_CTYPE_MASK, "", nullptr);
  if (loc != nullptr) {
    const char* codeset = nl_langinfo_l(CODESET, loc);
    if (codeset != nullptr) name = codeset;
    freelocale(loc);
  }
  if (isAsciiName(name)) return named("UTF-8");
  return named(name);
}

CodePage CodePage::named(std::string_view charset) {
  std::string name(charset);
  if (isUtf8Name(name) || !iconvKnows(name)) return CodePage("UTF-8", true);
  return CodePage(name, false);
}

std::u16string CodePage::toUtf16(std::string_view bytes) const {
  if (utf8_) return utf8ToUtf16(bytes);
  static const char16_t kRep[] = {kReplacement};
  std::string raw = runIconv(kUtf16, name_.c_str(), bytes,
                             std::string_view(reinterpret_cast<const char*>(kRep), 2), 1, false);
  std::u16string text(raw.size() / 2, u'\0');
  std::memcpy(text.data(), raw.data(), text.size() * 2);
  return text;
}

std::string CodePage::fromUtf16(std::u16string_view text) const {
  if (utf8_) return utf16ToUtf8(text);
  std::string_view raw(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  return runIconv(name_.c_str(), kUtf16, raw, "?", 2, true);
}

std::u16string utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  while (i < n) {
    unsigned char lead = at(i);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    size_t k = 1;
    bool complete = true;
    for (; k < static_cast<size_t>(length); ++k) {
      if (i + k >= n) {
        complete = false;
        break;
      }
      unsigned char c = at(i + k);
      unsigned char lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
      if (c < lo || c > hi) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    i += k;
    if (!complete) {
      out.push_back(kReplacement);
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    appendUtf8(out, cp);
  }
  return out;
}

}  // namespace vellomar
