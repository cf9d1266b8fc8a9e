#include "pictures/picture_metadata.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "pictures/file_bytes.h"
#include "pictures/jpeg_markers.h"
#include "pictures/picture_header.h"

namespace vellomar {
namespace {

// A JPEG APP2 segment of a profile: this mark, the segment's number from 1
// and the number of segments, then at most this many bytes of the profile.
constexpr std::string_view kIccMark("ICC_PROFILE\0", 12);
constexpr size_t kIccSegmentBytes = 65519;
constexpr std::string_view kExifMark("Exif\0\0", 6);
constexpr uint64_t kIccTag = 34675;  // TIFF
constexpr uint64_t kOrientationTag = 274;

bool isTiff(std::string_view b) {
  return startsWith(b, std::string_view("II*\0", 4)) || startsWith(b, std::string_view("MM\0*", 4));
}
// BigTIFF: offsets and counts of eight bytes.
bool isBigTiff(std::string_view b) {
  return startsWith(b, std::string_view("II+\0\x08\0\0\0", 8)) ||
         startsWith(b, std::string_view("MM\0+\0\x08\0\0", 8));
}
bool isJpeg(std::string_view b) { return startsWith(b, "\xFF\xD8\xFF"); }
bool isPng(std::string_view b) { return startsWith(b, "\x89PNG\r\n\x1A\n"); }
bool isWebp(std::string_view b) { return startsWith(b, "RIFF") && part(b, 8, 4) == "WEBP"; }

std::string_view view(const std::vector<unsigned char>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// `value` as `size` bytes, big- or little-endian.
std::string bytesOf(uint64_t value, int size, bool bigEndian) {
  std::string bytes(static_cast<size_t>(size), '\0');
  for (int i = 0; i < size; ++i) {
    bytes[static_cast<size_t>(bigEndian ? size - 1 - i : i)] = static_cast<char>(value >> (8 * i));
  }
  return bytes;
}

// One entry of a TIFF directory: its value, or where its value lies, is at
// `valueAt`.
struct TiffEntry {
  uint64_t tag = 0;
  uint64_t type = 0;
  uint64_t count = 0;
  size_t valueAt = 0;
};

struct TiffDirectory {
  bool bigEndian = false;
  int offsetBytes = 4;  // 8 in a BigTIFF
  size_t at = 0;        // where the directory begins
  std::vector<TiffEntry> entries;
};

// The first directory of a TIFF or BigTIFF structure; none when it cannot be
// read whole.
std::optional<TiffDirectory> firstDirectory(std::string_view b) {
  const bool big = isBigTiff(b);
  if (!isTiff(b) && !big) return std::nullopt;
  TiffDirectory directory;
  directory.bigEndian = b[0] == 'M';
  directory.offsetBytes = big ? 8 : 4;
  const bool endian = directory.bigEndian;
  const int word = directory.offsetBytes;  // offsets, counts of entries and of values
  const size_t entrySize = big ? 20 : 12;
  const auto at = number(b, big ? 8 : 4, word, endian);
  const auto count = at ? number(b, *at, big ? 8 : 2, endian) : std::nullopt;
  const size_t first = at ? *at + (big ? 8 : 2) : 0;
  if (!count || *count > b.size() / entrySize || first > b.size() ||
      *count * entrySize + word > b.size() - first) {
    return std::nullopt;
  }
  directory.at = *at;
  for (uint64_t i = 0; i < *count; ++i) {
    const size_t entry = first + i * entrySize;
    directory.entries.push_back({*number(b, entry, 2, endian), *number(b, entry + 2, 2, endian),
                                 *number(b, entry + 4, word, endian), entry + 4 + word});
  }
  return directory;
}

// The bytes of an entry of single bytes (BYTE or UNDEFINED), or of a SHORT.
std::string_view entryBytes(std::string_view b, const TiffDirectory& d, const TiffEntry& entry) {
  if (entry.type != 1 && entry.type != 7) return {};
  if (entry.count <= static_cast<uint64_t>(d.offsetBytes)) {
    return part(b, entry.valueAt, entry.count);
  }
  const auto at = number(b, entry.valueAt, d.offsetBytes, d.bigEndian);
  if (!at || entry.count > b.size() || *at > b.size() - entry.count) return {};
  return part(b, *at, entry.count);
}

std::optional<uint64_t> entryShort(std::string_view b, const TiffDirectory& d,
                                   const TiffEntry& entry) {
  if (entry.type != 3 || entry.count < 1) return std::nullopt;
  return number(b, entry.valueAt, 2, d.bigEndian);
}

int orientationOf(std::optional<uint64_t> value) {
  return value && *value >= 1 && *value <= 8 ? static_cast<int>(*value) : 1;
}

// The orientation an Exif block (a TIFF structure, after an optional
// "Exif\0\0" mark) states.
int exifOrientation(std::string_view exif) {
  if (startsWith(exif, kExifMark)) exif.remove_prefix(kExifMark.size());
  const auto directory = firstDirectory(exif);
  if (!directory) return 1;
  for (const TiffEntry& entry : directory->entries) {
    if (entry.tag == kOrientationTag) return orientationOf(entryShort(exif, *directory, entry));
  }
  return 1;
}

// `compressed` (zlib) inflated; empty when it is damaged or inflates to more
// than `limit` bytes.
std::string inflated(std::string_view compressed, size_t limit) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return {};
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  std::string out;
  char buffer[16384];
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    if ((status != Z_OK && status != Z_STREAM_END) || out.size() > limit) {
      out.clear();
      break;
    }
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  inflateEnd(&stream);
  return out.size() > limit ? std::string() : out;
}

// Calls `visit(marker, segment)` for each segment of a JPEG file that comes
// before its first scan, while `visit` returns true: those the decoder reads
// before it decodes.
template <typename Visit>
void forEachJpegSegment(std::string_view b, Visit visit) {
  walkJpegMarkers(b, [&](const JpegSegment& segment) {
    return segment.marker != 0xDA && visit(segment.marker, segment.data);
  });
}

PictureMetadata jpegMetadata(std::string_view b) {
  PictureMetadata metadata;
  std::map<unsigned, std::string_view> pieces;
  unsigned count = 0;
  bool damaged = false;
  bool exif = false;
  forEachJpegSegment(b, [&](unsigned marker, std::string_view segment) {
    // The first Exif block is the picture's, as its readers take it.
    if (marker == 0xE1 && startsWith(segment, kExifMark) && !exif) {
      exif = true;
      metadata.orientation = exifOrientation(segment);
    } else if (marker == 0xE2 && startsWith(segment, kIccMark) && segment.size() >= 14) {
      const unsigned piece = static_cast<unsigned char>(segment[12]);
      const unsigned of = static_cast<unsigned char>(segment[13]);
      if (count == 0) count = of;
      damaged = damaged || piece == 0 || piece > of || of != count ||
                !pieces.emplace(piece, segment.substr(14)).second;
    }
    return true;
  });
  if (!damaged && count > 0 && pieces.size() == count) {
    for (const auto& [piece, bytes] : pieces) metadata.colourProfile += bytes;
  }
  return metadata;
}

// As libpng reads them: the first iCCP chunk, and only before PLTE and IDAT;
// the first eXIf chunk, and only before IDAT. One profile at most is
// inflated, however many chunks the file holds.
PictureMetadata pngMetadata(std::string_view b) {
  PictureMetadata metadata;
  bool profile = false, exif = false, palette = false;
  for (size_t at = 8; at + 12 <= b.size();) {
    const uint64_t length = *number(b, at, 4, true);
    const std::string_view type = part(b, at + 4, 4), data = part(b, at + 8, length);
    if (data.size() != length || type == "IEND" || type == "IDAT") break;
    if (type == "PLTE") palette = true;
    if (type == "iCCP" && !profile && !palette) {
      profile = true;
      // A name of 1 to 79 bytes, its NUL, the method (0: zlib), the profile.
      const size_t nul = data.find('\0');
      if (nul >= 1 && nul <= 79 && nul + 1 < data.size() && data[nul + 1] == '\0') {
        metadata.colourProfile = inflated(data.substr(nul + 2), kMaxColourProfileBytes);
      }
    } else if (type == "eXIf" && !exif) {
      exif = true;
      metadata.orientation = exifOrientation(data);
    }
    at += 12 + length;
  }
  return metadata;
}

// As libwebp's readers take them: in the extended format only, each chunk
// when the VP8X flags announce it, the first of each.
PictureMetadata webpMetadata(std::string_view b) {
  PictureMetadata metadata;
  if (part(b, 12, 4) != "VP8X") return metadata;
  const unsigned flags = static_cast<unsigned char>(part(b, 20, 1).empty() ? 0 : b[20]);
  bool profile = (flags & 0x20) == 0, exif = (flags & 0x08) == 0;  // true: not to be read
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint64_t length = *number(b, at + 4, 4, false);
    const std::string_view type = part(b, at, 4), data = part(b, at + 8, length);
    if (data.size() != length) break;
    if (type == "ICCP" && !profile) {
      profile = true;
      metadata.colourProfile = std::string(data);
    }
    if (type == "EXIF" && !exif) {
      exif = true;
      metadata.orientation = exifOrientation(data);
    }
    at += 8 + length + (length & 1);
  }
  return metadata;
}

PictureMetadata tiffMetadata(std::string_view b) {
  PictureMetadata metadata;
  metadata.decodedUpright = true;
  const auto directory = firstDirectory(b);
  if (!directory) return metadata;
  for (const TiffEntry& entry : directory->entries) {
    if (entry.tag == kIccTag)
      metadata.colourProfile = std::string(entryBytes(b, *directory, entry));
    if (entry.tag == kOrientationTag) {
      metadata.orientation = orientationOf(entryShort(b, *directory, entry));
    }
  }
  return metadata;
}

bool intoJpeg(std::string_view profile, std::vector<unsigned char>& file) {
  const size_t segments = (profile.size() + kIccSegmentBytes - 1) / kIccSegmentBytes;
  if (segments > 255) return false;
  // After the JFIF or Adobe marker that opens the file, where libjpeg puts it.
  const std::string_view b = view(file);
  size_t at = 2;
  while (at + 4 <= b.size() && static_cast<unsigned char>(b[at]) == 0xFF &&
         (static_cast<unsigned char>(b[at + 1]) == 0xE0 ||
          static_cast<unsigned char>(b[at + 1]) == 0xEE)) {
    at += 2 + *number(b, at + 2, 2, true);
  }
  if (at > b.size()) return false;
  std::string markers;
  for (size_t s = 0; s < segments; ++s) {
    const std::string_view piece = profile.substr(s * kIccSegmentBytes, kIccSegmentBytes);
    markers += "\xFF\xE2" + bytesOf(2 + kIccMark.size() + 2 + piece.size(), 2, true);
    markers += kIccMark;
    markers += static_cast<char>(s + 1);
    markers += static_cast<char>(segments);
    markers += piece;
  }
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), markers.begin(), markers.end());
  return true;
}

