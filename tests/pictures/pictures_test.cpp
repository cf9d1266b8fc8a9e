// Pictures: headers, the window-only resize, the picture operation and the derived files.

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <zlib.h>
// clang-format on

#include <atomic>
#include <map>
#include <thread>

#include "pictures/area_average.h"
#include "pictures/area_window.h"
#include "pictures/derived_files.h"
#include "pictures/file_bytes.h"
#include "pictures/image_codecs.h"
#include "pictures/jpeg_window.h"
#include "pictures/picture.h"
#include "pictures/picture_header.h"
#include "pictures/picture_metadata.h"
#include "pictures/tiff_ink.h"
#include "pictures/window_resize.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// How a picture is written as JPEG by libjpeg itself.
struct JpegOptions {
  JpegOptions(int across = 1, int down = 1, bool progressive = false, bool restarts = false)
      : across(across), down(down), progressive(progressive), restarts(restarts) {}
  int across, down;  // the first component's sampling (2, 1: 4:2:2), grey or colour
  bool progressive;
  bool restarts;      // a restart marker every row of blocks
  bool ycck = false;  // ink stored as YCCK
  bool adobe = true;  // ink with Adobe's marker
  std::string profile;
};

std::string jpegFile(const cv::Mat& picture, const JpegOptions& options);

// `file` (a progressive JPEG file) with its last scan repeated until it has
// `scans` of them.
std::string withScans(const std::string& file, int scans) {
  const size_t last = file.rfind("\xFF\xDA"), end = file.rfind("\xFF\xD9");
  std::string repeated = file.substr(0, end);
  for (int n = jpegScanCount(file); n < scans; ++n) repeated += file.substr(last, end - last);
  return repeated + file.substr(end);
}

