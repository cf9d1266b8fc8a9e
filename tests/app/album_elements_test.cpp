#include "app/album_run.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "support/test_support.h"

namespace vellomar {
namespace {

using ElementProcessorTest = AlbumPassTest;

// A picture used once, larger than its window, is scaled to its box and cut to
// the window; every kind of picture keeps its channels and depth.
TEST_F(ElementProcessorTest, ReductionIsTheWindowOfThePictureResizedToItsBox) {
  struct Row {
    const char* name;
    int type;
  };
  const Row rows[] = {{"rgb.png", CV_8UC3},
                      {"grey.png", CV_8UC1},
                      {"alpha.png", CV_8UC4},
                      {"deep.png", CV_16UC3},
                      {"photo.jpg", CV_8UC3}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const cv::Mat picture = makePicture(90, 60, row.type);
    addPicture(row.name, picture);
    // Scale 0.5: the 40 x 30 box is 80 x 60 pixels, the window 40 x 30 at (10, 8).
    writeAlbum(std::string("{\"photoBook\":{\"scale\":0.5,\"pages\":[{\"elements\":[{\"image\":"
                           "{\"src\":\"") +
               row.name +
               "\",\"width\":40,\"height\":30,\"positionX\":100,\"positionY\":50,"
               "\"rotation\":0,\"mask\":{\"width\":20,\"height\":15,\"positionX\":105,"
               "\"positionY\":54}}}]}]}}");
    const PassResult result = runPass();
    ASSERT_EQ(result.status, 0) << result.err;
    // The source as decoded, resized whole, then cut.
    const cv::Mat expected =
        expectedWindow(readPicture(sourceFile(row.name)), 80, 60, cv::Rect(10, 8, 40, 30));
    if (std::string(row.name).find(".jpg") != std::string::npos) {
      std::vector<uchar> encoded;
      cv::imencode(".jpg", expected, encoded);
      EXPECT_TRUE(readFile(outputFile(row.name)) == std::string(encoded.begin(), encoded.end()));
    } else {
      EXPECT_TRUE(samePixels(readPicture(outputFile(row.name)), expected));
    }
    EXPECT_EQ(outputAlbum(),
              std::string("{\"photoBook\":{\"pages\":[{\"elements\":[{\"image\":{\"height\":15.0,"
                          "\"height_o\":30,\"mask\":{\"height\":15,\"positionX\":105,"
                          "\"positionY\":54,\"width\":20},\"positionX\":105.0,\"positionY\":54.0,"
                          "\"rotation\":0,\"src\":\"") +
                  row.name + "\",\"width\":20.0,\"width_o\":45}}]}],\"scale\":0.50}}\r\n");
  }
}

// One book with every kind of element: what is rewritten, what is left alone,
// and the null members the lookups add where a later write-back carries them.
// The last element has no mask: a copy, not an empty window.
TEST_F(ElementProcessorTest, BookIsWrittenWithExactlyTheChangesOfItsElements) {
  addPicture("pics/solo.png", makePicture(40, 20, CV_8UC3));
  addPicture("pics/shared.png", makePicture(7, 5, CV_8UC1));
  addPicture("pics/small.png", makePicture(4, 4, CV_8UC1));
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[
    {"elements":[
      {"image":{"src":"http://h/x.jpg"}},
      {"id":7,"image":{"src":"pics/solo.png"}},
      {"image":{"src":"pics/solo.png","width":20,"height":10,"rotation":0,
                "mask":{"width":10,"height":5,"positionX":2,"positionY":3}}},
      {"image":{"src":"pics/shared.png"},"type":"photo"},
      {"image":{"src":"default","width":1}}]},
    {"title":"no elements"},
    {"elements":[
      {"image":{"src":"pics/shared.png","width":5}},
      {"image":{"src":"missing.png"}}]},
    {"elements":[
      {"image":{"src":"gone.png"}},
      {"image":{"src":"pics/small.png","width":8,"height":8}}]}]}})");
  const PassResult result = runPass();
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "vellomar: " + sourceDir() +
                            "//missing.png: photoBook.pages[2].elements[1]: "
                            "the picture cannot be loaded\n"
                            "vellomar: " +
                            sourceDir() +
                            "//gone.png: photoBook.pages[3].elements[0]: "
                            "the picture cannot be loaded\n");
  const std::string nulls =
      "\"height\":null,\"mask\":{\"height\":null,\"positionX\":null,\"positionY\":null,"
      "\"width\":null},\"positionX\":null,\"positionY\":null,\"rotation\":null,";
  EXPECT_EQ(outputAlbum(),
            "{\"photoBook\":{\"pages\":["
            "{\"elements\":["
            "{\"image\":{\"src\":\"http://h/x.jpg\"}},"
            "{\"id\":7,\"image\":{\"src\":\"pics/solo.png\"}},"
            "{\"image\":{\"height\":5.0,\"height_o\":10,\"mask\":{\"height\":5,\"positionX\":2,"
            "\"positionY\":3,\"width\":10},\"positionX\":2.0,\"positionY\":3.0,\"rotation\":0,"
            "\"src\":\"solo.png\",\"width\":10.0,\"width_o\":20}},"
            "{\"image\":{" +
                nulls +
                "\"src\":\"shared.png\",\"width\":null},\"type\":\"photo\"},"
                "{\"image\":{\"src\":\"default\",\"width\":1}}]},"
                "{\"elements\":null,\"title\":\"no elements\"},"
                "{\"elements\":["
                "{\"image\":{" +
                nulls +
                "\"src\":\"shared.png\",\"width\":5}},"
                "{\"image\":{\"src\":\"missing.png\"}}]},"
                "{\"elements\":["
                "{\"image\":{" +
                nulls +
                "\"src\":\"gone.png\",\"width\":null}},"
                "{\"image\":{\"height\":8,\"mask\":{\"height\":null,\"positionX\":null,"
                "\"positionY\":null,\"width\":null},\"positionX\":null,\"positionY\":null,"
                "\"rotation\":null,\"src\":\"small.png\",\"width\":8}}]}],"
                "\"scale\":1}}\r\n");
  EXPECT_TRUE(samePixels(readPicture(outputFile("shared.png")),
                         readPicture(sourceFile("pics/shared.png"))));
  EXPECT_TRUE(
      samePixels(readPicture(outputFile("small.png")), readPicture(sourceFile("pics/small.png"))));
  EXPECT_EQ(readPicture(outputFile("solo.png")).size(), cv::Size(10, 5));
  EXPECT_FALSE(fileExists(outputFile("missing.png")));
  EXPECT_FALSE(fileExists(outputFile("x.jpg")));
}

