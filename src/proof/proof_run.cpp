#include "proof/proof_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "album/album_format.h"
#include "album/json_reader.h"
#include "pictures/image_codecs.h"
#include "pictures/ordered_map.h"
#include "pictures/picture.h"
#include "plan/derived_image.h"
#include "plan/element_geometry.h"
#include "plan/source_path.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/os_path.h"
#include "platform/system.h"
#include "proof/page_drawing.h"
#include "util/diagnostics.h"
#include "util/progress.h"
#include "util/whole_file.h"

namespace vellomar {
namespace {

constexpr char kProgram[] = "vellomar-proof";
constexpr int kSearchPixels = 8;  // how far a window is looked for around its place

constexpr char kUsage[] =
    "usage: vellomar-proof [OPTIONS] SOURCE_DIR OUTPUT_DIR PROOF_DIR\n"
    "Draws every page of the album in SOURCE_DIR and of the album vellomar prepared\n"
    "from it in OUTPUT_DIR, and writes the drawings, their differences and\n"
    "PROOF_DIR/index.html. Exit status: 0 when every page agrees, 1 when a page\n"
    "falls below the thresholds, 2 when no proof could be made.\n"
    "  --size N          pixels of a drawing's long side (default 1600)\n"
    "  --min-psnr DB     least PSNR inside the masks for a page to pass (default 30)\n"
    "  --max-shift PX    largest misplacement of a derived picture, in its pixels\n"
    "                    (default 2.5)\n"
    "  --origin-path     SOURCE_DIR's album was run with the origin-path flag 1\n"
    "  --jobs N          pages drawn at once (default: one per processor)\n"
    "  -h, --help        print this help\n"
    "      --version     print the version\n";

// One picture element of one of the two albums.
struct Side {
  bool drawn = false;  // a picture element with a geometry to draw
  ElementGeometry geometry;
  std::string path;   // tool path of its picture; empty when there is none
  std::string label;  // why there is no picture, or what stands instead
  bool crossed = true;
};

Side sideOf(const Json::Value& element, const std::string& directory, bool useOriginPath,
            const CodePage& codePage, const std::string& place) {
  Side side;
  if (!isPictureElement(element)) return side;
  if (const auto problem = readElementGeometry(element, place, side.geometry)) {
    side.label = problem->text;
    return side;
  }
  placeWindow(side.geometry);
  side.drawn = true;
  const SourcePath source = sourcePathOf(element, useOriginPath, codePage);
  if (source.status == SourcePath::Status::kProblem) {
    side.label = source.problem;
  } else if (source.status == SourcePath::Status::kNone) {
    side.label = "no source file";
  } else if (isSkippedSource(source.path)) {
    side.label = source.path;
    side.crossed = false;
  } else if (hasParentComponent(source.path)) {
    side.label = "the source path leads out of its directory";
  } else {
    side.path = directory + '\\' + source.path;
  }
  return side;
}

// Pictures as the drawings take them: 8-bit BGR.
cv::Mat drawable(const cv::Mat& picture) {
  if (picture.empty()) return picture;
  cv::Mat eight = picture;
  if (picture.depth() == CV_16U) picture.convertTo(eight, CV_8U, 1 / 257.0);
  if (picture.depth() == CV_32F || picture.depth() == CV_64F) picture.convertTo(eight, CV_8U, 255);
  if (eight.depth() != CV_8U) picture.convertTo(eight, CV_8U);
  cv::Mat bgr;
  if (eight.channels() == 1) {
    cv::cvtColor(eight, bgr, cv::COLOR_GRAY2BGR);
  } else if (eight.channels() == 4) {
    cv::cvtColor(eight, bgr, cv::COLOR_BGRA2BGR);
  } else {
    bgr = eight;
  }
  return bgr;
}

// Read only, never inserting: null where the document has nothing.
const Json::Value kNothing;

const Json::Value& member(const Json::Value& value, const char* key) {
  return value.isObject() ? value[key] : kNothing;
}

const Json::Value& entry(const Json::Value& array, Json::ArrayIndex index) {
  return array.isArray() && index < array.size() ? array[index] : kNothing;
}

const Json::Value& pagesOf(const Json::Value& root) {
  return member(member(root, keys::kPhotoBook), keys::kPages);
}

const Json::Value& elementsOf(const Json::Value& pages, Json::ArrayIndex page) {
  return member(entry(pages, page), keys::kElements);
}

class PageProofer {
 public:
  PageProofer(const ProofSettings& settings, const CodePage& codePage, const Json::Value& before,
              const Json::Value& after)
      : settings_(settings), codePage_(codePage), before_(before), after_(after) {}