// Each picture made twice from one decoding, for a window of 40 x 30 at
// (10, 8) in a box of 80 x 60 pixels unless the row says otherwise. The
// reduction of a whole picture of every kind must be the window of the
// picture resized to the box, encoded as the library encodes it.
TEST(PictureTest, PicturesAreReducedCopiedOrRefused) {
  ScopedTempDir dir;
  const std::string jpeg = encoded(".jpg", makePicture(64, 48, CV_8UC3));
  const std::string png = encoded(".png", makePicture(64, 48, CV_8UC3));
  const std::string progressive = jpegFile(makePicture(64, 48, CV_8UC3), {2, 2, true});
  const PixelRegion box{10, 8, 40, 30, 80, 60};
  const struct {
    const char* name;
    std::string bytes;
    int count;
    PixelRegion region;
    std::string made;  // the derived picture's size, or why it was not made
  } rows[] = {
      {"rgb.png", encoded(".png", makePicture(90, 60, CV_8UC3)), 1, box, "40x30"},
      {"grey.png", encoded(".png", makePicture(90, 60, CV_8UC1)), 1, box, "40x30"},
      {"alpha.png", encoded(".png", makePicture(90, 60, CV_8UC4)), 1, box, "40x30"},
      {"deep.png", encoded(".png", makePicture(90, 60, CV_16UC3)), 1, box, "40x30"},
      {"photo.jpg", encoded(".jpg", makePicture(90, 60, CV_8UC3)), 1, box, "40x30"},
      {"small.png", encoded(".png", makePicture(40, 30, CV_8UC1)), 1, box, "40x30"},
      {"empty.jpg", "", 1, box, "not loaded: the file is empty"},
      {"cut.png", png.substr(0, png.size() / 2), 1, box,
       "not loaded: the image library cannot decode it"},
      {"bomb.png",
       std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x75\x30\0\0\x75\x30", 24) + png.substr(24),
       1, box, "not loaded: it declares 30000 x 30000 pixels, more than 500 megapixels"},
      // Rows made up as grey are never printed; a file without its end
      // marker holds the whole picture.
      {"cut.jpg", jpeg.substr(0, jpeg.size() / 2), 1, box, std::string("not loaded: ") + kCutShort},
      {"cut.jpg", progressive.substr(0, progressive.size() / 2), 1, box,
       std::string("not loaded: ") + kCutShort},
      {"unended.jpg", jpeg.substr(0, jpeg.size() - 2), 1, box, "40x30"},
      {"lies.jpg", png, 1, box, "40x30"},
      // A box of 640000 x 480000 pixels: only the 50 x 40 window is made.
      {"zoom.png", png, 1, PixelRegion{0, 0, 50, 40, 640000, 480000}, "50x40"},
      {"p.unknown", png, 1, box, "failed"},
      // A scan passes over the whole picture: a thousand are the most.
      {"scans.jpg", withScans(progressive, 1001), 1, box,
       "not loaded: it has more than 1000 scans"},
      // A stray byte before the frame is stepped over, as libjpeg steps over it.
      {"stray.jpg", withScans(progressive, 1001).insert(progressive.find("\xFF\xC2"), 1, '\0'), 1,
       box, "not loaded: it has more than 1000 scans"},
      {"many.jpg", withScans(progressive, 1000), 1, box, "40x30"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(dir.file(row.name), row.bytes);
    const PictureJob job{dir.file(row.name), row.name, row.count, 1200.0, row.region};
    std::vector<DerivedPicture> pictures(2);
    makeDerivedPictures(nativeFileSystem(), {&job, &job},
                        [&](size_t k, const DerivedPicture& p) { pictures[k] = p; });
    const DerivedPicture& picture = pictures[0];
    EXPECT_TRUE(picture.bytes == pictures[1].bytes && picture.outcome == pictures[1].outcome);
    const cv::Mat derived =
        picture.bytes.empty() ? cv::Mat() : cv::imdecode(picture.bytes, cv::IMREAD_UNCHANGED);
    using Outcome = DerivedPicture::Outcome;
    EXPECT_EQ(picture.outcome == Outcome::kNotLoaded ? "not loaded: " + picture.problem
              : picture.outcome == Outcome::kLibraryFailed
                  ? "failed"
                  : std::to_string(derived.cols) + "x" + std::to_string(derived.rows),
              row.made);
    if (&row < rows + 5) {  // the kinds of picture, whole
      cv::Mat whole;
      cv::resize(readPicture(dir.file(row.name)), whole, {80, 60}, 0, 0, cv::INTER_LINEAR);
      EXPECT_TRUE(std::string(picture.bytes.begin(), picture.bytes.end()) ==
                  encoded(std::strrchr(row.name, '.'), whole(cv::Rect(10, 8, 40, 30))));
    }
  }
}

// Headers crafted by hand for the sizes no test should have to allocate (the
// library's own encoders' are read with every format, below).
TEST(PictureHeaderTest, DimensionsComeFromTheHeaderOfEveryFormat) {
  const std::pair<std::string, std::pair<uint64_t, uint64_t>> crafted[] = {
      {std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\x00\x01\x86\xA0\x00\x01\x86\xA0", 24),
       {100000, 100000}},
      {std::string("\xFF\xD8\xFF\xE0\x00\x04xx\xFF\xC0\x00\x11\x08\xFF\xFF\xFF\xFE", 17),
       {65534, 65535}},
      // A scan and a table before a progressive frame, with fill bytes.
      {std::string(
           "\xFF\xD8\xFF\xDA\x00\x02\xFF\xFF\xC4\x00\x02\xFF\xC2\x00\x11\x08\x00\x10\x00\x20", 20),
       {32, 16}},
      {"P6 # comment\n 60000 50000 255\n", {60000, 50000}},
      // A JPEG 2000 codestream of 100 x 80 whose image starts at (40, 10).
      {std::string("\xFF\x4F\xFF\x51\0\x29\0\0\0\0\0\x64\0\0\0\x50\0\0\0\x28\0\0\0\x0A", 24),
       {60, 70}},
      {"P7\nWIDTH 3\nHEIGHT 4\nENDHDR\n", {3, 4}},
  };
  for (const auto& [bytes, size] : crafted) {
    const auto found = pictureDimensions(bytes);
    ASSERT_TRUE(found.has_value()) << bytes.substr(0, 2);
    EXPECT_EQ(found->width, size.first);
    EXPECT_EQ(found->height, size.second);
  }
  // Files cut short right after their mark, as a customer may upload them.
  for (const char* unknown :
       {"", "GIF89a", "\xFF\xD8\xFF", "\x89PNG\r\n\x1A\n", "P6 12", "RIFF", "RIFF1234WEBP"}) {
    EXPECT_FALSE(pictureDimensions(unknown).has_value()) << unknown;
  }
  // Cut inside the height.
  EXPECT_FALSE(
      pictureDimensions(std::string_view("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\0\x10\0\0", 22)));
}

// The window alone against the whole box resized by the library, on random
// geometries (enlargements, reductions, extreme reductions, halvings): bit for
// bit for 8-bit pictures, within one level for deeper ones.
TEST(WindowResizeTest, WindowSamplesAsTheWholeResizeDoes) {
  ASSERT_TRUE(windowResizeIsExact());
  cv::RNG rng(20261206);
  const int types[] = {CV_8UC1, CV_8UC3, CV_8UC4, CV_16UC1, CV_16UC3};
  for (int trial = 0; trial < 800; ++trial) {
    const int type = types[trial % 5];
    const bool halving = trial % 10 == 0, extreme = trial % 10 == 1;
    const cv::Size source(rng.uniform(1, extreme ? 900 : 50) * (halving ? 2 : 1),
                          rng.uniform(1, extreme ? 900 : 50) * (halving ? 2 : 1));
    const cv::Size box = halving   ? source / 2
                         : extreme ? cv::Size(rng.uniform(1, 7), rng.uniform(1, 7))
                                   : cv::Size(rng.uniform(1, 120), rng.uniform(1, 120));
    cv::Mat picture(source, type);
    rng.fill(picture, cv::RNG::UNIFORM, 0, CV_MAT_DEPTH(type) == CV_16U ? 65536 : 256);
    const int x = rng.uniform(0, box.width), y = rng.uniform(0, box.height);
    const cv::Rect window(x, y, rng.uniform(1, box.width - x + 1),
                          rng.uniform(1, box.height - y + 1));

    cv::Mat whole;
    cv::resize(picture, whole, box, 0, 0, cv::INTER_LINEAR);
    const cv::Mat part = resizeWindow(picture, box, window);
    ASSERT_EQ(part.type(), type);
    EXPECT_LE(cv::norm(whole(window), part, cv::NORM_INF),
              halving || CV_MAT_DEPTH(type) == CV_8U ? 0 : 1)
        << "picture " << source << ", box " << box << ", window " << window;
  }
}

// `picture` (grey, BGR, or 4 channels of CMYK ink) as libjpeg writes it.
std::string jpegFile(const cv::Mat& picture, const JpegOptions& options) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  const int channels = picture.channels();
  info.image_width = picture.cols;
  info.image_height = picture.rows;
  info.input_components = channels;
  info.in_color_space = channels == 1 ? JCS_GRAYSCALE : channels == 3 ? JCS_EXT_BGR : JCS_CMYK;
  jpeg_set_defaults(&info);
  if (channels == 4) {
    if (options.ycck) jpeg_set_colorspace(&info, JCS_YCCK);
    info.write_Adobe_marker = options.adobe;
  } else {
    info.comp_info[0].h_samp_factor = options.across;
    info.comp_info[0].v_samp_factor = options.down;
  }
  if (options.progressive) jpeg_simple_progression(&info);
  info.restart_in_rows = options.restarts ? 1 : 0;
  jpeg_start_compress(&info, TRUE);
  if (!options.profile.empty()) {
    jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET*>(options.profile.data()),
                           static_cast<unsigned>(options.profile.size()));
  }
  for (int y = 0; y < picture.rows; ++y) {
    JSAMPROW row = const_cast<uchar*>(picture.ptr<uchar>(y));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::string file(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return file;
}

// A JPEG window decoded only where the window reads gives the library's
// bytes, on random geometries (reductions, enlargements, halvings, windows at
// every edge) and JPEG pictures of every kind; what it does not cover
// is left to the library.
TEST(JpegWindowTest, WindowsAreTheLibrarysBytes) {
  ASSERT_EQ(jpegPathMatchesLibrary(), true);
  cv::RNG rng(20261207);
  const int samplings[][2] = {{1, 1}, {2, 1}, {2, 2}};
  for (int trial = 0; trial < 150; ++trial) {
    const int channels = trial % 2 ? 3 : 1;
    const cv::Size size(rng.uniform(2, 160), rng.uniform(2, 160));
    cv::Mat picture = makePicture(size.width, size.height, CV_8UC(channels));
    cv::GaussianBlur(picture, picture, {5, 5}, 1.5);
    const int* sampling = samplings[trial % 3];
    const std::string file =
        jpegFile(picture, {channels == 1 ? 1 : sampling[0], channels == 1 ? 1 : sampling[1],
                           trial % 5 == 0, trial % 7 == 0});
    const cv::Size box = trial % 11 == 0 && size.width % 2 == 0 && size.height % 2 == 0
                             ? size / 2
                             : cv::Size(rng.uniform(1, 200), rng.uniform(1, 200));
    // Windows anywhere in the box, a third of them touching its far edges.
    const int width = rng.uniform(1, box.width + 1), height = rng.uniform(1, box.height + 1);
    const bool far = trial % 3 == 0;
    const PixelRegion region{far ? box.width - width : rng.uniform(0, box.width - width + 1),
                             far ? box.height - height : rng.uniform(0, box.height - height + 1),
                             width,
                             height,
                             box.width,
                             box.height};
    ASSERT_TRUE(windowInBox(region));
    const auto made = jpegWindowPicture(file, {"", "d.JPG", 1, 1.0, region});
    ASSERT_TRUE(made.has_value()) << trial;
    cv::Mat whole;
    cv::resize(cv::imdecode(std::vector<uchar>(file.begin(), file.end()), cv::IMREAD_UNCHANGED),
               whole, box, 0, 0, cv::INTER_LINEAR);
    const cv::Rect rect = windowOf(region);
    EXPECT_TRUE(std::string(made->bytes.begin(), made->bytes.end()) == encoded(".jpg", whole(rect)))
        << "trial " << trial << ": picture " << size << ", box " << box << ", window " << rect;
  }
  const std::string file = jpegFile(makePicture(64, 48, CV_8UC3), {2, 2});
  const PixelRegion region{4, 4, 20, 10, 32, 24};
  const std::pair<std::string, PictureJob> left[] = {
      {file.substr(0, file.size() / 2), {"", "d.jpg", 1, 1.0, region}},  // libjpeg warns
      {file, {"", "d.png", 1, 1.0, region}},
      {file, {"", "d.jpg", 2, 1.0, region}},  // a copy
      {encoded(".png", makePicture(64, 48, CV_8UC3)), {"", "d.jpg", 1, 1.0, region}},
  };
  for (const auto& [bytes, job] : left) {
    EXPECT_FALSE(jpegWindowPicture(bytes, job).has_value()) << job.derivedName;
  }
  std::vector<uchar> bytes;
  EXPECT_FALSE(encodeJpeg(makePicture(8, 8, CV_8UC4), bytes) ||
               encodeJpeg(makePicture(8, 8, CV_16UC3), bytes));  // the library's own ways
}

// Each cell is the mean of the picture over its spans, a pixel in part
// weighed by its part; cells that are whole pixels are copied; a cell is
// covered where the picture reaches at least half of it each way.
TEST(AreaAverageTest, CellsAreMeansOverTheirSpans) {
  cv::Mat picture(4, 6, CV_8U);  // 10 a column, 40 a row: a mean is its middle's value
  picture.forEach<uchar>([](uchar& v, const int* at) { v = uchar(10 * at[1] + 40 * at[0]); });
  // The means, then 1 for each cell covered.
  const auto average = [&](const std::vector<Span>& columns, const std::vector<Span>& rows) {
    AreaAverage cells(columns, rows, 1, 0, picture.cols);
    for (int y = 0; y < picture.rows; ++y) cells.add(y, picture.ptr(y));
    cv::Mat covered, means = cells.finish(&covered);
    std::vector<int> values(means.begin<uchar>(), means.end<uchar>());
    for (auto at = covered.begin<uchar>(); at != covered.end<uchar>(); ++at)
      values.push_back(*at / 255);
    return values;
  };
  using Values = std::vector<int>;
  EXPECT_EQ(average({{1, 2}, {2, 3}}, {{1, 2}, {2, 3}}), (Values{50, 60, 90, 100, 1, 1, 1, 1}));
  EXPECT_EQ(average({{1, 2}}, {{0.5, 1.5}}), (Values{30, 1}));
  EXPECT_EQ(average({{0.5, 2.5}, {5, 7}}, {{0, 2}, {3, 5}}),
            (Values{30, 70, 130, 170, 1, 1, 1, 1}));
  EXPECT_EQ(average({{5.5, 7}}, {{3.4, 5}}), (Values{170, 0}));
}

TEST(AreaWindowTest, JpegPicturesAreDecodedSmallerWhileTwoPixelsRemainPerPrintedPixel) {
  // libjpeg's size at 1/d is the size divided by d, rounded up.
  const struct {
    cv::Size size, box;
    int denominator;
  } rows[] = {
      {{4000, 3000}, {2000, 1500}, 1},  // 2x: full size
      {{4000, 3000}, {1000, 750}, 2},   // 4x: half leaves exactly two
      {{4000, 3000}, {400, 300}, 4},    // 10x
      {{4000, 3000}, {250, 187}, 8},    // 16x
      {{6000, 4000}, {100, 50}, 8},     // never smaller than 1/8
      {{4000, 3000}, {1000, 1000}, 1},  // the tighter axis decides
      {{4001, 3001}, {1001, 750}, 1},   // 2001 is less than twice 1001
      {{4003, 3001}, {1001, 750}, 2},   // 2002 is not
  };
  for (const auto& row : rows) {
    EXPECT_EQ(shrinkOnLoad(row.size, row.box), row.denominator) << row.size << " " << row.box;
  }
}

// A picture averaged onto a grid laid over its box: each cell the mean of the
// pixels under it (here, ten by ten), whether libjpeg decodes the part the
// cells need at a scale or the library decodes it whole, turned upright by
// each of the eight orientations when asked; cells past the picture's edge
// are not covered; a grid at the picture's own size is its pixels.
TEST(PictureGridTest, CellsAreTheMeansOfThePixelsUnderThem) {
  ScopedTempDir dir;
  cv::Mat stored;
  cv::GaussianBlur(makePicture(400, 300, CV_8UC3), stored, {0, 0}, 2);
  const std::string jpeg = jpegFile(stored, {2, 2});
  writeFile(dir.file("p.png"), encoded(".png", stored));
  const cv::Mat decoded = cv::imdecode(std::vector<uchar>(jpeg.begin(), jpeg.end()), -1);
  for (int orientation = 0; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const std::string name = orientation == 0 ? "p.png" : std::to_string(orientation) + ".jpg";
    if (orientation > 0) writeFile(dir.file(name), withOrientation(jpeg, orientation));
    const cv::Mat picture = orientation == 0 ? stored : uprightPicture(decoded, orientation);
    const cv::Size box(picture.cols / 10, picture.rows / 10);
    const CellGrid grid{double(box.width), double(box.height), -2, 3, 20, 12},
        whole{double(picture.cols), double(picture.rows), 0, 0, picture.cols, picture.rows},
        enlarged{picture.cols * 4.0, picture.rows * 4.0, 40, 20, 6, 6};
    const PictureOnGrids loaded =
        loadPictureOnGrids(nativeFileSystem(), dir.file(name), true, [&](int, int) {
          return std::vector<CellGrid>{grid, whole, enlarged};
        });
    ASSERT_TRUE(loaded.loaded);
    EXPECT_EQ(loaded.size, picture.size());
    cv::Mat means;
    cv::resize(picture, means, box, 0, 0, cv::INTER_AREA);
    const cv::Mat cells = loaded.cells[0](cv::Rect(2, 0, 18, 12));
    EXPECT_LT(cv::norm(cells, means(cv::Rect(0, 3, 18, 12)), cv::NORM_L1) / cells.total() / 3, 1.5);
    EXPECT_EQ(cv::countNonZero(loaded.covered[0]), 18 * 12);  // two columns left of the picture
    EXPECT_EQ(cv::norm(loaded.cells[1], picture, cv::NORM_INF), 0);
    // A cell a quarter of a pixel wide averages the pixel about its middle:
    // cell 0 across, [10, 10.25) widened to [9.625, 10.625), is 3/8 of
    // pixel 9 and 5/8 of pixel 10; down, [5, 5.25) widened likewise.
    for (int i = 0; i < 6; i += 5) {
      const double x = 9.625 + i / 4.0, y = 4.625 + i / 4.0;
      const int px = static_cast<int>(x), py = static_cast<int>(y);
      const double wx = px + 1 - x, wy = py + 1 - y;
      cv::Vec3d expected;
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          expected += cv::Vec3d(picture.at<cv::Vec3b>(py + dy, px + dx)) * (dx ? 1 - wx : wx) *
                      (dy ? 1 - wy : wy);
        }
      }
      const cv::Vec3b cell = loaded.cells[2].at<cv::Vec3b>(i, i);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(cell[c], expected[c], 0.51) << i;
    }
  }
}

