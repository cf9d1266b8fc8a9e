// The proof: a book the tool prepared agrees with its source on every page,
// and a wrong derived picture is caught and named.

#ifndef _WIN32
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstdio>

#include "app/command_line.h"
#include "app/proof_run.h"
#include "pictures/jpeg_window.h"
#include "proof/page_drawing.h"
#include "proof/page_proof.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// Smooth green-tinted texture: something to align, and a colour to find on
// a screen.
cv::Mat texture(int width, int height, int seed) {
  cv::Mat coarse(height / 20 + 2, width / 20 + 2, CV_8UC3), picture;
  cv::RNG(seed).fill(coarse, cv::RNG::UNIFORM, 0, 256);
  cv::resize(coarse, picture, {width, height}, 0, 0, cv::INTER_CUBIC);
  return picture.mul(cv::Scalar(0.3, 1, 0.3)) + cv::Scalar(0, 60, 0);
}

// An element whose 100 x 75 box at (x, y) is turned by `rotation` degrees,
// with a 60 x 45 mask at (localX, localY) along the box's axes.
std::string element(const std::string& src, double x, double y, double rotation, double localX,
                    double localY) {
  const double angle = rotation * 3.14159 / 180, c = std::cos(angle), s = std::sin(angle);
  char text[400];
  std::snprintf(text, sizeof text,
                R"({"image":{"src":"%s","width":100,"height":75,"positionX":%.17g,)"
                R"("positionY":%.17g,"rotation":%.17g,"mask":{"width":60,"height":45,)"
                R"("positionX":%.17g,"positionY":%.17g}}})",
                src.c_str(), x, y, rotation, x + localX * c - localY * s,
                y + localX * s + localY * c);
  return text;
}

// A picture of four coloured quarters drawn in a 100 x 60 box turned about
// its position point: each quarter lands where the turn puts it on the page,
// and the half of the box outside its mask (the right half) stays paper.
TEST(PageDrawingTest, PicturesAreTurnedAboutTheirPositionAndSeenThroughTheirMask) {
  const cv::Vec3b colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
  cv::Mat picture(2, 2, CV_8UC3);
  for (int q = 0; q < 4; ++q) picture.at<cv::Vec3b>(q / 2, q % 2) = colours[q];
  for (const double rotation : {0.0, 90.0, 180.0, 270.0, 33.0}) {
    SCOPED_TRACE(rotation);
    // The mask's corner is the box's: it shows the box's left half.
    ElementGeometry geometry{100, 60, 500, 300, rotation, 50, 60, 500, 300};
    placeWindow(geometry);
    const double angle = rotation * 3.14159 / 180, c = std::cos(angle), s = std::sin(angle);
    const Canvas canvas = canvasAround(boxCorners(geometry), 400);
    cv::Mat page(canvas.size, CV_8UC3, cv::Scalar::all(255));
    cv::Mat seen = cv::Mat::zeros(canvas.size, CV_8U);
    layPicture(drawPicture(picture, picture.size(), geometry, canvas), page, seen);
    // How far down the mask shows the picture: all of it, or a top quarter.
    ElementGeometry top = geometry;
    top.maskWidth = 100, top.maskHeight = 15;
    placeWindow(top);
    EXPECT_NEAR(shownDepth(geometry), 1, 1e-9);
    EXPECT_NEAR(shownDepth(top), 0.25, 1e-9);
    for (int q = 0; q < 4; ++q) {
      const double x = (q % 2 ? 75 : 25), y = (q / 2 ? 45 : 15);  // the quarter's middle
      const cv::Point2d onPage(500 + x * c - y * s, 300 + x * s + y * c);
      const cv::Point at((onPage - canvas.origin) * canvas.pixelsPerUnit);
      EXPECT_EQ(page.at<cv::Vec3b>(at), q % 2 ? cv::Vec3b(255, 255, 255) : colours[q]) << q;
    }
  }
  // A box of no height shows nothing.
  const ElementGeometry flat{100, 0, 0, 0, 0, 100, 0, 0, 0};
  const Canvas canvas = canvasAround({{0, 0}, {100, 100}}, 100);
  cv::Mat page(canvas.size, CV_8UC3, cv::Scalar::all(255)),
      seen = cv::Mat::zeros(canvas.size, CV_8U);
  layPicture(drawPicture(picture, picture.size(), flat, canvas), page, seen);
  EXPECT_EQ(cv::countNonZero(seen), 0);
}

