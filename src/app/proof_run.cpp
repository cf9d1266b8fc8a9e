#include "app/proof_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
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
#include "pictures/jpeg_window.h"
#include "pictures/picture.h"
#include "pictures/png_writer.h"
#include "plan/album_plan.h"
#include "plan/source_path.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/os_path.h"
#include "platform/system.h"
#include "proof/element_proof.h"
#include "proof/page_drawing.h"
#include "proof/page_proof.h"
#include "util/diagnostics.h"
#include "util/ordered_map.h"
#include "util/progress.h"
#include "util/whole_file.h"

namespace vellomar {
namespace {

constexpr char kProgram[] = "vellomar-proof";
constexpr int kDrawingQuality = 90;  // of the drawings before and after, in JPEG

// The files a proof writes into its directory: its own, never one it did not
// make. The names it made are listed in the directory (kMadeFilesName) before
// they are written, so that a later proof replaces them; a file of another
// name that is there already is left as it is.
class ProofFiles {
 public:
  static constexpr char kMadeFilesName[] = ".vellomar-proof";

  ProofFiles(FileSystem& files, std::string directory, const std::vector<std::string>& names)
      : files_(files), directory_(std::move(directory) + '\\') {
    std::istringstream lines(
        files_.readFile(directory_ + kMadeFilesName, uint64_t{16} << 20).value_or(""));
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

  // Lists the names first.
  Expected<> start() const {
    return writeFileAtomically(files_, directory_, kMadeFilesName, list_, Leftover::kKept);
  }

  Expected<> write(const std::string& name, std::string_view bytes) const {
    if (foreign_.count(name) != 0) {
      return failure("a file the proof did not make is there, and is left as it is");
    }
    return writeFileAtomically(files_, directory_, name, bytes, Leftover::kKept);
  }

  std::string path(const std::string& name) const { return toOsPath(directory_ + name); }

 private:
  FileSystem& files_;
  std::string directory_;
  std::set<std::string> foreign_;
  std::string list_;
};

// Why a piece of the proof's work failed.
std::string reasonOf(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return kOutOfMemory;
  const auto* library = dynamic_cast<const cv::Exception*>(&error);
  if (library == nullptr) return error.what();
  return library->code == cv::Error::StsNoMem ? kOutOfMemory : library->err;
}

// A page's elements as the two albums describe them, and the canvas they are
// drawn on; their pictures are not loaded yet.
struct PreparedPage {
  Canvas canvas;
  std::vector<ProofElement> elements;
  std::vector<std::string> notes;
  std::string failure;  // why the page cannot be drawn; "" when it can
};

// An element proved, or why it could not be.
struct Proved {
  ElementProof proof;
  std::string failure;
};

// The pages of the two albums: each element proved by itself (side by side),
// then laid on its page.
class ProofPages {
 public:
  ProofPages(const ProofSettings& settings, const CodePage& codePage, FileSystem& files,
             const Json::Value& before, const Json::Value& after, const ProofFiles& proofFiles)
      : settings_(settings),
        codePage_(codePage),
        before_(before),
        after_(after),
        proofFiles_(proofFiles) {
    // The source book as the run plans it: which windows it cuts.
    PlanSettings run;
    run.sourceDir = settings.sourceDir + '\\';
    run.useOriginPath = settings.useOriginPath;
    run.exifOrientation = settings.exifOrientation;
    const AlbumPlan plan = planAlbum(before, run, codePage);
    context_.scale = plan.scale;
    for (const ElementPlan& element : plan.elements) {
      if (element.job) jobs_.emplace(std::make_pair(element.page, element.element), *element.job);
    }
    context_.thresholds = settings.thresholds;
    context_.upright = settings.exifOrientation;
    context_.load = [&files, upright = settings.exifOrientation](const std::string& path,
                                                                 const GridsFor& gridsFor) {
      const PictureOnGrids picture = loadPictureOnGrids(files, path, upright, gridsFor);
      // Memory the image library could not get fails the element's page, as
      // memory the proof's own work cannot get does.
      if (!picture.loaded && picture.problem == kOutOfMemory) throw std::bad_alloc();
      GridPicture grids;
      grids.loaded = picture.loaded;
      grids.problem = picture.problem;
      grids.orientation = picture.metadata.orientation;
      grids.decodedUpright = picture.metadata.decodedUpright;
      grids.colourSpace = picture.colourSpace;
      grids.storedSize = picture.storedSize;
      grids.size = picture.size;
      grids.cells = picture.cells;
      grids.covered = picture.covered;
      return grids;
    };
  }

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

