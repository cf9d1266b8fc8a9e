#ifndef VELLOMAR_PICTURES_PICTURE_H_
#define VELLOMAR_PICTURES_PICTURE_H_

// The picture work of elements: load the source picture, decide reduce or
// copy against its real size, encode. Failures are values; only memory that
// cannot be had is thrown (std::bad_alloc), by loadPictureToDraw and
// decodePicture, and makeDerivedPictures turns that into a value too.

#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "pictures/picture_metadata.h"
#include "plan/album_plan.h"
#include "plan/derived_file.h"
#include "platform/file_system.h"

namespace vellomar {

// One job's derived picture: the file it makes (or keeps), and how that went.
struct DerivedPicture {
  enum class Status {
    kMade,           // `bytes` hold the derived file (until it is written)
    kKept,           // the last run's file, kept as it is
    kNotLoaded,      // the source picture cannot be loaded
    kNotEncoded,     // the encoder declined
    kNotWritten,     // the file cannot be written
    kLibraryFailed,  // the image library failed
    kOutOfMemory,    // the picture could not get its memory
  };
  Status status = Status::kNotLoaded;
  // kNotLoaded: more on why, or ""; kNotWritten: the system's reason;
  // kLibraryFailed: the library's message; kOutOfMemory: "out of memory".
  std::string problem;
  // What it is made from, once the source was read; what was written, once
  // it was.
  DerivedFile file;
  std::vector<unsigned char> bytes;
};

// A picture as it is to be shown, and what its file says besides its pixels.
struct LoadedPicture {
  cv::Mat pixels;       // channels and depth as stored; empty when it does not load
  std::string problem;  // why it does not load, when there is more to say
  PictureMetadata metadata;
  std::string colourSpace;  // as the file stores it; "" when not known
  cv::Size storedSize;      // before it was turned upright
  cv::Size size;            // upright, at full size
  // The pixels of a region of the picture (upright, at full size, within it),
  // channels and depth as stored: `pixels` may be smaller than the picture.
  std::function<cv::Mat(cv::Rect)> region;
};

// The picture at `path` (a tool path) for a drawing of about `drawn` pixels,
// refused before it is decoded as makeDerivedPictures refuses it, and turned
// upright by its EXIF orientation when `upright`: a JPEG picture is decoded
// at the smallest of libjpeg's scales (down to 1/8) that keeps at least twice
// as many pixels each way, and its full-size pixels region by region from
// its bytes, which are kept; other pictures whole. Of a JPEG picture drawn
// only down to `shownDepth` of its height (0 to 1), the rows further down
// (past a margin for the drawing's averaging) are not decoded but repeat the
// last row that is.
LoadedPicture loadPictureToDraw(FileSystem& files, const std::string& path, bool upright,
                                cv::Size drawn, double shownDepth = 1);
// The two steps of loading a picture: the file read (and refused when its
// header declares too many pixels, or it has too many scans), then decoded.
bool readPictureFile(FileSystem& files, const std::string& path, std::string& bytes,
                     std::string& problem);
cv::Mat decodePicture(const std::string& bytes, std::string& problem);

// Receives each job's derived picture, by the job's index, as it is made.
using PictureSink = std::function<void(size_t, const DerivedPicture&)>;

// Makes the derived pictures of `jobs`, which share one source file (read
// through `files`), handing
// each to `made` in job order: the picture is loaded once (refused before decoding when it declares
// more than kMaxPicturePixels pixels) and turned upright when the jobs ask, then each job is
// reduced or copied and encoded by the extension of its derived name with the library's default
// settings, carrying the source's colour profile where the format holds it and the colours match (a
// CMYK JPEG picture stays CMYK in a JPEG file). On the reduce path the whole picture is resized
// bilinearly to the box, then cut to the window (a box too large to hold is computed for the window
// only); on the copy path the picture is encoded as loaded, once for all copies. `made` must not
// throw.
void makeDerivedPictures(FileSystem& files, const std::vector<const PictureJob*>& jobs,
                         const PictureSink& made);

// The library's own worker threads are not used: the tool runs several
// pictures at once instead. Also silences the library's console log. Called
// before the workers start.
void prepareImageLibrary();

// The versions of the tool and of the libraries that make pictures, and
// which of the tool's paths they take: what a derived picture's bytes depend
// on besides its source and its job.
std::string pictureMakersVersion();

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_PICTURE_H_
