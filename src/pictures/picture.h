#ifndef VELLOMAR_PICTURES_PICTURE_H_
#define VELLOMAR_PICTURES_PICTURE_H_

// The picture work of elements: load the source picture, decide reduce or
// copy against its real size, encode; and pictures averaged for the proof.
// Failures are values, memory that cannot be had included: what the
// standard library throws for it (std::bad_alloc) is caught where the work
// of a picture begins, and the image library's own error for it is
// kOutOfMemory.

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
  enum class Outcome {
    kMade,           // `bytes` hold the derived file (until it is written)
    kKept,           // the last run's file, kept as it is
    kNotLoaded,      // the source picture cannot be loaded
    kNotEncoded,     // the encoder declined
    kNotWritten,     // the file cannot be written
    kLibraryFailed,  // the image library failed
    kOutOfMemory,    // the picture could not get its memory
  };
  Outcome outcome = Outcome::kNotLoaded;
  // kNotLoaded: more on why, or ""; kNotWritten: the system's reason;
  // kLibraryFailed: the library's message; kOutOfMemory: "out of memory".
  std::string problem;
  // What it is made from, once the source was read; what was written, once
  // it was.
  DerivedFile file;
  std::vector<unsigned char> bytes;
};

// A picture averaged onto cell grids laid over its box, as the proof compares
// pictures: read once, and decoded only as far as the cells need (a JPEG
// picture through libjpeg's scaling, to the smallest of 1/2, 1/4, 1/8 that
// leaves at least two pixels to every cell each way, and only the rows and
// columns the cells cover).
struct PictureOnGrids {
  bool loaded = false;
  std::string problem;  // why it cannot be loaded, when there is more to say
  PictureMetadata metadata;
  std::string colourSpace;  // as the file stores it; "" when not known
  cv::Size storedSize;      // before it was turned upright
  cv::Size size;            // as it is used: upright as asked, at full size
  // For each grid: its cells' means, 32-bit float BGR (any depth scaled to
  // 8 bits, what is transparent shown over white paper), and 255 where the
  // picture covers a cell.
  std::vector<cv::Mat> cells;
  std::vector<cv::Mat> covered;
};

// The picture at `path` (a tool path), refused before it is decoded as
// makeDerivedPictures refuses it, turned as the run turns it when `upright`,
// averaged onto the grids `gridsFor` lays over it (a cell narrower than a
// pixel of the picture widened to one about its middle).
PictureOnGrids loadPictureOnGrids(FileSystem& files, const std::string& path, bool upright,
                                  const GridsFor& gridsFor);

// `picture` as the eye takes it on paper: 8-bit BGR, any depth scaled to 8
// bits, what is transparent in it shown over white.
cv::Mat onPaper(const cv::Mat& picture);

// The two steps of loading a picture: the file read (and refused when its
// header declares too many pixels, or it has too many scans), then decoded.
Expected<std::string> readPictureFile(FileSystem& files, const std::string& path);
Expected<cv::Mat> decodePicture(const std::string& bytes);

// The reason given when a picture cannot get its memory.
constexpr char kOutOfMemory[] = "out of memory";
// The reason given for a file that ends before its picture does.
constexpr char kCutShort[] =
    "the file ends before the picture does (cut short: an upload or a copy that did not finish?)";

// Receives each job's derived picture, by the job's index, as it is made.
using PictureSink = std::function<void(size_t, const DerivedPicture&)>;

// Makes the derived pictures of `jobs`, which share one source file (read
// through `files`), handing
// each to `made` in job order: the picture is loaded once (refused before decoding when it declares
// more than kMaxPicturePixels pixels) and turned upright when the jobs ask, then each job is
// reduced or copied and encoded by the extension of its derived name with the library's default
// settings, carrying the source's colour profile where the format holds it and the colours match (a
// CMYK JPEG picture stays CMYK in a JPEG file). When it is cut the whole picture is resized
// bilinearly to the box, then cut to the window (a box too large to hold is computed for the window
// only), or the window is averaged by area when the job asks; a copy is encoded as loaded, once
// for all copies. `made` must not
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
