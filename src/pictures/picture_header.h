#ifndef VELLOMAR_PICTURES_PICTURE_HEADER_H_
#define VELLOMAR_PICTURES_PICTURE_HEADER_H_

// A picture's size read from its header, before anything is decoded, so that
// a file declaring enormous dimensions (a decompression bomb) is refused
// before it can claim the memory.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellomar {

// Pictures with more pixels than this are refused as pictures that cannot be
// loaded.
constexpr uint64_t kMaxPicturePixels = 500'000'000;

struct PictureDimensions {
  uint64_t width = 0;
  uint64_t height = 0;
};

// The dimensions a picture file declares, found by its content (as the image
// library finds its decoder): JPEG, PNG, WebP, BMP, TIFF, PNM/PAM, PFM, Sun
// raster, Radiance HDR, JPEG 2000 and OpenEXR. Empty when the bytes are none of
// these or the header cannot be read.
std::optional<PictureDimensions> pictureDimensions(std::string_view bytes);

// JPEG files of more scans than this are refused as pictures that cannot be
// loaded: each scan passes over the whole picture, so a small file of
// thousands of them keeps a decoder busy for minutes.
constexpr int kMaxJpegScans = 1000;

// The scans of a JPEG file, counted up to `limit` + 1; 0 for other files.
int jpegScanCount(std::string_view bytes, int limit = kMaxJpegScans);

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_PICTURE_HEADER_H_