// A picture shown whole, for the measures.
ShownPicture shown(const cv::Mat& picture) {
  return {picture, picture.size(),
          [picture](cv::Rect r) { return picture(r & cv::Rect(cv::Point(), picture.size())); }};
}

// A picture moved by a known part of a pixel lies that far from its place,
// to a tenth of a pixel, whether drawn at its size or larger; a picture of
// something else, or one with nothing to align, gives no misplacement. The
// canvas holds every corner given it.
TEST(PageDrawingTest, MisplacementMeasuresWhatMovedAPicture) {
  const cv::Mat picture = texture(400, 300, 3);
  cv::Mat grain;
  cv::GaussianBlur(makePicture(400, 300, CV_8UC3), grain, {5, 5}, 1.2);
  const cv::Mat detailed = picture / 2 + grain / 2;
  const ElementGeometry place{100, 75, 0, 0, 0, 100, 75, 0, 0};
  for (const double dx : {0.0, 0.4, 1.3, 3.0, 8.0}) {
    for (const double dy : {0.0, -0.7}) {
      SCOPED_TRACE(std::to_string(dx) + " " + std::to_string(dy));
      cv::Mat moved;
      cv::warpAffine(detailed, moved, cv::Matx23d(1, 0, dx, 0, 1, dy), detailed.size(),
                     cv::INTER_LINEAR, cv::BORDER_REPLICATE);
      EXPECT_NEAR(misplacement(shown(detailed), place, shown(moved), place, 8), std::hypot(dx, dy),
                  0.15);
    }
  }
  const cv::Mat plain(300, 400, CV_8UC3, cv::Scalar(90, 120, 30));
  EXPECT_EQ(misplacement(shown(plain), place, shown(plain), place, 8), 0);
  const ElementGeometry flat{100, 0, 0, 0, 0, 100, 0, 0, 0};
  EXPECT_EQ(misplacement(shown(detailed), flat, shown(detailed), place, 8), 0);
  const Canvas canvas = canvasAround({{-10, 5}, {30, 25}}, 200);
  EXPECT_EQ(canvas.size, cv::Size(200, 100));
  EXPECT_DOUBLE_EQ(canvas.pixelsPerUnit, 5);
  EXPECT_EQ(canvas.origin, cv::Point2d(-10, 5));
  EXPECT_EQ(canvasAround({}, 64).size, cv::Size(64, 64));
}

// The page's figures: the PSNR inside the mask, and a difference drawing
// fading to red as the pictures differ, grey where no mask shows. A box's
// label is written on paper in its middle, and the paper holds all of it.
TEST(PageDrawingTest, FiguresAndLabels) {
  const ElementGeometry geometry{100, 75, 0, 0, 0, 50, 75, 0, 0};
  const cv::Mat picture(75, 100, CV_8UC3, cv::Scalar(90, 120, 30));
  ProofElement one{"pages[0].elements[0]", {}, {}};
  one.before = {true, geometry, shown(picture), {}, true, "a.png"};
  one.after = {true, geometry, shown(picture + cv::Scalar(1, 1, 1)), {}, true, "a.png"};
  const PageProof proof = proofPage(0, {one}, 200, ProofThresholds());
  EXPECT_NEAR(proof.figures.psnr, 10 * std::log10(255.0 * 255.0), 0.001);
  EXPECT_EQ(proof.difference.at<cv::Vec3b>(75, 50), cv::Vec3b(251, 251, 255));
  EXPECT_EQ(proof.difference.at<cv::Vec3b>(75, 150), cv::Vec3b(200, 200, 200));
  cv::Mat clear(1, 3, CV_8UC4, cv::Scalar(10, 20, 30, 255));
  clear.at<cv::Vec4b>(0, 1) = {0, 0, 0, 1};  // all but transparent: paper shows through
  clear.at<cv::Vec4b>(0, 2)[3] = 0;
  EXPECT_EQ(drawable(clear).at<cv::Vec3b>(0, 0), cv::Vec3b(10, 20, 30));
  EXPECT_EQ(drawable(clear).at<cv::Vec3b>(0, 1), cv::Vec3b(254, 254, 254));
  EXPECT_EQ(drawable(clear).at<cv::Vec3b>(0, 2), cv::Vec3b(255, 255, 255));

  const ElementGeometry box{200, 100, 0, 0, 0, 200, 100, 0, 0};
  const Canvas canvas = canvasAround(boxCorners(box), 1600);
  cv::Mat page(canvas.size, CV_8UC3, cv::Scalar::all(128));
  drawBox(box, {"label", std::string(80, 'w') + ".jpg"}, false, canvas, page);
  cv::Mat paper;
  cv::inRange(page, cv::Scalar::all(255), cv::Scalar::all(255), paper);
  const cv::Rect label = cv::boundingRect(paper);
  EXPECT_NEAR(label.x + label.width / 2.0, 800, 3);
  EXPECT_NEAR(label.y + label.height / 2.0, 400, 3);
  EXPECT_LT(label.width, 1600);
  EXPECT_LT(label.height, 400);
  for (int y = label.y; y < label.br().y; ++y) {  // the text stays on its paper
    EXPECT_EQ(page.at<cv::Vec3b>(y, label.x - 1), cv::Vec3b(128, 128, 128)) << y;
    EXPECT_EQ(page.at<cv::Vec3b>(y, label.br().x), cv::Vec3b(128, 128, 128)) << y;
  }
}

