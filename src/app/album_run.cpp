#include "app/album_run.h"

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <vector>

#include "album/album_document.h"
#include "album/album_format.h"
#include "album/json_reader.h"
#include "album/json_writer.h"
#include "app/console_messages.h"
#include "app/exit_status.h"
#include "app/output_directory.h"
#include "app/run_report.h"
#include "app/run_settings.h"
#include "pictures/derived_files.h"
#include "plan/album_plan.h"
#include "plan/derived_image.h"
#include "plan/record_rewrite.h"
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
constexpr char kReportRefused[] =
    "cannot be written: it would replace a file of the album (its description, a picture or a "
    "file of vellomar's)";

// What the report may never replace: the files of the album (found by their
// identity, links followed), and the files the run writes, or vellomar wrote,
// in the output directory (by name).
struct Protected {
  std::vector<FileIdentity> files;
  std::string outputDir;  // a tool path ending with a separator; "" when there is none
  std::optional<FileIdentity> outputDirectory;
  std::map<std::string, std::string> outputNames;  // by folded name

  void addOutputName(const std::string& name) { outputNames.emplace(foldedName(name), name); }

  // Whether a report written to `path` would replace a protected file, or
  // write into one through a link.
  bool replacedBy(FileSystem& fileSystem, const std::string& path) const {
    const auto target = fileIdentity(fileSystem, path);
    const auto isProtected = [&](const FileIdentity& file) {
      return std::any_of(files.begin(), files.end(),
                         [&](const FileIdentity& other) { return file.sameFile(other); });
    };
    if (target && isProtected(*target)) return true;
    const size_t separator = path.find_last_of("/\\");
    const std::string directory =
        separator == std::string::npos ? "." : path.substr(0, separator + 1);
    const std::string name = path.substr(separator == std::string::npos ? 0 : separator + 1);
    const auto in = directoryIdentity(fileSystem, directory);
    if (in && outputDirectory && in->sameFile(*outputDirectory) &&
        (isReservedName(name) || outputNames.count(foldedName(name)) != 0)) {
      return true;
    }
    // A link to a file of the output directory is written through.
    const auto link = fileSystem.linkStatus(path);
    if (!target || !link || link->kind != FileStatus::Kind::kLink || outputDir.empty())
      return false;
    for (const auto& [folded, written] : outputNames) {
      const auto file = fileIdentity(fileSystem, outputDir + written);
      if (file && file->sameFile(*target)) return true;
    }
    return false;
  }
};

