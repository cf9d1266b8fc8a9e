#include "app/proof_run.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <new>
#include <numeric>
#include <opencv2/core.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

#include "album/album_format.h"
#include "album/album_walk.h"
#include "album/json_reader.h"
#include "app/run_report.h"
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
#include "proof/page_proof.h"
#include "util/diagnostics.h"
#include "util/progress.h"
#include "util/whole_file.h"

namespace vellomar {
namespace {

constexpr char kProgram[] = "vellomar-proof";

// The files a proof writes into its directory: its own, never one it did not
// make. The names it made are listed in the directory (kMadeFilesName) before
// they are written, so that a later proof replaces them; a file of another
// name that is there already is left as it is.
class ProofFiles {
 public:
  static constexpr char kMadeFilesName[] = ".vellomar-proof";

  ProofFiles(FileSystem& files, std::string directory, const std::vector<std::string>& names)
      : files_(files), directory_(std::move(directory) + '\\') {
    std::string listed, error;
    files_.readFile(directory_ + kMadeFilesName, listed, error, uint64_t{16} << 20);
    std::istringstream lines(listed);
    std::set<std::string> made;
    for (std::string line; std::getline(lines, line);) made.insert(line);
    for (const std::string& name : names) {
      if (made.count(name) == 0 && fileIdentity(files_, directory_ + name)) {
        foreign_.insert(name);
      } else {
        made.insert(name);
      }
    }
    for (const std::string& name : made) list_ += name + '\n';
  }

  // Lists the names first; false when the list cannot be written.
  bool start(std::string& error) const {
    return writeFileAtomically(files_, directory_, kMadeFilesName, list_, Leftover::kKept, error);
  }

  bool write(const std::string& name, std::string_view bytes, std::string& error) const {
    if (foreign_.count(name) != 0) {
      error = "a file the proof did not make is there, and is left as it is";
      return false;
    }
    return writeFileAtomically(files_, directory_, name, bytes, Leftover::kKept, error);
  }

  std::string path(const std::string& name) const { return toOsPath(directory_ + name); }
  FileSystem& files() const { return files_; }

 private:
  FileSystem& files_;
  std::string directory_;
  std::set<std::string> foreign_;
  std::string list_;
};

// A page's elements as the two albums describe them, and the canvas they are
// drawn on; their pictures are not loaded yet.
struct PreparedPage {
  Canvas canvas;
  std::vector<ProofElement> elements;
  std::array<std::vector<std::string>, 2> paths;  // of each side's picture
  std::vector<std::vector<std::string>> notes;    // of each element
  std::string failure;                            // why the page cannot be drawn; "" when it can
};

// An element's pictures loaded, drawn and measured, and what its page is told
// of it.
struct ProvedElement {
  ElementProof proof;
  std::vector<std::string> notes;
  std::vector<std::string> failures;
  std::vector<PictureFigure> pictures;
  std::string failure;  // why it cannot be drawn; "" when it is
};

// Why a page's work failed.
std::string reasonOf(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "out of memory";
  const auto* library = dynamic_cast<const cv::Exception*>(&error);
  if (library == nullptr) return error.what();
  return library->code == cv::Error::StsNoMem ? "out of memory" : library->err;
}

// The pages of the two albums: each element's pictures loaded, drawn and let
// go by itself (elements side by side), then laid on its page.
class ProofPages {
 public:
  ProofPages(const ProofSettings& settings, const CodePage& codePage, const Json::Value& before,
             const Json::Value& after, const ProofFiles& files)
      : settings_(settings),
        codePage_(codePage),
        before_(before),
        after_(after),
        files_(files),
        scale_(asDouble(memberOf(memberOf(before, keys::kPhotoBook), keys::kScale)).value_or(0)) {}

  // Page `page` read; a page that cannot be (out of memory) has no elements
  // and the reason.
  PreparedPage prepare(Json::ArrayIndex page) const {
    try {
      return prepareOrThrow(page);
    } catch (const std::exception& error) {
      PreparedPage failed;
      failed.failure = reasonOf(error);
      return failed;
    }
  }

