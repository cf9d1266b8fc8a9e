#include "element/image_pipeline.h"

#include <algorithm>
#include <map>
#include <new>
#include <set>

#include "platform/file_system.h"
#include "platform/system.h"

namespace vellomar {

struct ImagePipeline::Job {
  ImageJob image;
  size_t task = 0;
  bool superseded = false;  // a later job replaces the derived file
  long afterJob = -1;       // the job that writes this job's source file
  std::vector<size_t> dependents;

  // Set by the worker that ran the task.
  bool done = false;
  ImageOutcome outcome;  // loaded, size, path, and a write error
  std::string temporary;
  bool libraryFailed = false;
  std::string libraryError;

  // Set when the job is finished.
  bool committed = false;
};

struct ImagePipeline::Task {
  std::string sourceFilePath;
  std::vector<size_t> jobs;
  uint64_t size = 0;
};

ImagePipeline::ImagePipeline(std::vector<ImageJob> jobs, int workerCount) {
  prepareImageLibrary();
  jobs_.resize(jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) jobs_[i].image = std::move(jobs[i]);
  planTasks(workerCount);
}

ImagePipeline::~ImagePipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  for (const Job& job : jobs_) {
    if (!job.committed && !job.temporary.empty()) removeOsFile(job.temporary);
  }
}

void ImagePipeline::planTasks(int workerCount) {
  // A job reads what an earlier job wrote when its source file lies in the
  // output directory under that job's derived name.
  std::set<std::string> dependedNames;
  std::map<std::string, size_t> lastWriter;
  const auto outputIdentity =
      jobs_.empty() ? std::nullopt : directoryIdentity(jobs_.front().image.outputDir);
  for (size_t i = 0; i < jobs_.size(); ++i) {
    Job& job = jobs_[i];
    const auto writer = lastWriter.find(job.image.derivedName);
    if (writer != lastWriter.end() && outputIdentity &&
        parentDirectoryIdentity(job.image.sourceFilePath) == outputIdentity) {
      job.afterJob = static_cast<long>(writer->second);
      jobs_[writer->second].dependents.push_back(i);
      dependedNames.insert(job.image.derivedName);
    }
    lastWriter[job.image.derivedName] = i;
  }
  // A derived file that a later job replaces is not made, unless a job reads
  // it in between or making it is what would fail.
  for (size_t i = 0; i < jobs_.size(); ++i) {
    const std::string& name = jobs_[i].image.derivedName;
    jobs_[i].superseded = lastWriter[name] != i && !dependedNames.count(name) && canEncode(name);
  }
  // One task per source picture; a job that must wait for another has its own.
  std::map<std::string, size_t> taskOfSource;
  for (size_t i = 0; i < jobs_.size(); ++i) {
    Job& job = jobs_[i];
    const auto found = taskOfSource.find(job.image.sourceFilePath);
    if (job.afterJob < 0 && found != taskOfSource.end()) {
      job.task = found->second;
    } else {
      job.task = tasks_.size();
      tasks_.push_back(Task{job.image.sourceFilePath, {}, fileSize(job.image.sourceFilePath)});
      if (job.afterJob < 0) taskOfSource[job.image.sourceFilePath] = job.task;
    }
    tasks_[job.task].jobs.push_back(i);
  }
  // Largest pictures first, so that no large one is left for the end.
  std::vector<size_t> ready;
  for (size_t t = 0; t < tasks_.size(); ++t) {
    if (jobs_[tasks_[t].jobs.front()].afterJob < 0) ready.push_back(t);
  }
  std::stable_sort(ready.begin(), ready.end(),
                   [&](size_t a, size_t b) { return tasks_[a].size > tasks_[b].size; });
  queue_.assign(ready.begin(), ready.end());

  if (workerCount <= 0) workerCount = onlineProcessorCount();
  const size_t count = std::min<size_t>(static_cast<size_t>(workerCount), tasks_.size());
  for (size_t w = 0; w < count; ++w) workers_.emplace_back([this] { work(); });
}

void ImagePipeline::enqueue(size_t task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_front(task);  // the pass is waiting for it
  }
  changed_.notify_all();
}