bool intoPng(std::string_view profile, std::vector<unsigned char>& file) {
  constexpr size_t kAfterHeader = 8 + 12 + 13;  // the signature, then IHDR
  if (file.size() < kAfterHeader || part(view(file), 12, 4) != "IHDR") return false;
  uLongf size = compressBound(static_cast<uLong>(profile.size()));
  std::string data = std::string("ICC profile\0\0", 13);
  const size_t start = data.size();
  data.resize(start + size);
  if (compress2(reinterpret_cast<Bytef*>(&data[start]), &size,
                reinterpret_cast<const Bytef*>(profile.data()), static_cast<uLong>(profile.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return false;
  }
  data.resize(start + size);
  std::string chunk = bytesOf(data.size(), 4, true) + "iCCP" + data;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4),
                          static_cast<uInt>(chunk.size() - 4));
  chunk += bytesOf(crc, 4, true);
  file.insert(file.begin() + kAfterHeader, chunk.begin(), chunk.end());
  return true;
}

bool intoWebp(std::string_view profile, std::vector<unsigned char>& file) {
  const std::string_view b = view(file);
  const std::string_view first = part(b, 12, 4);
  std::string inserted;
  size_t at = 12;
  if (first == "VP8X") {
    const auto length = number(b, 16, 4, false);
    if (!length || *length < 10 || b.size() < 30 || (b[20] & 0x20) != 0) return false;
    at = 12 + 8 + *length + (*length & 1);
  } else if (first == "VP8 " || first == "VP8L") {
    // The simple format holds no profile: the extended one, with the canvas
    // of the picture.
    const auto size = pictureDimensions(b);
    if (!size || size->width == 0 || size->height == 0) return false;
    const bool alpha = first == "VP8L" && ((number(b, 21, 4, false).value_or(0) >> 28) & 1);
    inserted = "VP8X" + bytesOf(10, 4, false) + static_cast<char>(alpha ? 0x10 : 0) +
               std::string(3, '\0') + bytesOf(size->width - 1, 3, false) +
               bytesOf(size->height - 1, 3, false);
  } else {
    return false;
  }
  if (at > b.size()) return false;
  inserted += "ICCP" + bytesOf(profile.size(), 4, false) + std::string(profile);
  if (profile.size() % 2 != 0) inserted += '\0';
  if (file.size() + inserted.size() - 8 > UINT32_MAX) return false;
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
  file[20] |= 0x20;  // the VP8X flag: a profile is there
  const std::string riffSize = bytesOf(file.size() - 8, 4, false);
  std::copy(riffSize.begin(), riffSize.end(), file.begin() + 4);
  return true;
}

