#ifndef VELLOMAR_PICTURES_JPEG_WINDOW_H_
#define VELLOMAR_PICTURES_JPEG_WINDOW_H_

// The window of a JPEG picture made without decoding the whole picture: only
// the rows and columns the window's samples read are decoded (by libjpeg,
// straight into the image library's channel order), the window is resampled
// as the library resamples the whole picture, and it is encoded as the
// library encodes JPEG. The bytes are those of the library's path; what this
// path does not cover is left to the library.

#include <optional>
#include <string_view>

#include "pictures/picture.h"

namespace vellomar {

// The derived picture of `job` from the JPEG file `bytes`, when the job
// reduces a 1- or 3-channel JPEG picture to a JPEG name and libjpeg reads the
// file without a warning; nothing otherwise.
std::optional<DerivedPicture> jpegWindowPicture(std::string_view bytes, const PictureJob& job);

// Whether this path gives the library's bytes here: checked once, on small
// pictures, against the library's own decoding, resizing and encoding.
bool jpegWindowAgreesWithLibrary();

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_JPEG_WINDOW_H_