// For each of `jobs`, the job whose source picture its derived file would
// replace (itself included), when there is one.
std::vector<std::optional<size_t>> replacedSources(FileSystem& files,
                                                   const std::vector<PictureJob>& jobs,
                                                   const std::string& outputDir) {
  using Identity = std::pair<uint64_t, uint64_t>;
  const auto identityOf = [&](const std::string& path) -> std::optional<Identity> {
    const auto file = fileIdentity(files, path);
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
  const bool cut = file.derivation == Derivation::kCut;
  outcome.decision = kept ? "kept" : cut ? "cut" : "copied";
  outcome.derived = element.newSrc;
  outcome.renamedFrom = element.renamedFrom;
  outcome.inkConverted = file.inkConverted;
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

// One run: what it works with, and what it leaves for the report.
struct Run {
  Run(const RunSettings& settings, const CodePage& codePage, FileSystem& files, std::ostream& out,
      Diagnostics& diagnostics)
      : settings(settings), codePage(codePage), files(files), out(out), diagnostics(diagnostics) {}

  const RunSettings& settings;
  const CodePage& codePage;
  FileSystem& files;
  std::ostream& out;
  Diagnostics& diagnostics;
  std::string albumFile;                 // album.desc, as diagnostics name it
  std::string outputDir;                 // a tool path ending with a separator, once made
  std::vector<ElementOutcome> outcomes;  // in element order
  EncoderSettings encoder;               // how the derived files are encoded
  bool written = false;                  // album.desc was written
  std::string ended;                     // UTF-8: what ended the run early
  std::unique_ptr<DirectoryLock> lock;   // held until the report is written
  Protected kept;                        // what the report may not replace
  bool reportRefused = false;            // said so before anything was written

  // Reports a problem of the run, which then fails.
  int fail(const std::string& file, const std::string& place, const std::string& text) {
    diagnostics.problem(file, place, text);
    ended = convertAnsiToUtf8(codePage, text);
    return kExitFailure;
  }
};

// The picture jobs of a plan, in element order, and why the derived file of
// each must not be written, when it must not: it would replace a source
// picture of the album, or a file the tool did not write (unless asked to).
struct Work {
  std::vector<PictureJob> jobs;
  std::vector<const ElementPlan*> elements;  // of each job
  std::map<size_t, Problem> blocked;         // by job
};

// The work of `plan`; adds to what the report may not replace.
Work workOf(Run& run, const AlbumPlan& plan, OutputDirectory& output) {
  Work work;
  for (const ElementPlan& element : plan.elements) {
    if (!element.job) continue;
    work.jobs.push_back(*element.job);
    work.elements.push_back(&element);
  }
  const std::vector<PictureJob>& jobs = work.jobs;
  const std::vector<const ElementPlan*>& elements = work.elements;
  std::map<size_t, Problem>& blocked = work.blocked;
  const std::vector<std::optional<size_t>> replaced =
      replacedSources(run.files, jobs, run.outputDir);
  std::map<std::string, Ownership> ownerships;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const std::string& name = jobs[i].derivedName;
    const std::string path = toOsPath(run.outputDir + name);
    const std::string& place = elements[i]->place;
    if (replaced[i]) {
      blocked[i] = Problem{path, place,
                           *replaced[i] == i ? "the derived picture would replace its own source"
                                             : "the derived picture would replace the source "
                                               "picture of " +
                                                   elements[*replaced[i]]->place};
      continue;
    }
    if (run.settings.overwrite) continue;
    const auto [at, fresh] = ownerships.emplace(name, Ownership::kAbsent);
    if (fresh) at->second = output.ownership(name);
    if (at->second == Ownership::kForeign) {
      blocked[i] = Problem{path, place,
                           "a file vellomar did not write has this name: it is left as it is "
                           "(--overwrite replaces it)"};
    } else if (at->second == Ownership::kChanged) {
      blocked[i] = Problem{path, place,
                           "has changed since vellomar wrote it: it is left as it is "
                           "(--overwrite replaces it)"};
    }
  }
  if (run.settings.reportFile.empty()) return work;
  std::set<std::string> sources;
  for (const PictureJob& job : jobs) {
    if (!sources.insert(job.sourceFilePath).second) continue;
    if (const auto source = fileIdentity(run.files, job.sourceFilePath)) {
      run.kept.files.push_back(*source);
    }
    run.kept.addOutputName(job.derivedName);
  }
  return work;
}

// What the walk over the elements leaves.
struct ElementsDone {
  std::vector<DerivedFile> files;  // made or kept, one for each name
  std::optional<Problem> fatal;    // the error that ended the walk
};

// The derived files of the planned elements, taken in element order:
// problems reported and records rewritten as each element's turn comes, up to
// an error that ends the run.
ElementsDone runElements(Run& run, const AlbumPlan& plan, AlbumDocument& document,
                         OutputDirectory& output, Work planned) {
  ElementsDone done;
  const std::map<size_t, Problem>& blocked = planned.blocked;
  std::vector<PictureJob> work;
  if (!blocked.empty()) {
    for (size_t i = 0; i < planned.jobs.size(); ++i) {
      if (blocked.count(i) == 0) work.push_back(planned.jobs[i]);
    }
  } else {
    work.swap(planned.jobs);  // all of them: no copy of a long list
  }
  // What the last run left as this run would make it is kept as it is.
  RerunLedger ledger = output.planReruns(work, pictureMakersVersion(), run.settings.rebuild);
  // A few pictures need no progress line.
  constexpr int kFewPictures = 4;
  Progress progress(run.diagnostics.stream(), run.settings.showProgress, kFewPictures);
  // The diagnostics erase the line before each of theirs, while it lives.
  struct Attachment {
    Diagnostics& diagnostics;
    ~Attachment() { diagnostics.setProgress(nullptr); }
  } attachment{run.diagnostics};
  run.diagnostics.setProgress(&progress);
  DerivedFiles files(
      run.files, std::move(work), std::move(ledger), run.outputDir, run.settings.workerCount,
      [&](TemporaryFile& made, const std::string& name, uint64_t hash) {
        return output.putInPlace(made, name, hash);
      },
      &progress);
  if (!files.missingWorkers().empty()) {
    run.diagnostics.note("", "", files.missingWorkers() + ": the pictures are made by those");
  }

  const bool reporting = !run.settings.reportFile.empty();
  std::map<std::string, size_t> fileOfName;  // in done.files
  size_t job = 0;
  for (const ElementPlan& element : plan.elements) {
    document.read(element.page, element.element, element.reads);
    // Kept only for a report.
    ElementOutcome ignored;
    ElementOutcome& outcome = reporting ? run.outcomes.emplace_back() : ignored;
    outcome.place = element.place;
    outcome.source = element.source;
    outcome.decision = "skipped";
    // Reported now, and kept for the report.
    const auto problem = [&](const Problem& problem) {
      run.diagnostics.problem(problem.file, problem.place, problem.text);
      outcome.decision = "problem";
      outcome.problem = convertAnsiToUtf8(run.codePage, problem.text);
    };
    if (!element.leftOut.empty()) {
      run.diagnostics.note(run.albumFile, element.place,
                           convertUtf8ToAnsi(run.codePage, element.leftOut));
      outcome.reason = element.leftOut;
      continue;
    }
    if (element.problem) {
      Problem reported = *element.problem;
      if (reported.inDocument) reported.file = run.albumFile;
      problem(reported);
    }
    if (!element.job) {
      if (!element.problem) outcome.reason = element.skipped;
      continue;
    }
    if (const auto stop = blocked.find(job++); stop != blocked.end()) {
      problem(stop->second);
      continue;
    }
    if (!element.renamedFrom.empty()) {
      run.diagnostics.note(run.albumFile, element.place,
                           "its derived picture is named " + element.job->derivedName + ": " +
                               convertUtf8ToAnsi(run.codePage, element.renamedFrom) +
                               " is another picture's");
    }
    const std::string derivedFile = toOsPath(run.outputDir + element.job->derivedName);
    const DerivedPicture picture = files.next();
    switch (picture.outcome) {
      case DerivedPicture::Outcome::kLibraryFailed:
        problem({derivedFile, element.place, "the image library failed: " + picture.problem});
        continue;
      case DerivedPicture::Outcome::kOutOfMemory:
      case DerivedPicture::Outcome::kNotLoaded:
        problem({toOsPath(element.job->sourceFilePath), element.place,
                 "the picture cannot be loaded" +
                     (picture.problem.empty() ? "" : ": " + picture.problem)});
        continue;
      case DerivedPicture::Outcome::kNotEncoded:
        problem({derivedFile, element.place,
                 "cannot be written: " + (picture.problem.empty()
                                              ? "the image library could not encode it"
                                              : picture.problem)});
        continue;
      case DerivedPicture::Outcome::kNotWritten:
        problem({derivedFile, element.place, "cannot be written: " + picture.problem});
        continue;
      case DerivedPicture::Outcome::kMade:
      case DerivedPicture::Outcome::kKept: break;
    }
    const DerivedFile& file = picture.file;
    const auto [at, fresh] = fileOfName.emplace(file.derivedName, done.files.size());
    if (fresh) done.files.push_back(file);
    Json::Value image;
    const Json::Value& root = document.root;
    const Json::Value& elementValue =
        root[keys::kPhotoBook][keys::kPages][static_cast<Json::ArrayIndex>(element.page)]
            [keys::kElements][static_cast<Json::ArrayIndex>(element.element)];
    const Expected<> rewritten = rewrittenImage(element, elementValue, file.derivation,
                                                file.pictureWidth, file.pictureHeight, image);
    if (!rewritten.ok()) {
      done.fatal = rewritten.problem();
      return done;
    }
    document.rewrite(element.page, element.element, std::move(image));
    describe(element, file, picture.outcome == DerivedPicture::Outcome::kKept, plan.scale, outcome);
    // A phone's portrait in a box laid out for it upright prints on its side.
    if (boxSuggestsUpright(element.geometry, file.pictureWidth, file.pictureHeight,
                           file.storedOrientation)) {
      outcome.storedTurned = file.storedOrientation;
      run.diagnostics.note(toOsPath(element.job->sourceFilePath), element.place,
                           "stored turned (EXIF orientation " +
                               std::to_string(file.storedOrientation) +
                               ") in a box with the upright picture's proportions: it prints on "
                               "its side (--exif-orientation turns it upright)");
    }
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

// The pass over the album, up to the report.
int runAlbum(Run& run) {
  const RunSettings& settings = run.settings;
  Diagnostics& diagnostics = run.diagnostics;
  const std::string inputPath = settings.sourceDir + kAlbumFileName;
  run.albumFile = toOsPath(inputPath);
  if (!settings.reportFile.empty()) {
    // However early the run ends, the report replaces nothing of the album.
    if (const auto album = fileIdentity(run.files, inputPath)) run.kept.files.push_back(*album);
    run.kept.outputDirectory = directoryIdentity(run.files, settings.outputDir);
    if (run.kept.outputDirectory) {
      run.kept.outputDir = settings.outputDir + '\\';
      for (const std::string& name : namesWrittenIn(run.files, run.kept.outputDir)) {
        run.kept.addOutputName(name);
      }
    }
  }
  // The output would replace the source album's pictures and description.
  const auto sourceDirectory = directoryIdentity(run.files, settings.sourceDir);
  const auto outputDirectory = directoryIdentity(run.files, settings.outputDir);
  if (sourceDirectory && outputDirectory && sourceDirectory->sameFile(*outputDirectory)) {
    return run.fail(toOsPath(settings.outputDir), "",
                    "is the source directory: nothing is written into it");
  }
  try {
    AlbumDocument document;
    size_t readSize = 0;
    {
      const std::string text = readWholeFile(run.files, inputPath);
      readSize = text.size();
      if (text.empty()) {
        printFileOpenError(run.out);
        diagnostics.note(run.albumFile, "", "cannot be opened, or holds no text");
        run.ended = "cannot be opened, or holds no text";
        return kExitFailure;
      }
      JsonParseError parseError;
      if (!readJson(text, document.root, &parseError)) {
        printParseError(run.out, 0);
        const std::string where = "line " + std::to_string(parseError.line) + ", column " +
                                  std::to_string(parseError.column);
        diagnostics.note(run.albumFile, where, "not readable as JSON: " + parseError.reason);
        run.ended = "not readable as JSON: " + parseError.reason;
        return kExitFailure;
      }
    }
    // Everything the document alone decides, before anything is written: a
    // document that cannot be run leaves the output directory as it was.
    const AlbumPlan plan = planAlbum(document.root, settings, run.codePage);
    for (const ElementPlan& element : plan.elements) {
      if (element.job) run.encoder = element.job->encoder;
    }
    if (plan.fatal) return run.fail(run.albumFile, plan.fatal->place, plan.fatal->text);
    for (const Problem& note : plan.notes) diagnostics.note(run.albumFile, note.place, note.text);

    // Only the last component is created. A directory that is not there then
    // ends the run before any picture is read.
    const Expected<bool> made = run.files.makeDirectory(settings.outputDir);
    const auto created = directoryIdentity(run.files, settings.outputDir);
    if (!created) {
      return run.fail(toOsPath(settings.outputDir), "", "cannot be created: " + made.reason());
    }
    run.outputDir = settings.outputDir + '\\';
    run.kept.outputDirectory = created;
    run.kept.outputDir = run.outputDir;
    // One run at a time writes into a directory.
    Expected<std::unique_ptr<DirectoryLock>> locked =
        run.files.lock(run.outputDir, settings.waitForOtherRuns, [&] {
          diagnostics.note(toOsPath(settings.outputDir), "",
                           "another run is writing into it: waiting for it to end");
        });
    if (!locked.ok()) {
      return run.fail(toOsPath(settings.outputDir), "",
                      "cannot be locked: " + toOsPath(kLockFileName) + ": " + locked.reason());
    }
    run.lock = std::move(locked).value();
    if (!run.lock)
      return run.fail(toOsPath(settings.outputDir), "", "another run is writing into it");
    // Nothing the tool did not write is replaced: not an album's description
    // (the directories swapped, another customer's album), not a picture.
    OutputDirectory output(run.files, run.outputDir, diagnostics);
    const std::string outputAlbum = toOsPath(run.outputDir + kAlbumFileName);
    const Ownership albumOwner = output.ownership(kAlbumFileName);
    if (!settings.overwrite && albumOwner == Ownership::kForeign) {
      return run.fail(outputAlbum, "",
                      "was not written by vellomar (is this an album's source?): nothing is "
                      "written into its directory; --overwrite replaces files vellomar did "
                      "not write");
    }
    if (!settings.overwrite && albumOwner == Ownership::kChanged) {
      return run.fail(outputAlbum, "",
                      "has changed since vellomar wrote it: nothing is written into its "
                      "directory; --overwrite replaces it");
    }
    Work work = workOf(run, plan, output);
    if (!settings.reportFile.empty() && run.kept.replacedBy(run.files, settings.reportFile)) {
      run.reportRefused = true;
      return run.fail(toOsPath(settings.reportFile), "", kReportRefused);
    }
    removeStaleTemporaries(run.files, run.outputDir);

    ElementsDone done = runElements(run, plan, document, output, std::move(work));
    const std::optional<Problem> fatal = done.fatal;
    Expected<> written = failure("");
    if (!fatal) {
      document.finish();
      written = output.write(kAlbumFileName, fileText(document.root, readSize));
      run.written = written.ok();
      // Nothing of a picture taken out of the book stays beside it.
      if (run.written) {
        std::vector<std::string> named;
        for (const ElementPlan& element : plan.elements) {
          if (element.job) named.push_back(element.job->derivedName);
        }
        output.removeUnnamed(named, done.files);
      }
    }
    output.finish(done.files);
    if (fatal) {
      return run.fail(fatal->inDocument ? run.albumFile : fatal->file, fatal->place, fatal->text);
    }
    if (!written.ok()) return run.fail(outputAlbum, "", "cannot be written: " + written.reason());
  } catch (const std::bad_alloc&) {
    return run.fail(run.albumFile, "", kOutOfMemory);
  }
  return diagnostics.failed() ? kExitFailure : kExitSuccess;
}

}  // namespace

int processAlbum(const RunSettings& settings, const CodePage& codePage, FileSystem& files,
                 std::ostream& out, std::ostream& err) {
  Diagnostics diagnostics(err);
  Run run(settings, codePage, files, out, diagnostics);
  const int status = runAlbum(run);
  if (settings.reportFile.empty() || run.reportRefused) return status;
  // The report goes beside whatever the run left, whatever that is, written
  // while the output directory is still locked; never over a file of the
  // album.
  const std::string& path = settings.reportFile;
  if (run.kept.replacedBy(files, path)) {
    diagnostics.problem(toOsPath(path), "", kReportRefused);
    return kExitFailure;
  }
  const std::string text = reportText(run.outcomes, status, run.written ? "" : run.ended,
                                      run.encoder, settings.resampling);
  const size_t separator = path.find_last_of("/\\");
  const auto in = directoryIdentity(
      files, separator == std::string::npos ? "." : path.substr(0, separator + 1));
  const bool locked =
      run.lock && in && run.kept.outputDirectory && in->sameFile(*run.kept.outputDirectory);
  const Expected<> written =
      writeReport(files, path, text, locked ? Leftover::kSweptUnderLock : Leftover::kKept);
  if (!written.ok()) {
    diagnostics.problem(toOsPath(path), "", "cannot be written: " + written.reason());
    return kExitFailure;
  }
  return status;
}

}  // namespace vellomar