// Each format the library reads here, its size read from its header, reduced
// to a window and copied whole: the derived file is the library's own encoding
// of what it decodes. (JPEG
// 2000 encodes nothing under 32 pixels a side.)
TEST(PictureTest, EveryFormatTheLibraryReadsIsReducedAndCopied) {
  ScopedTempDir dir;
  const cv::Mat colour = makePicture(120, 90, CV_8UC3);
  cv::Mat grey, floats;
  cv::extractChannel(colour, grey, 0);
  colour.convertTo(floats, CV_32FC3, 1 / 255.0);
  const std::pair<const char*, cv::Mat> formats[] = {
      {".jpg", colour}, {".png", colour}, {".webp", colour}, {".bmp", colour},
      {".tif", colour}, {".jp2", colour}, {".ppm", colour},  {".pgm", grey},
      {".pfm", floats}, {".ras", colour}, {".hdr", floats},  {".exr", floats}};
  for (const auto& [extension, picture] : formats) {
    SCOPED_TRACE(extension);
    std::vector<uchar> bytes;
    try {
      if (!cv::imencode(extension, picture, bytes)) continue;
    } catch (const cv::Exception&) {
      continue;  // this build of the library has no codec for it
    }
    const std::string name = std::string("p") + extension;
    writeFile(dir.file(name), std::string(bytes.begin(), bytes.end()));
    const auto size = pictureDimensions(readFile(dir.file(name)));
    EXPECT_TRUE(size && size->width == 120 && size->height == 90);
    const cv::Mat decoded = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
    cv::Mat box;
    cv::resize(decoded, box, {100, 80}, 0, 0, cv::INTER_LINEAR);
    for (const int count : {1, 2}) {
      const PictureJob job{dir.file(name), name, count, 1200.0,
                           PixelRegion{10, 8, 48, 40, 100, 80}};
      DerivedPicture made;
      makeDerivedPictures(nativeFileSystem(), {&job},
                          [&](size_t, const DerivedPicture& p) { made = p; });
      ASSERT_EQ(made.outcome, DerivedPicture::Outcome::kMade) << made.problem;
      const cv::Mat expected = count == 1 ? box(cv::Rect(10, 8, 48, 40)) : decoded;
      EXPECT_TRUE(std::string(made.bytes.begin(), made.bytes.end()) == encoded(extension, expected))
          << count;
    }
  }
}