  // Element `e` of a prepared page, its pictures loaded at about the size
  // they are drawn at, drawn and measured; a failure (out of memory, say) is
  // its page's.
  ProvedElement prove(const PreparedPage& page, size_t e) const {
    ProvedElement proved;
    try {
      ProofElement element = page.elements[e];
      ElementProof& proof = proved.proof;
      // Each picture let go once drawn: only the regions of the source are
      // read again, to measure.
      const std::string beforeColours = load(
          page.paths[0][e], page.canvas, "before: " + element.place, element.before, proved.notes);
      noteResolution(element, proved.pictures, proved.notes, proved.failures);
      proof.shownBefore = drawSide(element.before, page.canvas, proof.before);
      element.before.picture.pixels.release();
      const std::string afterColours = load(page.paths[1][e], page.canvas,
                                            "after: " + element.place, element.after, proved.notes);
      if (beforeColours == "CMYK" && !element.after.picture.pixels.empty() &&
          afterColours != "CMYK") {
        proved.notes.push_back(element.place +
                               ": the prepared picture is no longer CMYK: its ink was converted "
                               "to RGB by a plain formula, and prints in other colours");
      }
      proof.shownAfter = drawSide(element.after, page.canvas, proof.after);
      if (proof.shownBefore && proof.shownAfter) proof.misplacement = misplacementOf(element);
      element.before.picture = element.after.picture = ShownPicture();
      proof.element = std::move(element);
    } catch (const std::exception& error) {
      proved.failure = reasonOf(error);
    }
    return proved;
  }

  // The figures of page `page`, its proved elements taken from `next` in
  // order and laid on it, its drawings written; a page that cannot be drawn
  // is a failing page.
  PageFigures finish(Json::ArrayIndex page, const PreparedPage& prepared,
                     const std::function<ProvedElement()>& next) const {
    std::string failure = prepared.failure;
    std::optional<PageProofer> proofer;
    std::vector<std::string> failures, notes;
    std::vector<PictureFigure> pictures;
    try {
      if (failure.empty()) {
        proofer.emplace(static_cast<int>(page), prepared.canvas, settings_.thresholds);
      }
    } catch (const std::exception& error) {
      failure = reasonOf(error);
    }
    for (size_t e = 0; e < prepared.elements.size(); ++e) {
      ProvedElement proved = next();  // taken even when the page has failed
      if (!failure.empty()) continue;
      if (!proved.failure.empty()) {
        failure = proved.failure;
        continue;
      }
      try {
        notes.insert(notes.end(), prepared.notes[e].begin(), prepared.notes[e].end());
        notes.insert(notes.end(), proved.notes.begin(), proved.notes.end());
        failures.insert(failures.end(), proved.failures.begin(), proved.failures.end());
        pictures.insert(pictures.end(), proved.pictures.begin(), proved.pictures.end());
        proofer->add(proved.proof);
      } catch (const std::exception& error) {
        failure = reasonOf(error);
      }
    }
    if (failure.empty()) {
      try {
        return written(page, proofer->finish(), std::move(notes), std::move(failures),
                       std::move(pictures));
      } catch (const std::exception& error) {
        failure = reasonOf(error);
      }
    }
    PageFigures figures;
    figures.page = static_cast<int>(page);
    figures.drawn = false;
    figures.passes = false;
    figures.failures.push_back("the page cannot be drawn: " + failure);
    return figures;
  }