// An entry to add to a TIFF file's first directory: `tag` of `type`, `count`
// values, `value` their bytes in the file's byte order.
struct AddedEntry {
  uint64_t tag = 0;
  uint64_t type = 0;
  uint64_t count = 0;
  std::string value;
};

// The first directory written again at the end of the file with the entries
// `added` among the others in tag order, the values that do not fit an entry
// after the directory, and the header pointing at it; every other value
// stays where it was. False for a BigTIFF, or a tag it has already.
bool addTiffEntries(std::vector<unsigned char>& file, std::vector<AddedEntry> added) {
  const auto directory = firstDirectory(view(file));
  if (!directory || directory->offsetBytes != 4) return false;
  std::sort(added.begin(), added.end(),
            [](const AddedEntry& a, const AddedEntry& b) { return a.tag < b.tag; });
  const bool big = directory->bigEndian;
  const size_t entries = directory->entries.size() + added.size();
  const size_t newAt = file.size() + file.size() % 2;
  const size_t valuesAt = newAt + 2 + entries * 12 + 4;
  std::string values;
  std::vector<std::string> laid;  // each added entry's 12 bytes
  for (const AddedEntry& entry : added) {
    std::string value = entry.value;
    if (value.size() > 4) {
      value = bytesOf(valuesAt + values.size(), 4, big);
      values += entry.value;
      if (values.size() % 2 != 0) values += '\0';
    } else {
      value.resize(4, '\0');
    }
    laid.push_back(bytesOf(entry.tag, 2, big) + bytesOf(entry.type, 2, big) +
                   bytesOf(entry.count, 4, big) + value);
  }
  if (valuesAt + values.size() > UINT32_MAX) return false;
  std::string tail(newAt - file.size(), '\0');
  tail += bytesOf(entries, 2, big);
  size_t next = 0;
  for (const TiffEntry& entry : directory->entries) {
    for (const AddedEntry& a : added) {
      if (a.tag == entry.tag) return false;
    }
    for (; next < added.size() && added[next].tag < entry.tag; ++next) tail += laid[next];
    tail.append(view(file).substr(entry.valueAt - 8, 12));
  }
  for (; next < added.size(); ++next) tail += laid[next];
  // The next directory.
  tail.append(view(file).substr(directory->at + 2 + directory->entries.size() * 12, 4));
  tail += values;
  file.insert(file.end(), tail.begin(), tail.end());
  const std::string header = bytesOf(newAt, 4, big);
  std::copy(header.begin(), header.end(), file.begin() + 4);
  return true;
}