class ProofTest : public AlbumRunTest {
 protected:
  RunResult proof(const std::string& dir) {
    std::ostringstream out, err;
    const int status = runProofCommandLine(
        {"vellomar-proof", "--size", "500", sourceDir(), outputDir(), dir}, out, err);
    return {status, out.str(), err.str()};
  }
};

// Rotations of 0, 90, 180, 270 and 33 degrees with masks at every edge of
// their boxes, at two scales; a picture used twice (copied), a missing one, a
// web address, one left out by the first-key rule (noted). Then a derived
// window shifted by 6 pixels, and a wrong picture, each on the second page.
TEST_F(ProofTest, PreparedBooksAgreeAndWrongPicturesAreNamed) {
  for (int p = 0; p < 6; ++p) {
    addPicture("p" + std::to_string(p) + ".png", texture(400, 300, p));
  }
  const std::string pages =
      "[{\"elements\":[" + element("p0.png", 0, 0, 0, 0, 0) + "," +
      element("p1.png", 250, 0, 90, 40, 30) + "," + element("p2.png", 350, 200, 180, 40, 0) +
      ",{\"id\":1,\"image\":{\"src\":\"p0.png\"}}]},{\"elements\":[" +
      element("p3.png", 0, 200, 270, 0, 30) + "," + element("p4.png", 150, 20, 33, 17, 11) + "," +
      element("p5.png", 250, 0, 0, 20, 10) + "," + element("p5.png", 250, 100, 0, 20, 10) + "," +
      element("none.png", 0, 300, 0, 0, 0) + "," +
      element("http://example.com/a.png", 150, 300, 0, 0, 0) + "]}]";
  for (const char* scale : {"1", "0.5"}) {
    SCOPED_TRACE(scale);
    writeAlbum(std::string("{\"photoBook\":{\"scale\":") + scale + ",\"pages\":" + pages + "}}");
    fs::remove_all(outputDir());
    ASSERT_EQ(run().status, -1);  // none.png is missing
    const RunResult good = proof(dir_.file("proof"));
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_NE(good.out.find(": 2 pages, 0 below the thresholds"), std::string::npos) << good.out;
    const std::string index = readFile(dir_.file("proof/index.html"));
    EXPECT_NE(index.find("Page 2: <span class=\"verdict\">passes</span></h2>\n<p>PSNR inside the "
                         "masks: "),
              std::string::npos);
    EXPECT_NE(index.find("before: photoBook.pages[0].elements[3]: not a picture element (its first "
                         "key is &quot;id&quot;, not &quot;image&quot;)"),
              std::string::npos);
  }
  const std::string shown = readFile(outputFile("p3.png"));
  const cv::Mat window = readPicture(outputFile("p3.png"));
  cv::Mat shifted;
  cv::warpAffine(window, shifted, cv::Matx23d(1, 0, 6, 0, 1, 0), window.size(), cv::INTER_NEAREST,
                 cv::BORDER_REPLICATE);
  const std::pair<cv::Mat, std::string> wrongs[] = {
      {shifted, "photoBook.pages[1].elements[0]: the derived picture lies "},
      {texture(window.cols, window.rows, 9), "PSNR"}};
  for (const auto& [wrong, named] : wrongs) {
    writeFile(outputFile("p3.png"), encoded(".png", wrong));
    const RunResult bad = proof(dir_.file("bad"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("vellomar-proof: photoBook.pages[1]: below the thresholds: "),
              std::string::npos);
    EXPECT_NE(bad.err.find(named), std::string::npos) << bad.err;
    const std::string index = readFile(dir_.file("bad/index.html"));
    EXPECT_LT(index.find("id=\"page-2\""), index.find("id=\"page-1\""));  // failing first
  }
  writeFile(outputFile("p3.png"), shown);

  // The page in a real browser shows the drawings, not broken-image icons.
#ifdef _WIN32
  GTEST_SKIP() << "the browser is Debian's, outside wine";
#endif
  if (std::system("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "no chromium here";
  const std::string shot = dir_.file("shot.png");
  ASSERT_EQ(std::system(("chromium --headless --no-sandbox --disable-gpu --window-size=1200,900 "
                         "--screenshot=" +
                         shot + " file://" + dir_.file("proof/index.html") + " >/dev/null 2>&1")
                            .c_str()),
            0);
  cv::Mat channels[3];
  cv::split(readPicture(shot), channels);
  const cv::Mat green = (channels[1] > channels[0] + 50) & (channels[1] > channels[2] + 50);
  EXPECT_GT(cv::countNonZero(green), 1200 * 900 / 100);
}

// A proof is never written into an album's directory, and never replaces a
// file it did not make. Transparent parts of a picture are drawn as paper; a
// picture stored turned is named, with a word when its box has the upright
// picture's proportions.
TEST_F(ProofTest, ProofsReplaceNothingAndShowHowPicturesAreStored) {
  cv::Mat clear = texture(200, 100, 1), alpha(100, 200, CV_8UC1, cv::Scalar(255));
  cv::cvtColor(clear, clear, cv::COLOR_BGR2BGRA);
  alpha(cv::Rect(0, 0, 100, 100)).setTo(0);  // the left half is transparent
  cv::insertChannel(alpha, clear, 3);
  addPicture("clear.png", clear);
  // Stored 100 x 75 on its side, in a box of the upright picture's proportions.
  writeFile(sourceFile("turned.jpg"), withOrientation(encoded(".jpg", texture(100, 75, 2)), 6));
  // CMYK ink, prepared as PNG.
  std::vector<uchar> ink;
  const JpegInk cmyk{false, true};
  ASSERT_TRUE(encodeJpeg(makePicture(100, 50, CV_8UC4), ink, &cmyk));
  writeFile(sourceFile("ink.png"), std::string(ink.begin(), ink.end()));
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[
      {"image":{"src":"clear.png","width":200,"height":100,
                "mask":{"width":200,"height":100}}},
      {"image":{"src":"turned.jpg","width":75,"height":100,"positionY":120,
                "mask":{"width":75,"height":100,"positionY":120}}},
      {"image":{"src":"ink.png","width":100,"height":50,"positionY":240,
                "mask":{"width":100,"height":50,"positionY":240}}}]}]}})");
  ASSERT_EQ(run().status, 0);
  for (const std::string& directory : {sourceDir(), outputDir()}) {
    const auto files = std::distance(fs::directory_iterator(directory), fs::directory_iterator());
    const RunResult refused = proof(directory);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find(": is the directory of an album: the proof is not written into it"),
              std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), files);
  }
  fs::create_directory(dir_.file("proof"));
  writeFile(dir_.file("proof/page-1-after.jpg"), "a picture of the user's own");
  const RunResult result = proof(dir_.file("proof"));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("page-1-after.jpg: cannot be written: a file the proof did not make is "
                            "there, and is left as it is"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(readFile(dir_.file("proof/page-1-after.jpg")), "a picture of the user's own");
  const std::string index = readFile(dir_.file("proof/index.html"));
  EXPECT_NE(index.find("before: photoBook.pages[0].elements[1]: stored turned (EXIF orientation "
                       "6): " +
                       sourceFile("turned.jpg") +
                       "; its box has the proportions of the upright picture, not of the stored "
                       "one"),
            std::string::npos)
      << index;
  EXPECT_NE(index.find("before: photoBook.pages[0].elements[2]: stored as CMYK ink: drawn in the "
                       "image library's plain conversion to RGB"),
            std::string::npos);
  EXPECT_NE(index.find("photoBook.pages[0].elements[2]: the prepared picture is no longer CMYK"),
            std::string::npos);
  // The drawing's transparent half is paper; the other half is the picture.
  const cv::Mat before = readPicture(dir_.file("proof/page-1-before.jpg"));
  const double scale = before.cols / 200.0;
  const cv::Vec3b paper = before.at<cv::Vec3b>(cv::Point(50 * scale, 50 * scale));
  const cv::Vec3b picture = before.at<cv::Vec3b>(cv::Point(150 * scale, 50 * scale));
  EXPECT_GT(std::min({paper[0], paper[1], paper[2]}), 240) << paper;
  EXPECT_LT(picture[0], 200) << picture;
  // The second proof into it replaces its own files.
  EXPECT_EQ(proof(dir_.file("proof")).status, 1);
}

