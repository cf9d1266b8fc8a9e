#include "proof/proof_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <set>
#include <sstream>

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
    "  --exif-orientation  pictures are turned upright by their EXIF orientation,\n"
    "                    as vellomar --exif-orientation turns them\n"
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

// Pictures as the drawings take them: 8-bit BGR, what is transparent in them
// shown as paper.
cv::Mat drawable(const cv::Mat& picture) {
  if (picture.empty()) return picture;
  cv::Mat eight = picture;
  if (picture.depth() == CV_16U) picture.convertTo(eight, CV_8U, 1 / 257.0);
  if (picture.depth() == CV_32F || picture.depth() == CV_64F) picture.convertTo(eight, CV_8U, 255);
  if (eight.depth() != CV_8U) picture.convertTo(eight, CV_8U);
  std::vector<cv::Mat> planes;
  cv::split(eight, planes);
  cv::Mat alpha;
  if (planes.size() == 2 || planes.size() == 4) {
    alpha = planes.back();
    planes.pop_back();
  }
  if (planes.size() == 1) planes.assign(3, planes.front());
  cv::Mat bgr;
  cv::merge(planes.data(), 3, bgr);
  if (alpha.empty()) return bgr;
  cv::Mat colour, opacity, blended;
  bgr.convertTo(colour, CV_32FC3);
  cv::Mat alphas[] = {alpha, alpha, alpha};
  cv::merge(alphas, 3, opacity);
  opacity.convertTo(opacity, CV_32FC3, 1 / 255.0);
  const cv::Mat paper(colour.size(), CV_32FC3, cv::Scalar::all(255));
  colour = colour.mul(opacity) + paper.mul(cv::Scalar::all(1) - opacity);
  colour.convertTo(blended, CV_8UC3);
  return blended;
}

