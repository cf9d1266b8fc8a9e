#ifndef VELLOMAR_PICTURES_JPEG_MARKERS_H_
#define VELLOMAR_PICTURES_JPEG_MARKERS_H_

// The markers of a JPEG file, found as libjpeg finds them: the one walk over
// them that the picture's size, its scans and its metadata are all read by,
// so that none of them can see a file otherwise than the decoder does.

#include <functional>
#include <string_view>

namespace vellomar {

// A marker and the bytes of its segment after the length; none for a marker
// without a segment (a restart marker, TEM).
struct JpegSegment {
  unsigned marker = 0;  // the byte after 0xFF
  std::string_view data;
};

// A frame header (SOF0 to SOF15, but for DHT, JPG and DAC): the picture's
// size and its components.
bool isJpegFrame(unsigned marker);

// Calls `visit` for each marker of the JPEG file `bytes` after its SOI, in
// order, until it returns false. Between markers, bytes that are none (stray
// bytes, a stuffed 0xFF 0x00) are stepped over, as libjpeg steps over them
// with a warning, and so are a scan's coded data and fill bytes. The walk
// ends at EOI, a second SOI, or a segment that runs past the end of the file
// (visited with the bytes there are).
void walkJpegMarkers(std::string_view bytes, const std::function<bool(const JpegSegment&)>& visit);

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_JPEG_MARKERS_H_
