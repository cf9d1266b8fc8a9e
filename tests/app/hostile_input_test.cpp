// Whatever a customer uploads, the run ends cleanly: hostile pictures,
// hostile documents, places that cannot be written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <opencv2/imgcodecs.hpp>

#include "support/test_support.h"

namespace vellomar {
namespace {

namespace fs = std::filesystem;

using HostileInputTest = AlbumPassTest;

// Every diagnostic is one whole "vellomar: " line.
void expectWholeLines(const std::string& err) {
  size_t start = 0;
  for (size_t end; (end = err.find('\n', start)) != std::string::npos; start = end + 1) {
    EXPECT_EQ(err.compare(start, 10, "vellomar: "), 0) << err;
  }
  EXPECT_EQ(start, err.size()) << err;
}

std::string encoded(const char* extension, const cv::Mat& picture) {
  std::vector<uchar> bytes;
  cv::imencode(extension, picture, bytes);
  return std::string(bytes.begin(), bytes.end());
}

TEST_F(HostileInputTest, HostilePicturesEndAsProblemsOrCopies) {
  const std::string jpeg = encoded(".jpg", makePicture(64, 48, CV_8UC3));
  const std::string png = encoded(".png", makePicture(64, 48, CV_8UC3));
  const std::string bomb =
      std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x75\x30\0\0\x75\x30", 24) + png.substr(24);
  const std::string window =
      R"("width":64,"height":48,"mask":{"width":20,"height":10,"positionX":4})";
  struct Row {
    const char* name;
    std::string bytes;
    std::string image;  // more members of the image record
    int status;
    const char* err;   // what stderr holds ("" for nothing)
    cv::Size derived;  // the derived picture's size; empty for none
  };
  const Row rows[] = {
      {"empty.jpg", "", window, -1, "the picture cannot be loaded", {}},
      {"cut.png", png.substr(0, png.size() / 2), window, -1, "the picture cannot be loaded", {}},
      // The decoder fills in what is missing, as it always has.
      {"cut.jpg", jpeg.substr(0, jpeg.size() / 2), window, 0, "", {20, 10}},
      {"lies.jpg", png, window, 0, "", {20, 10}},
      {"bomb.png", bomb, window, -1, "30000 x 30000 pixels, more than 500 megapixels", {}},
      {"dot.png", encoded(".png", makePicture(1, 1, CV_8UC1)), window, 0, "", {1, 1}},
      {"far.png",
       png,
       R"("width":64,"height":48,"mask":{"width":9,"height":9,"positionX":1e6})",
       0,
       "",
       {64, 48}},
      // A box of 640000 x 480000 pixels: only the 50 x 40 window is made.
      {"zoom.png",
       png,
       R"("width":64,"height":48,"mask":{"width":0.005,"height":0.004})",
       0,
       "",
       {50, 40}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(sourceFile(row.name), row.bytes);
    const double scale = std::string(row.name) == "zoom.png" ? 1e-4 : 1;
    writeAlbum(R"({"photoBook":{"scale":)" + std::to_string(scale) +
               R"(,"pages":[{"elements":[{"image":{"src":")" + row.name + "\"," + row.image +
               "}}]}]}}");
    const PassResult result = runPass();
    EXPECT_EQ(result.status, row.status);
    expectWholeLines(result.err);
    EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
    EXPECT_EQ(readPicture(outputFile(row.name)).size(), row.derived);
    EXPECT_FALSE(outputAlbum().empty());
  }
  EXPECT_EQ(readFile(outputFile("lies.jpg")).substr(0, 3), "\xFF\xD8\xFF");
}

TEST_F(HostileInputTest, HostileDocumentsRunInProportionToTheirSize) {
#if defined(__SANITIZE_ADDRESS__)
  const size_t mega = 1 << 18;  // a quarter of the size: the sanitizer's memory is 3x
#else
  const size_t mega = 1 << 20;
#endif
  // Nesting far past the limit is refused cleanly.
  writeAlbum("{\"a\":" + std::string(100 * mega, '['));
  PassResult result = runPass();
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.out, kParseErrorLine);

  // A long album of ordinary content, and a long string.
  std::string album = R"({"photoBook":{"pages":[{"elements":[)";
  while (album.size() < 100 * mega) {
    album += R"({"image":{"src":"default","width":1.5},"note":"n"},{"text":"t\u00e9"},)";
  }
  for (const std::string& text :
       {album + "{}]}]}}", R"({"photoBook":{},"long":")" + std::string(50 * mega, 'x') + "\"}"}) {
    writeAlbum(text);
    result = runPass();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_GT(outputAlbum().size(), 50 * mega);
  }
}

