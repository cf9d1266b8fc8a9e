// Windows reduced by area on request: each printed pixel the mean of the
// picture under it, whichever way the picture is read (libjpeg's scaled rows
// or the picture decoded whole, turned or not, with alpha or deeper pixels);
// enlarged axes and the default stay as they were; a re-run with the other
// resampling makes the files again; the report says which. What it prints of
// fine patterns is measured by bench/resample_quality.

#include "app/exit_status.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using ResamplingTest = AlbumRunTest;

// The mean absolute difference of two pictures of one size and type.
double meanDifference(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size() || a.type() != b.type()) return 1e9;
  return cv::norm(a, b, cv::NORM_L1) / static_cast<double>(a.total() * a.channels());
}

TEST_F(ResamplingTest, EachWindowIsTheMeanOfThePictureUnderEachPixel) {
  // 1200x900 pictures in a box of 200x150 (6x), a window of 100x75 cut at
  // (37, 21): the reference is the whole picture resized by area, then cut.
  cv::Mat photo;
  cv::GaussianBlur(makePicture(1200, 900, CV_8UC3), photo, {0, 0}, 1.2);
  cv::Mat grey;
  cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
  cv::Mat deep;
  photo.convertTo(deep, CV_16U, 257);
  cv::Mat turned;
  cv::rotate(photo(cv::Rect(0, 0, 900, 900)), turned, cv::ROTATE_90_COUNTERCLOCKWISE);
  addPicture("photo.jpg", photo);  // read as libjpeg's scaled rows, at half size
  addPicture("grey.jpg", grey);
  addPicture("flat.png", photo);  // decoded whole
  addPicture("deep.png", deep);
  writeFile(sourceFile("turned.jpg"), withOrientation(encoded(".jpg", turned), 6));
  const std::vector<std::string> names = {"photo.jpg", "grey.jpg", "flat.png", "deep.png",
                                          "turned.jpg"};
  const std::string window =
      R"(,"width":200,"height":150,"mask":{"width":100,"height":75,"positionX":37,"positionY":21})";
  writeAlbumOf(names, window);
  ASSERT_EQ(run({"--resample", "area", "--exif-orientation", "--jpeg-quality", "100",
                 "--jpeg-chroma", "444"})
                .status,
            0);
  // A bilinear reduction is 6 levels from the reference on these pictures.
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    cv::Mat source = cv::imread(sourceFile(name), cv::IMREAD_UNCHANGED);
    if (name == "turned.jpg") cv::rotate(source, source, cv::ROTATE_90_CLOCKWISE);
    cv::Mat reference;
    cv::resize(source, reference, {200, 150}, 0, 0, cv::INTER_AREA);
    const cv::Mat made = readPicture(outputFile(name));
    EXPECT_LT(meanDifference(made, reference(cv::Rect(37, 21, 100, 75))),
              made.depth() == CV_16U ? 1.5 * 257 : 1.5);
  }
}

TEST_F(ResamplingTest, AlphaWeighsColourAndEnlargedAxesStayBilinear) {
  // Stripes of transparent red and of blue at alpha 200: no red may show
  // through, the blue stays blue, half of each printed pixel is covered.
  cv::Mat stripes(600, 600, CV_8UC4);
  for (int x = 0; x < stripes.cols; ++x) {
    stripes.col(x).setTo(x % 6 < 3 ? cv::Scalar(0, 0, 255, 0) : cv::Scalar(255, 0, 0, 200));
  }
  cv::Mat deepStripes;
  stripes.convertTo(deepStripes, CV_16U, 257);
  addPicture("stripes.png", stripes);
  addPicture("deep.png", deepStripes);
  addPicture("wide.png", makePicture(100, 400, CV_8UC3));  // enlarged across, reduced down
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[
      {"image":{"src":"stripes.png","width":100,"height":100,"mask":{"width":100,"height":100}}},
      {"image":{"src":"deep.png","width":100,"height":100,"mask":{"width":100,"height":100}}},
      {"image":{"src":"wide.png","width":300,"height":100,"mask":{"width":150,"height":100}}}]}]}})");
  ASSERT_EQ(run().status, 0);
  const std::string bilinearWide = readFile(outputFile("wide.png"));
  const std::string report = dir_.file("report.jsonl");
  ASSERT_EQ(run({"--resample", "area", "--report", report}).status, 0);
  for (const char* name : {"stripes.png", "deep.png"}) {
    SCOPED_TRACE(name);
    cv::Mat made = readPicture(outputFile(name));
    made.convertTo(made, CV_8U, made.depth() == CV_16U ? 1 / 257.0 : 1);
    std::vector<cv::Mat> planes;
    cv::split(made, planes);
    double least = 0, most = 0;
    cv::minMaxLoc(planes[0], &least);
    EXPECT_EQ(least, 255);  // blue
    cv::minMaxLoc(planes[2], nullptr, &most);
    EXPECT_EQ(most, 0);  // no red
    cv::minMaxLoc(planes[3], &least, &most);
    EXPECT_EQ(least, 100);
    EXPECT_EQ(most, 100);
  }
  EXPECT_EQ(readFile(outputFile("wide.png")), bilinearWide);
  const std::string text = readFile(report);
  EXPECT_TRUE(holds(text, R"("cut":3)"));  // made again
  EXPECT_TRUE(holds(text, R"("resampled":"area")"));

  // Kept while the resampling stays; made again, as before, when it goes back.
  ASSERT_EQ(run({"--resample", "area", "--report", report}).status, 0);
  EXPECT_TRUE(holds(readFile(report), R"("kept":3)"));
  ASSERT_EQ(run({"--resample", "bilinear", "--report", report}).status, 0);
  EXPECT_TRUE(holds(readFile(report), R"("cut":3)"));
  EXPECT_FALSE(holds(readFile(report), "resampled"));
}

}  // namespace
}  // namespace vellomar
