#include "pictures/picture.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "pictures/image_codecs.h"
#include "pictures/jpeg_window.h"
#include "pictures/picture_header.h"
#include "pictures/picture_metadata.h"
#include "pictures/tiff_ink.h"
#include "pictures/window_resize.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "util/content_hash.h"

namespace vellomar {
namespace {

// The derived picture of `plan`: the window of the picture resized to the
// box, or the picture itself.
cv::Mat derivedPixels(const cv::Mat& picture, const DerivedPlan& plan) {
  if (plan.path == DerivedPath::kCopy) return picture;
  const cv::Size box(plan.region.targetWidth, plan.region.targetHeight);
  const cv::Rect window(plan.window.x, plan.window.y, plan.window.width, plan.window.height);
  const double boxBytes =
      static_cast<double>(box.width) * box.height * static_cast<double>(picture.elemSize());
  if (boxBytes > static_cast<double>(kMaxWholeBoxBytes)) {
    return resizeWindow(picture, box, window);
  }
  cv::Mat scaled;
  cv::resize(picture, scaled, box, 0, 0, cv::INTER_LINEAR);
  return scaled(window);
}

// Makes the pictures of `jobs`, from job `next` on, advancing it past each
// picture handed to `made`.
void makeAll(FileSystem& files, const std::vector<const PictureJob*>& jobs, const PictureSink& made,
             size_t& next) {
  // The jobs share their source file, and so their derived name.
  const PictureJob& first = *jobs.front();
  std::string loadProblem;
  cv::Mat picture;
  PictureMetadata metadata;
  std::optional<JpegInk> ink;  // a CMYK picture kept as CMYK in a JPEG file
  bool tiffInk = false;        // a CMYK TIFF picture kept as CMYK in a TIFF file
  bool inkConverted = false;   // a CMYK picture the library turned into RGB
  // Found before it is read: a later run that finds the same file takes
  // the bytes as the same (a file changed meanwhile is read again then).
  const std::optional<FileIdentity> source = fileIdentity(files, first.sourceFilePath);
  uint64_t sourceHash = 0;
  {
    std::string bytes;
    if (readPictureFile(files, first.sourceFilePath, bytes, loadProblem)) {
      sourceHash = contentHash(bytes);
      metadata = readPictureMetadata(bytes);
      const int turn = turnToApply(metadata, first.upright);
      if (jobs.size() == 1 && turn == 1) {
        if (auto fast = jpegWindowPicture(bytes, first)) {
          carryColourProfile(metadata.colourProfile, fast->bytes);
          fast->file.derivedName = first.derivedName;
          fast->file.source = source.value_or(FileIdentity());
          fast->file.sourceHash = sourceHash;
          fast->file.storedOrientation = metadata.decodedUpright ? 1 : metadata.orientation;
          made(next++, *fast);
          return;
        }
      }
      if (isJpegName(first.derivedName)) ink = jpegInkOf(bytes);
      if (ink) picture = decodeJpeg(bytes, true);
      // As stored: turned as the library turns every TIFF picture it reads.
      if (isTiffName(first.derivedName) && (picture = decodeTiffInk(bytes)).data != nullptr) {
        tiffInk = true;
        picture = uprightPicture(picture, metadata.orientation);
      }
      if (picture.empty()) {
        ink.reset();
        picture = decodePicture(bytes, loadProblem);
        // Ink the library read by its plain formula: colour, with no alpha
        // to it (a TIFF picture's comes opaque).
        inkConverted = !picture.empty() && storedColourSpace(bytes) == "CMYK";
        if (inkConverted && picture.channels() == 4) {
          cv::cvtColor(picture, picture, cv::COLOR_BGRA2BGR);
        }
      }
      if (!picture.empty()) picture = uprightPicture(picture, turn);
    }
  }
  DerivedPicture copy;  // every copy is the same picture under the same name
  bool copied = false;
  for (; next < jobs.size(); ++next) {
    const PictureJob& job = *jobs[next];
    DerivedPicture result;
    result.problem = loadProblem;
    result.file.derivedName = job.derivedName;
    result.file.source = source.value_or(FileIdentity());
    result.file.sourceHash = sourceHash;
    result.file.inkConverted = inkConverted;
    // Used as stored: the orientation it states, which was not applied.
    result.file.storedOrientation =
        turnToApply(metadata, first.upright) == 1 && !metadata.decodedUpright ? metadata.orientation
                                                                              : 1;
    if (!picture.empty()) {
      result.file.pictureWidth = picture.cols;
      result.file.pictureHeight = picture.rows;
      const DerivedPlan plan = planDerivedImage(job.censusCount, picture.cols, picture.rows,
                                                job.visibleArea, job.region);
      result.file.path = plan.path;
      if (plan.path == DerivedPath::kCopy && copied) {
        made(next, copy);
        continue;
      }
      std::optional<LibraryError> error;
      try {
        // The name picks the encoder by its extension, as a save to that name
        // does; ink stays ink.
        const cv::Mat pixels = derivedPixels(picture, plan);
        if (pixels.channels() == 2) {
          // Grey and alpha: valid, but no encoder of the library takes it.
          result.status = DerivedPicture::Status::kNotEncoded;
          result.problem = "the image library encodes no picture of grey and alpha";
          made(next, result);
          continue;
        }
        const bool encoded =
            ink       ? encodeJpeg(pixels, result.bytes, &*ink)
            : tiffInk ? encodeTiffInk(pixels, result.bytes)
                      : (isJpegName(job.derivedName) && encodeJpeg(pixels, result.bytes)) ||
                            libraryEncode(job.derivedName, pixels, result.bytes, error);
        if (encoded && !tiffInk && pixels.channels() == 4 && isTiffName(job.derivedName)) {
          markTiffAlpha(result.bytes);
        }
        if (encoded) carryColourProfile(metadata.colourProfile, result.bytes);
        result.status =
            encoded ? DerivedPicture::Status::kMade : DerivedPicture::Status::kNotEncoded;
      } catch (const cv::Exception& failure) {
        error = LibraryError{failure.code, failure.err};
      }
      if (error) {
        if (error->code == cv::Error::StsNoMem) throw std::bad_alloc();
        result.status = DerivedPicture::Status::kLibraryFailed;
        result.problem = error->message;
      }
      if (plan.path == DerivedPath::kCopy) {
        copy = std::move(result);
        copied = true;
        made(next, copy);
        continue;
      }
    }
    made(next, result);
  }
}

}  // namespace

namespace {

// The picture of the file `bytes` decoded whole.
LoadedPicture wholePicture(const std::string& bytes, bool upright) {
  LoadedPicture picture;
  picture.metadata = readPictureMetadata(bytes);
  picture.colourSpace = storedColourSpace(bytes);
  picture.pixels = decodePicture(bytes, picture.problem);
  const cv::Size decoded = picture.pixels.size();
  picture.storedSize =
      picture.metadata.decodedUpright && turnsSideways(picture.metadata.orientation)
          ? cv::Size(decoded.height, decoded.width)
          : decoded;
  picture.pixels = uprightPicture(picture.pixels, turnToApply(picture.metadata, upright));
  picture.size = picture.pixels.size();
  const cv::Mat whole = picture.pixels;
  picture.region = [whole](cv::Rect region) {
    return whole(region & cv::Rect(cv::Point(), whole.size()));
  };
  return picture;
}

}  // namespace

LoadedPicture loadPictureToDraw(FileSystem& files, const std::string& path, bool upright,
                                cv::Size drawn, double shownDepth) {
  auto bytes = std::make_shared<std::string>();
  LoadedPicture picture;
  if (!readPictureFile(files, path, *bytes, picture.problem)) return picture;
  picture.metadata = readPictureMetadata(*bytes);
  const auto declared = pictureDimensions(*bytes);
  int denominator = 1;
  while (declared && turnToApply(picture.metadata, upright) == 1 && denominator < 8 &&
         declared->width / (2 * static_cast<uint64_t>(denominator)) >=
             static_cast<uint64_t>(drawn.width) &&
         declared->height / (2 * static_cast<uint64_t>(denominator)) >=
             static_cast<uint64_t>(drawn.height)) {
    denominator *= 2;
  }
  cv::Mat scaled;
  if (denominator > 1) {
    const double height = std::ceil(static_cast<double>(declared->height) / denominator);
    const double margin = 4 * std::ceil(height / std::max(drawn.height, 1)) + 8;
    const double depth = shownDepth >= 0 ? std::min(shownDepth, 1.0) : 1.0;  // NaN: all of it
    const double rows = std::ceil(depth * height) + margin;
    scaled = decodeJpegScaled(*bytes, denominator, static_cast<int>(std::min(rows, height)));
  }
  if (scaled.empty()) return wholePicture(*bytes, upright);
  picture.colourSpace = storedColourSpace(*bytes);
  picture.pixels = scaled;
  picture.storedSize = picture.size =
      cv::Size(static_cast<int>(declared->width), static_cast<int>(declared->height));
  picture.region = [bytes](cv::Rect region) { return decodeJpegRegion(*bytes, region); };
  return picture;
}

namespace {

std::string overLimit() {
  return "more than " + std::to_string(kMaxPicturePixels / 1000000) + " megapixels";
}

}  // namespace

bool readPictureFile(FileSystem& files, const std::string& path, std::string& bytes,
                     std::string& problem) {
  // The library reads no more than INT_MAX bytes.
  if (!files.readFile(path, bytes, problem, INT_MAX)) return false;
  if (bytes.empty()) {
    problem = "the file is empty";
    return false;
  }
  if (jpegScanCount(bytes) > kMaxJpegScans) {
    problem = "it has more than " + std::to_string(kMaxJpegScans) + " scans";
    return false;
  }
  if (const auto size = pictureDimensions(bytes)) {
    if (size->height != 0 && size->width > kMaxPicturePixels / size->height) {
      problem = "it declares " + std::to_string(size->width) + " x " +
                std::to_string(size->height) + " pixels, " + overLimit();
      return false;
    }
  }
  return true;
}

cv::Mat decodePicture(const std::string& bytes, std::string& problem) {
  cv::Mat picture = decodeJpeg(bytes);
  if (!picture.empty()) return picture;
  // Decoded from memory as it would be from the file: the same decoder,
  // chosen by the content.
  std::optional<LibraryError> error;
  picture = libraryDecode(bytes, cv::IMREAD_UNCHANGED, error);
  if (!picture.empty()) return picture;
  if (error && error->code == cv::Error::StsNoMem) throw std::bad_alloc();
  // The library checks the size its decoder read against its limits
  // (CV_IO_MAX_IMAGE_PIXELS, _WIDTH, _HEIGHT) before it allocates.
  if (error && error->message.find("CV_IO_MAX_IMAGE") != std::string::npos) {
    problem = "it declares " + overLimit();
  } else if (error && error->message.rfind("cannot load", 0) == 0) {
    problem = error->message;
  } else {
    problem = "the image library cannot decode it";
  }
  return picture;
}

void makeDerivedPictures(FileSystem& files, const std::vector<const PictureJob*>& jobs,
                         const PictureSink& made) {
  prepareImageLibrary();
  size_t next = 0;
  if (jobs.empty()) return;
  const auto outOfMemory = [&] {
    DerivedPicture failed;
    failed.status = DerivedPicture::Status::kOutOfMemory;
    failed.problem = "out of memory";
    for (; next < jobs.size(); ++next) made(next, failed);
  };
  try {
    makeAll(files, jobs, made, next);
  } catch (const std::bad_alloc&) {
    outOfMemory();
  } catch (const std::exception& error) {
    // The library reports memory it could not get as an error of its own.
    const auto* library = dynamic_cast<const cv::Exception*>(&error);
    if (library != nullptr && library->code == cv::Error::StsNoMem) {
      outOfMemory();
      return;
    }
    // Nothing else is expected; a worker must not end the process.
    DerivedPicture failed;
    failed.status = DerivedPicture::Status::kLibraryFailed;
    failed.problem = error.what();
    for (; next < jobs.size(); ++next) made(next, failed);
  }
}

void prepareImageLibrary() {
  static const bool prepared = [] {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    cv::setNumThreads(1);
    return true;
  }();
  (void)prepared;
}

std::string pictureMakersVersion() {
  return std::string("vellomar ") + VELLOMAR_VERSION + ", OpenCV " + cv::getVersionString() + ", " +
         jpegLibraryVersion() + (jpegWindowAgreesWithLibrary() ? ", JPEG path" : "");
}

}  // namespace vellomar
