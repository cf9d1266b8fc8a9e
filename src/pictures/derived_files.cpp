#include "pictures/derived_files.h"

#include <algorithm>
#include <map>
#include <new>
#include <numeric>

#include "pictures/ordered_map.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "util/content_hash.h"

namespace vellomar {

// One job's result, as a worker leaves it.
struct DerivedFiles::Made {
  DerivedFile file;
  TemporaryFile temporary;
};

struct DerivedFiles::Task {
  OrderedMap<std::vector<Made>> map;
};

bool readsFromOutputDirectory(const std::vector<PictureJob>& jobs, const std::string& outputDir) {
  const auto output = directoryIdentity(outputDir);
  return std::any_of(jobs.begin(), jobs.end(), [&](const PictureJob& job) {
    return output && parentDirectoryIdentity(job.sourceFilePath) == output;
  });
}

DerivedFiles::DerivedFiles(std::vector<PictureJob> jobs, std::string outputDir, int workerCount,
                           std::function<void()> made)
    : jobs_(std::move(jobs)), outputDir_(std::move(outputDir)), made_(std::move(made)) {
  // Before any worker starts: the library must not start threads of its own.
  prepareImageLibrary();
  // A source the run may replace is read only after the elements before it
  // are done: one by one, on the calling thread.
  const bool oneByOne = readsFromOutputDirectory(jobs_, outputDir_);
  std::map<std::string, size_t> taskOfSource;
  for (size_t i = 0; i < jobs_.size(); ++i) {
    const auto found = taskOfSource.find(jobs_[i].sourceFilePath);
    size_t task = tasks_.size();
    if (!oneByOne && found != taskOfSource.end()) {
      task = found->second;
    } else {
      tasks_.emplace_back();
      taskOfSource[jobs_[i].sourceFilePath] = task;
    }
    taskOfJob_.emplace_back(task, tasks_[task].size());
    tasks_[task].push_back(i);
  }
  // Largest pictures first, so that no large one is left for the end.
  std::vector<uint64_t> sizes(tasks_.size());
  for (size_t t = 0; t < tasks_.size() && !oneByOne; ++t) {
    sizes[t] = fileSize(jobs_[tasks_[t].front()].sourceFilePath);
  }
  std::vector<size_t> order(tasks_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
  const size_t workers =
      oneByOne ? 0 : static_cast<size_t>(workerCount > 0 ? workerCount : onlineProcessorCount());
  running_.reset(new Task{OrderedMap<std::vector<Made>>(
      std::move(order), workers, [this](size_t task) { return runTask(task); })});
}

DerivedFiles::~DerivedFiles() = default;

std::vector<DerivedFiles::Made> DerivedFiles::runTask(size_t task) const {
  std::vector<const PictureJob*> jobs;
  for (size_t job : tasks_[task]) jobs.push_back(&jobs_[job]);
  std::vector<Made> made(jobs.size());
  // Each picture is written as soon as it is made, and its bytes let go.
  makeDerivedPictures(jobs, [&](size_t k, const DerivedPicture& picture) {
    if (made_) made_();
    DerivedFile& file = made[k].file;
    try {
      file.picture.problem = picture.problem;
      if (picture.status == DerivedPicture::Status::kMade) {
        const std::string_view bytes(reinterpret_cast<const char*>(picture.bytes.data()),
                                     picture.bytes.size());
        made[k].temporary.write(outputDir_, jobs[k]->derivedName, bytes, file.writeError);
        file.writtenHash = contentHash(bytes);
      }
    } catch (const std::bad_alloc&) {
      // As any picture that cannot get its memory: made again alone in take().
      file.picture.status = DerivedPicture::Status::kOutOfMemory;
      file.picture.problem = "out of memory";  // no allocation: it fits the string itself
      return;
    }
    file.picture.status = picture.status;
    file.picture.pictureWidth = picture.pictureWidth;
    file.picture.pictureHeight = picture.pictureHeight;
    file.picture.path = picture.path;
    file.picture.source = picture.source;
    file.picture.sourceHash = picture.sourceHash;
  });
  return made;
}

DerivedFile DerivedFiles::take(size_t index) {
  const auto [task, place] = taskOfJob_[index];
  std::vector<Made>& results = running_->map.get(task);
  // A picture that could not get its memory while the workers held theirs is
  // made again with the machine to itself; failing then, it is its element's
  // problem.
  if (results[place].file.picture.status == DerivedPicture::Status::kOutOfMemory) {
    results = running_->map.rerunAlone(task);
  }
  Made& made = results[place];
  DerivedFile& file = made.file;
  if (file.picture.status == DerivedPicture::Status::kMade && file.writeError.empty()) {
    file.written = made.temporary.commit(outputDir_, jobs_[index].derivedName, file.writeError);
    if (file.written) file.writtenFile = fileIdentity(outputDir_ + jobs_[index].derivedName);
  }
  return std::move(file);
}

}  // namespace vellomar
