// Measures what each resampling prints of fine detail: makes pictures of
// fine patterns (a zone plate, woven fabric, small text, a halftone screen,
// a photo with grain), prepares an album of them reduced 3 to 15 times with
// vellomar --resample bilinear and --resample area, and prints for each
//
//   - the beat: the RMS difference, in levels, between what was made and a
//     reference (the picture as made, before its JPEG file, blurred by a
//     Gaussian as wide as the reduction in floating point, then sampled), both blurred again to
//     keep only what an eye sees as a pattern of its own (moire, a few printed pixels wide and
//     more);
//   - for the zone plate, the contrast left where its rings are finer than
//     a printed pixel (there, a sound reduction prints an even grey);
//
// against the targets (a beat of at most one level; at 6x and more, at most
// a quarter of bilinear's contrast; the exit status counts the misses by more
// than 10 %), and writes side-by-side crops (bilinear left, area right,
// enlarged) to show them.
//
// usage: resample_quality VELLOMAR WORK_DIR [CROP.png]

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 3000, kHeight = 2400;
const int kReductions[] = {3, 6, 10, 15};

// Rings whose frequency grows with the radius, to half a cycle per pixel at
// the far corner: cycles per pixel at radius r are r / kRings.
constexpr double kRings = 7684;

cv::Mat zonePlate() {
  cv::Mat plate(kHeight, kWidth, CV_8UC3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const auto v =
          cv::saturate_cast<uchar>(128 + 100 * std::cos(CV_PI * (x * x + y * y) / kRings));
      plate.at<cv::Vec3b>(y, x) = {v, v, v};
    }
  }
  return plate;
}

// Warp and weft threads of two colours, 4.3 and 3.7 pixels apart, each
// showing over the other in turn.
cv::Mat fabric() {
  cv::Mat cloth(kHeight, kWidth, CV_8UC3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double warp = 0.5 + 0.5 * std::sin(2 * CV_PI * x / 4.3);
      const double weft = 0.5 + 0.5 * std::sin(2 * CV_PI * y / 3.7);
      const bool over = (static_cast<int>(x / 4.3) + static_cast<int>(y / 3.7)) % 2 == 0;
      const double blue = over ? warp : 0.3 * warp, red = over ? 0.3 * weft : weft;
      cloth.at<cv::Vec3b>(y, x) = {cv::saturate_cast<uchar>(40 + 200 * blue),
                                   cv::saturate_cast<uchar>(60 + 60 * (blue + red)),
                                   cv::saturate_cast<uchar>(40 + 200 * red)};
    }
  }
  return cloth;
}

cv::Mat text() {
  cv::Mat page(kHeight, kWidth, CV_8UC3, cv::Scalar::all(245));
  for (int line = 0; line * 11 + 10 < kHeight; ++line) {
    for (int x = (line * 7) % 30; x < kWidth; x += 330) {
      cv::putText(page, "The quick brown fox jumps over the lazy dog", {x, line * 11 + 10},
                  cv::FONT_HERSHEY_SIMPLEX, 0.33, cv::Scalar::all(20), 1, cv::LINE_AA);
    }
  }
  return page;
}

// A smooth colour field printed as dots on a screen turned by 45 degrees,
// 5 pixels apart, scanned.
cv::Mat halftone() {
  cv::RNG rng(7);
  cv::Mat field(4, 5, CV_32FC3);
  rng.fill(field, cv::RNG::UNIFORM, 0.1, 0.9);
  cv::resize(field, field, {kWidth, kHeight}, 0, 0, cv::INTER_CUBIC);
  cv::Mat screen(kHeight, kWidth, CV_8UC3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double u = (x + y) / (5 * std::sqrt(2.0)), v = (x - y) / (5 * std::sqrt(2.0));
      const double dot = 0.25 * (2 + std::cos(2 * CV_PI * u) + std::cos(2 * CV_PI * v));  // 0..1
      const cv::Vec3f ink = field.at<cv::Vec3f>(y, x);
      cv::Vec3b& pixel = screen.at<cv::Vec3b>(y, x);
      for (int c = 0; c < 3; ++c) pixel[c] = dot < ink[c] ? 255 : 30;
    }
  }
  return screen;
}

