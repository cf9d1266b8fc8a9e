// The proof: every picture of a book the tool prepared passes, judged at
// print resolution against the part of its source it prints; a wrong derived
// picture fails, for the right reason, and is named.

#include <cmath>
#include <cstdio>

#include "app/command_line.h"
#include "app/proof_run.h"
#include "pictures/jpeg_window.h"
#include "pictures/picture_metadata.h"
#include "proof/element_figures.h"
#include "proof/page_drawing.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// A picture with what photographs of books hold: a smooth ground, woven
// fabric, a façade of regular windows, lines of small text and a camera's
// grain; each seed its own.
cv::Mat detailed(int width, int height, int seed) {
  cv::RNG random(static_cast<uint64_t>(seed) * 7919 + 1);
  cv::Mat coarse(height / 40 + 2, width / 40 + 2, CV_8UC3), picture;
  random.fill(coarse, cv::RNG::UNIFORM, 40, 220);
  cv::resize(coarse, picture, {width, height}, 0, 0, cv::INTER_CUBIC);
  const double period = 3.1 + seed % 5 * 0.37;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      cv::Vec3b& p = picture.at<cv::Vec3b>(y, x);
      const int band = (x + y / 2) * 4 / width;
      double shade = 0;
      if (band == 0) shade = 40 * std::sin(x * 2 * CV_PI / period) * std::sin(y * 2 * CV_PI / 2.7);
      if (band == 1 && (x % 23 < 9) && (y % 31 < 14)) shade = -70;  // windows
      for (int c = 0; c < 3; ++c) p[c] = cv::saturate_cast<uchar>(p[c] + shade);
    }
  }
  for (int y = height / 2; y + 12 < height; y += 14) {
    cv::putText(picture, "vellomar prints the books " + std::to_string(y * seed), {width / 2, y},
                cv::FONT_HERSHEY_PLAIN, 0.8, cv::Scalar(20, 20, 20), 1, cv::LINE_AA);
  }
  cv::Mat grain(picture.size(), CV_16SC3);
  random.fill(grain, cv::RNG::NORMAL, 0, 9);
  picture.convertTo(picture, CV_16SC3);
  cv::add(picture, grain, picture);
  picture.convertTo(picture, CV_8UC3);
  return picture;
}

// The element of `src` whose `width` x `height` box at (x, y) is turned by
// `rotation` degrees, with a mask of `maskWidth` x `maskHeight` at (localX,
// localY) along the box's axes.
std::string element(const std::string& src, double x, double y, double width, double height,
                    double rotation, double localX, double localY, double maskWidth,
                    double maskHeight) {
  const double angle = rotation * 3.14159 / 180, c = std::cos(angle), s = std::sin(angle);
  char text[500];
  std::snprintf(text, sizeof text,
                R"({"image":{"src":"%s","width":%.17g,"height":%.17g,"positionX":%.17g,)"
                R"("positionY":%.17g,"rotation":%.17g,"mask":{"width":%.17g,"height":%.17g,)"
                R"("positionX":%.17g,"positionY":%.17g}}})",
                src.c_str(), width, height, x, y, rotation, maskWidth, maskHeight,
                x + localX * c - localY * s, y + localX * s + localY * c);
  return text;
}

