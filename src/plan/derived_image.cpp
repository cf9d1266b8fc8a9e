#include "plan/derived_image.h"

#include <cstdint>

namespace vellomar {

bool isSkippedSource(const std::string& sourcePath) {
  return sourcePath.compare(0, 4, "http") == 0 || sourcePath == "default";
}

std::string derivedNameOf(const std::string& sourcePath) {
  const size_t separator = sourcePath.find_last_of("/\\");
  return separator == std::string::npos ? sourcePath : sourcePath.substr(separator + 1);
}

bool isUnusableDerivedName(const std::string& derivedName) {
  return derivedName.empty() || derivedName == "." || derivedName == "..";
}

namespace {

// The lower-case form of a code point of the Latin-1, Latin Extended-A, Greek
// and Cyrillic blocks; others as they are.
char32_t lowerCase(char32_t c) {
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F)) {
    return c + 0x20;
  }
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c == 0x178) return 0xFF;
  // Latin Extended-A pairs its capitals with the next code point: even ones
  // up to U+0137 and from U+014A, odd ones in between and from U+0179.
  const bool evenPairs = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if ((evenPairs && c % 2 == 0) || (oddPairs && c % 2 == 1)) return c + 1;
  return c;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string foldedName(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 'A' && byte <= 'Z') {
      folded += static_cast<char>(byte + 32);
      continue;
    }
    // A two-byte UTF-8 sequence: every letter folded here has one.
    const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
    if (byte >= 0xC2 && byte <= 0xDF && (next & 0xC0) == 0x80) {
      appendUtf8(folded, lowerCase(static_cast<char32_t>(((byte & 0x1F) << 6) | (next & 0x3F))));
      ++i;
      continue;
    }
    folded += name[i];
  }
  return folded;
}

bool isReservedName(const std::string& name) {
  const std::string folded = foldedName(name);
  return folded == "album.desc" || folded.compare(0, 10, ".vellomar-") == 0;
}

bool windowInBox(const PixelRegion& region) {
  const int64_t right = int64_t{region.left} + region.width;
  const int64_t bottom = int64_t{region.top} + region.height;
  return region.width > 0 && region.height > 0 && region.left >= 0 && region.top >= 0 &&
         right <= region.targetWidth && bottom <= region.targetHeight;
}

DerivedPlan planDerivedImage(int censusCount, int pictureWidth, int pictureHeight,
                             double visibleArea, const std::optional<PixelRegion>& region) {
  DerivedPlan plan;
  const int64_t pixels = int64_t{pictureWidth} * pictureHeight;
  // A visible area that is not a number fails the comparison: copy.
  if (censusCount != 1 || !(static_cast<double>(pixels) > visibleArea) || !region) return plan;
  if (!windowInBox(*region)) return plan;
  plan.derivation = Derivation::kCut;
  plan.region = *region;
  return plan;
}

}  // namespace vellomar