// The proof's command line, its thresholds and what it writes: a wrong
// command line is status 2; a stricter threshold fails a page that passes;
// names are escaped in the page; a page that cannot be drawn is a failure of
// its own, and with no page drawn there is no proof.
TEST_F(ProofTest, CommandLineThresholdsAndPagesThatCannotBeDrawn) {
  addPicture("p.png", texture(200, 150, 1));
  addPicture("tiny.png", texture(20, 15, 2));  // enlarged 5 times in its box
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[)" +
             element("p.png", 0, 0, 0, 20, 10) + "," + element("tiny.png", 0, 100, 0, 0, 0) +
             R"(,{"image":{"src":"a<b.png","width":10,"height":10}}]}]}})");
  ASSERT_EQ(run().status, -1);  // a<b.png is missing
  const std::string proofDir = dir_.file("proof");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says = nullptr;  // in the proof page
  } rows[] = {
      {{sourceDir(), outputDir()}, 2},
      {{"--size=0", sourceDir(), outputDir(), proofDir}, 2},
      {{"--min-psnr", "x", sourceDir(), outputDir(), proofDir}, 2},
      {{"--nope", sourceDir(), outputDir(), proofDir}, 2},
      {{"--size=300", sourceDir(), outputDir(), proofDir}, 0},
      {{"--min-psnr=200", "--", sourceDir(), outputDir(), proofDir}, 1},
      {{"--max-enlargement", "4.5", sourceDir(), outputDir(), proofDir},
       1,
       "elements[1]: enlarged 5.0 times to print (0.20 source pixels per printed pixel), more "
       "than 4.5 (--max-enlargement)"},
      {{"--max-enlargement=5.5", sourceDir(), outputDir(), proofDir}, 0},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"vellomar-proof"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    std::ostringstream out, err;
    EXPECT_EQ(runProofCommandLine(args, out, err), row.status) << args[1] << err.str();
    if (row.status == 2) {
      EXPECT_EQ(err.str().rfind("vellomar-proof: ", 0), 0u);
      EXPECT_NE(err.str().find("\nusage: vellomar-proof"), std::string::npos);
    }
    if (row.says) {
      EXPECT_NE(readFile(proofDir + kSeparator + "index.html").find(row.says), std::string::npos);
    }
  }
  const std::string index = readFile(proofDir + kSeparator + "index.html");
  EXPECT_NE(index.find("a&lt;b.png"), std::string::npos);
  EXPECT_NE(index.find("<img src=\"page-1-after.jpg\""), std::string::npos);
  EXPECT_NE(index.find("before: photoBook.pages[0].elements[1]: enlarged 5.0 times to print (0.20 "
                       "source pixels per printed pixel)"),
            std::string::npos);
  EXPECT_NE(index.find("<td>tiny.png</td><td class=\"soft\">0.20 (enlarged)</td>"),
            std::string::npos);
  EXPECT_NE(index.find("<td>p.png</td><td>2.00</td>"), std::string::npos);
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
  // Drawings far larger than the memory left (an address space 64 MB over
  // what is in use).
  rlimit saved{};
  ::getrlimit(RLIMIT_AS, &saved);
  ::malloc_trim(0);
  size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const rlimit limit{pages * ::sysconf(_SC_PAGESIZE) + (size_t{64} << 20), saved.rlim_max};
  ::setrlimit(RLIMIT_AS, &limit);
  std::ostringstream out, err;
  const int status = runProofCommandLine(
      {"vellomar-proof", "--size", "10000", "--jobs", "1", sourceDir(), outputDir(), proofDir}, out,
      err);
  ::setrlimit(RLIMIT_AS, &saved);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(err.str(),
            "vellomar-proof: no page could be drawn: the page cannot be drawn: out of memory\n");
#endif
}

}  // namespace
}  // namespace vellomar
