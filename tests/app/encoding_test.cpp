// How derived files are encoded beyond their names: the JPEG quality and
// chroma asked for, and the print density a book laid out in a known unit
// gives, reach every file a run makes, whichever way it is made; a re-run
// with other settings makes the files again; the report says how.

#include <tiffio.h>

#include "app/exit_status.h"
#include "pictures/file_bytes.h"
#include "pictures/jpeg_markers.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// The horizontal and vertical sampling factors of each component of a JPEG
// file's frame, as "hv" pairs ("22 11 11" for 4:2:0 colour).
std::string samplingOf(const std::string& jpeg) {
  std::string factors;
  walkJpegMarkers(jpeg, [&](const JpegSegment& segment) {
    if (!isJpegFrame(segment.marker)) return true;
    for (size_t c = 0; 7 + 3 * c < segment.data.size(); ++c) {
      const auto hv = static_cast<unsigned char>(segment.data[7 + 3 * c]);
      factors += (c > 0 ? " " : "") + std::to_string(hv >> 4) + std::to_string(hv & 15);
    }
    return false;
  });
  return factors;
}

// The JFIF density's unit and value across, as "unit:value".
std::string jfifDensity(const std::string& jpeg) {
  if (jpeg.compare(6, 5, std::string("JFIF\0", 5)) != 0) return "";
  return std::to_string(static_cast<unsigned char>(jpeg[13])) + ":" +
         std::to_string(number(jpeg, 14, 2, true).value_or(0));
}

// PNG's pixels per metre across, from its pHYs chunk; 0 when it has none.
long pngPerMetre(const std::string& png) {
  const size_t at = png.find("pHYs");
  return at == std::string::npos ? 0 : static_cast<long>(number(png, at + 4, 4, true).value_or(0));
}

// TIFF's resolution across, per inch; 0 when it states none.
double tiffPerInch(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) return -1;
  float resolution = 0;
  uint16_t unit = 0;
  const bool stated = TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &resolution) == 1 &&
                      TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit) == 1 && unit == 2;
  TIFFClose(tiff);
  return stated ? resolution : 0;
}

using EncodingTest = AlbumRunTest;

TEST_F(EncodingTest, QualityChromaAndDensityReachEveryFileTheRunMakes) {
  // A window cut from a JPEG picture (libjpeg's own path), a JPEG picture
  // used twice (copied whole, through the decoded picture), a PNG and a TIFF
  // picture, in a book laid out in millimetres at 300 dpi.
  cv::Mat photo;
  cv::GaussianBlur(makePicture(1200, 900, CV_8UC3), photo, {0, 0}, 1.5);
  addPicture("cut.jpg", photo);
  addPicture("twice.jpg", photo(cv::Rect(0, 0, 300, 200)));
  addPicture("flat.png", photo(cv::Rect(0, 0, 200, 150)));
  addPicture("scan.tif", photo(cv::Rect(0, 0, 200, 150)));
  writeAlbum(R"({"photoBook":{"scale":0.08466666666666667,"pages":[{"elements":[
      {"image":{"src":"cut.jpg","width":40,"height":30,"mask":{"width":20,"height":15}}},
      {"image":{"src":"twice.jpg","width":40,"height":30}},
      {"image":{"src":"twice.jpg","width":20,"height":15}},
      {"image":{"src":"flat.png","width":10,"height":8}},
      {"image":{"src":"scan.tif","width":10,"height":8}}]}]}})");
  const std::string report = dir_.file("report.jsonl");
  ASSERT_EQ(run({"--report", report}).status, 0);
  const std::string plainCut = readFile(outputFile("cut.jpg"));
  EXPECT_EQ(samplingOf(plainCut), "22 11 11");
  EXPECT_EQ(jfifDensity(plainCut), "0:1");  // as the library writes it: none
  EXPECT_EQ(pngPerMetre(readFile(outputFile("flat.png"))), 0);
  EXPECT_FALSE(holds(readFile(report), "\"encoded\""));

  ASSERT_EQ(
      run({"--report", report, "--jpeg-quality", "60", "--jpeg-chroma", "444", "--page-unit", "mm"})
          .status,
      0);
  for (const char* name : {"cut.jpg", "twice.jpg"}) {
    SCOPED_TRACE(name);
    const std::string jpeg = readFile(outputFile(name));
    EXPECT_EQ(samplingOf(jpeg), "11 11 11");
    EXPECT_EQ(jfifDensity(jpeg), "1:300");
  }
  EXPECT_LT(readFile(outputFile("cut.jpg")).size(), plainCut.size() * 3 / 4);  // quality 60
  EXPECT_EQ(pngPerMetre(readFile(outputFile("flat.png"))), 11811);
  EXPECT_NEAR(tiffPerInch(outputFile("scan.tif")), 300, 0.01);
  EXPECT_NE(cv::imread(outputFile("scan.tif")).data, nullptr);  // still a TIFF the library reads
  // The resolutions, written after the directory, start on word boundaries.
  const std::string tiff = readFile(outputFile("scan.tif"));
  const uint64_t directory = number(tiff, 4, 4, false).value_or(0);
  for (uint64_t e = 0; e < number(tiff, directory, 2, false).value_or(0); ++e) {
    const uint64_t entry = directory + 2 + 12 * e, tag = number(tiff, entry, 2, false).value_or(0);
    const uint64_t at = number(tiff, entry + 8, 4, false).value_or(1);
    EXPECT_TRUE((tag != 282 && tag != 283) || at % 2 == 0) << tag;
  }
  const std::string text = readFile(report);
  EXPECT_TRUE(holds(text, R"("counts":{"copied":4,"cut":1,"kept":0)"));
  EXPECT_TRUE(holds(text, R"("encoded":{"dotsPerInch":300)"));
  EXPECT_TRUE(holds(text, R"("jpegChroma":"444","jpegQuality":60})"));

  // The same settings again keep every file; the wrong ones are refused.
  ASSERT_EQ(
      run({"--report", report, "--jpeg-quality", "60", "--jpeg-chroma", "444", "--page-unit", "mm"})
          .status,
      0);
  EXPECT_TRUE(holds(readFile(report), R"("kept":5)"));
  for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--jpeg-quality", "0"},
                                                {"--jpeg-quality", "101"},
                                                {"--jpeg-chroma", "422"},
                                                {"--page-unit", "cm"},
                                                {"--resample", "lanczos"}}) {
    const RunResult refused = run(wrong);
    EXPECT_EQ(refused.status, kExitFailure) << wrong[0];
    EXPECT_TRUE(holds(refused.err, "vellomar: " + wrong[0] + ": "));
  }
}

}  // namespace
}  // namespace vellomar
