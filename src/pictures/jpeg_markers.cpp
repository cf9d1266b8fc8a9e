#include "pictures/jpeg_markers.h"

#include <cstring>

#include "pictures/file_bytes.h"

namespace vellomar {

bool isJpegFrame(unsigned marker) {
  return marker >> 4 == 0xC && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

void walkJpegMarkers(std::string_view b, const std::function<bool(const JpegSegment&)>& visit) {
  if (!startsWith(b, "\xFF\xD8")) return;
  size_t at = 2;
  for (;;) {
    // The next marker, as libjpeg's next_marker() finds it: the first 0xFF,
    // the fill bytes after it, and a byte that is not 0x00.
    unsigned marker = 0;
    while (marker == 0) {
      const void* mark = std::memchr(b.data() + at, 0xFF, b.size() - at);
      if (mark == nullptr) return;
      at = static_cast<size_t>(static_cast<const char*>(mark) - b.data());
      while (at < b.size() && static_cast<unsigned char>(b[at]) == 0xFF) ++at;
      if (at == b.size()) return;
      marker = static_cast<unsigned char>(b[at++]);
    }
    if (marker == 0xD8 || marker == 0xD9) return;  // a second SOI, or EOI
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      if (!visit({marker, {}})) return;
      continue;
    }
    const auto length = number(b, at, 2, true);
    if (!length || *length < 2) return;
    // A file cut short ends with what there is of its last segment.
    const JpegSegment segment{marker, part(b, at + 2, *length - 2)};
    if (!visit(segment) || *length > b.size() - at) return;
    at += *length;
  }
}

}  // namespace vellomar