// How far the proportions of a box (width / height) are from a picture's.
double proportionGap(double boxWidth, double boxHeight, cv::Size picture) {
  return std::abs(std::log(std::abs(boxWidth / boxHeight) *
                           (static_cast<double>(picture.height) / picture.width)));
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

// The files a proof writes into its directory: its own, never one it did not
// make. The names it made are listed in the directory (kMadeFilesName) before
// they are written, so that a later proof replaces them; a file of another
// name that is there already is left as it is.
class ProofFiles {
 public:
  static constexpr char kMadeFilesName[] = ".vellomar-proof";

  ProofFiles(std::string directory, const std::vector<std::string>& names)
      : directory_(std::move(directory) + '\\') {
    std::string listed;
    readFileBytes(directory_ + kMadeFilesName, listed, nullptr, uint64_t{16} << 20);
    std::istringstream lines(listed);
    std::set<std::string> made;
    for (std::string line; std::getline(lines, line);) made.insert(line);
    for (const std::string& name : names) {
      if (made.count(name) == 0 && fileIdentity(directory_ + name)) {
        foreign_.insert(name);
      } else {
        made.insert(name);
      }
    }
    for (const std::string& name : made) list_ += name + '\n';
  }

  // Lists the names first; false when the list cannot be written.
  bool start(std::string& error) const {
    return writeFileAtomically(directory_, kMadeFilesName, list_, error);
  }

  bool write(const std::string& name, std::string_view bytes, std::string& error) const {
    if (foreign_.count(name) != 0) {
      error = "a file the proof did not make is there, and is left as it is";
      return false;
    }
    return writeFileAtomically(directory_, name, bytes, error);
  }

  std::string path(const std::string& name) const { return toOsPath(directory_ + name); }

 private:
  std::string directory_;
  std::set<std::string> foreign_;
  std::string list_;
};

class PageProofer {
 public:
  PageProofer(const ProofSettings& settings, const CodePage& codePage, const Json::Value& before,
              const Json::Value& after, const ProofFiles& files)
      : settings_(settings), codePage_(codePage), before_(before), after_(after), files_(files) {}

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
      const LoadedPicture wasLoaded =
          load(was, "before", place, canvas, before, seenBefore, figures);
      const LoadedPicture isLoaded = load(is, "after", place, canvas, after, seenAfter, figures);
      const cv::Mat& wasPicture = wasLoaded.pixels;
      const cv::Mat& isPicture = isLoaded.pixels;
      if (wasLoaded.colourSpace == "CMYK" && !isPicture.empty() && isLoaded.colourSpace != "CMYK") {
        figures.notes.push_back(place +
                                ": the prepared picture is no longer CMYK: its ink was converted "
                                "to RGB by a plain formula, and prints in other colours");
      }
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
  LoadedPicture load(const Side& side, const char* which, const std::string& place,
                     const Canvas& canvas, cv::Mat& page, cv::Mat& seen,
                     PageFigures& figures) const {
    const auto note = [&](const std::string& text) {
      figures.notes.push_back(std::string(which) + ": " + place + ": " + text);
    };
    if (!side.drawn) {
      if (!side.label.empty()) note(side.label);
      return {};
    }
    LoadedPicture loaded;
    if (!side.path.empty()) loaded = loadPicture(side.path, settings_.exifOrientation);
    loaded.pixels = drawable(loaded.pixels);
    if (!loaded.pixels.empty()) {
      drawPicture(loaded.pixels, side.geometry, canvas, page, seen);
      noteHowStored(side, loaded, note);
    } else if (side.path.empty()) {
      drawBox(side.geometry, {side.label}, side.crossed, canvas, page);
      note(side.label);
    } else {
      std::string& reason = loaded.problem;
      if (reason.empty()) reason = "the image library cannot decode it";
      drawBox(side.geometry, {side.path.substr(side.path.find_last_of("/\\") + 1), reason}, true,
              canvas, page);
      note(toOsPath(side.path) + ": the picture cannot be loaded: " + reason);
    }
    return loaded;
  }

  // Notes a picture stored turned, and one stored as CMYK ink.
  template <typename Note>
  void noteHowStored(const Side& side, const LoadedPicture& loaded, const Note& note) const {
    const int orientation = loaded.metadata.orientation;
    if (orientation != 1) {
      std::string text = "stored turned (EXIF orientation " + std::to_string(orientation) +
                         "): " + toOsPath(side.path);
      const cv::Size stored = loaded.storedSize;
      const cv::Size upright(stored.height, stored.width);
      constexpr double kSameProportions = 0.03;
      const ElementGeometry& g = side.geometry;
      if (turnsSideways(orientation) &&
          proportionGap(g.boxWidth, g.boxHeight, upright) < kSameProportions &&
          proportionGap(g.boxWidth, g.boxHeight, stored) >= kSameProportions) {
        text +=
            "; its box has the proportions of the upright picture, not of the stored one: "
            "the book was likely laid out with it upright";
        if (!settings_.exifOrientation) text += " (--exif-orientation)";
      }
      note(text);
    }
    if (loaded.colourSpace == "CMYK") {
      note("stored as CMYK ink: drawn in the image library's plain conversion to RGB: " +
           toOsPath(side.path));
    }
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
    std::optional<LibraryError> failure;
    if (!libraryEncode(name.substr(name.rfind('.')), drawing, bytes, failure) ||
        !files_.write(name,
                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                      error)) {
      figures.failures.push_back(files_.path(name) + ": cannot be written: " + error);
    }
  }

  const ProofSettings& settings_;
  const CodePage& codePage_;
  const Json::Value& before_;
  const Json::Value& after_;
  const ProofFiles& files_;
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
  // Nothing of the books is replaced: the proof goes beside them.
  const auto proofDirectory = directoryIdentity(settings.proofDir);
  for (const std::string* directory : directories) {
    if (proofDirectory && proofDirectory == directoryIdentity(*directory)) {
      diagnostics.problem(toOsPath(settings.proofDir), "",
                          "is the directory of an album: the proof is not written into it");
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
  std::vector<std::string> names = {"index.html"};
  for (size_t p = 1; p <= count; ++p) {
    for (const char* drawing : {"-before.jpg", "-after.jpg", "-difference.png"}) {
      names.push_back("page-" + std::to_string(p) + drawing);
    }
  }
  const ProofFiles files(settings.proofDir, names);
  if (!files.start(error)) {
    diagnostics.problem(files.path(ProofFiles::kMadeFilesName), "", "cannot be written: " + error);
    return kProofNotMade;
  }
  prepareImageLibrary();
  Progress progress(err, settings.showProgress && count > 1);
  progress.start(static_cast<int>(count));
  diagnostics.setProgress(&progress);
  const PageProofer proofer(settings, codePage, albums[0], albums[1], files);
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
  if (!files.write("index.html",
                   proofIndexHtml(figures, settings.thresholds, toOsPath(settings.sourceDir),
                                  toOsPath(settings.outputDir)),
                   error)) {
    diagnostics.problem(files.path("index.html"), "", "cannot be written: " + error);
    return kProofNotMade;
  }
  out << files.path("index.html") << ": " << count << " pages, " << failing
      << " below the thresholds\n";
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
    if (arg == "--exif-orientation") {
      settings.exifOrientation = true;
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
