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

#include "pictures/area_average.h"
#include "pictures/area_window.h"
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
// box (by area when asked and the picture is reduced both ways; `ink` when its
// four channels are ink), or the picture itself.
cv::Mat derivedPixels(const cv::Mat& picture, const DerivedPlan& plan, Resampling resampling,
                      bool ink) {
  if (plan.derivation == Derivation::kCopy) return picture;
  const cv::Size box(plan.region.targetWidth, plan.region.targetHeight);
  const cv::Rect window = windowOf(plan.region);
  const double boxBytes =
      static_cast<double>(box.width) * box.height * static_cast<double>(picture.elemSize());
  if (resampling == Resampling::kArea && reducesBothWays(picture.size(), box)) {
    cv::Mat pixels = areaWindow(picture, box, window, ink);
    if (!pixels.empty()) return pixels;
    // Deeper pixels: the whole picture by area, as the library averages.
    if (boxBytes <= static_cast<double>(kMaxWholeBoxBytes)) {
      pixels = areaResized(picture, box, ink);
      if (!pixels.empty()) return pixels(window);
    }
  }
  if (boxBytes > static_cast<double>(kMaxWholeBoxBytes)) {
    return resizeWindow(picture, box, window);
  }
  cv::Mat scaled;
  cv::resize(picture, scaled, box, 0, 0, cv::INTER_LINEAR);
  return scaled(window);
}