 private:
  PreparedPage prepareOrThrow(Json::ArrayIndex page) const {
    PreparedPage prepared;
    const Json::Value& beforeElements = elementsOf(pagesOf(before_), page);
    const Json::Value& afterElements = elementsOf(pagesOf(after_), page);
    const Json::ArrayIndex count = std::max(entriesOf(beforeElements), entriesOf(afterElements));
    prepared.elements.resize(count);
    prepared.notes.resize(count);
    std::vector<cv::Point2d> corners;
    for (Json::ArrayIndex e = 0; e < count; ++e) {
      ProofElement& element = prepared.elements[e];
      element.place = elementPlace(static_cast<int>(page), static_cast<int>(e));
      prepared.paths[0].push_back(side(entryOf(beforeElements, e), settings_.sourceDir,
                                       settings_.useOriginPath, "before: " + element.place,
                                       element.before, prepared.notes[e]));
      prepared.paths[1].push_back(side(entryOf(afterElements, e), settings_.outputDir, false,
                                       "after: " + element.place, element.after,
                                       prepared.notes[e]));
      for (const ProofSide* drawn : {&element.before, &element.after}) {
        if (!drawn->drawn) continue;
        for (const cv::Point2d& corner : boxCorners(drawn->geometry)) corners.push_back(corner);
      }
    }
    prepared.canvas = canvasAround(corners, settings_.longSide);
    return prepared;
  }

  PageFigures written(Json::ArrayIndex page, PageProof proof, std::vector<std::string> notes,
                      std::vector<std::string> failures,
                      std::vector<PictureFigure> pictures) const {
    PageFigures& figures = proof.figures;
    figures.notes.insert(figures.notes.end(), notes.begin(), notes.end());
    figures.pictures = std::move(pictures);
    figures.failures.insert(figures.failures.end(), failures.begin(), failures.end());
    const std::string stem = "page-" + std::to_string(page + 1);
    figures.before = stem + "-before.jpg";
    figures.after = stem + "-after.jpg";
    figures.difference = stem + "-difference.png";
    write(figures.before, proof.before, figures);
    write(figures.after, proof.after, figures);
    write(figures.difference, proof.difference, figures);
    figures.passes = pagePasses(figures, settings_.thresholds);
    return std::move(figures);
  }

  // One side of an element of the album in `directory`: its geometry, and
  // what it shows instead of a picture, noted. Returns the path of its
  // picture; "" when there is none to load.
  std::string side(const Json::Value& element, const std::string& directory, bool useOriginPath,
                   const std::string& where, ProofSide& side,
                   std::vector<std::string>& notes) const {
    const auto note = [&](const std::string& text) { notes.push_back(where + ": " + text); };
    if (!isPictureElement(element)) {
      if (const auto key = keyBeforeImage(element)) {
        note("not a picture element (its first key is \"" + *key +
             "\", not \"image\"): its picture is left out of the book");
      }
      return "";
    }
    if (const auto problem = readElementGeometry(element, where, side.geometry)) {
      note(problem->text);
      return "";
    }
    placeWindow(side.geometry);
    side.drawn = true;
    const SourcePath source = sourcePathOf(element, useOriginPath, codePage_);
    std::string label;
    if (source.status == SourcePath::Status::kProblem) {
      label = source.problem;
    } else if (source.status == SourcePath::Status::kNone) {
      label = "no source file";
    } else if (isSkippedSource(source.path)) {
      label = source.path;
      side.crossed = false;
    } else if (hasParentComponent(source.path)) {
      label = "the source path leads out of its directory";
    }
    if (!label.empty()) {
      side.label = {label};
      note(label);
      return "";
    }
    return directory + '\\' + source.path;
  }