// A picture of four coloured quarters drawn in a 100 x 60 box turned about
// its position point: each quarter lands where the turn puts it on the page,
// and the half of the box outside its mask (the right half) stays paper.
TEST(PageDrawingTest, PicturesAreTurnedAboutTheirPositionAndSeenThroughTheirMask) {
  const cv::Vec3b colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
  cv::Mat cells(2, 2, CV_8UC3);
  for (int q = 0; q < 4; ++q) cells.at<cv::Vec3b>(q / 2, q % 2) = colours[q];
  const cv::Mat covered(2, 2, CV_8U, cv::Scalar(255));
  const CellGrid grid{2, 2, 0, 0, 2, 2};
  for (const double rotation : {0.0, 90.0, 180.0, 270.0, 33.0}) {
    SCOPED_TRACE(rotation);
    // The mask's corner is the box's: it shows the box's left half.
    ElementGeometry geometry{100, 60, 500, 300, rotation, 50, 60, 500, 300};
    placeWindow(geometry);
    const double angle = rotation * 3.14159 / 180, c = std::cos(angle), s = std::sin(angle);
    const Canvas canvas = canvasAround(boxCorners(geometry), 400);
    cv::Mat page(canvas.size, CV_8UC3, cv::Scalar::all(255));
    cv::Mat seen = cv::Mat::zeros(canvas.size, CV_8U);
    layPicture(drawCells(cells, covered, grid, geometry, canvas), page, seen);
    for (int q = 0; q < 4; ++q) {
      const double x = (q % 2 ? 75 : 25), y = (q / 2 ? 45 : 15);  // the quarter's middle
      const cv::Point2d onPage(500 + x * c - y * s, 300 + x * s + y * c);
      const cv::Point at((onPage - canvas.origin) * canvas.pixelsPerUnit);
      EXPECT_EQ(page.at<cv::Vec3b>(at), q % 2 ? cv::Vec3b(255, 255, 255) : colours[q]) << q;
    }
  }
  // A box of no height shows nothing; a canvas holds every corner given it.
  const ElementGeometry flat{100, 0, 0, 0, 0, 100, 0, 0, 0};
  const Canvas canvas = canvasAround({{-10, 5}, {30, 25}}, 200);
  EXPECT_EQ(canvas.size, cv::Size(200, 100));
  EXPECT_DOUBLE_EQ(canvas.pixelsPerUnit, 5);
  EXPECT_EQ(canvas.origin, cv::Point2d(-10, 5));
  EXPECT_EQ(canvasAround({}, 64).size, cv::Size(64, 64));
  EXPECT_TRUE(drawCells(cells, covered, grid, flat, canvas).area.empty());
  // A box's label is written in its middle, on paper that holds all of it.
  const Canvas wide = canvasAround({{0, 0}, {100, 50}}, 1600);
  cv::Mat labelled(wide.size, CV_8UC3, cv::Scalar::all(128)), paper;
  drawBox({80, 30, 10, 10, 0, 80, 30, 10, 10}, {"a.png"}, false, wide, labelled);
  cv::inRange(labelled, cv::Scalar::all(255), cv::Scalar::all(255), paper);
  const cv::Rect label = cv::boundingRect(paper);
  EXPECT_NEAR(label.x + label.width / 2.0, 800, 2);
  EXPECT_NEAR(label.y + label.height / 2.0, 400, 2);
  labelled(label).setTo(cv::Scalar::all(128));
  cv::inRange(labelled, cv::Scalar::all(128), cv::Scalar::all(128), paper);
  EXPECT_EQ(cv::countNonZero(paper(cv::Rect(170, 170, 1260, 460))), 1260 * 460);
}

