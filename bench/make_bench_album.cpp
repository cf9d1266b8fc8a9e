// Writes the benchmark album into the directory given as the first argument:
// album.desc and its pictures, the same bytes on every run.
//
//   24 photo-like JPEGs (quality 92) on the cut path: 12 of 12 MP
//   (4000 x 3000) and 12 of 24 MP (6000 x 4000); boxes of 2000-2800 pixels
//   on the long side, windows of 60-100 % of the box, some boxes rotated;
//   2 pictures of 12 MP shared by two elements each, and 2 pictures smaller
//   than their window (copy path); one "http..." and one "default" source.
//   32 elements on 6 pages.
//
// With --detailed, the same album of pictures with the grain of a camera
// (about 3.3 MB per 12 MP); with --doubled, every element twice (each picture
// shared by two elements). With --ten-pages, 40 pictures, 4 to a page on 10
// pages; --ten-pages-moved writes only that album.desc again with the first
// page's masks moved. With --strong, the 24 pictures of the first album
// reduced 6 to 15 times, as phone and camera photos are in a book. With
// --one-picture N, N elements of one small picture;
// with --tiny N, N elements of N tiny pictures of their own (100 to a page).

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

// `detail` 1 for today's album; higher gives the grain of a camera picture.
cv::Mat photo(int width, int height, uint64_t seed, int detail) {
  cv::RNG rng(seed);
  // A smooth colour field: a few random colours blown up.
  cv::Mat field(4, 6, CV_8UC3);
  rng.fill(field, cv::RNG::UNIFORM, 30, 230);
  cv::Mat picture;
  cv::resize(field, picture, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
  // Shapes with hard edges.
  for (int i = 0; i < 40; ++i) {
    const cv::Point center(rng.uniform(0, width), rng.uniform(0, height));
    const cv::Scalar colour(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255));
    if (i % 2) {
      cv::circle(picture, center, rng.uniform(height / 40, height / 8), colour, cv::FILLED,
                 cv::LINE_AA);
    } else {
      cv::rectangle(
          picture,
          cv::Rect(center, cv::Size(rng.uniform(20, width / 6), rng.uniform(20, height / 6))),
          colour, cv::FILLED);
    }
  }
  // Texture at a middle scale and fine grain.
  cv::Mat texture(height / (8 / detail), width / (8 / detail), CV_8UC3);
  rng.fill(texture, cv::RNG::NORMAL, 0, 18);
  cv::resize(texture, texture, picture.size(), 0, 0, cv::INTER_LINEAR);
  cv::Mat grain(picture.size(), CV_8UC3);
  rng.fill(grain, cv::RNG::NORMAL, 0, detail == 1 ? 6 : 9);
  cv::add(picture, texture, picture);
  cv::subtract(picture, grain, picture);
  return picture;
}