// A colour profile of `size` bytes for the colour space `space` ("RGB ",
// "GRAY", "CMYK"): the header readers check (a display profile, D50, no
// tags), then bytes of no meaning.
std::string iccProfile(const char* space, size_t size) {
  std::string profile(size, '\0');
  for (size_t i = 132; i < size; ++i) profile[i] = static_cast<char>(i * 7 + 3);
  for (int i = 0; i < 4; ++i) profile[i] = static_cast<char>(size >> (24 - 8 * i));
  profile.replace(8, 16, std::string("\x02\x10\0\0mntr", 8) + space + "XYZ ");
  profile.replace(36, 4, "acsp");
  profile.replace(68, 12, std::string("\0\0\xF6\xD6\0\x01\0\0\0\0\xD3\x2D", 12));
  return profile;
}

// The profile libjpeg itself reads from a JPEG file; "" when none.
std::string libjpegProfile(const std::string& file) {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(file.data()), file.size());
  jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&info, TRUE);
  JOCTET* data = nullptr;
  unsigned int size = 0;
  std::string profile;
  if (jpeg_read_icc_profile(&info, &data, &size)) profile.assign(data, data + size);
  std::free(data);
  jpeg_destroy_decompress(&info);
  return profile;
}

// A profile goes into each format that holds one, when its colour space is
// the one the file stores, and reads back byte for byte; the file decodes to
// the same pixels. libjpeg reads the JPEG segments (a profile of two), and
// ours reads libjpeg's.
TEST(PictureMetadataTest, ProfilesAreCarriedWhereTheyMatch) {
  const std::string rgb = iccProfile("RGB ", 70000), gray = iccProfile("GRAY", 300);
  const cv::Mat colour = makePicture(31, 17, CV_8UC3), alpha = makePicture(31, 17, CV_8UC4);
  cv::Mat grey;
  cv::extractChannel(colour, grey, 1);
  const struct {
    const char* extension;
    cv::Mat picture;
    const std::string& profile;
    bool carried;
  } rows[] = {
      {".jpg", colour, rgb, true},   {".jpg", grey, gray, true},
      {".jpg", colour, gray, false}, {".png", colour, rgb, true},
      {".png", grey, gray, true},    {".png", alpha, rgb, true},
      {".png", grey, rgb, false},    {".webp", colour, rgb, true},
      {".webp", alpha, rgb, true},   {".webp", grey, gray, false},
      {".tif", colour, rgb, true},   {".tif", grey, gray, true},
      {".bmp", colour, rgb, false},  {".webp", makePicture(1, 1, CV_8UC3), rgb, true},
  };
  for (const auto& row : rows) {
    const std::string ext = row.extension;
    SCOPED_TRACE(ext + " " + std::to_string(row.picture.channels()));
    const std::string plain = encoded(row.extension, row.picture);
    std::vector<uchar> file(plain.begin(), plain.end());
    EXPECT_EQ(carryColourProfile(row.profile, file), row.carried);
    const std::string bytes(file.begin(), file.end());
    EXPECT_EQ(readPictureMetadata(bytes).colourProfile, row.carried ? row.profile : "");
    if (ext == ".jpg") {
      EXPECT_EQ(libjpegProfile(bytes), row.carried ? row.profile : "");
      // Right after the JFIF marker, as libjpeg puts it; read past an empty segment.
      EXPECT_EQ(bytes.substr(20, 2) == "\xFF\xE2", row.carried);
      EXPECT_EQ(
          readPictureMetadata(std::string(bytes).insert(2, "\xFF\xE3\0\x02", 4)).colourProfile,
          row.carried ? row.profile : "");
      if (row.carried && row.profile.size() < 65519) {  // its one piece and an empty one
        std::string split = bytes;
        split[20 + 4 + 13] = 2;
        split.insert(20, std::string("\xFF\xE2\0\x10ICC_PROFILE\0\x02\x02", 18));
        EXPECT_EQ(readPictureMetadata(split).colourProfile, row.profile);
        EXPECT_EQ(libjpegProfile(split), row.profile);
      }
    }
    if (ext == ".png") {  // every chunk's CRC holds
      for (size_t at = 8; at + 12 <= bytes.size();) {
        const size_t length = static_cast<size_t>(number(bytes, at, 4, true).value_or(0));
        const auto data = reinterpret_cast<const Bytef*>(bytes.data() + at + 4);
        EXPECT_EQ(crc32(0, data, static_cast<uInt>(length + 4)),
                  number(bytes, at + 8 + length, 4, true).value_or(0))
            << bytes.substr(at + 4, 4);
        at += 12 + length;
      }
    }
    if (ext == ".webp" && row.carried) {  // VP8X: a profile, alpha
      EXPECT_EQ(file[20], row.picture.channels() == 4 ? 0x30 : 0x20);
    }
    if ((ext == ".tif" || ext == ".webp") && row.carried) {  // one profile only
      EXPECT_FALSE(carryColourProfile(row.profile, file));
    }
    EXPECT_EQ(
        cv::norm(cv::imdecode(file, cv::IMREAD_UNCHANGED),
                 cv::imdecode(std::vector<uchar>(plain.begin(), plain.end()), cv::IMREAD_UNCHANGED),
                 cv::NORM_INF),
        0);
  }
  // A TIFF file written by hand: 1 x 1, grey, with the profile's tag (34675).
  std::string tiff("II*\0\x08\0\0\0\x02\0", 10);
  const auto entry = [](int tag, int type, uint32_t count, uint32_t value) {
    return bytesOf(tag, 2) + bytesOf(type, 2) + bytesOf(count, 4) + bytesOf(value, 4);
  };
  tiff += entry(262, 3, 1, 1) + entry(34675, 7, 300, 38) + std::string(4, '\0') + gray;
  EXPECT_EQ(readPictureMetadata(tiff).colourProfile, gray);
  // The same with its directory last and cut before the next one's offset.
  const std::string cut = std::string("II*\0\x34\x01\0\0", 8) + gray + std::string("\x02\0", 2) +
                          entry(262, 3, 1, 1) + entry(34675, 7, 300, 8);
  EXPECT_EQ(readPictureMetadata(cut).colourProfile, "");
  EXPECT_EQ(readPictureMetadata(cut + std::string(4, '\0')).colourProfile, gray);
  // An orientation of no value is none.
  for (const uint32_t count : {0, 1}) {
    const std::string turned = std::string("II*\0\x08\0\0\0\x01\0", 10) + entry(274, 3, count, 6);
    EXPECT_EQ(readPictureMetadata(turned + std::string(4, '\0')).orientation, count == 0 ? 1 : 6);
  }
  // A PNG profile under a name of one letter, the shortest there is.
  uLongf size = compressBound(static_cast<uLong>(gray.size()));
  std::string iccp(3 + size, '\0');
  iccp[0] = 'x';
  compress(reinterpret_cast<Bytef*>(&iccp[3]), &size, reinterpret_cast<const Bytef*>(gray.data()),
           static_cast<uLong>(gray.size()));
  iccp.resize(3 + size);
  const std::string chunk = bytesOf(iccp.size(), 4, true) + "iCCP" + iccp + bytesOf(0, 4);
  EXPECT_EQ(readPictureMetadata(encoded(".png", grey).insert(33, chunk)).colourProfile, gray);
  // A profile written by libjpeg, and a damaged one (not "acsp").
  std::string damaged = iccProfile("RGB ", 400);
  damaged[36] = 'x';
  for (const std::string* profile : {&rgb, static_cast<const std::string*>(&damaged)}) {
    JpegOptions options;
    options.profile = *profile;
    const std::string file = jpegFile(cv::Mat(8, 8, CV_8UC1, cv::Scalar(128)), options);
    EXPECT_EQ(readPictureMetadata(file).colourProfile, profile == &rgb ? rgb : "");
  }
}

