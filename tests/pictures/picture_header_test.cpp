#include "pictures/picture_header.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "support/test_support.h"

namespace vellomar {
namespace {

// Every format the library writes here, from a real encoder, and headers
// crafted by hand for the sizes no test should have to allocate.
TEST(PictureHeaderTest, DimensionsComeFromTheHeaderOfEveryFormat) {
  const cv::Mat picture = makePicture(301, 203, CV_8UC3);
  for (const char* extension : {".jpg", ".png", ".webp", ".bmp", ".tif", ".ppm", ".pgm", ".pfm",
                                ".ras", ".hdr", ".jp2", ".exr"}) {
    SCOPED_TRACE(extension);
    std::vector<uchar> bytes;
    cv::Mat input = picture;
    if (std::string(extension) == ".pgm") cv::extractChannel(picture, input, 0);
    if (std::string(extension) == ".pfm" || std::string(extension) == ".hdr" ||
        std::string(extension) == ".exr") {
      picture.convertTo(input, CV_32FC3, 1 / 255.0);
    }
    try {
      if (!cv::imencode(extension, input, bytes)) continue;
    } catch (const cv::Exception&) {
      continue;  // this build of the library has no encoder for it
    }
    const auto size =
        pictureDimensions(std::string_view(reinterpret_cast<char*>(bytes.data()), bytes.size()));
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, 301u);
    EXPECT_EQ(size->height, 203u);
  }
  const std::pair<std::string, std::pair<uint64_t, uint64_t>> crafted[] = {
      {std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\x00\x01\x86\xA0\x00\x01\x86\xA0", 24),
       {100000, 100000}},
      {std::string("\xFF\xD8\xFF\xE0\x00\x04xx\xFF\xC0\x00\x11\x08\xFF\xFF\xFF\xFE", 17),
       {65534, 65535}},
      {"P6 # comment\n 60000 50000 255\n", {60000, 50000}},
      {"P7\nWIDTH 3\nHEIGHT 4\nENDHDR\n", {3, 4}},
  };
  for (const auto& [bytes, size] : crafted) {
    const auto found = pictureDimensions(bytes);
    ASSERT_TRUE(found.has_value()) << bytes.substr(0, 2);
    EXPECT_EQ(found->width, size.first);
    EXPECT_EQ(found->height, size.second);
  }
  for (const char* unknown : {"", "GIF89a", "\xFF\xD8\xFF", "\x89PNG\r\n\x1A\n", "P6 12"}) {
    EXPECT_FALSE(pictureDimensions(unknown).has_value()) << unknown;
  }
}

}  // namespace
}  // namespace vellomar