void ImagePipeline::work() {
  for (;;) {
    size_t task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      task = queue_.front();
      queue_.pop_front();
    }
    runTask(task);
  }
}

void ImagePipeline::runTask(size_t task) {
  const Task& work = tasks_[task];
  // Results are gathered here and published under the lock.
  std::vector<Job> results(work.jobs.size());
  try {
    const Picture picture = Picture::load(work.sourceFilePath);
    std::vector<unsigned char> copyBytes;
    bool copyEncoded = false;
    for (size_t k = 0; k < work.jobs.size(); ++k) {
      const Job& job = jobs_[work.jobs[k]];
      Job& result = results[k];
      ImageOutcome& outcome = result.outcome;
      outcome.loadProblem = picture.loadProblem();
      if (!picture.loaded()) continue;
      outcome.loaded = true;
      outcome.pictureWidth = picture.width();
      outcome.pictureHeight = picture.height();
      const DerivedPlan plan =
          planDerivedImage(job.image.censusCount, picture.width(), picture.height(),
                           job.image.visibleArea, job.image.region);
      outcome.path = plan.path;
      if (job.superseded) continue;
      // Every copy in a task is the same picture under the same name: its
      // bytes are encoded once.
      const bool copy = plan.path == DerivedPath::kCopy;
      std::vector<unsigned char> reduced;
      std::vector<unsigned char>& bytes = copy ? copyBytes : reduced;
      if (!copy || !copyEncoded) {
        try {
          if (!picture.encode(plan, job.image.derivedName, bytes)) {
            outcome.writeError = "the image library could not encode it";
            continue;
          }
        } catch (const ImageLibraryError& error) {
          result.libraryFailed = true;
          result.libraryError = error.what();
          continue;
        }
        copyEncoded = copyEncoded || copy;
      }
      writeTemporaryFile(
          job.image.outputDir, job.image.derivedName,
          std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
          result.temporary, outcome.writeError);
    }
  } catch (const std::bad_alloc&) {
    for (Job& result : results) {
      result.libraryFailed = true;
      result.libraryError = "out of memory";
    }
  } catch (const std::exception& error) {
    // Nothing else is expected here; a worker must not end the process.
    for (Job& result : results) {
      result.libraryFailed = true;
      result.libraryError = error.what();
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t k = 0; k < work.jobs.size(); ++k) {
      Job& job = jobs_[work.jobs[k]];
      job.outcome = results[k].outcome;
      job.temporary = results[k].temporary;
      job.libraryFailed = results[k].libraryFailed;
      job.libraryError = results[k].libraryError;
      job.done = true;
    }
  }
  changed_.notify_all();
}

ImageOutcome ImagePipeline::finish(size_t index) {
  Job& job = jobs_[index];
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return job.done; });
  }
  job.committed = true;
  if (job.libraryFailed) throw ImageLibraryError(job.libraryError);
  ImageOutcome& outcome = job.outcome;
  if (outcome.loaded && outcome.writeError.empty()) {
    outcome.written =
        job.superseded
            ? checkWritable(job.image.outputDir, job.image.derivedName, outcome.writeError)
            : commitTemporaryFile(job.temporary, job.image.outputDir, job.image.derivedName,
                                  outcome.writeError);
  }
  for (size_t dependent : job.dependents) enqueue(jobs_[dependent].task);
  return outcome;
}

void ImagePipeline::settle() {
  // The last finished job that wrote each name, or checked that it could.
  std::map<std::string, size_t> lastWritten;
  for (size_t i = 0; i < jobs_.size() && jobs_[i].committed; ++i) {
    if (jobs_[i].outcome.written) lastWritten[jobs_[i].image.derivedName] = i;
  }
  for (const auto& [name, i] : lastWritten) {
    if (!jobs_[i].superseded) continue;
    try {
      produceDerivedImage(jobs_[i].image);
    } catch (const ImageLibraryError&) {
      // Its encoder exists (or it would not have been passed over); a failure
      // now is one the run cannot report at this element any more.
    }
  }
}

}  // namespace vellomar
