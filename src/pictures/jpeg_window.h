#ifndef VELLOMAR_PICTURES_JPEG_WINDOW_H_
#define VELLOMAR_PICTURES_JPEG_WINDOW_H_

// The window of a JPEG picture made without decoding the whole picture: only
// the rows and columns the window's samples read are decoded (by libjpeg,
// straight into the image library's channel order), the window is resampled
// as the library resamples the whole picture, and it is encoded as the
// library encodes JPEG. The bytes are those of the library's path; what this
// path does not cover is left to the library.

#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/picture.h"

namespace vellomar {

// How a JPEG picture of four channels of ink (CMYK) is stored.
struct JpegInk {
  bool ycck = false;         // as YCCK rather than as CMYK
  bool adobeMarker = false;  // with Adobe's marker, which tells readers how to take the values
};

// How the JPEG file `bytes` stores its ink, when it is a CMYK or YCCK picture
// that libjpeg reads without a warning; nothing otherwise.
std::optional<JpegInk> jpegInkOf(std::string_view bytes);

// The derived picture of `job` from the JPEG file `bytes`, when the job
// reduces a 1- or 3-channel JPEG picture (or a CMYK one, kept as CMYK) to a
// JPEG name and libjpeg reads the file without a warning; nothing otherwise.
std::optional<DerivedPicture> jpegWindowPicture(std::string_view bytes, const PictureJob& job);

// The same for a job reduced by area (Resampling::kArea) along both axes: the
// JPEG picture decoded through libjpeg's scaling to the smallest size that
// keeps two pixels to every pixel of the box, row by row and only where the
// window lies, each pixel of the window the mean of its footprint. Empty when
// the job is not one for this path (or libjpeg warns).
std::optional<DerivedPicture> jpegAreaPicture(std::string_view bytes, const PictureJob& job);

// The whole JPEG picture `bytes` decoded as the library decodes it, when it
// has 1 or 3 channels and libjpeg reads it without a warning; empty otherwise.
// With `ink`, a CMYK or YCCK picture is decoded too: its four channels of ink
// as the file stores them (YCCK turned into CMYK).
cv::Mat decodeJpeg(std::string_view bytes, bool ink = false);

// Whether the data of the JPEG picture `bytes` runs out inside a scan: a
// file cut short, whose rows past that point libjpeg and the library would
// make up as plain grey. A file that lacks only its end marker is whole.
bool jpegEndsEarly(std::string_view bytes);

// The whole JPEG picture `bytes` (1 or 3 channels, read without a warning)
// decoded at 1/`denominator` of its size (1, 2, 4 or 8) by libjpeg's scaling;
// empty otherwise. Only its first `rows` rows are decoded, the rows below
// repeating the last of them.
cv::Mat decodeJpegScaled(std::string_view bytes, int denominator, int rows = INT_MAX);

// Where rows decoded lie: from `origin` on (in the picture scaled), `width`
// pixels of `channels` channels (1 or 3, BGR), 8-bit.
struct DecodedRows {
  cv::Point origin;
  int width = 0;
  int channels = 0;
};

// The rows of `region` of the JPEG picture `bytes` (1 or 3 channels) scaled
// to 1/`denominator` (1, 2, 4 or 8) by libjpeg's scaling, `region` in its
// coordinates, given to `take` one by one as they are decoded, `rows` set
// before the first: only the rows down to the region's last are decoded, and
// only the columns around it (widened as libjpeg aligns them). False when it
// is not a picture for this path or its decoding fails.
bool decodeJpegScaledRows(std::string_view bytes, int denominator, cv::Rect region,
                          DecodedRows& rows,
                          const std::function<void(int y, const unsigned char* row)>& take);

// `pixels` (8-bit, 1 or 3 channels) encoded to `bytes` by libjpeg at
// `quality`, for pictures only looked at: whatever the library would make of
// them.
bool encodeJpegToView(const cv::Mat& pixels, int quality, std::vector<unsigned char>& bytes);

// `pixels` encoded to `bytes` as the library encodes JPEG, when they are
// 8-bit with 1 or 3 channels; with `ink`, 8-bit pixels of 4 channels are
// encoded as CMYK ink stored as `ink` says. With a quality or chroma of
// `encoder` other than the library's, libjpeg encodes them so whatever the
// library would do (4 channels that are not ink losing their alpha, as the
// library's JPEG does). False otherwise (or when libjpeg fails).
bool encodeJpeg(const cv::Mat& pixels, std::vector<unsigned char>& bytes,
                const JpegInk* ink = nullptr, const EncoderSettings& encoder = {});

// Whether `name` is saved as JPEG by the library (by its extension).
bool isJpegName(const std::string& name);

// The version of libjpeg this path was built with.
std::string jpegLibraryVersion();

// Whether this path gives the library's bytes here: compared now, on small
// pictures, with the library's own decoding, resizing and encoding; nothing
// when the library's codecs cannot be loaded to compare with.
std::optional<bool> jpegPathMatchesLibrary();

// The same, compared once per process and kept in the user's cache for the
// installed releases of the library and the tool.
bool jpegWindowAgreesWithLibrary();

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_JPEG_WINDOW_H_
