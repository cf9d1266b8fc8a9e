#ifndef VELLOMAR_PICTURES_PICTURE_METADATA_H_
#define VELLOMAR_PICTURES_PICTURE_METADATA_H_

// What a picture file says besides its pixels that decides how it prints: the
// colour profile its colours are measured in, and how the camera was held.
// Read from JPEG, PNG, WebP and TIFF files, and a profile written into them.

#include <opencv2/core.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "plan/element_geometry.h"

namespace vellomar {

// The largest profile a JPEG file can hold (255 segments), and so the largest
// carried from any file.
constexpr size_t kMaxColourProfileBytes = size_t{255} * 65519;

struct PictureMetadata {
  std::string colourProfile;  // an ICC profile, byte for byte; empty when none
  int orientation = 1;        // EXIF orientation: 1 (as stored) to 8
  // The image library turns the picture upright by its orientation as it
  // decodes it, whatever it is asked (TIFF): its pixels come upright.
  bool decodedUpright = false;
};

// The turn still to give the decoded pixels of a picture so that it is
// upright when `upright` is asked, as stored otherwise: none for a picture
// the library decodes upright, which is then used upright either way.
int turnToApply(const PictureMetadata& metadata, bool upright);

// The metadata of a picture file, by its content: JPEG (APP2 ICC_PROFILE
// segments, APP1 Exif), PNG (iCCP, eXIf), WebP (ICCP, EXIF) and TIFF (its own
// tags). What is missing, damaged or not understood reads as none (an
// orientation of 1).
PictureMetadata readPictureMetadata(std::string_view file);

// The colour space an ICC profile describes ("RGB", "GRAY", "CMYK", ...);
// empty when `profile` is no ICC profile.
std::string profileColourSpace(std::string_view profile);

// The colour space in which a JPEG, PNG, WebP or TIFF file stores its pixels
// ("RGB", "GRAY", "CMYK"); empty for other formats.
std::string storedColourSpace(std::string_view file);

// Writes `profile` into the encoded picture `file` when its format holds one
// here (JPEG: APP2 segments after the JFIF or Adobe marker; PNG: iCCP; WebP:
// ICCP in the extended format; TIFF: its ICC tag) and the profile describes
// the colour space the file stores. Returns whether it did; `file` is left
// as it was otherwise.
bool carryColourProfile(std::string_view profile, std::vector<unsigned char>& file);

// Marks the fourth sample of a TIFF file of RGB and alpha (as the image
// library writes it, without a word of what that sample is) as unassociated
// alpha, as TIFF's readers expect. Returns whether it did.
bool markTiffAlpha(std::vector<unsigned char>& file);

// States in `file` (JPEG with its JFIF segment, PNG, TIFF) that it prints at
// `dotsPerInch`: JFIF's density in dots per inch, PNG's pHYs in pixels per
// metre, TIFF's resolution per inch. False, and the file as it was, for
// another format, a file that states one already (PNG, TIFF), or a density
// outside 1 to 65535.
bool stateDensity(double dotsPerInch, std::vector<unsigned char>& file);

// `picture` turned upright by the EXIF `orientation` (mirrored and turned as
// the eight values say); as it is for 1 or an unknown value.
cv::Mat uprightPicture(const cv::Mat& picture, int orientation);

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_PICTURE_METADATA_H_
