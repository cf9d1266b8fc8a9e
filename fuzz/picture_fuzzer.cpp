// The picture readers on hostile files: the header, the scan count, the JPEG
// path, the metadata reader and CMYK TIFF ink. The first 8 bytes choose the
// box and the window, the rest is the picture file. Nothing may crash, leak
// or read out of bounds, whatever libjpeg and libtiff make of the file; a
// profile read from a file goes back into it as into any derived file, and
// ink read goes back into a TIFF file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/jpeg_window.h"
#include "pictures/picture_header.h"
#include "pictures/picture_metadata.h"
#include "pictures/tiff_ink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const std::string_view file(reinterpret_cast<const char*>(data) + 8, size - 8);
  // Pictures the test machine can hold many times over.
  const auto declared = vellomar::pictureDimensions(file);
  if (declared && declared->width * declared->height > (uint64_t{1} << 22)) return 0;
  const int boxWidth = 1 + data[0] % 97, boxHeight = 1 + data[1] % 97;
  const vellomar::PixelRegion region{static_cast<int8_t>(data[2]),
                                     static_cast<int8_t>(data[3]),
                                     1 + data[4] % 97,
                                     1 + data[5] % 97,
                                     boxWidth,
                                     boxHeight};
  const vellomar::PictureJob job{"", data[6] % 2 ? "d.jpg" : "d.png", 1 + data[7] % 2, 1.0, region};
  (void)vellomar::jpegScanCount(file);
  (void)vellomar::jpegWindowPicture(file, job);
  (void)vellomar::decodeJpeg(file, data[6] % 4 < 2);
  const cv::Mat ink = vellomar::decodeTiffInk(file);
  std::vector<unsigned char> tiff;
  if (!ink.empty()) (void)vellomar::encodeTiffInk(ink, tiff);
  const vellomar::PictureMetadata metadata = vellomar::readPictureMetadata(file);
  std::vector<unsigned char> derived(file.begin(), file.end());
  const std::string profile =
      metadata.colourProfile.empty() ? std::string(file.substr(0, 300)) : metadata.colourProfile;
  if (vellomar::carryColourProfile(profile, derived)) {
    const std::string_view again(reinterpret_cast<const char*>(derived.data()), derived.size());
    (void)vellomar::readPictureMetadata(again);
  }
  return 0;
}