cv::Mat grain() {
  cv::RNG rng(11);
  cv::Mat field(6, 8, CV_8UC3);
  rng.fill(field, cv::RNG::UNIFORM, 40, 220);
  cv::Mat photo;
  cv::resize(field, photo, {kWidth, kHeight}, 0, 0, cv::INTER_CUBIC);
  cv::Mat noise(photo.size(), CV_8UC3);
  rng.fill(noise, cv::RNG::NORMAL, 0, 14);
  cv::subtract(photo, noise, photo);
  return photo;
}

struct Sample {
  const char* name;
  cv::Mat (*make)();
};

const Sample kSamples[] = {{"zone plate", zonePlate},
                           {"fabric", fabric},
                           {"text", text},
                           {"halftone", halftone},
                           {"grain", grain}};

// JPEG files, but the halftone, a scan, in PNG: in JPEG its hard dots ring,
// and a decoder's clipping of the ringing darkens it by up to 7 levels
// whatever the resampling.
std::string fileName(size_t sample, int reduction) {
  return "s" + std::to_string(sample) + "x" + std::to_string(reduction) +
         (sample == 3 ? ".png" : ".jpg");
}

// Only what shows as a pattern of its own: blurred by 2 printed pixels.
cv::Mat lowPass(const cv::Mat& picture) {
  cv::Mat soft;
  picture.convertTo(soft, CV_32F);
  cv::GaussianBlur(soft, soft, {0, 0}, 2.0);
  return soft;
}

double beat(const cv::Mat& made, const cv::Mat& reference) {
  const cv::Rect inside(8, 8, made.cols - 16, made.rows - 16);
  const cv::Mat a = lowPass(made)(inside), b = lowPass(reference)(inside);
  return cv::norm(a, b, cv::NORM_L2) / std::sqrt(static_cast<double>(a.total() * a.channels()));
}

// The contrast left where the plate's rings are finer than 1.5 printed
// pixels, as a share of the plate's.
double aliasedContrast(const cv::Mat& made, int reduction) {
  cv::Mat fine(made.size(), CV_8U, cv::Scalar(0));
  for (int y = 0; y < made.rows; ++y) {
    for (int x = 0; x < made.cols; ++x) {
      const double radius = std::hypot(x + 0.5, y + 0.5) * reduction;
      fine.at<uchar>(y, x) = radius / kRings > 0.75 / reduction ? 255 : 0;
    }
  }
  cv::Mat grey;
  cv::cvtColor(made, grey, cv::COLOR_BGR2GRAY);
  cv::Scalar mean, deviation;
  cv::meanStdDev(grey, mean, deviation, fine);
  return deviation[0] / (100 / std::sqrt(2.0));
}

// "met" at most `target`, "within 10%" up to a tenth more, "MISSED" beyond.
const char* verdict(double value, double target) {
  return value <= target ? "met" : value <= target * 1.1 ? "within 10%" : "MISSED";
}