  // Loads the picture at `path` of a side, for drawing on `canvas`; notes
  // when it cannot be loaded, and how it is stored. Returns the colour space
  // its file stores.
  std::string load(const std::string& path, const Canvas& canvas, const std::string& where,
                   ProofSide& side, std::vector<std::string>& notes) const {
    if (path.empty()) return "";
    const auto note = [&](const std::string& text) { notes.push_back(where + ": " + text); };
    const ElementGeometry& g = side.geometry;
    const cv::Size drawn(
        static_cast<int>(std::min(std::abs(g.boxWidth) * canvas.pixelsPerUnit, 1e5)),
        static_cast<int>(std::min(std::abs(g.boxHeight) * canvas.pixelsPerUnit, 1e5)));
    const LoadedPicture loaded =
        loadPictureToDraw(files_.files(), path, settings_.exifOrientation, drawn, shownDepth(g));
    side.picture.pixels = drawable(loaded.pixels);
    if (side.picture.pixels.empty()) {
      const std::string reason =
          loaded.problem.empty() ? "the image library cannot decode it" : loaded.problem;
      side.label = {path.substr(path.find_last_of("/\\") + 1), reason};
      note(toOsPath(path) + ": the picture cannot be loaded: " + reason);
      return "";
    }
    side.picture.size = loaded.size;
    side.picture.region = [region = loaded.region](cv::Rect rect) {
      return drawable(region(rect));
    };
    side.name = toOsPath(path.substr(path.find_last_of("/\\") + 1));
    noteHowStored(path, g, loaded, note);
    return loaded.colourSpace;
  }

  // The resolution the source picture of `element` prints at: noted when it
  // is enlarged more than a little, a failure past --max-enlargement.
  void noteResolution(const ProofElement& element, std::vector<PictureFigure>& pictures,
                      std::vector<std::string>& notes, std::vector<std::string>& failures) const {
    const ProofSide& side = element.before;
    if (side.picture.pixels.empty()) return;
    const ElementGeometry& g = side.geometry;
    const double resolution = printResolution(side.picture.size.width, side.picture.size.height,
                                              g.boxWidth, g.boxHeight, scale_);
    if (!std::isfinite(resolution) || resolution <= 0) return;
    pictures.push_back({element.place, side.name, resolution});
    const double enlargement = 1 / resolution;
    char text[160];
    std::snprintf(text, sizeof text,
                  ": enlarged %.1f times to print (%.2f source pixels per printed pixel)",
                  enlargement, resolution);
    const double most = settings_.thresholds.maxEnlargement;
    if (most > 0 && enlargement > most) {
      char limit[64];
      std::snprintf(limit, sizeof limit, ", more than %.1f (--max-enlargement)", most);
      failures.push_back(element.place + text + limit);
    } else if (enlargement > kNotedEnlargement) {
      notes.push_back("before: " + element.place + text);
    }
  }

  // Notes a picture stored turned, and one stored as CMYK ink.
  template <typename Note>
  void noteHowStored(const std::string& path, const ElementGeometry& g, const LoadedPicture& loaded,
                     const Note& note) const {
    const int orientation = loaded.metadata.orientation;
    if (orientation != 1 && loaded.metadata.decodedUpright) {
      note("stored turned (EXIF orientation " + std::to_string(orientation) +
           "): " + toOsPath(path) + "; used upright, as the image library reads it");
    } else if (orientation != 1) {
      std::string text =
          "stored turned (EXIF orientation " + std::to_string(orientation) + "): " + toOsPath(path);
      const cv::Size stored = loaded.storedSize;
      if (boxSuggestsUpright(g, stored.width, stored.height, orientation)) {
        text +=
            "; its box has the proportions of the upright picture, not of the stored one: "
            "the book was likely laid out with it upright";
        if (!settings_.exifOrientation) text += " (--exif-orientation)";
      }
      note(text);
    }
    if (loaded.colourSpace == "CMYK") {
      note("stored as CMYK ink: drawn in the image library's plain conversion to RGB: " +
           toOsPath(path));
    }
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
      figures.failures.push_back(files_.path(name) +
                                 ": cannot be written: " + (failure ? failure->message : error));
    }
  }

  const ProofSettings& settings_;
  const CodePage& codePage_;
  const Json::Value& before_;
  const Json::Value& after_;
  const ProofFiles& files_;
  const double scale_;  // of the source book
};

}  // namespace