  PageFigures proof(Json::ArrayIndex page) const {
    const Json::Value& beforeElements = elementsOf(pagesOf(before_), page);
    const Json::Value& afterElements = elementsOf(pagesOf(after_), page);
    const Json::ArrayIndex count = std::max(beforeElements.isArray() ? beforeElements.size() : 0,
                                            afterElements.isArray() ? afterElements.size() : 0);
    std::vector<std::pair<Side, Side>> sides;
    std::vector<cv::Point2d> corners;
    for (Json::ArrayIndex e = 0; e < count; ++e) {
      const std::string place = elementPlace(static_cast<int>(page), static_cast<int>(e));
      sides.emplace_back(
          sideOf(entry(beforeElements, e), settings_.sourceDir, settings_.useOriginPath, codePage_,
                 place),
          sideOf(entry(afterElements, e), settings_.outputDir, false, codePage_, place));
      for (const Side* side : {&sides.back().first, &sides.back().second}) {
        if (!side->drawn) continue;
        for (const cv::Point2d& corner : boxCorners(side->geometry)) corners.push_back(corner);
      }
    }
    const Canvas canvas = canvasAround(corners, settings_.longSide);
    const cv::Scalar paper(255, 255, 255);
    cv::Mat before(canvas.size, CV_8UC3, paper), after(canvas.size, CV_8UC3, paper);
    cv::Mat seenBefore = cv::Mat::zeros(canvas.size, CV_8U), seenAfter = seenBefore.clone();
    PageFigures figures;
    figures.page = static_cast<int>(page);
    for (size_t e = 0; e < sides.size(); ++e) {
      const std::string place = elementPlace(static_cast<int>(page), static_cast<int>(e));
      const auto& [was, is] = sides[e];
      const cv::Mat wasPicture = load(was, "before", place, canvas, before, seenBefore, figures);
      const cv::Mat isPicture = load(is, "after", place, canvas, after, seenAfter, figures);
      if (!wasPicture.empty() && isPicture.empty()) {
        figures.failures.push_back(place + ": the prepared book has no picture here");
      }
      if (wasPicture.empty() || isPicture.empty()) continue;
      const double shift =
          misplacement(wasPicture, was.geometry, isPicture, is.geometry, kSearchPixels);
      if (shift > settings_.thresholds.maxMisplacement) {
        char text[64];
        std::snprintf(text, sizeof text, ": the derived picture lies %.1f px from its place",
                      shift);
        figures.failures.push_back(place + text);
      }
      if (shift > figures.misplacement || figures.misplacedPlace.empty()) {
        figures.misplacement = shift;
        figures.misplacedPlace = place;
      }
    }
    const cv::Mat difference = compare(before, after, seenBefore | seenAfter, figures);
    const std::string stem = "page-" + std::to_string(page + 1);
    figures.before = stem + "-before.jpg";
    figures.after = stem + "-after.jpg";
    figures.difference = stem + "-difference.png";
    write(figures.before, before, figures);
    write(figures.after, after, figures);
    write(figures.difference, difference, figures);
    figures.passes = pagePasses(figures, settings_.thresholds);
    return figures;
  }