bool addTiffEntry(std::vector<unsigned char>& file, uint64_t tag, uint64_t type, uint64_t count,
                  std::string_view value) {
  return addTiffEntries(file, {{tag, type, count, std::string(value)}});
}

bool intoTiff(std::string_view profile, std::vector<unsigned char>& file) {
  return addTiffEntry(file, kIccTag, 7, profile.size(), profile);
}

}  // namespace

PictureMetadata readPictureMetadata(std::string_view file) {
  PictureMetadata metadata;
  if (isJpeg(file)) metadata = jpegMetadata(file);
  if (isPng(file)) metadata = pngMetadata(file);
  if (isWebp(file)) metadata = webpMetadata(file);
  if (isTiff(file) || isBigTiff(file)) metadata = tiffMetadata(file);
  if (profileColourSpace(metadata.colourProfile).empty() ||
      metadata.colourProfile.size() > kMaxColourProfileBytes) {
    metadata.colourProfile.clear();
  }
  return metadata;
}

std::string profileColourSpace(std::string_view profile) {
  // A 128-byte header: the colour space at 16, the signature "acsp" at 36.
  if (profile.size() < 128 || part(profile, 36, 4) != "acsp") return "";
  std::string space(part(profile, 16, 4));
  while (!space.empty() && space.back() == ' ') space.pop_back();
  return space;
}

std::string storedColourSpace(std::string_view b) {
  if (isWebp(b)) return "RGB";  // colour always
  if (isPng(b)) {
    const auto type = number(b, 25, 1, true);
    if (!type) return "";
    return *type == 0 || *type == 4 ? "GRAY" : "RGB";
  }
  if (isJpeg(b)) {
    std::string space;
    forEachJpegSegment(b, [&](unsigned marker, std::string_view segment) {
      if (!isJpegFrame(marker)) return true;
      const auto components = number(segment, 5, 1, true).value_or(0);
      space = components == 1 ? "GRAY" : components == 3 ? "RGB" : components == 4 ? "CMYK" : "";
      return false;
    });
    return space;
  }
  if (const auto directory = firstDirectory(b)) {
    for (const TiffEntry& entry : directory->entries) {
      if (entry.tag != 262) continue;  // how the samples are to be read
      const uint64_t photometric = entryShort(b, *directory, entry).value_or(99);
      return photometric <= 1                       ? "GRAY"
             : photometric == 2 || photometric == 6 ? "RGB"
             : photometric == 5                     ? "CMYK"
                                                    : "";
    }
  }
  return "";
}

