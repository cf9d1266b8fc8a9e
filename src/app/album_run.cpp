#include "app/album_run.h"

#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "album/album_format.h"
#include "album/json_reader.h"
#include "album/json_writer.h"
#include "app/album_document.h"
#include "app/console_messages.h"
#include "app/exit_status.h"
#include "app/run_settings.h"
#include "census/source_census.h"
#include "element/element_processor.h"
#include "element/image_pipeline.h"
#include "platform/file_system.h"
#include "platform/os_path.h"
#include "util/diagnostics.h"
#include "util/progress.h"
#include "util/text_encoding.h"
#include "util/whole_file.h"

namespace vellomar {
namespace {

constexpr char kAlbumFileName[] = "album.desc";

// A conversion of a document value, where a failure ends the run.
double documentDouble(const Json::Value& value, const std::string& place) {
  try {
    return asDouble(value);
  } catch (const std::runtime_error& error) {
    throw FatalError("", place, error.what());
  }
}

// The document side: every element in order, up to the end or up to a value
// that ends the run, which is returned.
std::optional<FatalError> planElements(AlbumRun& run, std::vector<ElementPlan>& plans) {
  AlbumDocument& document = run.document;
  try {
    for (document.pageIndex = 0; document.pageIndex < document.pageCount; ++document.pageIndex) {
      document.elementList = &pageElements(document.pageList, document.pageIndex);
      document.elementCount = static_cast<int>(document.elementList->size());
      for (document.elementIndex = 0; document.elementIndex < document.elementCount;
           ++document.elementIndex) {
        ElementPlan plan = processElement(run);
        if (plan.problem || plan.job) plans.push_back(std::move(plan));
      }
    }
  } catch (const FatalError& error) {
    return error;
  }
  return std::nullopt;
}

// The picture side, on all workers, taken back in element order: problems
// reported and records rewritten as each element's turn comes.
void finishElements(AlbumRun& run, const std::vector<ElementPlan>& plans) {
  std::vector<ImageJob> jobs;
  for (const ElementPlan& plan : plans) {
    if (plan.job) jobs.push_back(*plan.job);
  }
  // A few pictures need no progress line.
  constexpr size_t kFewPictures = 4;
  Progress progress(run.diagnostics.stream(),
                    run.settings.showProgress && jobs.size() > kFewPictures);
  progress.start(static_cast<int>(jobs.size()));
  // The diagnostics erase the line before each of theirs, while it lives.
  struct Attachment {
    Diagnostics& diagnostics;
    ~Attachment() { diagnostics.setProgress(nullptr); }
  } attachment{run.diagnostics};
  run.diagnostics.setProgress(&progress);
  ImagePipeline pipeline(std::move(jobs), run.settings.workerCount);
  try {
    size_t jobIndex = 0;
    for (const ElementPlan& plan : plans) {
      if (plan.problem) {
        run.diagnostics.problem(*plan.problem);
        continue;
      }
      ImageOutcome outcome;
      try {
        outcome = pipeline.finish(jobIndex++);
      } catch (const ImageLibraryError& error) {
        throw FatalError(toOsPath(plan.job->outputDir + plan.job->derivedName), plan.place,
                         std::string("the image library failed: ") + error.what());
      }
      progress.advance();
      finishElement(run, plan, outcome);
    }
  } catch (const FatalError&) {
    pipeline.settle();
    throw;
  }
  pipeline.settle();
}

// Everything between the parse and the writing of the document.
void runPass(AlbumRun& run) {
  AlbumDocument& document = run.document;
  if (!isKeyed(document.root)) {
    throw FatalError("", "", "the document is neither an object nor null");
  }
  Json::Value& photoBook = document.root[keys::kPhotoBook];
  if (!isKeyed(photoBook)) {
    throw FatalError("", keys::kPhotoBook, "neither an object nor null");
  }
  run.settings.scale =
      documentDouble(photoBook[keys::kScale], std::string(keys::kPhotoBook) + "." + keys::kScale);
  document.pageList = photoBook[keys::kPages];
  if (isObjectWithMembers(document.pageList)) {
    throw FatalError("", std::string(keys::kPhotoBook) + "." + keys::kPages,
                     "an object where a list of pages is expected");
  }
  document.pageCount = static_cast<int>(document.pageList.size());

  std::vector<ElementPlan> plans;
  buildSourceCensus(run);
  const std::optional<FatalError> documentError = planElements(run, plans);
  finishElements(run, plans);
  if (documentError) throw *documentError;
  finishPages(document);
}

// The document's text as the file holds it: the final line feed is stored as
// CR LF, as a text-mode stream writes it (the text holds no other line feed).
std::string fileText(const Json::Value& root) {
  std::string text = writeJson(root);
  text.insert(text.size() - 1, 1, '\r');
  return text;
}

}  // namespace

int processAlbum(RunSettings& settings, const CodePage& codePage, std::ostream& out,
                 std::ostream& err) {
  Diagnostics diagnostics(err);
  const std::string inputPath = settings.sourceDir + kAlbumFileName;
  const std::string inputFile = toOsPath(inputPath);
  AlbumDocument document;
  try {
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

    // Only the last component is created; when that fails (it exists, or its
    // parent does not) the pass goes on, and writing into it reports.
    if (!ansiToWide(codePage, settings.outputDir.c_str()).empty()) {
      makeDirectory(settings.outputDir);
    }
    settings.outputDir += '\\';
    removeStaleTemporaries(settings.outputDir);

    SourceCensus census;
    AlbumRun run{settings, document, census, codePage, diagnostics, inputFile};
    runPass(run);
    census.clear();

    std::string error;
    if (!writeFileAtomically(settings.outputDir, kAlbumFileName, fileText(document.root), error)) {
      diagnostics.problem(toOsPath(settings.outputDir + kAlbumFileName), "",
                          "cannot be written: " + error);
    }
  } catch (const FatalError& error) {
    diagnostics.problem(error.file().empty() ? inputFile : error.file(), error.place(),
                        error.what());
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    diagnostics.problem(inputFile, "", "out of memory");
    return kExitFailure;
  }
  return diagnostics.failed() ? kExitFailure : kExitSuccess;
}

}  // namespace vellomar
