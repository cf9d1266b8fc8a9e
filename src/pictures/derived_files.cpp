#include "pictures/derived_files.h"

#include <algorithm>
#include <map>
#include <new>
#include <numeric>

#include "pictures/image_codecs.h"
#include "pictures/jpeg_window.h"
#include "plan/run_state.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "util/content_hash.h"
#include "util/ordered_map.h"
#include "util/progress.h"

namespace vellomar {

// One picture's result, as a worker leaves it.
struct DerivedFiles::Made {
  DerivedPicture picture;  // without its bytes
  TemporaryFile temporary;
};

struct DerivedFiles::Running {
  OrderedMap<std::vector<Made>> map;
};

DerivedFiles::DerivedFiles(FileSystem& files, std::vector<PictureJob> jobs, RerunLedger ledger,
                           std::string outputDir, int workerCount, PutInPlace putInPlace,
                           Progress* progress)
    : files_(files),
      jobs_(std::move(jobs)),
      ledger_(std::move(ledger)),
      outputDir_(std::move(outputDir)),
      putInPlace_(std::move(putInPlace)),
      progress_(progress) {
  // Before any worker starts: the library must not start threads of its own,
  // and its codecs, when pictures of other names than JPEG's need them, are
  // loaded while the process has the most room.
  prepareImageLibrary();
  if (std::any_of(jobs_.begin(), jobs_.end(),
                  [](const PictureJob& job) { return !isJpegName(job.derivedName); })) {
    loadImageCodecs();
  }
  const std::vector<size_t>& tasks = ledger_.tasks;
  written_.resize(tasks.size());
  // Largest pictures first, so that no large one is left for the end.
  std::vector<uint64_t> sizes(tasks.size());
  for (size_t t = 0; t < tasks.size(); ++t)
    sizes[t] = fileIdentity(files_, jobs_[tasks[t]].sourceFilePath).value_or(FileIdentity()).size;
  std::vector<size_t> order(tasks.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
  if (progress_ != nullptr) progress_->start(static_cast<int>(tasks.size()));
  const size_t workers =
      static_cast<size_t>(workerCount > 0 ? workerCount : onlineProcessorCount());
  running_.reset(new Running{OrderedMap<std::vector<Made>>(
      std::move(order), workers, [this](size_t task) { return runTask(task); })});
}

DerivedFiles::~DerivedFiles() = default;

const std::string& DerivedFiles::missingWorkers() const { return running_->map.missingWorkers(); }

std::vector<DerivedFiles::Made> DerivedFiles::runTask(size_t task) const {
  std::vector<Made> made;
  try {
    const std::vector<const PictureJob*> jobs = {&jobs_[ledger_.tasks[task]]};
    made.resize(jobs.size());
    // Each picture is written as soon as it is made, and its bytes let go.
    makeDerivedPictures(files_, jobs, [&](size_t k, const DerivedPicture& picture) {
      if (progress_ != nullptr) progress_->advance();
      DerivedPicture& result = made[k].picture;
      try {
        result.problem = picture.problem;
        result.file = picture.file;
        result.outcome = picture.outcome;
        if (picture.outcome == DerivedPicture::Outcome::kMade) {
          const std::string_view bytes(reinterpret_cast<const char*>(picture.bytes.data()),
                                       picture.bytes.size());
          result.file.writtenHash = contentHash(bytes);
          const Expected<> written = made[k].temporary.write(
              files_, outputDir_, jobs[k]->derivedName, bytes, Leftover::kSweptUnderLock);
          if (!written.ok()) {
            result.outcome = DerivedPicture::Outcome::kNotWritten;
            result.problem = written.reason();
          }
        }
      } catch (const std::bad_alloc&) {
        // As any picture that cannot get its memory: made again alone in next().
        result.outcome = DerivedPicture::Outcome::kOutOfMemory;
        result.problem = kOutOfMemory;  // no allocation: it fits the string itself
      }
    });
  } catch (const std::bad_alloc&) {
    made.clear();  // no room even to hold the results: made again alone in next()
  }
  return made;
}

DerivedPicture DerivedFiles::next() {
  const size_t job = next_++;
  const JobFile& entry = ledger_.jobs[job];
  if (entry.kept) {
    DerivedPicture kept;
    kept.outcome = DerivedPicture::Outcome::kKept;
    kept.file = *entry.kept;
    return kept;
  }
  if (entry.copy) return *written_[entry.task];
  std::vector<Made>& results = running_->map.get(entry.task);
  // A picture that could not get its memory while the workers held theirs is
  // made again with the machine to itself; failing then, it is its element's
  // problem.
  const auto shortOfMemory = [&] {
    return results.empty() || results[0].picture.outcome == DerivedPicture::Outcome::kOutOfMemory;
  };
  if (shortOfMemory()) results = running_->map.rerunAlone(entry.task);
  if (results.empty()) {
    DerivedPicture failed;
    failed.outcome = DerivedPicture::Outcome::kOutOfMemory;
    failed.problem = kOutOfMemory;
    written_[entry.task] = failed;
    return failed;
  }
  Made& made = results[0];
  DerivedPicture picture = std::move(made.picture);
  picture.file.recipe = entry.recipe;
  if (picture.outcome == DerivedPicture::Outcome::kMade) {
    const std::string& name = jobs_[job].derivedName;
    const Expected<> placed = putInPlace_(made.temporary, name, picture.file.writtenHash);
    if (placed.ok()) {
      picture.file.written = fileIdentity(files_, outputDir_ + name).value_or(FileIdentity());
    } else {
      picture.outcome = DerivedPicture::Outcome::kNotWritten;
      picture.problem = placed.reason();
    }
  }
  written_[entry.task] = picture;
  return picture;
}

}  // namespace vellomar
