#include "pictures/picture.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "support/test_support.h"

namespace vellomar {
namespace {

// Each picture made twice from one decoding, for a window of 40 x 30 at
// (10, 8) in a box of 80 x 60 pixels unless the row says otherwise. The
// reduction of a whole picture of every kind must be the window of the
// picture resized to the box, encoded as the library encodes it.
TEST(PictureTest, PicturesAreReducedCopiedOrRefused) {
  ScopedTempDir dir;
  const std::string jpeg = encoded(".jpg", makePicture(64, 48, CV_8UC3));
  const std::string png = encoded(".png", makePicture(64, 48, CV_8UC3));
  const PixelRegion box{10, 8, 40, 30, 80, 60};
  const struct {
    const char* name;
    std::string bytes;
    int count;
    PixelRegion region;
    const char* made;  // the derived picture's size, or why it was not made
  } rows[] = {
      {"rgb.png", encoded(".png", makePicture(90, 60, CV_8UC3)), 1, box, "40x30"},
      {"grey.png", encoded(".png", makePicture(90, 60, CV_8UC1)), 1, box, "40x30"},
      {"alpha.png", encoded(".png", makePicture(90, 60, CV_8UC4)), 1, box, "40x30"},
      {"deep.png", encoded(".png", makePicture(90, 60, CV_16UC3)), 1, box, "40x30"},
      {"photo.jpg", encoded(".jpg", makePicture(90, 60, CV_8UC3)), 1, box, "40x30"},
      {"shared.jpg", jpeg, 2, box, "64x48"},
      {"small.png", encoded(".png", makePicture(40, 30, CV_8UC1)), 1, box, "40x30"},
      {"empty.jpg", "", 1, box, "not loaded: "},
      {"cut.png", png.substr(0, png.size() / 2), 1, box, "not loaded: "},
      {"bomb.png",
       std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x75\x30\0\0\x75\x30", 24) + png.substr(24),
       1, box, "not loaded: it declares 30000 x 30000 pixels, more than 500 megapixels"},
      // The decoder fills in what is missing, as it always has.
      {"cut.jpg", jpeg.substr(0, jpeg.size() / 2), 1, box, "40x30"},
      {"lies.jpg", png, 1, box, "40x30"},
      {"far.png", png, 1, PixelRegion{1000000, 0, 9, 9, 64, 48}, "64x48"},
      // A box of 640000 x 480000 pixels: only the 50 x 40 window is made.
      {"zoom.png", png, 1, PixelRegion{0, 0, 50, 40, 640000, 480000}, "50x40"},
      {"p.unknown", png, 1, box, "failed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(dir.file(row.name), row.bytes);
    const PictureJob job{dir.file(row.name), row.name, row.count, 1200.0, row.region};
    const std::vector<DerivedPicture> pictures = makeDerivedPictures({&job, &job});
    const DerivedPicture& picture = pictures[0];
    EXPECT_TRUE(picture.bytes == pictures[1].bytes && picture.status == pictures[1].status);
    const cv::Mat derived =
        picture.bytes.empty() ? cv::Mat() : cv::imdecode(picture.bytes, cv::IMREAD_UNCHANGED);
    using Status = DerivedPicture::Status;
    EXPECT_EQ(picture.status == Status::kNotLoaded ? "not loaded: " + picture.problem
              : picture.status == Status::kLibraryFailed
                  ? "failed"
                  : std::to_string(derived.cols) + "x" + std::to_string(derived.rows),
              row.made);
    if (&row < rows + 5) {  // the kinds of picture, whole
      const cv::Mat expected =
          expectedWindow(readPicture(dir.file(row.name)), {80, 60}, cv::Rect(10, 8, 40, 30));
      EXPECT_TRUE(std::string(picture.bytes.begin(), picture.bytes.end()) ==
                  encoded(std::strrchr(row.name, '.'), expected));
    }
  }
}

}  // namespace
}  // namespace vellomar
