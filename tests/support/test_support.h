#ifndef VELLOMAR_TESTS_SUPPORT_TEST_SUPPORT_H_
#define VELLOMAR_TESTS_SUPPORT_TEST_SUPPORT_H_

// What the tests share: a temporary directory, whole files, whole runs of the
// tool on a source and an output directory, and small pictures.

#include <gtest/gtest.h>
#include <json/value.h>

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "platform/code_page.h"

namespace vellomar {

// A directory for one test, removed with everything in it at the end.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The JSON text read as the tool reads it; fails the test when it does not read.
Json::Value parseJson(const std::string& text);

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);  // "" when there is no file
bool fileExists(const std::string& path);

// The console messages as the tool prints them (GBK bytes and a line feed).
extern const char kFileOpenErrorLine[];
extern const char kParseErrorLine[];

struct RunResult {
  int status = 0;
  std::string out;
  std::string err;
};

// A source directory "in" and an output directory "out" for whole runs.
class AlbumRunTest : public ::testing::Test {
 protected:
  AlbumRunTest();
  std::string sourceDir() const { return dir_.file("in"); }
  std::string outputDir() const { return dir_.file("out"); }
  std::string sourceFile(const std::string& name) const { return sourceDir() + "/" + name; }
  std::string outputFile(const std::string& name) const { return outputDir() + "/" + name; }
  void writeAlbum(const std::string& bytes) { writeFile(sourceFile("album.desc"), bytes); }
  // Writes a picture under the source directory (making its directory).
  void addPicture(const std::string& name, const cv::Mat& picture);
  // Runs in process, as the command line would.
  RunResult run(const std::string& flag = "0", const CodePage& codePage = CodePage::named("UTF-8"));
  std::string outputAlbum() const { return readFile(outputFile("album.desc")); }

  ScopedTempDir dir_;
};

// Runs the built binary with `args`, capturing both streams.
RunResult runBinary(const std::vector<std::string>& args);

// A deterministic picture with gradients and hard edges, so that any shift of
// a window or change of sampling shows. `type` is an OpenCV type.
cv::Mat makePicture(int width, int height, int type);
std::string encoded(const char* extension, const cv::Mat& picture);
cv::Mat readPicture(const std::string& path);  // as stored; empty when absent
// The whole picture resized bilinearly to the box, then the window: what a
// reduction must produce.
cv::Mat expectedWindow(const cv::Mat& picture, cv::Size box, cv::Rect window);
bool samePixels(const cv::Mat& a, const cv::Mat& b);

}  // namespace vellomar

#endif  // VELLOMAR_TESTS_SUPPORT_TEST_SUPPORT_H_
