#include "pictures/tiff_ink.h"

#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "pictures/picture_header.h"

namespace vellomar {
namespace {

// A file in memory, as libtiff reads it (`in`) or writes it (`out`), and
// whether libtiff said that something failed (which it then says to no one
// else: nothing is printed).
struct Memory {
  std::string_view in;
  std::vector<unsigned char>* out = nullptr;
  uint64_t at = 0;
  bool failed = false;

  uint64_t size() const { return out != nullptr ? out->size() : in.size(); }
};

Memory& memoryOf(thandle_t handle) { return *static_cast<Memory*>(handle); }

tmsize_t readBytes(thandle_t handle, void* buffer, tmsize_t size) {
  Memory& memory = memoryOf(handle);
  if (memory.out != nullptr || size < 0 || memory.at > memory.in.size()) return -1;
  const auto count = std::min<uint64_t>(static_cast<uint64_t>(size), memory.in.size() - memory.at);
  std::memcpy(buffer, memory.in.data() + memory.at, count);
  memory.at += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t writeBytes(thandle_t handle, void* buffer, tmsize_t size) {
  Memory& memory = memoryOf(handle);
  if (memory.out == nullptr || size < 0) return -1;
  const auto count = static_cast<uint64_t>(size);
  if (memory.at + count > memory.out->size()) memory.out->resize(memory.at + count);
  std::memcpy(memory.out->data() + memory.at, buffer, count);
  memory.at += count;
  return size;
}

toff_t seek(thandle_t handle, toff_t offset, int whence) {
  Memory& memory = memoryOf(handle);
  const uint64_t from = whence == SEEK_CUR ? memory.at : whence == SEEK_END ? memory.size() : 0;
  memory.at = from + offset;
  return memory.at;
}

int close(thandle_t) { return 0; }
toff_t sizeOf(thandle_t handle) { return memoryOf(handle).size(); }
// A file read is in memory already: libtiff takes its strips from there, as
// the image library has it do.
int map(thandle_t handle, void** base, toff_t* size) {
  Memory& memory = memoryOf(handle);
  if (memory.out != nullptr) return 0;
  *base = const_cast<char*>(memory.in.data());
  *size = memory.in.size();
  return 1;
}
void unmap(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* memory, const char*, const char*, va_list) {
  static_cast<Memory*>(memory)->failed = true;
  return 1;
}
int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff on `memory` in `mode`, its messages kept from the console.
TIFF* open(Memory& memory, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &memory);
  TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &memory);
  TIFF* tiff = TIFFClientOpenExt("picture", mode, &memory, readBytes, writeBytes, seek, close,
                                 sizeOf, map, unmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

// The ink of an open TIFF of four 8-bit samples in one plane; empty when a
// read fails.
cv::Mat readInk(TIFF* tiff, uint32_t width, uint32_t height) {
  cv::Mat ink(static_cast<int>(height), static_cast<int>(width), CV_8UC4);
  if (!TIFFIsTiled(tiff)) {
    // Read into a row as long as libtiff takes one to be, whatever the file
    // says; then that row must be the picture's.
    std::vector<unsigned char> line(static_cast<size_t>(TIFFScanlineSize64(tiff)));
    if (line.size() != size_t{width} * 4) return {};
    for (uint32_t row = 0; row < height; ++row) {
      if (TIFFReadScanline(tiff, line.data(), row, 0) < 0) return {};
      std::memcpy(ink.ptr(static_cast<int>(row)), line.data(), line.size());
    }
    return ink;
  }
  uint32_t tileWidth = 0, tileHeight = 0;
  TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
  if (tileWidth == 0 || tileHeight == 0) return {};
  std::vector<unsigned char> tile(static_cast<size_t>(TIFFTileSize(tiff)));
  if (tile.size() < size_t{tileWidth} * tileHeight * 4) return {};
  for (uint32_t y = 0; y < height; y += tileHeight) {
    for (uint32_t x = 0; x < width; x += tileWidth) {
      if (TIFFReadTile(tiff, tile.data(), x, y, 0, 0) < 0) return {};
      const uint32_t columns = std::min(tileWidth, width - x);
      for (uint32_t row = 0; row < tileHeight && y + row < height; ++row) {
        std::memcpy(ink.ptr(static_cast<int>(y + row), static_cast<int>(x)),
                    tile.data() + size_t{row} * tileWidth * 4, size_t{columns} * 4);
      }
    }
  }
  return ink;
}

}  // namespace

bool isTiffName(const std::string& name) {
  std::string extension = name.substr(std::min(name.rfind('.'), name.size()));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".tif" || extension == ".tiff";
}

cv::Mat decodeTiffInk(std::string_view bytes) {
  Memory memory{bytes};
  TIFF* tiff = open(memory, "r");
  if (tiff == nullptr) return {};
  uint16_t photometric = 0, samples = 0, bits = 0, planes = 0, inkSet = INKSET_CMYK;
  uint16_t format = SAMPLEFORMAT_UINT;
  uint32_t width = 0, height = 0;
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planes);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetField(tiff, TIFFTAG_INKSET, &inkSet);
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  cv::Mat ink;
  if (photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK && samples == 4 && bits == 8 &&
      planes == PLANARCONFIG_CONTIG && format == SAMPLEFORMAT_UINT && width > 0 && height > 0 &&
      uint64_t{width} * height <= kMaxPicturePixels && width <= INT32_MAX / 4 &&
      height <= INT32_MAX) {
    ink = readInk(tiff, width, height);
  }
  TIFFClose(tiff);
  return memory.failed ? cv::Mat() : ink;
}

bool encodeTiffInk(const cv::Mat& ink, std::vector<unsigned char>& bytes) {
  if (ink.type() != CV_8UC4 || ink.empty()) return false;
  bytes.clear();
  Memory memory{{}, &bytes};
  TIFF* tiff = open(memory, "w");
  if (tiff == nullptr) return false;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(ink.cols));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(ink.rows));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
  for (int row = 0; row < ink.rows && !memory.failed; ++row) {
    if (TIFFWriteScanline(tiff, const_cast<unsigned char*>(ink.ptr(row)),
                          static_cast<uint32_t>(row), 0) < 0) {
      memory.failed = true;
    }
  }
  TIFFClose(tiff);
  return !memory.failed;
}

}  // namespace vellomar