// A picture moved by a known part of a print pixel lies that far from its
// place, to a few tenths of a pixel; one blurred keeps little of its detail;
// one turned, or a plain one, does not align. Each figure's failure
// reads as what it means; another picture is all that is said of one.
TEST(ElementFiguresTest, FiguresMeasureWhatChanged) {
  const cv::Mat source = detailed(300, 220, 3), plain(220, 300, CV_8UC3, cv::Scalar(90, 120, 30));
  cv::Mat turned;
  cv::rotate(source, turned, cv::ROTATE_180);
  const int r = kSearchCells;
  const cv::Rect core(r, r, source.cols - 2 * r, source.rows - 2 * r);
  const cv::Mat all(source.size(), CV_8U, cv::Scalar(255)), inCore = all(core);
  const auto figuresOf = [&](const cv::Mat& after) {
    return measure(source, all, after(core).clone(), inCore);
  };
  for (const double dx : {0.0, 0.4, 1.3, 3.0, 8.0}) {
    for (const double dy : {0.0, -0.7}) {
      SCOPED_TRACE(std::to_string(dx) + " " + std::to_string(dy));
      cv::Mat moved;
      cv::warpAffine(source, moved, cv::Matx23d(1, 0, dx, 0, 1, dy), source.size(),
                     cv::INTER_LINEAR, cv::BORDER_REFLECT);
      EXPECT_NEAR(figuresOf(moved).misplacement, std::hypot(dx, dy), 0.25);
    }
  }
  const ElementFigures same = figuresOf(source);
  EXPECT_TRUE(same.measured);
  EXPECT_EQ(same.psnr, INFINITY);
  EXPECT_NEAR(same.detail, 1, 1e-6);
  EXPECT_NEAR(same.alignment, 1, 1e-6);
  EXPECT_TRUE(failuresOf(same, ProofThresholds()).empty());
  cv::Mat blurred;
  cv::GaussianBlur(source, blurred, {0, 0}, 2);
  EXPECT_LT(figuresOf(blurred).detail, 0.2);
  EXPECT_LT(figuresOf(turned).alignment, 0.2);
  EXPECT_EQ(figuresOf(plain).alignment, 0);
  // Nothing tells one place from another in a source even across and barely
  // varying down: stripes of aliasing over it are no misplacement.
  cv::Mat even(source.size(), CV_8UC3), striped;
  for (int y = 0; y < even.rows; ++y) even.row(y).setTo(cv::Scalar::all(100 + y / 8));
  striped = even.clone();
  for (int x = 0; x < striped.cols; x += 2) striped.col(x) += cv::Scalar::all(60);
  EXPECT_EQ(measure(even, all, striped(core).clone(), inCore).misplacement, 0);
  EXPECT_FALSE(measure(source(cv::Rect(0, 0, 23, 23)), all(cv::Rect(0, 0, 23, 23)),
                       source(cv::Rect(r, r, 7, 7)), inCore(cv::Rect(0, 0, 7, 7)))
                   .measured);

  ElementFigures figures;
  figures.measured = true;
  figures.psnr = 22, figures.misplacement = 1.5, figures.detail = 0.5, figures.alignment = 0.5;
  EXPECT_TRUE(failuresOf(figures, ProofThresholds()).empty());  // each at its threshold
  figures.psnr = 20, figures.misplacement = 2, figures.detail = 0.25, figures.alignment = 1;
  EXPECT_EQ(failuresOf(figures, ProofThresholds()),
            (std::vector<std::string>{"PSNR 20.0 dB, below 22.0 dB",
                                      "misplaced by 2.0 px (at most 1.5 px)",
                                      "keeps 0.25 of the source's fine detail (at least 0.50)"}));
  figures.alignment = 0.3;
  EXPECT_EQ(failuresOf(figures, ProofThresholds()),
            (std::vector<std::string>{
                "another picture, or another part of it (alignment 0.30, at least 0.50)"}));
  figures.measured = false;
  EXPECT_TRUE(failuresOf(figures, ProofThresholds()).empty());
}

class ProofTest : public AlbumRunTest {
 protected:
  RunResult proof(const std::string& dir, const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"vellomar-proof", "--size", "400"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {sourceDir(), outputDir(), dir});
    std::ostringstream out, err;
    const int status = runProofCommandLine(args, out, err);
    return {status, out.str(), err.str()};
  }
};

