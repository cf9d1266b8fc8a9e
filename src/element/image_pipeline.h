#ifndef VELLOMAR_ELEMENT_IMAGE_PIPELINE_H_
#define VELLOMAR_ELEMENT_IMAGE_PIPELINE_H_

// The picture work of a whole pass, run on a pool of workers while the pass
// takes the results in element order. What reaches the output directory, and
// when, is what running the jobs one by one would give:
//
// - each derived file is written to a temporary file by a worker and renamed
//   into place only when the pass finishes that job, in job order;
// - a picture several jobs share is decoded once, and the derived bytes they
//   share are encoded once;
// - a job whose derived file a later job replaces is decoded (whether it loads
//   and its size still count) but not encoded; its write is only checked, and
//   the file is made at the end only if no later job wrote it after all;
// - a job whose source file an earlier job writes (the output directory being
//   the source directory) starts only after that job is finished.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "element/image_io.h"

namespace vellomar {

class ImagePipeline {
 public:
  // Starts up to `workerCount` workers (at least one) on `jobs`, which are in
  // element order.
  ImagePipeline(std::vector<ImageJob> jobs, int workerCount);
  // Stops the workers and removes derived files that were not finished.
  ~ImagePipeline();
  ImagePipeline(const ImagePipeline&) = delete;
  ImagePipeline& operator=(const ImagePipeline&) = delete;

  // Waits for the picture work of job `index` and puts its derived file in
  // place. Jobs are finished in ascending order, each once. Throws
  // ImageLibraryError when the image library failed on the job.
  ImageOutcome finish(size_t index);

  // Once the pass has finished its last job (the last of all, or the one at
  // which an error ends the run): where a job whose derived file was to be
  // replaced is, after all, the last to have written it (the later jobs did
  // not load, could not write, or were never reached), makes that file now.
  void settle();

 private:
  struct Job;
  struct Task;

  void planTasks(int workerCount);
  void enqueue(size_t task);
  void work();
  void runTask(size_t task);

  std::vector<Job> jobs_;
  std::vector<Task> tasks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<size_t> queue_;  // tasks ready to run, largest first
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace vellomar

#endif  // VELLOMAR_ELEMENT_IMAGE_PIPELINE_H_