  // Element `e` of a prepared page, drawn and judged.
  Proved prove(const PreparedPage& page, size_t e) const {
    Proved proved;
    try {
      ProofContext context = context_;
      context.canvas = page.canvas;
      proved.proof = proveElement(page.elements[e], context);
    } catch (const std::exception& error) {
      proved.failure = reasonOf(error);
    }
    return proved;
  }

  // The figures of page `page`, its proved elements taken from `next` in
  // order and laid on it, its drawings written; a page that cannot be drawn
  // is a failing page.
  PageFigures finish(Json::ArrayIndex page, const PreparedPage& prepared,
                     const std::function<Proved()>& next) const {
    std::string failure = prepared.failure;
    std::optional<PageProofer> proofer;
    try {
      if (failure.empty()) proofer.emplace(static_cast<int>(page), prepared.canvas);
    } catch (const std::exception& error) {
      failure = reasonOf(error);
    }
    for (size_t e = 0; e < prepared.elements.size(); ++e) {
      const Proved proved = next();  // taken even when the page has failed
      if (!failure.empty()) continue;
      if (!proved.failure.empty()) {
        failure = proved.failure;
        continue;
      }
      try {
        proofer->add(proved.proof);
      } catch (const std::exception& error) {
        failure = reasonOf(error);
      }
    }
    if (failure.empty()) {
      try {
        return written(page, proofer->finish(), prepared.notes);
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
    std::vector<cv::Point2d> corners;
    for (Json::ArrayIndex e = 0; e < count; ++e) {
      ProofElement element;
      element.place = elementPlace(static_cast<int>(page), static_cast<int>(e));
      side(entryOf(beforeElements, e), settings_.sourceDir, settings_.useOriginPath,
           "before: " + element.place, element.before, prepared.notes);
      side(entryOf(afterElements, e), settings_.outputDir, false, "after: " + element.place,
           element.after, prepared.notes);
      const auto job = jobs_.find({static_cast<int>(page), static_cast<int>(e)});
      if (job != jobs_.end()) element.job = job->second;
      for (const ProofSide* drawn : {&element.before, &element.after}) {
        if (!drawn->drawn) continue;
        for (const cv::Point2d& corner : boxCorners(drawn->geometry)) corners.push_back(corner);
      }
      // Only elements with something to draw are proved.
      if (element.before.drawn || element.after.drawn) {
        prepared.elements.push_back(std::move(element));
      }
    }
    prepared.canvas = canvasAround(corners, settings_.longSide);
    return prepared;
  }

  PageFigures written(Json::ArrayIndex page, PageProof proof,
                      const std::vector<std::string>& notes) const {
    PageFigures& figures = proof.figures;
    figures.notes.insert(figures.notes.begin(), notes.begin(), notes.end());
    if (!proof.before.empty()) {
      const std::string stem = "page-" + std::to_string(page + 1);
      figures.before = stem + "-before.jpg";
      figures.after = stem + "-after.jpg";
      figures.difference = stem + "-difference.png";
      write(figures.before, proof.before, figures);
      write(figures.after, proof.after, figures);
      write(figures.difference, proof.difference, figures);
    }
    figures.passes = figures.failures.empty();
    return std::move(figures);
  }

  // One side of an element of the album in `directory`: its geometry, its
  // picture's file, or what it shows instead of a picture, noted.
  void side(const Json::Value& element, const std::string& directory, bool useOriginPath,
            const std::string& where, ProofSide& side, std::vector<std::string>& notes) const {
    const auto note = [&](const std::string& text) { notes.push_back(where + ": " + text); };
    if (!isPictureElement(element)) {
      if (const auto key = keyBeforeImage(element)) {
        note("not a picture element (its first key is \"" + *key +
             "\", not \"image\"): its picture is left out of the book");
      }
      return;
    }
    if (const Expected<> read = readElementGeometry(element, where, side.geometry); !read.ok()) {
      note(read.reason());
      return;
    }
    placeWindow(side.geometry);
    side.drawn = true;
    const ElementSource source = elementSourceOf(element, directory, useOriginPath, codePage_);
    std::string label;
    switch (source.kind) {
      case ElementSource::Kind::kFile: side.path = source.filePath; return;
      case ElementSource::Kind::kProblem: label = source.problem; break;
      case ElementSource::Kind::kNone: label = "no source file"; break;
      case ElementSource::Kind::kSkipped:
        label = source.source.path;
        side.crossed = false;
        break;
    }
    side.label = {label};
    note(label);
  }

  // Writes a drawing into the proof directory; a failure is the page's.
  void write(const std::string& name, const cv::Mat& drawing, PageFigures& figures) const {
    std::string bytes;
    if (name.substr(name.rfind('.')) == ".png") {
      bytes = encodePng(drawing);
    } else {
      std::vector<unsigned char> encoded;
      if (encodeJpegToView(drawing, kDrawingQuality, encoded))
        bytes.assign(encoded.begin(), encoded.end());
    }
    const Expected<> written =
        bytes.empty() ? failure("it cannot be encoded") : proofFiles_.write(name, bytes);
    if (!written.ok()) {
      figures.failures.push_back(proofFiles_.path(name) +
                                 ": cannot be written: " + written.reason());
    }
  }

  const ProofSettings& settings_;
  const CodePage& codePage_;
  const Json::Value& before_;
  const Json::Value& after_;
  const ProofFiles& proofFiles_;
  ProofContext context_;
  std::map<std::pair<int, int>, PictureJob> jobs_;  // by page and element
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
  const Expected<bool> made = fileSystem.makeDirectory(settings.proofDir);
  if (!made.ok()) {
    diagnostics.problem(toOsPath(settings.proofDir), "", "cannot be created: " + made.reason());
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
  if (const Expected<> listed = files.start(); !listed.ok()) {
    diagnostics.problem(files.path(ProofFiles::kMadeFilesName), "",
                        "cannot be written: " + listed.reason());
    return kProofNotMade;
  }
  prepareImageLibrary();
  Progress progress(err, settings.showProgress, 1, kProgram, "pages");
  progress.start(static_cast<int>(count));
  diagnostics.setProgress(&progress);
  const ProofPages proofer(settings, codePage, fileSystem, albums[0], albums[1], files);
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
    // Elements proved ahead of the page being laid: a few per worker.
    OrderedMap<Proved> map(
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
    std::string why;
    for (const std::string& failure : page.failures) why += (why.empty() ? "" : "; ") + failure;
    diagnostics.note("", pagePlace(page.page), "below the thresholds: " + why);
  }
  const Expected<> index = files.write(
      "index.html", proofIndexHtml(figures, settings.thresholds, toOsPath(settings.sourceDir),
                                   toOsPath(settings.outputDir)));
  if (!index.ok()) {
    diagnostics.problem(files.path("index.html"), "", "cannot be written: " + index.reason());
    return kProofNotMade;
  }
  out << files.path("index.html") << ": " << pagesBelowThresholds(count, failing) << "\n";
  return failing > 0 ? kProofFails : kProofPasses;
}

}  // namespace vellomar