// Every job from `next` on, handed to `made` as a picture that could not
// get its memory: each is made again alone.
void outOfMemory(const std::vector<const PictureJob*>& jobs, const PictureSink& made,
                 size_t& next) {
  DerivedPicture failed;
  failed.outcome = DerivedPicture::Outcome::kOutOfMemory;
  failed.problem = kOutOfMemory;
  for (; next < jobs.size(); ++next) made(next, failed);
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
    Expected<std::string> read = readPictureFile(files, first.sourceFilePath);
    if (!read.ok()) loadProblem = read.reason();
    if (read.ok()) {
      const std::string bytes = std::move(read).value();
      sourceHash = contentHash(bytes);
      metadata = readPictureMetadata(bytes);
      const int turn = turnToApply(metadata, first.upright);
      if (jobs.size() == 1 && turn == 1) {
        auto fast = jpegAreaPicture(bytes, first);
        if (!fast) fast = jpegWindowPicture(bytes, first);
        if (fast) {
          carryColourProfile(metadata.colourProfile, fast->bytes);
          stateDensity(first.encoder.dotsPerInch, fast->bytes);
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
        Expected<cv::Mat> decoded = decodePicture(bytes);
        if (!decoded.ok() && decoded.reason() == kOutOfMemory) return outOfMemory(jobs, made, next);
        loadProblem = decoded.reason();
        if (decoded.ok()) picture = std::move(decoded).value();
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
      result.file.derivation = plan.derivation;
      if (plan.derivation == Derivation::kCopy && copied) {
        made(next, copy);
        continue;
      }
      std::optional<LibraryError> error;
      try {
        // The name picks the encoder by its extension, as a save to that name
        // does; ink stays ink.
        const cv::Mat pixels =
            derivedPixels(picture, plan, job.resampling, ink.has_value() || tiffInk);
        if (pixels.channels() == 2) {
          // Grey and alpha: valid, but no encoder of the library takes it.
          result.outcome = DerivedPicture::Outcome::kNotEncoded;
          result.problem = "the image library encodes no picture of grey and alpha";
          made(next, result);
          continue;
        }
        const bool encoded = ink ? encodeJpeg(pixels, result.bytes, &*ink, job.encoder)
                             : tiffInk
                                 ? encodeTiffInk(pixels, result.bytes)
                                 : (isJpegName(job.derivedName) &&
                                    encodeJpeg(pixels, result.bytes, nullptr, job.encoder)) ||
                                       libraryEncode(job.derivedName, pixels, result.bytes, error);
        if (encoded && !tiffInk && pixels.channels() == 4 && isTiffName(job.derivedName)) {
          markTiffAlpha(result.bytes);
        }
        if (encoded) {
          carryColourProfile(metadata.colourProfile, result.bytes);
          stateDensity(job.encoder.dotsPerInch, result.bytes);
        }
        result.outcome =
            encoded ? DerivedPicture::Outcome::kMade : DerivedPicture::Outcome::kNotEncoded;
      } catch (const cv::Exception& failure) {
        error = LibraryError{failure.code, failure.err};
      }
      if (error) {
        if (error->code == cv::Error::StsNoMem) return outOfMemory(jobs, made, next);
        result.outcome = DerivedPicture::Outcome::kLibraryFailed;
        result.problem = error->message;
      }
      if (plan.derivation == Derivation::kCopy) {
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

// A grid's cells as spans of a picture's stored pixels, at full size: each
// cell's rectangle of the upright picture (`size`) taken back to where it
// lies in the picture as stored, before it is turned by `turn`. Spans an axis
// of the upright picture runs against come in reverse: the cells averaged in
// the stored picture's order come out upright when turned like its pixels.
struct StoredSpans {
  std::vector<Span> columns;
  std::vector<Span> rows;
};

StoredSpans storedSpansOf(const CellGrid& grid, cv::Size size, int turn) {
  const double across = size.width / grid.boxWidth, down = size.height / grid.boxHeight;
  std::vector<Span> columns = cellSpans(grid.originX, 1, grid.width, across, 1);
  std::vector<Span> rows = cellSpans(grid.originY, 1, grid.height, down, 1);
  const auto mirrored = [](std::vector<Span> spans, double extent) {
    std::reverse(spans.begin(), spans.end());
    for (Span& span : spans) span = {extent - span.end, extent - span.begin};
    return spans;
  };
  const double w = size.width, h = size.height;
  switch (turn) {
    case 2: return {mirrored(columns, w), rows};
    case 3: return {mirrored(columns, w), mirrored(rows, h)};
    case 4: return {columns, mirrored(rows, h)};
    case 5: return {rows, columns};
    case 6: return {rows, mirrored(columns, w)};
    case 7: return {mirrored(rows, h), mirrored(columns, w)};
    case 8: return {mirrored(rows, h), columns};
    default: return {columns, rows};
  }
}

// The spans scaled by 1/`denominator` and moved by `origin`.
std::vector<Span> scaled(std::vector<Span> spans, int denominator, int origin) {
  for (Span& span : spans)
    span = {span.begin / denominator - origin, span.end / denominator - origin};
  return spans;
}

// Rows of a stored picture, as a decoder gives them, averaged onto the cells
// of each grid; rows of one channel are taken as grey.
class GridAverages {
 public:
  GridAverages(const std::vector<StoredSpans>& grids, int denominator, cv::Point origin,
               int width) {
    for (const StoredSpans& grid : grids) {
      averages_.emplace_back(scaled(grid.columns, denominator, origin.x),
                             scaled(grid.rows, denominator, origin.y), 3, 0, width);
    }
    origin_ = origin;
    bgr_.create(1, width, CV_8UC3);
  }

  // Stored row `y` (of the scaled picture), of `channels` channels.
  void add(int y, const unsigned char* row, int channels) {
    if (channels == 1) {
      cv::cvtColor(cv::Mat(1, bgr_.cols, CV_8UC1, const_cast<unsigned char*>(row)), bgr_,
                   cv::COLOR_GRAY2BGR);
      row = bgr_.data;
    }
    for (AreaAverage& average : averages_) average.add(y - origin_.y, row);
  }

  // The cells of each grid, turned upright by `turn`.
  void finish(int turn, PictureOnGrids& result) {
    for (AreaAverage& average : averages_) {
      cv::Mat covered;
      result.cells.push_back(uprightPicture(average.finish(&covered), turn));
      result.covered.push_back(uprightPicture(covered, turn));
    }
  }

 private:
  std::vector<AreaAverage> averages_;
  cv::Point origin_;
  cv::Mat bgr_;  // a row of grey made colour
};

// A JPEG picture averaged onto the grids through libjpeg's scaling, decoded
// row by row, only where the cells lie; false when it is not a picture for
// this path.
bool averageJpeg(const std::string& bytes, int turn, const GridsFor& gridsFor,
                 PictureOnGrids& result) {
  const auto declared = pictureDimensions(bytes);
  if (!declared || declared->width > INT_MAX || declared->height > INT_MAX) return false;
  result.storedSize =
      cv::Size(static_cast<int>(declared->width), static_cast<int>(declared->height));
  result.size = turnsSideways(turn) ? cv::Size(result.storedSize.height, result.storedSize.width)
                                    : result.storedSize;
  std::vector<StoredSpans> grids;
  // The smallest scale that leaves two pixels to every cell each way, and
  // the part of the picture the cells cover.
  double narrowest = HUGE_VAL;
  double left = HUGE_VAL, top = HUGE_VAL, right = -HUGE_VAL, bottom = -HUGE_VAL;
  for (const CellGrid& grid : gridsFor(result.size.width, result.size.height)) {
    grids.push_back(storedSpansOf(grid, result.size, turn));
    const StoredSpans& spans = grids.back();
    if (spans.columns.empty() || spans.rows.empty()) continue;
    for (const Span& span : spans.columns) narrowest = std::min(narrowest, span.end - span.begin);
    for (const Span& span : spans.rows) narrowest = std::min(narrowest, span.end - span.begin);
    left = std::min(left, spans.columns.front().begin);
    right = std::max(right, spans.columns.back().end);
    top = std::min(top, spans.rows.front().begin);
    bottom = std::max(bottom, spans.rows.back().end);
  }
  int denominator = 1;
  while (denominator < 8 && narrowest / (2 * denominator) >= 2) denominator *= 2;
  // A pixel more each way, for the averaging's edges.
  const auto at = [&](double x) {
    return static_cast<int>(std::clamp(std::floor(x / denominator), -1.0, 1e9));
  };
  const cv::Rect wanted =
      left < right && top < bottom
          ? cv::Rect(cv::Point(at(left) - 1, at(top) - 1),
                     cv::Point(at(std::ceil(right)) + 2, at(std::ceil(bottom)) + 2))
          : cv::Rect();
  std::optional<GridAverages> averages;
  DecodedRows rows;
  const bool decoded =
      !wanted.empty() &&
      decodeJpegScaledRows(bytes, denominator, wanted, rows, [&](int y, const unsigned char* row) {
        if (!averages) averages.emplace(grids, denominator, rows.origin, rows.width);
        averages->add(y, row, rows.channels);
      });
  if (!wanted.empty() && !decoded) return false;
  if (!averages) averages.emplace(grids, denominator, cv::Point(), 0);  // nothing to decode
  averages->finish(turn, result);
  return true;
}

}  // namespace

PictureOnGrids loadPictureOnGrids(FileSystem& files, const std::string& path, bool upright,
                                  const GridsFor& gridsFor) {
  PictureOnGrids result;
  Expected<std::string> read = readPictureFile(files, path);
  if (!read.ok()) {
    result.problem = read.reason();
    return result;
  }
  const std::string bytes = std::move(read).value();
  result.metadata = readPictureMetadata(bytes);
  result.colourSpace = storedColourSpace(bytes);
  const int turn = turnToApply(result.metadata, upright);
  if (averageJpeg(bytes, turn, gridsFor, result)) {
    result.loaded = true;
    return result;
  }
  result.cells.clear();
  result.covered.clear();
  Expected<cv::Mat> loaded = decodePicture(bytes);
  if (!loaded.ok()) {
    result.problem = loaded.reason();
    return result;
  }
  const cv::Mat decoded = std::move(loaded).value();
  // A picture the library turns itself is stored the other way up.
  result.storedSize = result.metadata.decodedUpright && turnsSideways(result.metadata.orientation)
                          ? cv::Size(decoded.rows, decoded.cols)
                          : decoded.size();
  result.size = turnsSideways(turn) ? cv::Size(decoded.rows, decoded.cols) : decoded.size();
  const cv::Mat paper = onPaper(decoded);
  std::vector<StoredSpans> grids;
  for (const CellGrid& grid : gridsFor(result.size.width, result.size.height)) {
    grids.push_back(storedSpansOf(grid, result.size, turn));
  }
  GridAverages averages(grids, 1, cv::Point(), paper.cols);
  for (int y = 0; y < paper.rows; ++y) averages.add(y, paper.ptr<unsigned char>(y), 3);
  averages.finish(turn, result);
  result.loaded = true;
  return result;
}

cv::Mat onPaper(const cv::Mat& picture) {
  if (picture.empty() || picture.type() == CV_8UC3) return picture;
  cv::Mat eight = picture;
  if (picture.depth() == CV_16U) picture.convertTo(eight, CV_8U, 1 / 257.0);
  if (picture.depth() == CV_32F || picture.depth() == CV_64F) picture.convertTo(eight, CV_8U, 255);
  if (eight.depth() != CV_8U) picture.convertTo(eight, CV_8U);
  std::vector<cv::Mat> planes;
  cv::split(eight, planes);
  cv::Mat alpha;
  if (planes.size() == 2 || planes.size() == 4) {
    alpha = planes.back();
    planes.pop_back();
  }
  if (planes.size() == 1) planes.assign(3, planes.front());
  cv::Mat bgr;
  cv::merge(planes.data(), 3, bgr);
  if (alpha.empty()) return bgr;
  cv::Mat colour, opacity, blended;
  bgr.convertTo(colour, CV_32FC3);
  cv::Mat alphas[] = {alpha, alpha, alpha};
  cv::merge(alphas, 3, opacity);
  opacity.convertTo(opacity, CV_32FC3, 1 / 255.0);
  const cv::Mat paper(colour.size(), CV_32FC3, cv::Scalar::all(255));
  colour = colour.mul(opacity) + paper.mul(cv::Scalar::all(1) - opacity);
  colour.convertTo(blended, CV_8UC3);
  return blended;
}

namespace {

std::string overLimit() {
  return "more than " + std::to_string(kMaxPicturePixels / 1000000) + " megapixels";
}

}  // namespace

Expected<std::string> readPictureFile(FileSystem& files, const std::string& path) {
  // The library reads no more than INT_MAX bytes.
  Expected<std::string> bytes = files.readFile(path, INT_MAX);
  if (!bytes.ok()) return bytes;
  if (bytes.value().empty()) return failure("the file is empty");
  if (jpegScanCount(bytes.value()) > kMaxJpegScans) {
    return failure("it has more than " + std::to_string(kMaxJpegScans) + " scans");
  }
  if (const auto size = pictureDimensions(bytes.value())) {
    if (size->height != 0 && size->width > kMaxPicturePixels / size->height) {
      return failure("it declares " + std::to_string(size->width) + " x " +
                     std::to_string(size->height) + " pixels, " + overLimit());
    }
  }
  return bytes;
}

Expected<cv::Mat> decodePicture(const std::string& bytes) {
  cv::Mat picture = decodeJpeg(bytes);
  if (!picture.empty()) return picture;
  if (jpegEndsEarly(bytes)) return failure(kCutShort);
  // Decoded from memory as it would be from the file: the same decoder,
  // chosen by the content.
  std::optional<LibraryError> error;
  picture = libraryDecode(bytes, cv::IMREAD_UNCHANGED, error);
  if (!picture.empty()) return picture;
  if (error && error->code == cv::Error::StsNoMem) return failure(kOutOfMemory);
  // The library checks the size its decoder read against its limits
  // (CV_IO_MAX_IMAGE_PIXELS, _WIDTH, _HEIGHT) before it allocates.
  if (error && error->message.find("CV_IO_MAX_IMAGE") != std::string::npos) {
    return failure("it declares " + overLimit());
  }
  if (error && error->message.rfind("cannot load", 0) == 0) return failure(error->message);
  return failure("the image library cannot decode it");
}

void makeDerivedPictures(FileSystem& files, const std::vector<const PictureJob*>& jobs,
                         const PictureSink& made) {
  prepareImageLibrary();
  size_t next = 0;
  if (jobs.empty()) return;
  try {
    makeAll(files, jobs, made, next);
  } catch (const std::bad_alloc&) {
    outOfMemory(jobs, made, next);
  } catch (const std::exception& error) {
    // The library reports memory it could not get as an error of its own.
    const auto* library = dynamic_cast<const cv::Exception*>(&error);
    if (library != nullptr && library->code == cv::Error::StsNoMem) {
      outOfMemory(jobs, made, next);
      return;
    }
    // Nothing else is expected; a worker must not end the process.
    DerivedPicture failed;
    failed.outcome = DerivedPicture::Outcome::kLibraryFailed;
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
