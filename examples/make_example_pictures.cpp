// Writes the pictures of the example album into the directory given as the
// first argument: a photo-like JPEG that the album cuts to its window, a PNG
// with transparency used by two elements, and a small stamp that is smaller
// than its window.

#include <cstdio>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

namespace {

cv::Mat landscape(int width, int height) {
  cv::Mat picture(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool sky = y < height / 2;
      picture.at<cv::Vec3b>(y, x) =
          sky ? cv::Vec3b(230, static_cast<uchar>(150 + 80 * y / height), 90)
              : cv::Vec3b(70, static_cast<uchar>(140 + 60 * x / width), 200);
    }
  }
  cv::circle(picture, {width * 3 / 4, height / 4}, height / 8, {80, 220, 255}, cv::FILLED,
             cv::LINE_AA);
  cv::rectangle(picture, {width / 5, height / 3}, {width / 3, height * 2 / 3}, {40, 60, 90},
                cv::FILLED);
  cv::putText(picture, "vellomar", {width / 10, height * 9 / 10}, cv::FONT_HERSHEY_SIMPLEX,
              height / 200.0, {255, 255, 255}, 3, cv::LINE_AA);
  return picture;
}

cv::Mat logo(int size) {
  cv::Mat picture(size, size, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  cv::circle(picture, {size / 2, size / 2}, size * 2 / 5, {40, 40, 200, 255}, cv::FILLED,
             cv::LINE_AA);
  cv::circle(picture, {size / 2, size / 2}, size / 5, {255, 255, 255, 160}, cv::FILLED,
             cv::LINE_AA);
  return picture;
}

cv::Mat stamp(int size) {
  cv::Mat picture(size, size, CV_8UC1, cv::Scalar(255));
  cv::rectangle(picture, {4, 4}, {size - 5, size - 5}, cv::Scalar(0), 3);
  cv::line(picture, {4, 4}, {size - 5, size - 5}, cv::Scalar(96), 2);
  return picture;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example_pictures DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::error_code ignored;
  std::filesystem::create_directory(dir + "/photos", ignored);
  bool ok =
      cv::imwrite(dir + "/photos/beach.jpg", landscape(1600, 1200), {cv::IMWRITE_JPEG_QUALITY, 92});
  ok = cv::imwrite(dir + "/photos/logo.png", logo(256)) && ok;
  ok = cv::imwrite(dir + "/photos/stamp.png", stamp(120)) && ok;
  if (!ok) std::fprintf(stderr, "make_example_pictures: cannot write into %s\n", dir.c_str());
  return ok ? 0 : 1;
}
