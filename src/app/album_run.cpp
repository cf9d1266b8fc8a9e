#include "app/album_run.h"

#include <algorithm>
#include <map>
#include <new>
#include <optional>
#include <vector>

#include "album/album_document.h"
#include "album/album_format.h"
#include "album/json_reader.h"
#include "album/json_writer.h"
#include "app/console_messages.h"
#include "app/exit_status.h"
#include "app/previous_run.h"
#include "app/run_report.h"
#include "pictures/derived_files.h"
#include "plan/album_plan.h"
#include "plan/record_rewrite.h"
#include "plan/run_settings.h"
#include "plan/run_state.h"
#include "platform/file_system.h"
#include "platform/os_path.h"
#include "util/diagnostics.h"
#include "util/progress.h"
#include "util/text_encoding.h"
#include "util/whole_file.h"

namespace vellomar {
namespace {

constexpr char kAlbumFileName[] = "album.desc";

// Reports a problem; one without a file is one of the album description.
void report(Diagnostics& diagnostics, const Problem& problem, const std::string& albumFile) {
  diagnostics.problem(problem.file.empty() ? albumFile : problem.file, problem.place, problem.text);
}

// For each of `jobs`, the job whose source picture its derived file would
// replace (itself included), when there is one.
std::vector<std::optional<size_t>> replacedSources(const std::vector<PictureJob>& jobs,
                                                   const std::string& outputDir) {
  using Identity = std::pair<uint64_t, uint64_t>;
  const auto identityOf = [](const std::string& path) -> std::optional<Identity> {
    const auto file = fileIdentity(path);
    if (!file) return std::nullopt;
    return Identity(file->device, file->inode);
  };
  std::map<std::string, std::optional<Identity>> sourceFiles, targets;
  std::map<Identity, size_t> sources;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const auto [at, fresh] = sourceFiles.emplace(jobs[i].sourceFilePath, std::nullopt);
    if (fresh) at->second = identityOf(jobs[i].sourceFilePath);
    if (at->second) sources.emplace(*at->second, i);
  }
  std::vector<std::optional<size_t>> replaced(jobs.size());
  for (size_t i = 0; i < jobs.size() && !sources.empty(); ++i) {
    const auto [at, fresh] = targets.emplace(jobs[i].derivedName, std::nullopt);
    if (fresh) at->second = identityOf(outputDir + jobs[i].derivedName);
    const std::optional<Identity>& target = at->second;
    const auto found = target ? sources.find(*target) : sources.end();
    if (found == sources.end()) continue;
    replaced[i] = sourceFiles[jobs[i].sourceFilePath] == target ? i : found->second;
  }
  return replaced;
}

// What an element's derived file is, for the report.
void describe(const ElementPlan& element, const DerivedFile& file, bool kept, double scale,
              ElementOutcome& outcome) {
  const ElementGeometry& g = element.geometry;
  const bool cut = file.path == DerivedPath::kReduce;
  outcome.decision = kept ? "kept" : cut ? "cut" : "copied";
  outcome.derived = element.newSrc;
  outcome.sized = true;
  outcome.width = cut ? element.job->region->width : file.pictureWidth;
  outcome.height = cut ? element.job->region->height : file.pictureHeight;
  outcome.windowWidth =
      originalSide(file.pictureWidth, g.maskWidth, truncateToInt(g.boxWidth).value_or(0));
  outcome.windowHeight =
      originalSide(file.pictureHeight, g.maskHeight, truncateToInt(g.boxHeight).value_or(0));
  outcome.resolution =
      printResolution(file.pictureWidth, file.pictureHeight, g.boxWidth, g.boxHeight, scale);
  outcome.resolved = true;
}

// What the run works with, for the walk over its elements.
struct Run {
  const RunSettings& settings;
  const CodePage& codePage;
  const std::string& outputDir;  // a tool path ending with a separator
  const std::string& albumFile;  // album.desc, as diagnostics name it
  Diagnostics& diagnostics;
};

// What the walk over the elements leaves.
struct ElementsDone {
  std::vector<DerivedFile> files;        // made or kept, one for each name
  std::vector<ElementOutcome> outcomes;  // in element order, for the report
  std::optional<Problem> fatal;          // the error that ended the walk
};

// The derived files of the planned elements, taken in element order:
// problems reported and records rewritten as each element's turn comes, up to
// an error that ends the run.
ElementsDone runElements(const Run& run, const AlbumPlan& plan, AlbumDocument& document) {
  ElementsDone done;
  std::vector<PictureJob> jobs;
  std::vector<const ElementPlan*> elementOfJob;
  for (const ElementPlan& element : plan.elements) {
    if (!element.job) continue;
    jobs.push_back(*element.job);
    elementOfJob.push_back(&element);
  }
  // Nothing of the customer's is replaced.
  const std::vector<std::optional<size_t>> replaced = replacedSources(jobs, run.outputDir);
  std::vector<PictureJob> work;
  if (std::any_of(replaced.begin(), replaced.end(), [](const auto& r) { return r.has_value(); })) {
    for (size_t i = 0; i < jobs.size(); ++i) {
      if (!replaced[i]) work.push_back(jobs[i]);
    }
  } else {
    work.swap(jobs);  // all of them: no copy of a long list
  }
  // What the last run left as this run would make it is kept as it is.
  std::vector<std::optional<DerivedFile>> kept =
      run.settings.rebuild ? std::vector<std::optional<DerivedFile>>()
                           : filesToKeep(work, run.outputDir, run.diagnostics);
  // A few pictures need no progress line.
  constexpr int kFewPictures = 4;
  Progress progress(run.diagnostics.stream(), run.settings.showProgress, kFewPictures);
  // The diagnostics erase the line before each of theirs, while it lives.
  struct Attachment {
    Diagnostics& diagnostics;
    ~Attachment() { diagnostics.setProgress(nullptr); }
  } attachment{run.diagnostics};
  run.diagnostics.setProgress(&progress);
  DerivedFiles files(std::move(work), std::move(kept), run.outputDir, run.settings.workerCount,
                     &progress);
  if (!files.missingWorkers().empty()) {
    run.diagnostics.note("", "", files.missingWorkers() + ": the pictures are made by those");
  }

  std::map<std::string, size_t> fileOfName;  // in done.files
  size_t job = 0;
  for (const ElementPlan& element : plan.elements) {
    document.read(element.page, element.element, element.reads);
    // Kept only for a report.
    ElementOutcome ignored;
    ElementOutcome& outcome =
        run.settings.reportFile.empty() ? ignored : done.outcomes.emplace_back();
    outcome.place = element.place;
    outcome.source = element.source;
    outcome.decision = "skipped";
    // Reported now, and kept for the report.
    const auto problem = [&](const std::string& file, const std::string& text,
                             const std::string& place) {
      run.diagnostics.problem(file, place, text);
      outcome.decision = "problem";
      outcome.problem = convertAnsiToUtf8(run.codePage, text);
    };
    if (element.problem) {
      problem(element.problem->file.empty() ? run.albumFile : element.problem->file,
              element.problem->text, element.problem->place);
    }
    if (!element.job) continue;
    const std::string derivedFile = toOsPath(run.outputDir + element.job->derivedName);
    const std::optional<size_t> replacing = replaced[job++];
    if (replacing) {
      problem(derivedFile,
              *replacing == job - 1 ? "the derived picture would replace its own source"
                                    : "the derived picture would replace the source picture of " +
                                          elementOfJob[*replacing]->place,
              element.place);
      continue;
    }
    const DerivedPicture picture = files.next();
    switch (picture.status) {
      case DerivedPicture::Status::kLibraryFailed:
        done.fatal =
            Problem{derivedFile, element.place, "the image library failed: " + picture.problem};
        outcome.decision = "problem";
        outcome.problem = convertAnsiToUtf8(run.codePage, done.fatal->text);
        return done;
      case DerivedPicture::Status::kOutOfMemory:
      case DerivedPicture::Status::kNotLoaded:
        problem(toOsPath(element.job->sourceFilePath),
                "the picture cannot be loaded" +
                    (picture.problem.empty() ? "" : ": " + picture.problem),
                element.place);
        continue;
      case DerivedPicture::Status::kNotEncoded:
        problem(derivedFile,
                "cannot be written: " + (picture.problem.empty()
                                             ? "the image library could not encode it"
                                             : picture.problem),
                element.place);
        continue;
      case DerivedPicture::Status::kNotWritten:
        problem(derivedFile, "cannot be written: " + picture.problem, element.place);
        continue;
      case DerivedPicture::Status::kMade:
      case DerivedPicture::Status::kKept: break;
    }
    const DerivedFile& file = picture.file;
    const auto [at, fresh] = fileOfName.emplace(file.derivedName, done.files.size());
    if (fresh) done.files.push_back(file);
    done.files[at->second] = file;  // the last one written under the name
    Json::Value image;
    const Json::Value& root = document.root;
    const Json::Value& elementValue =
        root[keys::kPhotoBook][keys::kPages][static_cast<Json::ArrayIndex>(element.page)]
            [keys::kElements][static_cast<Json::ArrayIndex>(element.element)];
    done.fatal = rewrittenImage(element, elementValue, file.path, file.pictureWidth,
                                file.pictureHeight, image);
    if (done.fatal) return done;
    document.rewrite(element.page, element.element, std::move(image));
    describe(element, file, picture.status == DerivedPicture::Status::kKept, plan.scale, outcome);
  }
  return done;
}

// The document's text as the file holds it: the final line feed is stored as
// CR LF, as a text-mode stream writes it (the text holds no other line feed).
// Its room is made for about the size of the text it was read from.
std::string fileText(const Json::Value& root, size_t readSize) {
  std::string text = writeJson(root, readSize + readSize / 8 + 2);
  text.back() = '\r';
  text += '\n';
  return text;
}

// The pass over the album; `written` says whether it got to write album.desc.
int runAlbum(const RunSettings& settings, const CodePage& codePage, std::ostream& out,
             Diagnostics& diagnostics, std::vector<ElementOutcome>& outcomes, bool& written) {
  const std::string inputPath = settings.sourceDir + kAlbumFileName;
  const std::string inputFile = toOsPath(inputPath);
  // The output would replace the source album's pictures and description.
  const auto sourceDirectory = directoryIdentity(settings.sourceDir);
  if (sourceDirectory && sourceDirectory == directoryIdentity(settings.outputDir)) {
    diagnostics.problem(toOsPath(settings.outputDir), "",
                        "is the source directory: nothing is written into it");
    return kExitFailure;
  }
  try {
    AlbumDocument document;
    size_t readSize = 0;
    {
      const std::string text = readWholeFile(inputPath);
      readSize = text.size();
      if (text.empty()) {
        printFileOpenError(out);
        diagnostics.note(inputFile, "", "cannot be opened, or holds no text");
        return kExitFailure;
      }
      JsonParseError parseError;
      if (!readJson(text, document.root, &parseError)) {
        printParseError(out, 0);
        diagnostics.note(inputFile,
                         "line " + std::to_string(parseError.line) + ", column " +
                             std::to_string(parseError.column),
                         "not readable as JSON: " + parseError.reason);
        return kExitFailure;
      }
    }

    // Only the last component is created. A directory that is not there then
    // ends the run before any picture is read.
    std::string error = "its name does not convert to Unicode";
    if (!ansiToWide(codePage, settings.outputDir.c_str()).empty()) {
      makeDirectory(settings.outputDir, &error);
    }
    if (!directoryIdentity(settings.outputDir)) {
      diagnostics.problem(toOsPath(settings.outputDir), "", "cannot be created: " + error);
      return kExitFailure;
    }
    const std::string outputDir = settings.outputDir + '\\';
    // One run at a time writes into a directory.
    const DirectoryLock lock(outputDir, settings.waitForOtherRuns, [&] {
      diagnostics.note(toOsPath(settings.outputDir), "",
                       "another run is writing into it: waiting for it to end");
    });
    if (!lock.held()) {
      diagnostics.problem(toOsPath(settings.outputDir), "",
                          lock.error().empty() ? "another run is writing into it"
                                               : "cannot be locked: " + lock.error());
      return kExitFailure;
    }
    removeStaleTemporaries(outputDir);

    const AlbumPlan plan = planAlbum(document.root, settings, codePage);
    const Run run{settings, codePage, outputDir, inputFile, diagnostics};
    ElementsDone done = runElements(run, plan, document);
    outcomes = std::move(done.outcomes);
    // Recorded for the next run; a run that made nothing leaves no record
    // where there was none.
    if (!done.files.empty() || fileIdentity(outputDir + kStateFileName)) {
      writeRunState(outputDir, done.files, diagnostics);
    }
    std::optional<Problem> fatal = done.fatal ? done.fatal : plan.fatal;
    if (fatal) {
      report(diagnostics, *fatal, inputFile);
      return kExitFailure;
    }
    document.finish();

    written =
        writeFileAtomically(outputDir, kAlbumFileName, fileText(document.root, readSize), error);
    if (!written) {
      diagnostics.problem(toOsPath(outputDir + kAlbumFileName), "", "cannot be written: " + error);
    }
  } catch (const std::bad_alloc&) {
    diagnostics.problem(inputFile, "", "out of memory");
    return kExitFailure;
  }
  return diagnostics.failed() ? kExitFailure : kExitSuccess;
}

}  // namespace

int processAlbum(const RunSettings& settings, const CodePage& codePage, std::ostream& out,
                 std::ostream& err) {
  Diagnostics diagnostics(err);
  std::vector<ElementOutcome> outcomes;
  bool written = false;
  const int status = runAlbum(settings, codePage, out, diagnostics, outcomes, written);
  if (settings.reportFile.empty()) return status;
  // The report goes beside whatever the run left, whatever that is.
  const std::string& path = settings.reportFile;
  const size_t separator = path.find_last_of("/\\");
  const std::string directory = separator == std::string::npos ? "" : path.substr(0, separator + 1);
  const std::string name = path.substr(directory.size());
  const std::string ended = written ? "" : convertAnsiToUtf8(codePage, diagnostics.lastText());
  std::string error = "it names a directory";
  if (name.empty() ||
      !writeFileAtomically(directory, name, reportText(outcomes, status, ended), error)) {
    diagnostics.problem(toOsPath(path), "", "cannot be written: " + error);
    return kExitFailure;
  }
  return status;
}

}  // namespace vellomar