// Metadata is taken as the format's own reader takes it: a JPEG file's first
// Exif block; a PNG file's first iCCP chunk, before PLTE and IDAT (one profile
// inflated, however many chunks), and its first eXIf before IDAT; a WebP
// file's ICCP and EXIF chunks when its extended header announces them; a
// BigTIFF's tags.
TEST(PictureMetadataTest, MetadataIsReadAsTheFormatsReadersReadIt) {
  const std::string gray = iccProfile("GRAY", 300), other = iccProfile("GRAY", 400);
  const std::string jpeg = encoded(".jpg", makePicture(8, 8, CV_8UC1));
  EXPECT_EQ(readPictureMetadata(withOrientation(withOrientation(jpeg, 3), 6)).orientation, 6);
  const auto chunk = [](const std::string& type, const std::string& data) {
    return bytesOf(data.size(), 4, true) + type + data + bytesOf(0, 4);
  };
  const auto iccp = [&](const std::string& profile) {
    uLongf size = compressBound(static_cast<uLong>(profile.size()));
    std::string data(3 + size, '\0');
    data[0] = 'x';
    compress(reinterpret_cast<Bytef*>(&data[3]), &size,
             reinterpret_cast<const Bytef*>(profile.data()), static_cast<uLong>(profile.size()));
    data.resize(3 + size);
    return chunk("iCCP", data);
  };
  const std::string exif = withOrientation(jpeg, 6).substr(12, 26);  // after "Exif\0\0"
  const std::string png = encoded(".png", makePicture(8, 8, CV_8UC1));
  const size_t end = png.size() - 12;  // IEND, after IDAT
  const struct {
    std::string file;
    const std::string& profile;
    int orientation;
  } rows[] = {
      {std::string(png).insert(33, iccp(gray) + iccp(other)), gray, 1},
      {std::string(png).insert(end, iccp(gray)), "", 1},
      {std::string(png).insert(33, chunk("PLTE", "abc") + iccp(gray)), "", 1},
      {std::string(png).insert(33, chunk("eXIf", exif)), "", 6},
      {std::string(png).insert(end, chunk("eXIf", exif)), "", 1},
  };
  for (const auto& row : rows) {
    const PictureMetadata metadata = readPictureMetadata(row.file);
    EXPECT_EQ(metadata.colourProfile, row.profile);
    EXPECT_EQ(metadata.orientation, row.orientation);
  }
  // WebP: a profile carried sets the header's flag; without it, it is no one's.
  const std::string plain = encoded(".webp", makePicture(8, 8, CV_8UC3));
  std::vector<uchar> file(plain.begin(), plain.end());
  ASSERT_TRUE(carryColourProfile(iccProfile("RGB ", 200), file));
  std::string webp(file.begin(), file.end());
  webp += "EXIF" + bytesOf(exif.size(), 4) + exif;
  EXPECT_EQ(readPictureMetadata(webp).orientation, 1);
  webp[20] = 0x08;  // EXIF announced, the profile not
  const PictureMetadata flagged = readPictureMetadata(webp);
  EXPECT_EQ(flagged.orientation, 6);
  EXPECT_EQ(flagged.colourProfile, "");
  // A BigTIFF of one directory: the photometric and the profile's tags.
  const auto entry = [](int tag, int type, uint64_t count, uint64_t value) {
    return bytesOf(tag, 2) + bytesOf(type, 2) + bytesOf(count, 8) + bytesOf(value, 8);
  };
  const std::string big = std::string("II+\0\x08\0\0\0", 8) + bytesOf(16, 8) + bytesOf(2, 8) +
                          entry(262, 3, 1, 1) + entry(34675, 7, gray.size(), 72) + bytesOf(0, 8) +
                          gray;
  EXPECT_EQ(readPictureMetadata(big).colourProfile, gray);
}