TEST_F(ElementProcessorTest, ReportedProblemsLeaveTheElementAlone) {
  struct Row {
    std::string src;
    std::string message;
  };
  const Row rows[] = {
      {"../in/p.png", "the source path leads out of the source directory"},
      {"pics\\\\..\\\\..\\\\p.png", "the source path leads out of the source directory"},
      {"pics/", "the source path names no file"},
      {"pics/.", "the source path names no file"},
      {std::string(1024, 'a'), "src is longer than 1023 bytes"},
      {std::string(1000, 'a') + ".png", "the source file path is longer than 1023 bytes"},
  };
  addPicture("p.png", makePicture(30, 20, CV_8UC3));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    const std::string album =
        "{\"photoBook\":{\"pages\":[{\"elements\":[{\"image\":{\"src\":\"" + row.src + "\"}}]}]}}";
    writeAlbum(album);
    const PassResult result = runPass();
    EXPECT_EQ(result.status, -1);
    EXPECT_NE(result.err.find("photoBook.pages[0].elements[0]"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
    EXPECT_NE(outputAlbum().find("\"src\":\"" + row.src + "\"}"), std::string::npos);
  }
}

TEST_F(ElementProcessorTest, OriginFlagReadsTheOriginPicture) {
  const cv::Mat origin = makePicture(12, 9, CV_8UC3);
  addPicture("origin/o12.png", origin);
  writeAlbum(R"({"photoBook":{"pages":[{"elements":[{"image":{"src":"thumb/s12.png"}}]}]}})");
  EXPECT_EQ(runPass("0").status, -1);  // thumb/s12.png does not exist
  const PassResult result = runPass(" 1x");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(samePixels(readPicture(outputFile("o12.png")), origin));
  EXPECT_NE(outputAlbum().find("\"src\":\"o12.png\""), std::string::npos);
}

TEST_F(ElementProcessorTest, PathsAreConvertedThroughTheCodePage) {
  // 照片/图.png, stored under its GBK name.
  const std::string gbkDirectory = "\xD5\xD5\xC6\xAC";
  const std::string gbkName = "\xCD\xBC.png";
  addPicture(gbkDirectory + "/" + gbkName, makePicture(8, 8, CV_8UC3));
  writeAlbum(
      "{\"photoBook\":{\"pages\":[{\"elements\":[{\"image\":{\"src\":"
      "\"\xE7\x85\xA7\xE7\x89\x87/\xE5\x9B\xBE.png\"}}]}]}}");
  const PassResult result = runPass("0", CodePage::named("GBK"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(fileExists(outputFile(gbkName)));
  EXPECT_NE(outputAlbum().find("\"src\":\"\xE5\x9B\xBE.png\""), std::string::npos);
}

// An image library error while encoding (an extension it has no encoder for),
// and a reduced box whose width is no 32-bit integer, end the run: no
// album.desc, and the files already written stay.
TEST_F(ElementProcessorTest, FatalErrorsEndTheRunAndKeepEarlierFiles) {
  struct Row {
    const char* element;
    const char* line;
  };
  const Row rows[] = {
      {R"({"image":{"src":"q.unknown"}})",
       "/q.unknown: photoBook.pages[0].elements[1]: the image library failed: "},
      // At this scale the box is 2147 x 20 pixels, but 2147483647.5 is no int.
      {R"({"image":{"src":"q.png","width":2147483647.5,"height":2e7,
                    "mask":{"width":1e8,"height":1e7}}})",
       "/album.desc: photoBook.pages[0].elements[1].image.width: Real out of signed integer "
       "range\n"},
  };
  addPicture("p.png", makePicture(8, 8, CV_8UC3));
  addPicture("q.png", makePicture(60, 40, CV_8UC3));
  std::rename(sourceFile("q.png").c_str(), sourceFile("q.unknown").c_str());
  addPicture("q.png", makePicture(60, 40, CV_8UC3));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.element);
    std::remove(outputFile("p.png").c_str());
    writeAlbum(std::string(R"({"photoBook":{"scale":1e6,"pages":[{"elements":[)"
                           R"({"image":{"src":"p.png"}},)") +
               row.element + "]}]}}");
    const PassResult result = runPass();
    EXPECT_EQ(result.status, -1);
    EXPECT_NE(result.err.find(row.line), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
    EXPECT_TRUE(fileExists(outputFile("p.png")));
    EXPECT_FALSE(fileExists(outputFile("album.desc")));
  }
}

}  // namespace
}  // namespace vellomar