bool carryColourProfile(std::string_view profile, std::vector<unsigned char>& file) {
  const std::string space = profileColourSpace(profile);
  if (space.empty() || profile.size() > kMaxColourProfileBytes ||
      space != storedColourSpace(view(file))) {
    return false;
  }
  const std::string_view b = view(file);
  if (isJpeg(b)) return intoJpeg(profile, file);
  if (isPng(b)) return intoPng(profile, file);
  if (isWebp(b)) return intoWebp(profile, file);
  if (isTiff(b)) return intoTiff(profile, file);
  return false;
}

bool markTiffAlpha(std::vector<unsigned char>& file) {
  const std::string_view b = view(file);
  if (!isTiff(b) || storedColourSpace(b) != "RGB") return false;
  constexpr uint64_t kExtraSamplesTag = 338, kUnassociatedAlpha = 2;
  return addTiffEntry(file, kExtraSamplesTag, 3, 1, bytesOf(kUnassociatedAlpha, 2, b[0] == 'M'));
}

bool stateDensity(double dotsPerInch, std::vector<unsigned char>& file) {
  if (!(dotsPerInch >= 1 && dotsPerInch <= 65535)) return false;
  const std::string_view b = view(file);
  if (isJpeg(b)) {
    // The JFIF segment libjpeg writes first: its unit (1, dots per inch) at
    // 13, the densities across and down at 14 and 16.
    if (b.size() < 18 || part(b, 2, 2) != "\xFF\xE0" ||
        part(b, 6, 5) != std::string_view("JFIF\0", 5)) {
      return false;
    }
    const std::string density = bytesOf(std::lround(dotsPerInch), 2, true);
    file[13] = 1;
    std::copy(density.begin(), density.end(), file.begin() + 14);
    std::copy(density.begin(), density.end(), file.begin() + 16);
    return true;
  }
  if (isPng(b)) {
    constexpr size_t kAfterHeader = 8 + 12 + 13;  // the signature, then IHDR
    if (file.size() < kAfterHeader || part(b, 12, 4) != "IHDR" ||
        b.find("pHYs") != std::string_view::npos) {
      return false;
    }
    // Pixels per metre each way, the unit 1 (the metre).
    const std::string perMetre = bytesOf(std::lround(dotsPerInch / 0.0254), 4, true);
    std::string chunk = bytesOf(9, 4, true) + "pHYs" + perMetre + perMetre + '\x01';
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4),
                            static_cast<uInt>(chunk.size() - 4));
    chunk += bytesOf(crc, 4, true);
    file.insert(file.begin() + kAfterHeader, chunk.begin(), chunk.end());
    return true;
  }
  if (isTiff(b)) {
    // XResolution and YResolution as thousandths, ResolutionUnit 2 (inch).
    const bool big = b[0] == 'M';
    const std::string rational =
        bytesOf(std::llround(dotsPerInch * 1000), 4, big) + bytesOf(1000, 4, big);
    return addTiffEntries(
        file, {{282, 5, 1, rational}, {283, 5, 1, rational}, {296, 3, 1, bytesOf(2, 2, big)}});
  }
  return false;
}

cv::Mat uprightPicture(const cv::Mat& picture, int orientation) {
  cv::Mat upright;
  switch (orientation) {
    case 2: cv::flip(picture, upright, 1); break;
    case 3: cv::rotate(picture, upright, cv::ROTATE_180); break;
    case 4: cv::flip(picture, upright, 0); break;
    case 5: cv::transpose(picture, upright); break;
    case 6: cv::rotate(picture, upright, cv::ROTATE_90_CLOCKWISE); break;
    case 7:
      cv::transpose(picture, upright);
      cv::rotate(upright, upright, cv::ROTATE_180);
      break;
    case 8: cv::rotate(picture, upright, cv::ROTATE_90_COUNTERCLOCKWISE); break;
    default: upright = picture;
  }
  return upright;
}

int turnToApply(const PictureMetadata& metadata, bool upright) {
  return upright && !metadata.decodedUpright ? metadata.orientation : 1;
}

}  // namespace vellomar
