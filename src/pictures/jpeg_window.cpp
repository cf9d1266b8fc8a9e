#include "pictures/jpeg_window.h"

// clang-format off
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "pictures/area_window.h"
#include "pictures/image_codecs.h"
#include "pictures/picture_header.h"
#include "pictures/window_resize.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace vellomar {
namespace {

// The quality the image library encodes JPEG with when asked nothing.
constexpr int kLibraryQuality = 95;
static_assert(kLibraryQuality == kDefaultJpegQuality, "files are made as the library makes them");

// libjpeg reports errors by a jump back here, and warnings (a corrupt or
// truncated file, which the library would decode all the same) by a flag:
// either way this path gives up.
struct Failure {
  jpeg_error_mgr manager;
  std::jmp_buf back;
  bool warned = false;
  int warning = 0;  // the first warning's code
};

void onError(j_common_ptr info) { std::longjmp(reinterpret_cast<Failure*>(info->err)->back, 1); }

void onMessage(j_common_ptr info, int level) {
  auto* failure = reinterpret_cast<Failure*>(info->err);
  if (level < 0 && !failure->warned) failure->warned = true, failure->warning = info->err->msg_code;
}

void listen(Failure& failure) {
  jpeg_std_error(&failure.manager);
  failure.manager.error_exit = onError;
  failure.manager.emit_message = onMessage;
}

struct Header {
  int width = 0;
  int height = 0;
  int channels = 0;  // 1, 3 or 4 (ink); 0 when the picture is not for this path
  JpegInk ink;       // for 4 channels
};

// The picture's size and channels as the library would decode it (or as its
// ink, with `ink`, for a CMYK or YCCK picture); no channels when it is not
// for this path, or has more pixels than the library decodes (the library
// refuses it then).
Header readHeader(std::string_view bytes, bool ink = false) {
  Header header;
  Failure failure;
  jpeg_decompress_struct info;
  info.err = &failure.manager;
  listen(failure);
  if (setjmp(failure.back) != 0) {
    jpeg_destroy_decompress(&info);
    return {};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  const bool grey = info.num_components == 1 && info.jpeg_color_space == JCS_GRAYSCALE;
  const bool colour = info.num_components == 3 &&
                      (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB);
  const bool cmyk = ink && info.num_components == 4 &&
                    (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK);
  const uint64_t pixels = uint64_t{info.image_width} * info.image_height;
  if (!failure.warned && (grey || colour || cmyk) && pixels <= kMaxPicturePixels) {
    header = {static_cast<int>(info.image_width), static_cast<int>(info.image_height),
              grey     ? 1
              : colour ? 3
                       : 4,
              JpegInk{info.jpeg_color_space == JCS_YCCK, info.saw_Adobe_marker != 0}};
  }
  jpeg_destroy_decompress(&info);
  return header;
}

// Decodes the rows of a region of a JPEG picture, in order. libjpeg's steps
// each sit in a function of their own that takes libjpeg's jump back, so that
// no jump crosses a C++ frame; a failure or a warning is kept and ends the
// decoding, and whatever was asked for then is not to be used.
class RegionDecoder {
 public:
  explicit RegionDecoder(std::string_view bytes) : bytes_(bytes) {
    info_.err = &failure_.manager;
    listen(failure_);
  }
  ~RegionDecoder() {
    if (created_) jpeg_destroy_decompress(&info_);
  }
  RegionDecoder(const RegionDecoder&) = delete;
  RegionDecoder& operator=(const RegionDecoder&) = delete;

  // Starts decoding `region` (its columns widened as libjpeg aligns them)
  // with `channels` channels, of the picture scaled by libjpeg to
  // 1/`denominator` of its size.
  bool start(int channels, cv::Rect region, int denominator = 1) {
    if (setjmp(failure_.back) != 0) return fail();
    jpeg_create_decompress(&info_);
    created_ = true;
    jpeg_mem_src(&info_, reinterpret_cast<const unsigned char*>(bytes_.data()),
                 static_cast<unsigned long>(bytes_.size()));
    jpeg_read_header(&info_, TRUE);
    info_.out_color_space = channels == 1 ? JCS_GRAYSCALE : channels == 3 ? JCS_EXT_BGR : JCS_CMYK;
    info_.scale_num = 1;
    info_.scale_denom = static_cast<unsigned>(denominator);
    jpeg_start_decompress(&info_);
    left_ = static_cast<JDIMENSION>(region.x);
    width_ = static_cast<JDIMENSION>(region.width);
    if (width_ < info_.output_width) jpeg_crop_scanline(&info_, &left_, &width_);
    if (region.y > 0) jpeg_skip_scanlines(&info_, static_cast<JDIMENSION>(region.y));
    next_ = region.y;
    channels_ = channels;
    return !failure_.warned || fail();
  }

  int left() const { return static_cast<int>(left_); }
  int rows() const { return static_cast<int>(info_.output_height); }
  // The data ran out (libjpeg then decodes the rest as plain grey).
  bool endedEarly() const { return failure_.warned && failure_.warning == JWRN_JPEG_EOF; }
  int width() const { return static_cast<int>(width_); }
  bool failed() const { return failed_ || failure_.warned; }

  // Decodes the next row, `y`, into `into`.
  bool readInto(int y, uchar* into) {
    if (failed() || y != next_) return false;
    if (!readRow(into)) return fail();
    ++next_;
    return !failure_.warned;
  }

  // Row `y`, decoded into a buffer of its own; a row of zeros after a failure.
  const uchar* row(int y) {
    const size_t size = static_cast<size_t>(width_) * static_cast<size_t>(channels_);
    if (rows_[0].size() != size) rows_[0].assign(size, 0), rows_[1].assign(size, 0);
    std::vector<uchar>& buffer = rows_[static_cast<size_t>(y) % 2];
    // Every row is decoded: libjpeg's skipping once decoding has begun does
    // not give the rows after it bit for bit.
    while (next_ <= y && !failed()) {
      readInto(next_, rows_[static_cast<size_t>(next_) % 2].data());
    }
    return buffer.data();
  }

 private:
  bool fail() {
    failed_ = true;
    return false;
  }
  bool readRow(uchar* into) {
    if (setjmp(failure_.back) != 0) return false;
    JSAMPROW row = into;
    return jpeg_read_scanlines(&info_, &row, 1) == 1;
  }

  std::string_view bytes_;
  Failure failure_;
  jpeg_decompress_struct info_{};
  bool created_ = false;
  bool failed_ = false;
  JDIMENSION left_ = 0;
  JDIMENSION width_ = 0;
  int next_ = 0;
  int channels_ = 1;
  std::vector<uchar> rows_[2];
};

// Decodes `region` into `part`, whose first pixel is at `origin`.
bool decodeRegion(std::string_view bytes, int channels, cv::Rect region, cv::Mat& part,
                  cv::Point& origin, int denominator = 1) {
  RegionDecoder decoder(bytes);
  if (!decoder.start(channels, region, denominator)) return false;
  part.create(region.height, decoder.width(), CV_8UC(channels));
  for (int y = 0; y < region.height; ++y) {
    if (!decoder.readInto(region.y + y, part.ptr<uchar>(y))) return false;
  }
  origin = {decoder.left(), region.y};
  return true;
}

// `pixels` (8-bit, 1 or 3 channels) encoded as the library encodes JPEG;
// 4 channels are ink, stored as `ink` says.
bool encode(const cv::Mat& pixels, std::vector<unsigned char>& bytes, const JpegInk& ink = {},
            int quality = kLibraryQuality, bool fullChroma = false) {
  Failure failure;
  jpeg_compress_struct info;
  info.err = &failure.manager;
  listen(failure);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(failure.back) != 0) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(pixels.cols);
  info.image_height = static_cast<JDIMENSION>(pixels.rows);
  info.input_components = pixels.channels();
  info.in_color_space = pixels.channels() == 1   ? JCS_GRAYSCALE
                        : pixels.channels() == 3 ? JCS_EXT_BGR
                                                 : JCS_CMYK;
  jpeg_set_defaults(&info);
  if (pixels.channels() == 4) {
    if (ink.ycck) jpeg_set_colorspace(&info, JCS_YCCK);
    info.write_Adobe_marker = ink.adobeMarker ? TRUE : FALSE;
  }
  jpeg_set_quality(&info, quality, TRUE);
  if (fullChroma) {
    for (int c = 0; c < info.num_components; ++c) {
      info.comp_info[c].h_samp_factor = 1;
      info.comp_info[c].v_samp_factor = 1;
    }
  }
  jpeg_start_compress(&info, TRUE);
  for (int y = 0; y < pixels.rows; ++y) {
    JSAMPROW row = const_cast<uchar*>(pixels.ptr<uchar>(y));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  bytes.assign(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return true;
}

}  // namespace

bool isJpegName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "jpg" || extension == "jpeg" || extension == "jpe";
}

std::optional<JpegInk> jpegInkOf(std::string_view bytes) {
  const Header header = readHeader(bytes, true);
  if (header.channels != 4) return std::nullopt;
  return header.ink;
}

cv::Mat decodeJpeg(std::string_view bytes, bool ink) {
  const Header header = readHeader(bytes, ink);
  // Ink has no library decoding to agree with.
  if (header.channels == 0 || (header.channels != 4 && !jpegWindowAgreesWithLibrary())) return {};
  cv::Mat picture;
  cv::Point origin;
  if (!decodeRegion(bytes, header.channels, cv::Rect(0, 0, header.width, header.height), picture,
                    origin)) {
    return {};
  }
  return picture;
}

namespace {

// Whether libjpeg reads `bytes` (a picture of `channels` channels) through
// to its last row without a warning; `endedEarly` says whether the first
// warning, if any, was that the data ran out. At 1/8 every block is its mean
// alone: the data is read through, little else is done.
bool readsThrough(std::string_view bytes, int channels, int width, int height, bool& endedEarly) {
  RegionDecoder decoder(bytes);
  endedEarly = false;
  if (!decoder.start(channels, cv::Rect(0, 0, width, height), 8)) {
    endedEarly = decoder.endedEarly();
    return false;
  }
  std::vector<uchar> row(static_cast<size_t>(decoder.width()) * channels);
  for (int y = 0; y < decoder.rows(); ++y) {
    if (!decoder.readInto(y, row.data())) {
      endedEarly = decoder.endedEarly();
      return false;
    }
  }
  return true;
}

}  // namespace

bool jpegEndsEarly(std::string_view bytes) {
  const Header header = readHeader(bytes, true);
  if (header.channels == 0) return false;
  bool endedEarly = false;
  if (readsThrough(bytes, header.channels, header.width, header.height, endedEarly) ||
      !endedEarly) {
    return false;
  }
  // With its end marker put back, a file that lacked only that marker (or,
  // progressive, ends between two scans) reads through; one cut inside its
  // data does not.
  const std::string ended = std::string(bytes) + "\xFF\xD9";
  return !readsThrough(ended, header.channels, header.width, header.height, endedEarly);
}

cv::Mat decodeJpegScaled(std::string_view bytes, int denominator, int rows) {
  const Header header = readHeader(bytes);
  if (header.channels == 0 || rows < 1) return {};
  // libjpeg's size for a scaled picture: each side divided, rounded up.
  const cv::Size whole((header.width + denominator - 1) / denominator,
                       (header.height + denominator - 1) / denominator);
  const cv::Rect decoded(0, 0, whole.width, std::min(whole.height, rows));
  cv::Mat picture(whole, CV_8UC(header.channels));
  cv::Mat top = picture.rowRange(0, decoded.height);
  cv::Point origin;
  if (!decodeRegion(bytes, header.channels, decoded, top, origin, denominator)) return {};
  for (int y = decoded.height; y < whole.height; ++y) top.row(top.rows - 1).copyTo(picture.row(y));
  return picture;
}

bool decodeJpegScaledRows(std::string_view bytes, int denominator, cv::Rect region,
                          DecodedRows& rows,
                          const std::function<void(int y, const unsigned char* row)>& take) {
  const Header header = readHeader(bytes);
  if (header.channels != 1 && header.channels != 3) return false;
  const cv::Size whole((header.width + denominator - 1) / denominator,
                       (header.height + denominator - 1) / denominator);
  region &= cv::Rect(cv::Point(), whole);
  RegionDecoder decoder(bytes);
  if (region.empty() || !decoder.start(header.channels, region, denominator)) return false;
  rows = {{decoder.left(), region.y}, decoder.width(), header.channels};
  std::vector<uchar> row(static_cast<size_t>(decoder.width()) * header.channels);
  for (int y = region.y; y < region.br().y; ++y) {
    if (!decoder.readInto(y, row.data())) return false;
    take(y, row.data());
  }
  return true;
}

bool encodeJpeg(const cv::Mat& pixels, std::vector<unsigned char>& bytes, const JpegInk* ink,
                const EncoderSettings& encoder) {
  if (pixels.depth() != CV_8U) return false;
  const int quality = encoder.jpegQuality;
  const bool fullChroma = encoder.jpegFullChroma;
  if (ink != nullptr && pixels.channels() == 4) {
    return encode(pixels, bytes, *ink, quality, fullChroma);
  }
  if (quality != kLibraryQuality || fullChroma) {
    if (pixels.channels() == 4) {
      cv::Mat colour;
      cv::cvtColor(pixels, colour, cv::COLOR_BGRA2BGR);
      return encode(colour, bytes, {}, quality, fullChroma);
    }
    return (pixels.channels() == 1 || pixels.channels() == 3) &&
           encode(pixels, bytes, {}, quality, fullChroma);
  }
  return (pixels.channels() == 1 || pixels.channels() == 3) && jpegWindowAgreesWithLibrary() &&
         encode(pixels, bytes);
}

bool encodeJpegToView(const cv::Mat& pixels, int quality, std::vector<unsigned char>& bytes) {
  return pixels.depth() == CV_8U && (pixels.channels() == 1 || pixels.channels() == 3) &&
         encode(pixels, bytes, {}, quality);
}

std::optional<DerivedPicture> jpegWindowPicture(std::string_view bytes, const PictureJob& job) {
  if (!isJpegName(job.derivedName) || !jpegWindowAgreesWithLibrary()) return std::nullopt;
  const Header header = readHeader(bytes, true);
  if (header.channels == 0) return std::nullopt;
  const DerivedPlan plan =
      planDerivedImage(job.censusCount, header.width, header.height, job.visibleArea, job.region);
  if (plan.derivation != Derivation::kCut) return std::nullopt;
  const cv::Size size(header.width, header.height);
  const cv::Size box(plan.region.targetWidth, plan.region.targetHeight);
  if (job.resampling == Resampling::kArea && reducesBothWays(size, box)) return std::nullopt;
  const cv::Rect window = windowOf(plan.region);
  // One more pixel on each side: the decoder's upsampling treats the edge of
  // what it decodes as the picture's edge.
  cv::Rect region = sourcesOfWindow(size, box, window);
  region = cv::Rect(region.x - 1, region.y - 1, region.width + 2, region.height + 2) &
           cv::Rect(cv::Point(), size);
  cv::Mat pixels;
  if (isHalving(size, box)) {
    cv::Mat part;
    cv::Point origin;
    if (!decodeRegion(bytes, header.channels, region, part, origin)) return std::nullopt;
    pixels = resizeWindowOfPart(part, origin, size, box, window);
  } else {
    // Row by row: only the two rows each output row reads are held.
    RegionDecoder decoder(bytes);
    if (!decoder.start(header.channels, region)) return std::nullopt;
    pixels = resizeWindowOfRows([&](int y) { return decoder.row(y); }, decoder.left(),
                                header.channels, size, box, window);
    if (decoder.failed()) return std::nullopt;
  }
  DerivedPicture picture;
  picture.file.pictureWidth = header.width;
  picture.file.pictureHeight = header.height;
  picture.file.derivation = Derivation::kCut;
  if (!encode(pixels, picture.bytes, header.ink, job.encoder.jpegQuality,
              job.encoder.jpegFullChroma)) {
    return std::nullopt;
  }
  picture.outcome = DerivedPicture::Outcome::kMade;
  return picture;
}

std::string jpegLibraryVersion() {
  return "libjpeg-turbo " + std::to_string(LIBJPEG_TURBO_VERSION_NUMBER);
}

std::optional<bool> jpegPathMatchesLibrary() {
  if (!windowResizeIsExact()) return false;
  cv::RNG rng(7);
  for (const int channels : {1, 3}) {
    cv::Mat picture(29, 37, CV_8UC(channels));
    rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
    std::vector<unsigned char> library, ours;
    std::optional<LibraryError> error;
    const bool encoded = libraryEncode(".jpg", picture, library, error);
    if (error) return std::nullopt;  // the library could not be asked
    if (!encoded || !encode(picture, ours) || library != ours) return false;
    const std::string file(library.begin(), library.end());
    cv::Mat part;
    cv::Point origin;
    const cv::Mat decoded = libraryDecode(file, cv::IMREAD_UNCHANGED, error);
    if (!decodeRegion(file, channels, cv::Rect(0, 0, 37, 29), part, origin) ||
        decoded.type() != part.type() || cv::norm(decoded, part, cv::NORM_INF) != 0) {
      return false;
    }
  }
  return true;
}

std::optional<DerivedPicture> jpegAreaPicture(std::string_view bytes, const PictureJob& job) {
  if (!isJpegName(job.derivedName) || job.resampling != Resampling::kArea) return std::nullopt;
  const Header header = readHeader(bytes, true);
  if (header.channels != 1 && header.channels != 3) return std::nullopt;
  const DerivedPlan plan =
      planDerivedImage(job.censusCount, header.width, header.height, job.visibleArea, job.region);
  const cv::Size size(header.width, header.height);
  const cv::Size box(plan.region.targetWidth, plan.region.targetHeight);
  if (plan.derivation != Derivation::kCut || !reducesBothWays(size, box)) return std::nullopt;
  const cv::Rect window = windowOf(plan.region);
  // Decoded at the smallest of libjpeg's sizes that leaves two pixels to
  // every pixel of the box, and only where the window lies.
  const int denominator = shrinkOnLoad(size, box);
  const auto footprints = windowFootprints(size, box, window, denominator);
  const std::vector<Span>& columns = footprints.first;
  const std::vector<Span>& rows = footprints.second;
  const cv::Rect region(cv::Point(static_cast<int>(std::floor(columns.front().begin)) - 1,
                                  static_cast<int>(std::floor(rows.front().begin)) - 1),
                        cv::Point(static_cast<int>(std::ceil(columns.back().end)) + 1,
                                  static_cast<int>(std::ceil(rows.back().end)) + 1));
  std::optional<AreaAverage> average;
  DecodedRows decoded;
  if (!decodeJpegScaledRows(bytes, denominator, region, decoded,
                            [&](int y, const unsigned char* row) {
                              if (!average) {
                                average.emplace(columns, rows, decoded.channels, decoded.origin.x,
                                                decoded.width);
                              }
                              average->add(y, row);
                            }) ||
      !average) {
    return std::nullopt;
  }
  DerivedPicture picture;
  picture.file.pictureWidth = header.width;
  picture.file.pictureHeight = header.height;
  picture.file.derivation = Derivation::kCut;
  if (!encode(average->finish(), picture.bytes, {}, job.encoder.jpegQuality,
              job.encoder.jpegFullChroma)) {
    return std::nullopt;
  }
  picture.outcome = DerivedPicture::Outcome::kMade;
  return picture;
}

bool jpegWindowAgreesWithLibrary() {
  static const bool agrees = [] {
    if (!windowResizeIsExact()) return false;
    // The comparison needs the library's codecs, which an album of JPEG
    // pictures does not otherwise load: its outcome is kept for the installed
    // release of the library (known by its file) and of this tool.
    FileSystem& files = nativeFileSystem();
    const std::optional<FileIdentity> library = fileIdentity(files, imageCodecsFile());
    const std::string directory = userCacheDirectory("vellomar");
    if (!library || directory.empty()) return jpegPathMatchesLibrary().value_or(false);
    const std::string key = std::string("vellomar ") + VELLOMAR_VERSION + ", " +
                            jpegLibraryVersion() + ", " + imageCodecsFile() + " " +
                            std::to_string(library->device) + " " + std::to_string(library->inode) +
                            " " + std::to_string(library->size) + " " +
                            std::to_string(library->modifiedNanoseconds) + "\n";
    const std::string kept = files.readFile(directory + "/jpeg-path", 4096).value_or("");
    if (kept.compare(0, key.size(), key) == 0) return kept.substr(key.size()) == "agrees\n";
    // A verdict is kept only when the library could be asked; one that cannot
    // be kept is asked for again next time.
    const std::optional<bool> matches = jpegPathMatchesLibrary();
    if (matches) {
      (void)writeFileAtomically(files, directory + "/", "jpeg-path",
                                key + (*matches ? "agrees\n" : "differs\n"), Leftover::kKept);
    }
    return matches.value_or(false);
  }();
  return agrees;
}

}  // namespace vellomar