TEST_F(HostileInputTest, EveryKindOfValueInEveryPlaceEndsTheRunCleanly) {
  addPicture("p.png", makePicture(8, 6, CV_8UC3));
  const char* kinds[] = {"null",  "true", "-7",  "3000000000", "2.5",      "1e999",
                         "\"x\"", "[]",   "[1]", "{}",         "{\"k\":1}"};
  const std::string places[] = {"scale",    "pages", "page",  "elements", "element",
                                "image",    "src",   "width", "height",   "positionX",
                                "rotation", "mask",  "maskY"};
  for (const std::string& place : places) {
    for (const char* kind : kinds) {
      SCOPED_TRACE(place + " = " + kind);
      auto at = [&](const std::string& name, const std::string& normal) {
        return name == place ? std::string(kind) : normal;
      };
      const std::string mask =
          at("mask", "{\"width\":2,\"height\":2,\"positionY\":" + at("maskY", "1") + "}");
      const std::string image =
          at("image", "{\"src\":" + at("src", "\"p.png\"") + ",\"width\":" + at("width", "8") +
                          ",\"height\":" + at("height", "6") +
                          ",\"positionX\":" + at("positionX", "0") +
                          ",\"rotation\":" + at("rotation", "0") + ",\"mask\":" + mask + "}");
      const std::string elements =
          at("elements", "[" + at("element", "{\"image\":" + image + "}") + "]");
      writeAlbum("{\"photoBook\":{\"scale\":" + at("scale", "1") + ",\"pages\":" +
                 at("pages", "[" + at("page", "{\"elements\":" + elements + "}") + "]") + "}}");
      const PassResult result = runPass();
      EXPECT_TRUE(result.status == 0 || result.status == -1);
      expectWholeLines(result.err);
    }
  }
}

TEST_F(HostileInputTest, SourcesThatReachOutsideOrAreGarbledStayInside) {
  addPicture("sub/p.png", makePicture(8, 6, CV_8UC3));
  writeFile(dir_.file("secret.png"), readFile(sourceFile("sub/p.png")));
  struct Row {
    const char* src;
    const char* err;  // "" when the picture is found and copied
  };
  const Row rows[] = {
      {"../secret.png", "leads out of the source directory"},
      {"sub/../../secret.png", "leads out of the source directory"},
      {"sub\\\\p.png", ""},
      {"/sub/p.png", ""},  // absolute paths are taken inside the source directory
      {"\\u0001sub/p.png", "\\x01sub/p.png: photoBook"},
      {"sub/\xFF.png", "sub/\xEF\xBF\xBD.png: photoBook"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.src);
    writeAlbum(std::string(R"({"photoBook":{"pages":[{"elements":[{"image":{"src":")") + row.src +
               "\"}}]}]}}");
    const PassResult result = runPass();
    EXPECT_EQ(result.status, *row.err ? -1 : 0);
    EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
    expectWholeLines(result.err);
  }
}

TEST_F(HostileInputTest, UnwritablePlacesAreReportedAndNothingElseIsLost) {
  addPicture("a.png", makePicture(8, 6, CV_8UC3));
  addPicture("b.png", makePicture(8, 6, CV_8UC1));
  writeAlbum(R"({"photoBook":{"pages":[{"elements":[{"image":{"src":"a.png"}},
                                                   {"image":{"src":"b.png"}}]}]}})");
  // A directory stands where a derived picture goes.
  fs::create_directories(outputFile("a.png"));
  PassResult result = runPass();
  EXPECT_EQ(result.status, -1);
  EXPECT_NE(
      result.err.find("a.png: photoBook.pages[0].elements[0]: cannot be written: Is a directory"),
      std::string::npos)
      << result.err;
  EXPECT_TRUE(fileExists(outputFile("b.png")));
  EXPECT_NE(outputAlbum().find("\"src\":\"b.png\""), std::string::npos);

  // A read-only output directory (for a user who is not its owner).
  fs::remove_all(outputDir());
  fs::create_directory(outputDir());
  ::chmod(outputDir().c_str(), 0555);
  ::chmod(dir_.path().c_str(), 0755);
  std::vector<std::string> command = {sourceDir(), outputDir(), "0"};
  if (::geteuid() == 0) {
    if (!fileExists("/usr/bin/setpriv")) GTEST_SKIP() << "root needs setpriv to be another user";
    command.insert(command.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  result = ::geteuid() == 0 ? runBinary(command, "/usr/bin/setpriv") : runBinary(command);
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 3) << result.err;
  EXPECT_NE(result.err.find("album.desc: cannot be written: Permission denied"), std::string::npos)
      << result.err;
}

}  // namespace
}  // namespace vellomar
