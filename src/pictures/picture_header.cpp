#include "pictures/picture_header.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "pictures/file_bytes.h"
#include "pictures/jpeg_markers.h"

namespace vellomar {
namespace {

using Dimensions = std::optional<PictureDimensions>;

Dimensions of(std::optional<uint64_t> width, std::optional<uint64_t> height) {
  if (!width || !height) return std::nullopt;
  return PictureDimensions{*width, *height};
}

Dimensions jpeg(std::string_view b) {
  Dimensions dimensions;
  walkJpegMarkers(b, [&](const JpegSegment& segment) {
    if (!isJpegFrame(segment.marker)) return true;
    dimensions = of(number(segment.data, 3, 2, true), number(segment.data, 1, 2, true));
    return false;
  });
  return dimensions;
}

Dimensions webp(std::string_view b) {
  const std::string_view chunk = part(b, 12, 4);
  if (chunk == "VP8 ") {
    const auto w = number(b, 26, 2, false), h = number(b, 28, 2, false);
    if (!w || !h) return std::nullopt;
    return PictureDimensions{*w & 0x3FFF, *h & 0x3FFF};
  }
  if (chunk == "VP8L") {
    const auto bits = number(b, 21, 4, false);
    if (!bits) return std::nullopt;
    return PictureDimensions{(*bits & 0x3FFF) + 1, ((*bits >> 14) & 0x3FFF) + 1};
  }
  if (chunk == "VP8X") {
    const auto w = number(b, 24, 3, false), h = number(b, 27, 3, false);
    if (!w || !h) return std::nullopt;
    return PictureDimensions{*w + 1, *h + 1};
  }
  return std::nullopt;
}

Dimensions bmp(std::string_view b) {
  const auto header = number(b, 14, 4, false);
  if (!header) return std::nullopt;
  if (*header == 12) return of(number(b, 18, 2, false), number(b, 20, 2, false));
  const auto w = number(b, 18, 4, false), h = number(b, 22, 4, false);
  if (!w || !h) return std::nullopt;
  const int32_t height = static_cast<int32_t>(*h);  // negative: top-down rows
  return PictureDimensions{static_cast<uint32_t>(std::abs(static_cast<int32_t>(*w))),
                           static_cast<uint64_t>(height < 0 ? -int64_t{height} : height)};
}

Dimensions tiff(std::string_view b) {
  const bool big = b[0] == 'M';
  const auto ifd = number(b, 4, 4, big);
  if (!ifd) return std::nullopt;
  const auto count = number(b, *ifd, 2, big);
  if (!count) return std::nullopt;
  std::optional<uint64_t> width, height;
  for (uint64_t i = 0; i < *count; ++i) {
    const size_t entry = *ifd + 2 + i * 12;
    const auto tag = number(b, entry, 2, big), type = number(b, entry + 2, 2, big);
    if (!tag || !type) return std::nullopt;
    const auto value = *type == 3 ? number(b, entry + 8, 2, big) : number(b, entry + 8, 4, big);
    if (*tag == 256) width = value;
    if (*tag == 257) height = value;
  }
  return of(width, height);
}

// Text headers: whitespace-separated tokens, '#' comments to the line end.
class Tokens {
 public:
  Tokens(std::string_view b, size_t at) : b_(b), at_(at) {}
  std::string next() {
    while (at_ < b_.size()) {
      if (b_[at_] == '#') {
        while (at_ < b_.size() && b_[at_] != '\n') ++at_;
      } else if (std::isspace(static_cast<unsigned char>(b_[at_]))) {
        ++at_;
      } else {
        break;
      }
    }
    std::string token;
    while (at_ < b_.size() && !std::isspace(static_cast<unsigned char>(b_[at_])) &&
           token.size() < 32) {
      token += b_[at_++];
    }
    return token;
  }
  std::optional<uint64_t> number() {
    const std::string token = next();
    if (token.empty() || token.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    return std::strtoull(token.c_str(), nullptr, 10);
  }

 private:
  std::string_view b_;
  size_t at_;
};

Dimensions pam(std::string_view b) {
  Tokens tokens(b, 2);
  std::optional<uint64_t> width, height;
  for (std::string token = tokens.next(); !token.empty() && token != "ENDHDR";
       token = tokens.next()) {
    if (token == "WIDTH") width = tokens.number();
    if (token == "HEIGHT") height = tokens.number();
  }
  return of(width, height);
}

Dimensions radiance(std::string_view b) {
  const size_t blank = b.find("\n\n");
  if (blank == std::string_view::npos) return std::nullopt;
  Tokens tokens(b, blank + 2);
  const std::string firstAxis = tokens.next();
  const auto first = tokens.number();
  const std::string secondAxis = tokens.next();
  const auto second = tokens.number();
  if (firstAxis.size() != 2 || secondAxis.size() != 2) return std::nullopt;
  return firstAxis[1] == 'Y' ? of(second, first) : of(first, second);
}

Dimensions jpeg2000Codestream(std::string_view b, size_t at) {
  // The SIZ marker at `at`: its length, the capabilities, then the sizes.
  const auto x = number(b, at + 6, 4, true), y = number(b, at + 10, 4, true);
  const auto x0 = number(b, at + 14, 4, true), y0 = number(b, at + 18, 4, true);
  if (!x || !y || !x0 || !y0 || *x0 > *x || *y0 > *y) return std::nullopt;
  return PictureDimensions{*x - *x0, *y - *y0};
}

Dimensions jp2(std::string_view b) {
  const size_t header = b.find("ihdr");
  if (header == std::string_view::npos) return std::nullopt;
  return of(number(b, header + 8, 4, true), number(b, header + 4, 4, true));
}

Dimensions exr(std::string_view b) {
  size_t at = 8;
  while (at < b.size() && b[at] != '\0') {
    const size_t nameEnd = b.find('\0', at);
    if (nameEnd == std::string_view::npos) return std::nullopt;
    const size_t typeEnd = b.find('\0', nameEnd + 1);
    if (typeEnd == std::string_view::npos) return std::nullopt;
    const auto size = number(b, typeEnd + 1, 4, false);
    if (!size) return std::nullopt;
    const size_t value = typeEnd + 5;
    if (part(b, at, nameEnd - at) == "dataWindow") {
      const auto x0 = number(b, value, 4, false), y0 = number(b, value + 4, 4, false);
      const auto x1 = number(b, value + 8, 4, false), y1 = number(b, value + 12, 4, false);
      if (!x0 || !y0 || !x1 || !y1) return std::nullopt;
      const int64_t w = int64_t{static_cast<int32_t>(*x1)} - static_cast<int32_t>(*x0) + 1;
      const int64_t h = int64_t{static_cast<int32_t>(*y1)} - static_cast<int32_t>(*y0) + 1;
      if (w <= 0 || h <= 0) return std::nullopt;
      return PictureDimensions{static_cast<uint64_t>(w), static_cast<uint64_t>(h)};
    }
    at = value + *size;
  }
  return std::nullopt;
}

}  // namespace

int jpegScanCount(std::string_view b, int limit) {
  if (!startsWith(b, "\xFF\xD8\xFF")) return 0;
  int scans = 0;
  walkJpegMarkers(b, [&](const JpegSegment& segment) {
    if (segment.marker == 0xDA) ++scans;
    return scans <= limit;
  });
  return scans;
}

std::optional<PictureDimensions> pictureDimensions(std::string_view b) {
  if (startsWith(b, "\xFF\xD8\xFF")) return jpeg(b);
  if (startsWith(b, "\x89PNG\r\n\x1A\n")) return of(number(b, 16, 4, true), number(b, 20, 4, true));
  if (startsWith(b, "RIFF") && part(b, 8, 4) == "WEBP") return webp(b);
  if (startsWith(b, "BM")) return bmp(b);
  if (startsWith(b, std::string_view("II*\0", 4)) || startsWith(b, std::string_view("MM\0*", 4))) {
    return tiff(b);
  }
  if (b.size() > 2 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6') {
    Tokens tokens(b, 2);
    const auto width = tokens.number();
    return of(width, tokens.number());
  }
  if (startsWith(b, "P7")) return pam(b);
  if (startsWith(b, "PF") || startsWith(b, "Pf")) {
    Tokens tokens(b, 2);
    const auto width = tokens.number();
    return of(width, tokens.number());
  }
  if (startsWith(b, "\x59\xA6\x6A\x95")) return of(number(b, 4, 4, true), number(b, 8, 4, true));
  if (startsWith(b, "#?RADIANCE") || startsWith(b, "#?RGBE")) return radiance(b);
  if (startsWith(b, std::string_view("\0\0\0\x0CjP  \r\n\x87\n", 12))) return jp2(b);
  if (startsWith(b, "\xFF\x4F\xFF\x51")) return jpeg2000Codestream(b, 2);
  if (startsWith(b, "\x76\x2F\x31\x01")) return exr(b);
  return std::nullopt;
}

}  // namespace vellomar