// A book of the kinds a print shop meets, prepared by the tool: every one of
// its pictures passes. Then each way a derived picture can be wrong, one at a
// time on a page of its own: each fails, for its own reason, and is named.
TEST_F(ProofTest, PreparedBooksPassAndWrongPicturesFailForTheirReason) {
  // Phone photos stored turned, with a profile; a camera's photo; pictures
  // reduced a little and a lot, or enlarged within 1.5x; boxes turned, some
  // by odd angles; windows anywhere; a picture used twice; alpha and grey;
  // CMYK ink. The book is laid out in millimetres printed at 300 dpi.
  const double scale = 25.4 / 300;
  writeFile(sourceFile("phone.jpg"), withOrientation(encoded(".jpg", detailed(1200, 900, 1)), 6));
  addPicture("camera.jpg", detailed(1600, 1200, 2));
  addPicture("little.png", detailed(500, 400, 3));
  addPicture("small.jpg", detailed(260, 200, 4));
  addPicture("shared.jpg", detailed(800, 600, 5));
  addPicture("large.jpg", detailed(2400, 1800, 9));
  addPicture("larger.jpg", detailed(3000, 2000, 10));
  cv::Mat alpha = detailed(600, 400, 6), grey;
  cv::cvtColor(alpha, alpha, cv::COLOR_BGR2BGRA);
  alpha(cv::Rect(0, 0, 200, 400)).forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 0; });
  addPicture("alpha.png", alpha);
  cv::cvtColor(detailed(700, 500, 7), grey, cv::COLOR_BGR2GRAY);
  addPicture("grey.png", grey);
  std::vector<uchar> ink;
  const JpegInk cmyk{false, true};
  cv::Mat inkPicture;
  cv::cvtColor(detailed(900, 600, 8), inkPicture, cv::COLOR_BGR2BGRA);
  ASSERT_TRUE(encodeJpeg(inkPicture, ink, &cmyk));
  writeFile(sourceFile("ink.jpg"), std::string(ink.begin(), ink.end()));
  const std::string pages[] = {element("phone.jpg", 10, 10, 60, 80, 0, 5, 10, 40, 50) + "," +
                                   element("camera.jpg", 80, 10, 90, 67.5, 0, 20, 7, 50, 40),
                               element("little.png", 100, 100, 40, 32, 90, 3, 2, 30, 25) + "," +
                                   element("small.jpg", 10, 110, 30, 23, 33, 2, 3, 24, 18) + "," +
                                   element("shared.jpg", 120, 150, 40, 30, 0, 0, 0, 40, 30) + "," +
                                   element("shared.jpg", 10, 160, 40, 30, 181.5, 5, 5, 30, 20),
                               element("alpha.png", 10, 10, 60, 40, 0, 0, 0, 60, 40) + "," +
                                   element("grey.png", 80, 10, 70, 50, 270, 10, 5, 50, 40) + "," +
                                   element("ink.jpg", 10, 70, 90, 60, 0, 30, 20, 40, 30),
                               element("large.jpg", 10, 10, 40, 30, 0, 12, 9, 20, 15) + "," +
                                   element("larger.jpg", 60, 10, 24, 16, -12, 1, 1, 22, 14)};
  std::string book = "{\"photoBook\":{\"scale\":" + std::to_string(scale) + ",\"pages\":[";
  for (const std::string& page : pages) book += "{\"elements\":[" + page + "]},";
  // One page more for each wrong picture (and the reason it fails for): the
  // large photo's window again.
  const struct {
    const char* wrong;
    const char* reason;
  } rows[] = {
      {"mirrored", "another picture"},
      {"turned", "another picture"},
      {"swapped", "another picture"},
      {"shifted 3", "misplaced by 3"},
      {"shifted 8", "misplaced by 8"},
      {"stretched", "misplaced"},
      {"channels", "PSNR"},
      {"blurred", "fine detail"},
      {"grey", "another picture"},
      {"another window", "another picture"},
  };
  for (const auto& row : rows) {
    const std::string name = std::string("w-") + row.wrong + ".jpg";
    fs::copy_file(sourceFile("large.jpg"), sourceFile(name));
    book += "{\"elements\":[" + element(name, 10, 10, 40, 30, 0, 12, 9, 20, 15) + "]},";
  }
  book.back() = ']';
  writeAlbum(book + "}}");
  ASSERT_EQ(run({"--exif-orientation"}).status, 0);
  const RunResult good = proof(dir_.file("proof"), {"--exif-orientation"});
  ASSERT_EQ(good.status, 0) << good.err;
  // Reduced by area instead, the book passes as well; the wrong pictures
  // below are made from those.
  ASSERT_EQ(run({"--exif-orientation", "--resample", "area"}).status, 0);
  const RunResult area = proof(dir_.file("area"), {"--exif-orientation"});
  ASSERT_EQ(area.status, 0) << area.err;

  // The wrong pictures, made from the right ones.
  const auto tamper = [&](const char* wrong) {
    const std::string path = outputFile(std::string("w-") + wrong + ".jpg");
    cv::Mat right = readPicture(path), made;
    const std::string how = wrong;
    if (how == "mirrored") cv::flip(right, made, 1);
    if (how == "turned") cv::rotate(right, made, cv::ROTATE_180);
    if (how == "swapped") cv::resize(readPicture(outputFile("shared.jpg")), made, right.size());
    if (how.rfind("shifted", 0) == 0) {  // across by the number of print pixels it names
      const cv::Matx23d by(1, 0, std::stod(how.substr(8)), 0, 1, 0);
      cv::warpAffine(right, made, by, right.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    }
    if (how == "stretched") {  // 5 % about its middle
      const cv::Point2f middle(right.cols / 2.0f, right.rows / 2.0f);
      cv::warpAffine(right, made, cv::getRotationMatrix2D(middle, 0, 1.05), right.size());
    }
    if (how == "channels") cv::cvtColor(right, made, cv::COLOR_BGR2RGB);
    if (how == "blurred") cv::GaussianBlur(right, made, {0, 0}, 2);
    if (how == "grey") made = cv::Mat(right.size(), right.type(), cv::Scalar::all(128));
    if (how == "another window") {
      cv::Mat scaled = readPicture(sourceFile("large.jpg"));
      cv::resize(scaled, scaled, right.size() * 2, 0, 0, cv::INTER_LINEAR);
      made = scaled(cv::Rect(right.cols, 0, right.cols, right.rows)).clone();
    }
    writeFile(path, encoded(".jpg", made));
  };
  for (size_t i = 0; i < std::size(rows); ++i) tamper(rows[i].wrong);
  const RunResult bad = proof(dir_.file("bad"), {"--exif-orientation"});
  EXPECT_EQ(bad.status, 1);
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].wrong);
    const std::string line = "vellomar-proof: photoBook.pages[" + std::to_string(4 + i) +
                             "]: below the thresholds: photoBook.pages[" + std::to_string(4 + i) +
                             "].elements[0]: ";
    const size_t at = bad.err.find(line);
    ASSERT_NE(at, std::string::npos) << bad.err;
    EXPECT_TRUE(holds(bad.err.substr(at, bad.err.find('\n', at) - at), rows[i].reason))
        << bad.err.substr(at, bad.err.find('\n', at) - at);
  }
  EXPECT_FALSE(holds(bad.err, "photoBook.pages[0]"));
  EXPECT_FALSE(holds(bad.err, "photoBook.pages[2]"));

  // The page in a real browser shows the drawings, not broken-image icons.
  if (kWindows) GTEST_SKIP() << "the browser is Debian's, outside wine";
  if (std::system("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "no chromium here";
  const std::string shot = dir_.file("shot.png");
  ASSERT_EQ(std::system(("chromium --headless --no-sandbox --disable-gpu --window-size=1200,900 "
                         "--screenshot=" +
                         shot + " file://" + dir_.file("bad/index.html") + " >/dev/null 2>&1")
                            .c_str()),
            0);
  cv::Mat hsv, coloured;
  cv::cvtColor(readPicture(shot), hsv, cv::COLOR_BGR2HSV);
  cv::inRange(hsv, cv::Scalar(0, 60, 40), cv::Scalar(180, 255, 255), coloured);
  EXPECT_GT(cv::countNonZero(coloured), 1200 * 900 / 20);
}

// A proof is never written into an album's directory, and never replaces a
// file it did not make. Transparent parts of a picture are drawn as paper;
// what the proof cannot judge or show is noted: a picture stored turned (with
// a word when its box has the upright picture's proportions), CMYK ink, a
// picture missing, a web address, an element the run leaves out.
TEST_F(ProofTest, ProofsReplaceNothingAndNoteWhatTheyCannotJudge) {
  cv::Mat clear = detailed(200, 100, 1), alpha(100, 200, CV_8UC1, cv::Scalar(255));
  cv::cvtColor(clear, clear, cv::COLOR_BGR2BGRA);
  alpha(cv::Rect(0, 0, 100, 100)).setTo(0);  // the left half is transparent
  cv::insertChannel(alpha, clear, 3);
  addPicture("clear.png", clear);
  // Stored 100 x 75 on its side, in a box of the upright picture's proportions.
  writeFile(sourceFile("turned.jpg"), withOrientation(encoded(".jpg", detailed(100, 75, 2)), 6));
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
                "mask":{"width":100,"height":50,"positionY":240}}},
      {"id":1,"image":{"src":"clear.png","width":10,"height":10}},
      {"image":{"src":"http://example.com/a.png","width":10,"height":10,"positionX":300}},
      {"image":{"src":"none.png","width":10,"height":10,"positionX":320}}]}]}})");
  ASSERT_EQ(run().status, -1);  // none.png is missing
  for (const std::string& directory : {sourceDir(), outputDir()}) {
    const auto files = std::distance(fs::directory_iterator(directory), fs::directory_iterator());
    const RunResult refused = proof(directory);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(
        holds(refused.err, ": is the directory of an album: the proof is not written into it"));
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), files);
  }
  fs::create_directory(dir_.file("proof"));
  writeFile(dir_.file("proof/page-1-after.jpg"), "a picture of the user's own");
  const RunResult result = proof(dir_.file("proof"));
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(holds(result.err,
                    "page-1-after.jpg: cannot be written: a file the proof did not make is "
                    "there, and is left as it is"))
      << result.err;
  EXPECT_EQ(readFile(dir_.file("proof/page-1-after.jpg")), "a picture of the user's own");
  EXPECT_TRUE(holds(result.err,
                    "elements[5]: its source picture cannot be loaded: what prints "
                    "is not judged"));
  const std::string index = readFile(dir_.file("proof/index.html"));
  EXPECT_TRUE(holds(index, "<b>The book fails</b>: 1 page, 1 below the thresholds (shown first)."));
  for (const std::string& note :
       {"before: photoBook.pages[0].elements[1]: stored turned (EXIF orientation 6): " +
            sourceFile("turned.jpg") +
            "; its box has the proportions of the upright picture, not of the stored one: the "
            "book was likely laid out with it upright (--exif-orientation)",
        std::string("before: photoBook.pages[0].elements[2]: stored as CMYK ink: drawn in the "
                    "image library's plain conversion to RGB"),
        std::string("before: photoBook.pages[0].elements[3]: not a picture element (its first key "
                    "is &quot;id&quot;, not &quot;image&quot;): its picture is left out of the "
                    "book"),
        std::string("before: photoBook.pages[0].elements[4]: http://example.com/a.png"),
        "after: photoBook.pages[0].elements[5]: " + outputFile("none.png") +
            ": the picture cannot be loaded"}) {
    EXPECT_TRUE(holds(index, note));
  }
  // The drawing's transparent half is paper; the other half is the picture.
  const cv::Mat before = readPicture(dir_.file("proof/page-1-before.jpg"));
  const double scale = before.cols / 330.0;
  const cv::Vec3b paper = before.at<cv::Vec3b>(cv::Point(50 * scale, 50 * scale));
  const cv::Vec3b picture = before.at<cv::Vec3b>(cv::Point(150 * scale, 50 * scale));
  EXPECT_GT(std::min({paper[0], paper[1], paper[2]}), 240) << paper;
  EXPECT_LT(picture[0], 230) << picture;
  // The second proof into it replaces its own files.
  EXPECT_EQ(proof(dir_.file("proof")).status, 1);
  // Proved as if prepared upright, the turned picture fails, with a word.
  EXPECT_TRUE(holds(proof(dir_.file("upright"), {"--exif-orientation"}).err,
                    "(EXIF orientation 6): if the book was prepared without "
                    "--exif-orientation, prove it without it too;"));
  EXPECT_TRUE(holds(readFile(dir_.file("upright/index.html")),
                    sourceFile("turned.jpg") + "; used upright (--exif-orientation)"));
}

