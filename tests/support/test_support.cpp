#include "support/test_support.h"

#include <sys/stat.h>
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
  // Directories a test made read-only must not stop the removal.
  for (auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
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

AlbumPassTest::AlbumPassTest() { fs::create_directory(sourceDir()); }

void AlbumPassTest::addPicture(const std::string& name, const cv::Mat& picture) {
  fs::create_directories(fs::path(sourceFile(name)).parent_path());
  writePicture(sourceFile(name), picture);
}

PassResult AlbumPassTest::runPass(const std::string& flag, const CodePage& codePage) {
  std::ostringstream out, err;
  PassResult result;
  result.status = runCommandLine({"vellomar", sourceDir(), outputDir(), flag}, codePage, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

PassResult runBinary(const std::vector<std::string>& args, const std::string& launcher) {
  ScopedTempDir capture;
  ::chmod(capture.path().c_str(), 0777);
  std::string command = launcher.empty() ? VELLOMAR_BINARY : launcher;
  for (const std::string& arg : args) {
    command += " '" + arg + "'";
    if (!launcher.empty() && arg == "--clear-groups") command += std::string(" ") + VELLOMAR_BINARY;
  }
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

void writePicture(const std::string& path, const cv::Mat& picture) {
  if (!cv::imwrite(path, picture)) ADD_FAILURE() << "cannot write " << path;
}

cv::Mat readPicture(const std::string& path) { return cv::imread(path, cv::IMREAD_UNCHANGED); }

cv::Mat expectedWindow(const cv::Mat& picture, int boxWidth, int boxHeight, cv::Rect window) {
  cv::Mat scaled;
  cv::resize(picture, scaled, cv::Size(boxWidth, boxHeight), 0, 0, cv::INTER_LINEAR);
  return scaled(window & cv::Rect(0, 0, boxWidth, boxHeight)).clone();
}

bool samePixels(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace vellomar