// Where the stored picture's first pixel, and the one right of it, land once
// the picture is turned upright, for each orientation; and the orientation
// read from a JPEG file's Exif block.
TEST(PictureMetadataTest, OrientationsTurnPicturesUpright) {
  const cv::Mat stored = (cv::Mat_<uchar>(2, 3) << 1, 2, 3, 4, 5, 6);
  const struct {
    int orientation;
    cv::Point first, second;  // where 1 and 2 land
  } rows[] = {{1, {0, 0}, {1, 0}}, {2, {2, 0}, {1, 0}}, {3, {2, 1}, {1, 1}}, {4, {0, 1}, {1, 1}},
              {5, {0, 0}, {0, 1}}, {6, {1, 0}, {1, 1}}, {7, {1, 2}, {1, 1}}, {8, {0, 2}, {0, 1}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.orientation);
    const cv::Mat upright = uprightPicture(stored, row.orientation);
    EXPECT_EQ(upright.size(), turnsSideways(row.orientation) ? cv::Size(2, 3) : cv::Size(3, 2));
    EXPECT_EQ(upright.at<uchar>(row.first), 1);
    EXPECT_EQ(upright.at<uchar>(row.second), 2);
    const std::string file =
        withOrientation(encoded(".jpg", makePicture(8, 8, CV_8UC3)), row.orientation);
    EXPECT_EQ(readPictureMetadata(file).orientation, row.orientation);
  }
  EXPECT_EQ(readPictureMetadata(withOrientation(encoded(".jpg", stored), 9)).orientation, 1);
}

// `file` (one of the library's own) stating the EXIF `orientation`: in a JPEG
// file's APP1, a PNG file's eXIf, a WebP file's EXIF (in the extended
// format), a TIFF file's own tag (its directory written again at its end).
std::string withOrientationIn(const std::string& extension, const std::string& file,
                              int orientation) {
  const std::string jpeg = withOrientation(file, orientation);
  if (extension == ".jpg") return jpeg;
  const std::string exif = jpeg.substr(12, 26);  // without its "Exif\0\0" mark
  if (extension == ".png") {
    return std::string(file).insert(33,
                                    bytesOf(exif.size(), 4, true) + "eXIf" + exif + bytesOf(0, 4));
  }
  if (extension == ".webp") {
    const auto size = *pictureDimensions(file);
    std::string extended = "VP8X" + bytesOf(10, 4) + "\x08" + std::string(3, '\0') +
                           bytesOf(size.width - 1, 3) + bytesOf(size.height - 1, 3) +
                           file.substr(12) + "EXIF" + bytesOf(exif.size(), 4) + exif;
    return "RIFF" + bytesOf(extended.size() + 4, 4) + "WEBP" + extended;
  }
  const size_t ifd = *number(file, 4, 4, false), count = *number(file, ifd, 2, false);
  const std::string turn =
      bytesOf(274, 2) + bytesOf(3, 2) + bytesOf(1, 4) + bytesOf(orientation, 4);
  std::string entries;
  for (size_t i = 0; i < count; ++i) {
    const std::string entry = file.substr(ifd + 2 + 12 * i, 12);
    if (*number(entry, 0, 2, false) > 274 && turn.size() > 0 &&
        entries.find(turn) == std::string::npos) {
      entries += turn;
    }
    entries += entry;
  }
  std::string turned = file + std::string(file.size() % 2, '\0');
  const std::string at = bytesOf(turned.size(), 4);
  turned += bytesOf(count + 1, 2) + entries + bytesOf(0, 4);
  return turned.replace(4, 4, at);
}