 private:
  // Loads and draws one side of an element; returns its picture, if it has one.
  cv::Mat load(const Side& side, const char* which, const std::string& place, const Canvas& canvas,
               cv::Mat& page, cv::Mat& seen, PageFigures& figures) const {
    if (!side.drawn) {
      if (!side.label.empty())
        figures.notes.push_back(std::string(which) + ": " + place + ": " + side.label);
      return {};
    }
    std::string reason;
    cv::Mat picture = side.path.empty() ? cv::Mat() : drawable(loadPicture(side.path, reason));
    if (!picture.empty()) {
      drawPicture(picture, side.geometry, canvas, page, seen);
    } else if (side.path.empty()) {
      drawBox(side.geometry, {side.label}, side.crossed, canvas, page);
      figures.notes.push_back(std::string(which) + ": " + place + ": " + side.label);
    } else {
      if (reason.empty()) reason = "the image library cannot decode it";
      drawBox(side.geometry, {side.path.substr(side.path.find_last_of("/\\") + 1), reason}, true,
              canvas, page);
      figures.notes.push_back(std::string(which) + ": " + place + ": " + toOsPath(side.path) +
                              ": the picture cannot be loaded: " + reason);
    }
    return picture;
  }

  // The figures of the two drawings, and the difference drawing: white where
  // they agree, red as they differ, grey where no mask shows anything.
  static cv::Mat compare(const cv::Mat& before, const cv::Mat& after, const cv::Mat& seen,
                         PageFigures& figures) {
    cv::Mat diff;
    cv::absdiff(before, after, diff);
    cv::Mat squares;
    diff.convertTo(squares, CV_64F);
    squares = squares.mul(squares);
    squares.setTo(cv::Scalar::all(0), seen == 0);
    const double count = cv::countNonZero(seen);
    const cv::Scalar sums = cv::sum(squares);
    const double mse = (sums[0] + sums[1] + sums[2]) / (3 * count);
    figures.psnr = count == 0 ? NAN : mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
    cv::Mat channels[3];
    cv::split(diff, channels);
    const cv::Mat largest = cv::max(cv::max(channels[0], channels[1]), channels[2]);
    const cv::Mat fade = 255 - largest * 4;
    const cv::Mat planes[] = {fade, fade, cv::Mat(diff.size(), CV_8U, cv::Scalar(255))};
    cv::Mat drawing;
    cv::merge(planes, 3, drawing);
    drawing.setTo(cv::Scalar(200, 200, 200), seen == 0);
    return drawing;
  }

  // Writes a drawing into the proof directory; a failure is the page's.
  void write(const std::string& name, const cv::Mat& drawing, PageFigures& figures) const {
    std::vector<unsigned char> bytes;
    std::string error = "the image library could not encode it";
    if (!libraryEncode(name.substr(name.rfind('.')), drawing, bytes) ||
        !writeFileAtomically(
            settings_.proofDir + '\\', name,
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error)) {
      figures.failures.push_back(toOsPath(settings_.proofDir + '\\' + name) +
                                 ": cannot be written: " + error);
    }
  }