void save(const std::string& path, const cv::Mat& picture) {
  if (!cv::imwrite(path, picture, {cv::IMWRITE_JPEG_QUALITY, 92})) {
    std::fprintf(stderr, "make_bench_album: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

// One picture element: a box of boxWidth x boxHeight page units at (x, y),
// turned by `rotation`, seen through a window of `fraction` of the box whose
// corner lies `offset` (a fraction of the box) from the box's corner.
std::string element(const std::string& src, double boxWidth, double boxHeight, double rotation,
                    double fraction, double offset) {
  std::ostringstream out;
  const double x = 50, y = 40;
  out << "{\"image\":{\"src\":\"" << src << "\",\"width\":" << boxWidth
      << ",\"height\":" << boxHeight << ",\"positionX\":" << x << ",\"positionY\":" << y
      << ",\"rotation\":" << rotation << ",\"mask\":{\"width\":" << boxWidth * fraction
      << ",\"height\":" << boxHeight * fraction << ",\"positionX\":" << x + boxWidth * offset
      << ",\"positionY\":" << y + boxHeight * offset << "}},\"type\":\"photo\"}";
  return out.str();
}

// Writes `elements` into DIRECTORY/album.desc, on `pages` pages.
int writeAlbum(const std::string& dir, const std::vector<std::string>& elements, size_t pages,
               const char* scale = "0.1") {
  std::ostringstream album;
  album << "{\"photoBook\":{\"scale\":" << scale << ",\"pages\":[";
  const size_t perPage = (elements.size() + pages - 1) / pages;
  for (size_t page = 0; page < pages; ++page) {
    album << (page ? "," : "") << "{\"elements\":[";
    for (size_t k = page * perPage; k < std::min(elements.size(), (page + 1) * perPage); ++k) {
      album << (k > page * perPage ? "," : "") << elements[k];
    }
    album << "]}";
  }
  album << "]}}";
  FILE* out = std::fopen((dir + "/album.desc").c_str(), "wb");
  if (!out) return 1;
  std::fputs(album.str().c_str(), out);
  std::fclose(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc >= 3 ? argv[2] : "";
  const bool counted = mode == "--one-picture" || mode == "--tiny";
  const bool tenPages = mode == "--ten-pages" || mode == "--ten-pages-moved";
  if (argc < 2 || (counted ? argc != 4 : argc > 3) ||
      !(mode.empty() || counted || tenPages || mode == "--detailed" || mode == "--doubled" ||
        mode == "--strong")) {
    std::fprintf(stderr,
                 "usage: make_bench_album DIRECTORY [--detailed | --doubled | --strong |\n"
                 "                        --ten-pages | --ten-pages-moved | --one-picture N |\n"
                 "                        --tiny N]\n");
    return 2;
  }
  const std::string dir = argv[1];
  ::mkdir(dir.c_str(), 0777);
  ::mkdir((dir + "/photos").c_str(), 0777);
  if (counted) {
    // N elements of one small picture, or of N tiny pictures of their own.
    const long count = std::atol(argv[3]);
    std::vector<std::string> elements;
    for (long i = 0; i < count; ++i) {
      const std::string name =
          mode == "--tiny" ? "photos/t" + std::to_string(i) + ".jpg" : "photos/one.jpg";
      if (mode == "--tiny" || i == 0) save(dir + "/" + name, photo(32, 24, 4000 + i, 1));
      elements.push_back(element(name, 40, 30, 0, 0.5, 0.2));
    }
    return writeAlbum(dir, elements, static_cast<size_t>(std::max(1L, count / 100)), "1");
  }
  const int detail = mode == "--detailed" ? 2 : 1;
  if (tenPages) {
    // 40 pictures, 4 to a page on 10 pages; "moved": the first page's masks
    // moved, as when a page of the book changed since a run.
    std::vector<std::string> elements;
    for (int i = 0; i < 40; ++i) {
      const bool large = i % 2 == 1;
      const int width = large ? 6000 : 4000, height = large ? 4000 : 3000;
      const std::string name = "photos/p" + std::to_string(i) + ".jpg";
      if (mode == "--ten-pages") save(dir + "/" + name, photo(width, height, 1000 + i, detail));
      const double longSide = 200 + (i * 37) % 81;
      const double fraction = 0.6 + 0.4 * ((i * 7) % 10) / 9.0;
      const double moved = mode == "--ten-pages-moved" && i < 4 ? 0.01 : 0;
      elements.push_back(element(name, longSide, longSide * height / width, 0, fraction,
                                 (1 - fraction) / 2 + moved));
    }
    return writeAlbum(dir, elements, 10);
  }

  // Scale 0.1: a box of 280 page units is 2800 pixels.
  std::vector<std::string> elements;
  for (int i = 0; i < 24; ++i) {
    const bool large = i % 2 == 1;
    const int width = large ? 6000 : 4000, height = large ? 4000 : 3000;
    const std::string name = "photos/p" + std::to_string(i) + ".jpg";
    save(dir + "/" + name, photo(width, height, 1000 + i, detail));
    double longSide = 200 + (i * 37) % 81;                                 // 2000-2800 pixels
    if (mode == "--strong") longSide = width / (6 + (i * 7) % 10) / 10.0;  // 6-15x
    const double fraction = 0.6 + 0.4 * ((i * 7) % 10) / 9.0;
    const double rotation = i % 5 == 0 ? 90 : (i % 7 == 3 ? 12.5 : 0);
    elements.push_back(
        element(name, longSide, longSide * height / width, rotation, fraction, (1 - fraction) / 2));
  }
  for (int i = 0; i < 2; ++i) {
    const std::string name = "photos/shared" + std::to_string(i) + ".jpg";
    save(dir + "/" + name, photo(4000, 3000, 2000 + i, detail));
    elements.push_back(element(name, 240, 180, 0, 0.8, 0.1));
    elements.push_back(element(name, 200, 150, 0, 0.7, 0.1));
  }
  for (int i = 0; i < 2; ++i) {
    const std::string name = "photos/small" + std::to_string(i) + ".jpg";
    save(dir + "/" + name, photo(640, 480, 3000 + i, detail));
    elements.push_back(element(name, 240, 180, 0, 0.9, 0.05));
  }
  elements.push_back("{\"image\":{\"src\":\"https://example.com/sun.png\",\"width\":10}}");
  elements.push_back("{\"image\":{\"src\":\"default\"}}");

  // Every element twice: each picture shared by two elements.
  if (mode == "--doubled") {
    const std::vector<std::string> once = elements;
    elements.insert(elements.end(), once.begin(), once.end());
  }
  return writeAlbum(dir, elements, 6);
}