int runProof(const ProofSettings& settings, const CodePage& codePage, FileSystem& fileSystem,
             std::ostream& out, std::ostream& err) {
  Diagnostics diagnostics(err, kProgram);
  Json::Value albums[2];
  const std::string* directories[] = {&settings.sourceDir, &settings.outputDir};
  for (int a = 0; a < 2; ++a) {
    const std::string file = *directories[a] + "\\album.desc";
    const std::string text = readWholeFile(fileSystem, file);
    if (text.empty() || !readJson(text, albums[a])) {
      diagnostics.problem(toOsPath(file), "", text.empty() ? "cannot be read" : "is not JSON");
      return kProofNotMade;
    }
  }
  // Nothing of the books is replaced: the proof goes beside them.
  const auto proofDirectory = directoryIdentity(fileSystem, settings.proofDir);
  for (const std::string* directory : directories) {
    const auto albumDirectory = directoryIdentity(fileSystem, *directory);
    if (proofDirectory && albumDirectory && proofDirectory->sameFile(*albumDirectory)) {
      diagnostics.problem(toOsPath(settings.proofDir), "",
                          "is the directory of an album: the proof is not written into it");
      return kProofNotMade;
    }
  }
  std::string error;
  if (!fileSystem.makeDirectory(settings.proofDir, error) && !error.empty()) {
    diagnostics.problem(toOsPath(settings.proofDir), "", "cannot be created: " + error);
    return kProofNotMade;
  }
  const size_t count = entriesOf(pagesOf(albums[0]));
  std::vector<std::string> names = {"index.html"};
  for (size_t p = 1; p <= count; ++p) {
    for (const char* drawing : {"-before.jpg", "-after.jpg", "-difference.png"}) {
      names.push_back("page-" + std::to_string(p) + drawing);
    }
  }
  const ProofFiles files(fileSystem, settings.proofDir, names);
  if (!files.start(error)) {
    diagnostics.problem(files.path(ProofFiles::kMadeFilesName), "", "cannot be written: " + error);
    return kProofNotMade;
  }
  prepareImageLibrary();
  Progress progress(err, settings.showProgress, 1, kProgram, "pages");
  progress.start(static_cast<int>(count));
  diagnostics.setProgress(&progress);
  const ProofPages proofer(settings, codePage, albums[0], albums[1], files);
  std::vector<PreparedPage> pages;
  std::vector<std::pair<size_t, size_t>> elements;  // (page, element) in order
  for (size_t p = 0; p < count; ++p) {
    pages.push_back(proofer.prepare(static_cast<Json::ArrayIndex>(p)));
    for (size_t e = 0; e < pages.back().elements.size(); ++e) elements.emplace_back(p, e);
  }
  std::vector<size_t> order(elements.size());
  std::iota(order.begin(), order.end(), size_t{0});
  const size_t workers =
      static_cast<size_t>(settings.workerCount > 0 ? settings.workerCount : onlineProcessorCount());
  std::vector<PageFigures> figures;
  {
    // Elements drawn and let go ahead of the page being laid: a few per worker.
    OrderedMap<ProvedElement> map(
        order, workers,
        [&](size_t i) { return proofer.prove(pages[elements[i].first], elements[i].second); },
        2 * workers + 1);
    if (!map.missingWorkers().empty()) {
      diagnostics.note("", "", map.missingWorkers() + ": the pictures are drawn by those");
    }
    size_t next = 0;
    for (size_t p = 0; p < count; ++p) {
      figures.push_back(proofer.finish(static_cast<Json::ArrayIndex>(p), pages[p],
                                       [&] { return map.take(next++); }));
      pages[p] = PreparedPage();
      progress.advance();
    }
  }
  diagnostics.setProgress(nullptr);
  progress.clear();
  if (count > 0 && std::none_of(figures.begin(), figures.end(),
                                [](const PageFigures& page) { return page.drawn; })) {
    diagnostics.problem("", "", "no page could be drawn: " + figures.front().failures.front());
    return kProofNotMade;
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

}  // namespace vellomar