// Every orientation in every format that states one: a picture is used as
// stored, or turned upright (once) when the job asks; a TIFF picture, which
// the image library turns upright as it reads it, is upright either way.
TEST(PictureTest, PicturesAreTurnedUprightOnceWhenAsked) {
  ScopedTempDir dir;
  const cv::Mat stored = makePicture(6, 4, CV_8UC3);
  for (const char* extension : {".jpg", ".png", ".webp", ".tif"}) {
    const std::string plain = encoded(extension, stored);
    const cv::Mat decoded = cv::imdecode(std::vector<uchar>(plain.begin(), plain.end()), -1);
    for (int orientation = 1; orientation <= 8; ++orientation) {
      const std::string name = std::string("p") + extension;
      writeFile(dir.file(name), withOrientationIn(extension, plain, orientation));
      for (const bool upright : {false, true}) {
        SCOPED_TRACE(name + " " + std::to_string(orientation) + (upright ? " upright" : ""));
        PictureJob job{dir.file(name), name, 2, 0, std::nullopt};  // copied whole
        job.upright = upright;
        DerivedPicture made;
        makeDerivedPictures(nativeFileSystem(), {&job},
                            [&](size_t, const DerivedPicture& p) { made = p; });
        const cv::Mat derived = cv::imdecode(made.bytes, cv::IMREAD_UNCHANGED);
        const bool turned = upright || extension == std::string(".tif");
        const cv::Mat expected = uprightPicture(decoded, turned ? orientation : 1);
        ASSERT_EQ(derived.size(), expected.size());
        EXPECT_LT(cv::norm(derived, expected, cv::NORM_L1) / expected.total(), 30);
      }
    }
  }
}

// A CMYK or YCCK JPEG picture stays so in a JPEG file, cut or copied: four
// channels, the Adobe marker as the source had it, its profile; the ink is
// the source's resized. Another format takes the library's conversion.
TEST(PictureTest, CmykJpegPicturesStayCmyk) {
  ScopedTempDir dir;
  cv::Mat ink = makePicture(90, 60, CV_8UC4);
  cv::GaussianBlur(ink, ink, {15, 15}, 5);
  const std::string profile = iccProfile("CMYK", 1000);
  for (const auto& [ycck, adobe] : {std::pair{false, true}, {true, true}, {false, false}}) {
    SCOPED_TRACE(std::to_string(ycck) + std::to_string(adobe));
    JpegOptions options;
    options.ycck = ycck, options.adobe = adobe, options.profile = profile;
    const std::string file = jpegFile(ink, options);
    writeFile(dir.file("c.jpg"), file);
    writeFile(dir.file("c.png"), file);
    const cv::Mat source = decodeJpeg(readFile(dir.file("c.jpg")), true);
    ASSERT_EQ(source.channels(), 4);
    EXPECT_LT(cv::norm(source, ink, cv::NORM_L1) / ink.total() / 4, 3.0);
    const PixelRegion region{10, 8, 40, 30, 80, 60};
    const PictureJob cut{dir.file("c.jpg"), "c.jpg", 1, 1200.0, region};
    const PictureJob copy{dir.file("c.jpg"), "c.jpg", 2, 1200.0, region};
    const PictureJob png{dir.file("c.png"), "c.png", 1, 1200.0, region};
    for (const PictureJob* job : {&cut, &copy, &png}) {
      DerivedPicture made;
      makeDerivedPictures(nativeFileSystem(), {job},
                          [&](size_t, const DerivedPicture& p) { made = p; });
      const std::string file(made.bytes.begin(), made.bytes.end());
      if (job == &png) {
        EXPECT_EQ(readPicture(dir.file("c.png")).channels(), 3);
        EXPECT_EQ(readPictureMetadata(file).colourProfile, "");
        continue;
      }
      EXPECT_EQ(jpegInkOf(file).has_value() && jpegInkOf(file)->ycck == ycck &&
                    jpegInkOf(file)->adobeMarker == adobe,
                true);
      EXPECT_EQ(readPictureMetadata(file).colourProfile, profile);
      EXPECT_EQ(file.substr(adobe ? 2 + 16 : 2, 2), "\xFF\xE2");  // after Adobe's marker
      cv::Mat expected = source;
      if (job == &cut) {
        cv::resize(source, expected, {80, 60}, 0, 0, cv::INTER_LINEAR);
        expected = expected(cv::Rect(10, 8, 40, 30));
      }
      const cv::Mat derived = decodeJpeg(file, true);
      ASSERT_EQ(derived.size(), expected.size());
      EXPECT_LT(cv::norm(derived, expected, cv::NORM_L1) / expected.total() / 4, 3.0);
    }
  }
}

// A CMYK TIFF picture stays so in a TIFF file, with its profile; under
// another name its ink becomes RGB (said), three channels and no alpha. A
// TIFF file of RGB and alpha says which its fourth sample is. A file whose
// strip runs short of its rows is read within its bytes (the sanitizers
// tell).
TEST(PictureTest, CmykTiffPicturesStayCmyk) {
  (void)decodeTiffInk(std::string(
      "\x49\x49\x2A\x00\x08\x00\x00\x00\x0A\x00\x00\x01\x03\x00\x01\x00\x00\x00\x07\x00\x00\x00"
      "\x01\x01\x03\x00\x01\x00\x00\x00\x02\x00\x00\x00\x02\x01\x03\x00\x04\x00\x00\x00\x9E\x00"
      "\x00\x00\x03\x01\x03\x00\x01\x00\x00\x00\x01\x00\x00\x00\x06\x01\x03\x00\x01\x00\x00\x00"
      "\x05\x00\x00\x64\x11\x01\x04\x00\x01\xFF\x00\x00\x86\x00\x00\x00\x15\x01\x03\x00\x01\x00"
      "\x00\x00\x04\x00\x00\x00\x16\x01\x03\x00\x01\x00\x00\x00\x05\x00\x00\x00\x11\x01\x04\x00"
      "\x01\x00\x01\x00\x86\x00\x00\x00\x15\x01\x03\x00\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00"
      "\x00\x00\x00\xC8\x1E\x00\x0A\xC8\x1E\x00\x14\xC8\x1E\x00\x1E\xC8\x1E\x00\x28\xC8\x1E\x00"
      "\x34\xC8\x1E\x00\x08\x00\x08\x00\x08\x00\x08\x00",
      166));
  ScopedTempDir dir;
  cv::Mat ink = makePicture(90, 60, CV_8UC4);
  const std::string profile = iccProfile("CMYK", 1000);
  std::vector<uchar> source;
  ASSERT_TRUE(encodeTiffInk(ink, source));
  ASSERT_TRUE(carryColourProfile(profile, source));
  writeFile(dir.file("c.tif"), std::string(source.begin(), source.end()));
  writeFile(dir.file("a.png"), encoded(".png", makePicture(60, 40, CV_8UC4)));
  const PixelRegion region{10, 8, 40, 30, 80, 60};
  for (const char* name : {"c.tif", "c.png", "a.tif"}) {
    SCOPED_TRACE(name);
    const std::string from = name[0] == 'a' ? "a.png" : "c.tif";
    const PictureJob cut{dir.file(from), name, 1, 1200.0, region};
    DerivedPicture made;
    makeDerivedPictures(nativeFileSystem(), {&cut},
                        [&](size_t, const DerivedPicture& p) { made = p; });
    const std::string file(made.bytes.begin(), made.bytes.end());
    EXPECT_EQ(made.file.inkConverted, name == std::string("c.png"));
    if (name == std::string("c.tif")) {
      cv::Mat expected;
      cv::resize(ink, expected, {80, 60}, 0, 0, cv::INTER_LINEAR);
      EXPECT_EQ(cv::norm(decodeTiffInk(file), expected(cv::Rect(10, 8, 40, 30)), cv::NORM_INF), 0);
      EXPECT_EQ(readPictureMetadata(file).colourProfile, profile);
    } else if (name == std::string("c.png")) {
      EXPECT_EQ(readPicture(dir.file("c.tif")).channels(), 4);  // the library's reading
      EXPECT_EQ(cv::imdecode(made.bytes, cv::IMREAD_UNCHANGED).channels(), 3);
    } else {
      EXPECT_TRUE(holds(file, std::string("\x52\x01\x03\0\x01\0\0\0\x02\0",
                                          10)));  // ExtraSamples: unassociated alpha
    }
  }
}

