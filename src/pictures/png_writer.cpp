#include "pictures/png_writer.h"

#include <zlib.h>

#include <cstdint>
#include <vector>

namespace vellomar {
namespace {

void putBigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void putChunk(std::string& out, const char* type, const std::string& data) {
  putBigEndian(out, static_cast<uint32_t>(data.size()));
  const std::string typed = type + data;
  out += typed;
  const auto* bytes = reinterpret_cast<const Bytef*>(typed.data());
  putBigEndian(out, static_cast<uint32_t>(crc32(0, bytes, static_cast<uInt>(typed.size()))));
}

}  // namespace

std::string encodePng(const cv::Mat& bgr) {
  if (bgr.type() != CV_8UC3 || bgr.empty()) return "";
  // Each row: its filter (2, up: the difference from the row above), then RGB.
  const size_t stride = static_cast<size_t>(bgr.cols) * 3;
  std::vector<unsigned char> rows((stride + 1) * static_cast<size_t>(bgr.rows));
  for (int y = 0; y < bgr.rows; ++y) {
    unsigned char* row = &rows[(stride + 1) * static_cast<size_t>(y)];
    row[0] = 2;
    const unsigned char* pixel = bgr.ptr<unsigned char>(y);
    const unsigned char* above = y > 0 ? bgr.ptr<unsigned char>(y - 1) : nullptr;
    for (size_t x = 0; x < stride; x += 3) {
      for (size_t c = 0; c < 3; ++c) {
        const unsigned char value = pixel[x + 2 - c];  // BGR to RGB
        row[1 + x + c] = static_cast<unsigned char>(value - (above ? above[x + 2 - c] : 0));
      }
    }
  }
  uLongf size = compressBound(static_cast<uLong>(rows.size()));
  std::string compressed(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(compressed.data()), &size, rows.data(),
                static_cast<uLong>(rows.size()), Z_BEST_SPEED) != Z_OK) {
    return "";
  }
  compressed.resize(size);
  std::string header;
  putBigEndian(header, static_cast<uint32_t>(bgr.cols));
  putBigEndian(header, static_cast<uint32_t>(bgr.rows));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  putChunk(png, "IHDR", header);
  putChunk(png, "IDAT", compressed);
  putChunk(png, "IEND", "");
  return png;
}

}  // namespace vellomar
