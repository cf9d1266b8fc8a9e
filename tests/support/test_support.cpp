#include "support/test_support.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "album/json_reader.h"
#include "app/command_line.h"

namespace vellomar {

namespace fs = std::filesystem;

ScopedTempDir::ScopedTempDir() {
  std::string pattern = (fs::temp_directory_path() / "vellomar-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

Json::Value parseJson(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(readJson(text, value)) << text;
  return value;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

bool fileExists(const std::string& path) { return fs::exists(path); }

const char kFileOpenErrorLine[] = "\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xB4\xED\xCE\xF3\xA3\xA1\n";
const char kParseErrorLine[] =
    "Json\xCE\xC4\xBC\xFE\xBD\xE2\xCE\xF6\xB4\xED\xCE\xF3\xA3\xAC\xBD\xE2\xCE\xF6\xBD\xE1\xB9\xFB"
    ": 0\n";

AlbumRunTest::AlbumRunTest() { fs::create_directory(sourceDir()); }

void AlbumRunTest::addPicture(const std::string& name, const cv::Mat& picture) {
  fs::create_directories(fs::path(sourceFile(name)).parent_path());
  writeFile(sourceFile(name), encoded(fs::path(name).extension().c_str(), picture));
}

RunResult AlbumRunTest::run(const std::string& flag, const CodePage& codePage) {
  std::ostringstream out, err;
  const int status =
      runCommandLine({"vellomar", sourceDir(), outputDir(), flag}, codePage, out, err);
  return {status, out.str(), err.str()};
}

RunResult runBinary(const std::vector<std::string>& args) {
  ScopedTempDir capture;
  std::string command = VELLOMAR_BINARY;
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " >" + capture.file("out") + " 2>" + capture.file("err");
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000, readFile(capture.file("out")),
          readFile(capture.file("err"))};
}

cv::Mat makePicture(int width, int height, int type) {
  const double top = CV_MAT_DEPTH(type) == CV_16U ? 65535.0 : 255.0;
  cv::Mat picture(height, width, CV_MAKETYPE(CV_64F, CV_MAT_CN(type)));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < picture.channels(); ++c) {
        const double wave = ((x * (c + 3) + y * (7 - c)) % 97) / 96.0;
        const bool block = ((x / 5 + y / 3 + c) % 4) == 0;
        picture.ptr<double>(y)[x * picture.channels() + c] = top * (block ? 1 - wave : wave * 0.8);
      }
    }
  }
  cv::Mat converted;
  picture.convertTo(converted, type);
  return converted;
}

std::string encoded(const char* extension, const cv::Mat& picture) {
  std::vector<uchar> bytes;
  EXPECT_TRUE(cv::imencode(extension, picture, bytes)) << extension;
  return std::string(bytes.begin(), bytes.end());
}

cv::Mat readPicture(const std::string& path) { return cv::imread(path, cv::IMREAD_UNCHANGED); }

cv::Mat expectedWindow(const cv::Mat& picture, cv::Size box, cv::Rect window) {
  cv::Mat scaled;
  cv::resize(picture, scaled, box, 0, 0, cv::INTER_LINEAR);
  return scaled(window).clone();
}

bool samePixels(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace vellomar