  const ProofSettings& settings_;
  const CodePage& codePage_;
  const Json::Value& before_;
  const Json::Value& after_;
};

}  // namespace

int runProof(const ProofSettings& settings, const CodePage& codePage, std::ostream& out,
             std::ostream& err) {
  Diagnostics diagnostics(err, kProgram);
  Json::Value albums[2];
  const std::string* directories[] = {&settings.sourceDir, &settings.outputDir};
  for (int a = 0; a < 2; ++a) {
    const std::string file = *directories[a] + "\\album.desc";
    const std::string text = readWholeFile(file);
    if (text.empty() || !readJson(text, albums[a])) {
      diagnostics.problem(toOsPath(file), "", text.empty() ? "cannot be read" : "is not JSON");
      return kProofNotMade;
    }
  }
  std::string error;
  if (!makeDirectory(settings.proofDir, &error) && !error.empty()) {
    diagnostics.problem(toOsPath(settings.proofDir), "", "cannot be created: " + error);
    return kProofNotMade;
  }
  const Json::Value& pages = pagesOf(albums[0]);
  const size_t count = pages.isArray() ? pages.size() : 0;
  prepareImageLibrary();
  Progress progress(err, settings.showProgress && count > 1);
  progress.start(static_cast<int>(count));
  diagnostics.setProgress(&progress);
  const PageProofer proofer(settings, codePage, albums[0], albums[1]);
  std::vector<size_t> order(count);
  for (size_t p = 0; p < count; ++p) order[p] = p;
  const size_t workers =
      static_cast<size_t>(settings.workerCount > 0 ? settings.workerCount : onlineProcessorCount());
  std::vector<PageFigures> figures;
  {
    OrderedMap<PageFigures> map(order, std::min(workers, count), [&](size_t page) {
      PageFigures made = proofer.proof(static_cast<Json::ArrayIndex>(page));
      progress.advance();
      return made;
    });
    for (size_t p = 0; p < count; ++p) figures.push_back(std::move(map.get(p)));
  }
  int failing = 0;
  for (const PageFigures& page : figures) {
    if (page.passes) continue;
    ++failing;
    char text[128];
    std::snprintf(text, sizeof text, "PSNR %.1f dB inside the masks, misplacement %.1f px",
                  page.psnr, page.misplacement);
    std::string why = text;
    for (const std::string& failure : page.failures) why += "; " + failure;
    diagnostics.note("", pagePlace(page.page), "below the thresholds: " + why);
  }
  diagnostics.setProgress(nullptr);
  progress.clear();
  const std::string index = settings.proofDir + "\\index.html";
  if (!writeFileAtomically(
          settings.proofDir + '\\', "index.html",
          proofIndexHtml(figures, settings.thresholds, toOsPath(settings.sourceDir),
                         toOsPath(settings.outputDir)),
          error)) {
    diagnostics.problem(toOsPath(index), "", "cannot be written: " + error);
    return kProofNotMade;
  }
  out << toOsPath(index) << ": " << count << " pages, " << failing << " below the thresholds\n";
  return failing > 0 ? kProofFails : kProofPasses;
}

int runProofCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                        bool errIsTerminal) {
  ProofSettings settings;
  settings.showProgress = errIsTerminal;
  std::vector<std::string> directories;
  const auto usageError = [&](const std::string& what) {
    err << kProgram << ": " << what << "\n" << kUsage;
    return kProofNotMade;
  };
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      out << kUsage;
      return kProofPasses;
    }
    if (arg == "--version") {
      out << kProgram << " " << VELLOMAR_VERSION << "\n";
      return kProofPasses;
    }
    if (arg == "--origin-path") {
      settings.useOriginPath = true;
      continue;
    }
    if (arg == "--size" || arg == "--min-psnr" || arg == "--max-shift" || arg == "--jobs") {
      if (i + 1 == args.size()) return usageError(arg + " needs a value");
      const std::string& text = args[++i];
      char* end = nullptr;
      const double value = std::strtod(text.c_str(), &end);
      const bool whole = value == std::floor(value);
      if (text.empty() || *end != '\0' || !std::isfinite(value) ||
          ((arg == "--size" || arg == "--jobs") && (!whole || value < 1 || value > 10000)) ||
          value < 0) {
        std::string what = "not a value for ";
        return usageError(what.append(arg).append(": ").append(text));
      }
      if (arg == "--size") settings.longSide = static_cast<int>(value);
      if (arg == "--jobs") settings.workerCount = static_cast<int>(value);
      if (arg == "--min-psnr") settings.thresholds.minPsnr = value;
      if (arg == "--max-shift") settings.thresholds.maxMisplacement = value;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return usageError("unknown option " + arg);
    directories.push_back(arg);
  }
  if (directories.size() != 3) return usageError("three directories are needed");
  settings.sourceDir = directories[0];
  settings.outputDir = directories[1];
  settings.proofDir = directories[2];
  keepFreedMemory();
  return runProof(settings, CodePage::fromLocale(), out, err);
}

}  // namespace vellomar