// The jobs, each reducing its picture to 12 x 9 pixels, or copying it when it
// is shared.
std::vector<PictureJob> jobsOn(const std::string& dir, std::vector<std::string> sources) {
  std::vector<PictureJob> jobs;
  for (const std::string& source : sources) {
    const size_t arrow = source.find('>');
    const int count = std::count(sources.begin(), sources.end(), source) > 1 ? 2 : 1;
    jobs.push_back({dir + kSeparator + source.substr(0, arrow), source.substr(arrow + 1), count,
                    10.0, PixelRegion{3, 2, 12, 9, 20, 15}});
  }
  return jobs;
}

// The derived files of `jobs` in `out`, each renamed into place.
DerivedFiles derivedFiles(const std::vector<PictureJob>& jobs, const std::string& out, int workers,
                          FileSystem& files = nativeFileSystem()) {
  const std::string dir = out + kSeparator;
  return DerivedFiles(files, jobs, planReruns(jobs, {}, "", dir, nullptr), dir, workers,
                      [dir](TemporaryFile& made, const std::string& name, uint64_t) {
                        return made.commit(dir, name);
                      });
}

// Takes every job in order; returns what each gave, one line each.
std::string takeAll(const std::vector<PictureJob>& jobs, const std::string& out, int workers,
                    FileSystem& system = nativeFileSystem()) {
  DerivedFiles files = derivedFiles(jobs, out, workers, system);
  std::string outcomes;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const DerivedPicture picture = files.next();
    using Outcome = DerivedPicture::Outcome;
    outcomes += picture.outcome == Outcome::kMade          ? "made"
                : picture.outcome == Outcome::kNotLoaded   ? "not loaded"
                : picture.outcome == Outcome::kNotWritten  ? "not written: " + picture.problem
                : picture.outcome == Outcome::kOutOfMemory ? picture.problem
                                                           : "other";
    outcomes += '\n';
  }
  return outcomes;
}

TEST(DerivedFilesTest, ManyWorkersLeaveWhatOneWorkerLeaves) {
  ScopedTempDir dir;
  for (const char* name : {"x.png", "y.png", "z.jpg", "w.png", "v.png"}) {
    writeFile(dir.file(name), encoded(std::strrchr(name, '.'), makePicture(40, 30, CV_8UC3)));
  }
  // Two jobs copy y.png; a directory stands where the last one goes.
  const std::vector<PictureJob> jobs =
      jobsOn(dir.path(), {"x.png>x.png", "y.png>y.png", "z.jpg>z.jpg", "none.png>none.png",
                          "y.png>y.png", "w.png>w.png", "v.png>dir.png"});
  fs::create_directories(dir.file("one/dir.png"));
  fs::create_directories(dir.file("many/dir.png"));
  const std::string one = takeAll(jobs, dir.file("one"), 1);
  const std::string directoryReason = kWindows ? "Permission denied" : "Is a directory";
  EXPECT_EQ(one,
            "made\nmade\nmade\nnot loaded\nmade\nmade\nnot written: " + directoryReason + "\n");
  EXPECT_EQ(takeAll(jobs, dir.file("many"), 4), one);
  const auto files = treeOf(dir.file("one"));
  EXPECT_TRUE(files == treeOf(dir.file("many")));
  // A run that ends early leaves no temporary of the jobs it did not take.
  derivedFiles(jobs, dir.file("many"), 4).next();
  EXPECT_TRUE(treeOf(dir.file("many")) == files);
  // The largest pictures are made first, not left for the end.
  writeFile(dir.file("large.png"), encoded(".png", makePicture(90, 60, CV_8UC3)));
  FaultyFileSystem recorded;
  std::string made;
  recorded.fails = [&](const std::string& call, const std::string& path) {
    if (call == "writeTemporary") made += path.substr(path.size() - 5, 1);
    return std::string();
  };
  takeAll(jobsOn(dir.path(), {"w.png>1.png", "large.png>2.png", "v.png>3.png"}), dir.file("many"),
          1, recorded);
  EXPECT_EQ(made, "213");
}

#ifndef _WIN32  // a limit on address space
// A picture that cannot get its memory, even alone, is a problem of its own.
TEST(DerivedFilesTest, APictureThatCannotGetItsMemoryIsAProblemOfItsOwn) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's memory does not keep to a limit on address space";
#endif
  ScopedTempDir dir;
  std::string jpeg = encoded(".jpg", makePicture(16, 16, CV_8UC1));
  jpeg.replace(jpeg.find("\xFF\xC0") + 5, 4, "\x2E\xE0\x2E\xE0");  // 12000 x 12000
  writeFile(dir.file("big.jpg"), jpeg);
  writeFile(dir.file("small.png"), encoded(".png", makePicture(20, 15, CV_8UC3)));
  loadImageCodecs();  // as a run does before its workers start
  const std::vector<PictureJob> jobs = jobsOn(dir.path(), {"big.jpg>a.jpg", "small.png>b.png"});
  EXPECT_EQ(withLittleMemory([&] { return takeAll(jobs, dir.path(), 2); }),
            "out of memory\nmade\n");
}
#endif

}  // namespace
}  // namespace vellomar