int run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status != 0) std::fprintf(stderr, "resample_quality: %s failed\n", command.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: resample_quality VELLOMAR WORK_DIR [CROP.png]\n");
    return 2;
  }
  const std::string vellomar = argv[1], work = argv[2];
  const std::string in = work + "/in";
  ::mkdir(work.c_str(), 0777);
  ::mkdir(in.c_str(), 0777);
  // One element for each picture at each reduction, the whole box seen.
  std::ostringstream album;
  album << R"({"photoBook":{"scale":1,"pages":[{"elements":[)";
  bool first = true;
  std::vector<cv::Mat> references;  // for each picture and reduction
  for (size_t s = 0; s < std::size(kSamples); ++s) {
    const cv::Mat picture = kSamples[s].make();
    for (const int reduction : kReductions) {
      const std::string name = fileName(s, reduction);
      if (!cv::imwrite(in + "/" + name, picture, {cv::IMWRITE_JPEG_QUALITY, 95})) return 1;
      const int width = kWidth / reduction, height = kHeight / reduction;
      // From the picture itself, not as a decoder reads its JPEG file (which
      // clips the ringing around hard edges and darkens a halftone).
      cv::Mat reference;
      picture.convertTo(reference, CV_32F);
      cv::GaussianBlur(reference, reference, {0, 0}, reduction / 2.5);
      cv::resize(reference, reference, {width, height}, 0, 0, cv::INTER_AREA);
      references.push_back(reference);
      album << (first ? "" : ",") << R"({"image":{"src":")" << name << R"(","width":)" << width
            << R"(,"height":)" << height << R"(,"mask":{"width":)" << width << R"(,"height":)"
            << height << "}}}";
      first = false;
    }
  }
  album << "]}]}}";
  FILE* out = std::fopen((in + "/album.desc").c_str(), "wb");
  if (out == nullptr) return 1;
  std::fputs(album.str().c_str(), out);
  std::fclose(out);
  for (const char* resampling : {"bilinear", "area"}) {
    if (run(vellomar + " --resample " + resampling + " " + in + " " + work + "/" + resampling +
            " 0 >/dev/null") != 0) {
      return 1;
    }
  }

  int missed = 0;
  std::printf("%-11s %9s %15s %11s  %s\n", "picture", "reduction", "beat bilinear", "beat area",
              "target: area at most 1");
  for (size_t s = 0, k = 0; s < std::size(kSamples); ++s) {
    for (const int reduction : kReductions) {
      const std::string name = fileName(s, reduction);
      const cv::Mat bilinear = cv::imread(work + "/bilinear/" + name);
      const cv::Mat area = cv::imread(work + "/area/" + name);
      const cv::Mat& reference = references[k++];
      const double wide = beat(bilinear, reference), averaged = beat(area, reference);
      std::printf("%-11s %8dx %15.2f %11.2f  %s\n", kSamples[s].name, reduction, wide, averaged,
                  verdict(averaged, 1));
      missed += averaged > 1.1 ? 1 : 0;
    }
  }
  std::printf("\n%-11s %9s %15s %11s %7s  %s\n", "zone plate", "reduction", "bilinear", "area",
              "ratio", "target: ratio at most 0.25");
  for (const int reduction : kReductions) {
    const std::string name = fileName(0, reduction);
    const double wide = aliasedContrast(cv::imread(work + "/bilinear/" + name), reduction);
    const double averaged = aliasedContrast(cv::imread(work + "/area/" + name), reduction);
    std::printf("%-11s %8dx %14.1f%% %10.1f%% %7.2f  %s\n", "", reduction, 100 * wide,
                100 * averaged, averaged / wide,
                reduction < 6 ? "" : verdict(averaged / wide, 0.25));
    missed += reduction >= 6 && averaged / wide > 0.25 * 1.1 ? 1 : 0;
  }
  if (argc == 4) {
    // The zone plate at 6x and the fabric at 15x: bilinear left, area right,
    // each pixel shown 3 times each way.
    const std::pair<size_t, int> shown[] = {{0, 6}, {1, 15}};
    const cv::Rect crop(0, 0, 150, 110);
    cv::Mat side(2 * crop.height * 3 + 8, 2 * crop.width * 3 + 8, CV_8UC3, cv::Scalar::all(255));
    for (int row = 0; row < 2; ++row) {
      const std::string name = fileName(shown[row].first, shown[row].second);
      for (int column = 0; column < 2; ++column) {
        cv::Mat part;
        cv::resize(cv::imread(work + (column == 0 ? "/bilinear/" : "/area/") + name)(crop), part,
                   {}, 3, 3, cv::INTER_NEAREST);
        part.copyTo(
            side(cv::Rect(column * (part.cols + 8), row * (part.rows + 8), part.cols, part.rows)));
      }
    }
    if (!cv::imwrite(argv[3], side, {cv::IMWRITE_PNG_COMPRESSION, 9})) return 1;
  }
  return missed;
}
