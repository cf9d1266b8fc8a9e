#include "app/album_run.h"

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
#include "pictures/derived_files.h"
#include "plan/album_plan.h"
#include "plan/run_settings.h"
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
  std::map<std::pair<uint64_t, uint64_t>, size_t> sources;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (const auto source = fileIdentity(jobs[i].sourceFilePath)) {
      sources.emplace(std::make_pair(source->device, source->inode), i);
    }
  }
  std::vector<std::optional<size_t>> replaced(jobs.size());
  for (size_t i = 0; i < jobs.size() && !sources.empty(); ++i) {
    const auto target = fileIdentity(outputDir + jobs[i].derivedName);
    if (!target) continue;
    const auto found = sources.find({target->device, target->inode});
    if (found == sources.end()) continue;
    const auto own = fileIdentity(jobs[i].sourceFilePath);
    const bool itself = own && own->device == target->device && own->inode == target->inode;
    replaced[i] = itself ? i : found->second;
  }
  return replaced;
}

// The picture work of the planned elements, taken back in element order:
// problems reported and records rewritten as each element's turn comes.
// Returns the error that ends the run there, if one does.
std::optional<Problem> runElements(const AlbumPlan& plan, const Json::Value& root,
                                   const RunSettings& settings, const std::string& outputDir,
                                   const std::string& albumFile, Diagnostics& diagnostics,
                                   std::vector<ElementChange>& changes,
                                   std::vector<MadeFile>& madeFiles) {
  std::vector<PictureJob> allJobs;
  std::vector<const ElementPlan*> elementOfJob;
  for (const ElementPlan& element : plan.elements) {
    if (!element.job) continue;
    allJobs.push_back(*element.job);
    elementOfJob.push_back(&element);
  }
  // What the last run left as this run would make it is taken as it is.
  const std::string versions = pictureMakersVersion();
  const std::vector<std::optional<DerivedFile>> taken =
      settings.rebuild ? std::vector<std::optional<DerivedFile>>(allJobs.size())
                       : filesToTake(allJobs, outputDir, versions, diagnostics);
  // Nothing of the customer's is replaced.
  const std::vector<std::optional<size_t>> replaced = replacedSources(allJobs, outputDir);
  std::vector<PictureJob> jobs;
  for (size_t i = 0; i < allJobs.size(); ++i) {
    if (!taken[i] && !replaced[i]) jobs.push_back(allJobs[i]);
  }
  // A few pictures need no progress line.
  constexpr size_t kFewPictures = 4;
  Progress progress(diagnostics.stream(), settings.showProgress && jobs.size() > kFewPictures);
  progress.start(static_cast<int>(jobs.size()));
  // The diagnostics erase the line before each of theirs, while it lives.
  struct Attachment {
    Diagnostics& diagnostics;
    ~Attachment() { diagnostics.setProgress(nullptr); }
  } attachment{diagnostics};
  diagnostics.setProgress(&progress);

  DerivedFiles files(std::move(jobs), outputDir, settings.workerCount,
                     [&progress] { progress.advance(); });
  size_t jobIndex = 0, workIndex = 0;
  for (const ElementPlan& element : plan.elements) {
    ElementChange& change = changes.emplace_back();
    change.page = element.page;
    change.element = element.element;
    change.reads = element.reads;
    if (element.problem) report(diagnostics, *element.problem, albumFile);
    if (!element.job) continue;
    const size_t job = jobIndex++;
    const std::string derivedFile = toOsPath(outputDir + element.job->derivedName);
    if (replaced[job]) {
      diagnostics.problem(derivedFile, element.place,
                          *replaced[job] == job
                              ? "the derived picture would replace its own source"
                              : "the derived picture would replace the source picture of " +
                                    elementOfJob[*replaced[job]]->place);
      continue;
    }
    const DerivedFile file = taken[job] ? *taken[job] : files.take(workIndex++);
    if (auto made = recordOf(allJobs[job], file, versions)) madeFiles.push_back(std::move(*made));
    const DerivedPicture& picture = file.picture;
    switch (picture.status) {
      case DerivedPicture::Status::kLibraryFailed:
        return Problem{derivedFile, element.place, "the image library failed: " + picture.problem};
      case DerivedPicture::Status::kOutOfMemory:
      case DerivedPicture::Status::kNotLoaded:
        diagnostics.problem(toOsPath(element.job->sourceFilePath), element.place,
                            "the picture cannot be loaded" +
                                (picture.problem.empty() ? "" : ": " + picture.problem));
        continue;
      case DerivedPicture::Status::kNotEncoded:
        diagnostics.problem(derivedFile, element.place,
                            "cannot be written: the image library could not encode it");
        continue;
      case DerivedPicture::Status::kMade: break;
    }
    if (!file.written) {
      diagnostics.problem(derivedFile, element.place, "cannot be written: " + file.writeError);
      continue;
    }
    Json::Value image;
    const Json::Value& elementValue =
        root[keys::kPhotoBook][keys::kPages][static_cast<Json::ArrayIndex>(element.page)]
            [keys::kElements][static_cast<Json::ArrayIndex>(element.element)];
    if (auto fatal = rewrittenImage(element, elementValue, picture.path, picture.pictureWidth,
                                    picture.pictureHeight, image)) {
      return fatal;
    }
    change.image = std::move(image);
  }
  return std::nullopt;
}

// The document's text as the file holds it: the final line feed is stored as
// CR LF, as a text-mode stream writes it (the text holds no other line feed).
std::string fileText(const Json::Value& root) {
  std::string text = writeJson(root);
  text.insert(text.size() - 1, 1, '\r');
  return text;
}

}  // namespace

int processAlbum(const RunSettings& settings, const CodePage& codePage, std::ostream& out,
                 std::ostream& err) {
  Diagnostics diagnostics(err);
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
    {
      const std::string text = readWholeFile(inputPath);
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

    // Only the last component is created; when that fails for another reason
    // than that it exists, the run says why and goes on, and writing into it
    // reports each file.
    std::string error;
    if (!ansiToWide(codePage, settings.outputDir.c_str()).empty() &&
        !makeDirectory(settings.outputDir, &error) && !error.empty()) {
      diagnostics.problem(toOsPath(settings.outputDir), "", "cannot be created: " + error);
    }
    const std::string outputDir = settings.outputDir + '\\';
    const RunClaim claim(outputDir);
    removeStaleTemporaries(outputDir);

    const AlbumPlan plan = planAlbum(document.root, settings, codePage);
    std::vector<ElementChange> changes;
    std::vector<MadeFile> madeFiles;
    std::optional<Problem> fatal = runElements(plan, document.root, settings, outputDir, inputFile,
                                               diagnostics, changes, madeFiles);
    // Recorded for the next run; a run that made nothing leaves no record
    // where there was none.
    if (!madeFiles.empty() || fileIdentity(outputDir + kStateFileName)) {
      writeRunState(outputDir, madeFiles, diagnostics);
    }
    if (!fatal) fatal = plan.fatal;
    if (fatal) {
      report(diagnostics, *fatal, inputFile);
      return kExitFailure;
    }
    document.applyChanges(changes);

    if (!writeFileAtomically(outputDir, kAlbumFileName, fileText(document.root), error)) {
      diagnostics.problem(toOsPath(outputDir + kAlbumFileName), "", "cannot be written: " + error);
    }
  } catch (const std::bad_alloc&) {
    diagnostics.problem(inputFile, "", "out of memory");
    return kExitFailure;
  }
  return diagnostics.failed() ? kExitFailure : kExitSuccess;
}

}  // namespace vellomar