// A book without a scale is judged at its pictures' own resolution: a wrong
// picture in it fails.
TEST_F(ProofTest, BooksWithoutAScaleAreJudgedToo) {
  cv::Mat picture = detailed(200, 150, 3), mirrored;
  addPicture("p.png", picture);
  writeAlbum(R"({"photoBook":{"pages":[{"elements":[)" +
             element("p.png", 0, 0, 100, 75, 0, 0, 0, 100, 75) + "]}]}}");
  ASSERT_EQ(run().status, 0);
  EXPECT_EQ(proof(dir_.file("proof")).status, 0);
  cv::flip(picture, mirrored, 1);
  writeFile(outputFile("p.png"), encoded(".png", mirrored));
  EXPECT_EQ(proof(dir_.file("proof")).status, 1);
  EXPECT_TRUE(holds(readFile(dir_.file("proof/index.html")), "another picture"));
}

// The proof's command line, its thresholds and what it writes: a wrong
// command line is status 2; a stricter threshold fails a page that passes;
// names are escaped in the page; pages without pictures cost nothing but
// their line; a page that cannot be drawn is a failure of its own.
TEST_F(ProofTest, CommandLineThresholdsAndPagesThatCannotBeDrawn) {
  addPicture("p.png", detailed(300, 200, 1));
  addPicture("tiny.png", detailed(20, 15, 2));  // enlarged 5 times in its box
  std::string pages = R"({"elements":[)" + element("p.png", 0, 0, 150, 100, 0, 10, 10, 120, 80) +
                      "," + element("tiny.png", 0, 120, 100, 75, 0, 0, 0, 100, 75) +
                      R"(,{"image":{"src":"http://x/a<b.png","width":10,"height":10}}]})";
  for (int p = 0; p < 600; ++p) pages += p % 2 ? ",null" : R"(,{"elements":[{"text":"x"}]})";
  writeAlbum(R"({"photoBook":{"scale":1,"pages":[)" + pages + "]}}");
  ASSERT_EQ(run().status, 0);
  const std::string proofDir = dir_.file("proof");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says = nullptr;  // in the proof page
  } rows[] = {
      {{sourceDir(), outputDir()}, 2},
      {{"--size=0", sourceDir(), outputDir(), proofDir}, 2},
      {{"--min-psnr", "x", sourceDir(), outputDir(), proofDir}, 2},
      {{"--min-detail=-1", sourceDir(), outputDir(), proofDir}, 2},
      {{"--nope", sourceDir(), outputDir(), proofDir}, 2},
      {{"--size=300", sourceDir(), outputDir(), proofDir}, 0},
      {{"--min-psnr=200", "--", sourceDir(), outputDir(), proofDir}, 1, "PSNR"},
      {{"--min-detail", "5", sourceDir(), outputDir(), proofDir}, 1, "fine detail"},
      {{"--min-alignment=1.01", sourceDir(), outputDir(), proofDir}, 1, "another picture"},
      {{"--max-shift", "-1", sourceDir(), outputDir(), proofDir}, 2},
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
      EXPECT_TRUE(holds(err.str(), "\nusage: vellomar-proof"));
    }
    EXPECT_TRUE(!row.says || holds(readFile(proofDir + kSeparator + "index.html"), row.says));
  }
  const std::string index = readFile(proofDir + kSeparator + "index.html");
  EXPECT_TRUE(holds(index, "a&lt;b.png"));
  EXPECT_TRUE(holds(index, "<img src=\"page-1-after.jpg\""));
  EXPECT_TRUE(holds(index,
                    "before: photoBook.pages[0].elements[1]: enlarged 5.0 times to print (0.20 "
                    "source pixels per printed pixel)"));
  // The pages without pictures: no drawing.
  EXPECT_EQ(std::distance(fs::directory_iterator(proofDir), fs::directory_iterator()), 5);
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
  // Drawings far larger than the memory left (an address space 64 MB over
  // what is in use): the page fails; a book with no other page has no proof.
  const auto starved = [&] {
    std::ostringstream out, err;
    const int status = withLittleMemory([&] {
      return runProofCommandLine(
          {"vellomar-proof", "--size", "10000", "--jobs", "1", sourceDir(), outputDir(), proofDir},
          out, err);
    });
    return std::to_string(status) + " " + err.str();
  };
  const std::string outOfMemory = "the page cannot be drawn: out of memory\n";
  EXPECT_EQ(starved(),
            "1 vellomar-proof: photoBook.pages[0]: below the thresholds: " + outOfMemory);
  for (const std::string& album : {sourceFile("album.desc"), outputFile("album.desc")}) {
    Json::Value book = parseJson(readFile(album));
    book["photoBook"]["pages"].resize(1);
    writeFile(album, book.toStyledString());
  }
  EXPECT_EQ(starved(), "2 vellomar-proof: no page could be drawn: " + outOfMemory);
#endif
}

}  // namespace
}  // namespace vellomar
