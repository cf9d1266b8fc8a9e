#ifndef VELLOMAR_PICTURES_DERIVED_FILES_H_
#define VELLOMAR_PICTURES_DERIVED_FILES_H_

// The derived files of a run. Workers make each element's derived picture and
// write it to a temporary file beside its name; the run takes them back in
// element order and each is renamed into place as it is taken, so the output
// directory changes as running the elements one by one would change it. A
// picture several elements share is decoded once. When a source picture lies
// in the output directory (which a derived file may replace), the elements
// are run one by one on the calling thread instead.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pictures/picture.h"

namespace vellomar {

// One element's derived file, once taken.
struct DerivedFile {
  DerivedPicture picture;  // without its bytes
  bool written = false;
  std::string writeError;  // why the file could not be written
  // What was written, when it was: the file as put in place, and a hash of
  // its bytes.
  std::optional<FileIdentity> writtenFile;
  uint64_t writtenHash = 0;
};

// Whether a source of `jobs` lies in `outputDir` (or links into it), where a
// derived file of the run may replace it.
bool readsFromOutputDirectory(const std::vector<PictureJob>& jobs, const std::string& outputDir);

class DerivedFiles {
 public:
  // Starts the work on `jobs` (in element order) for `outputDir` (a tool
  // path ending with a separator) on `workerCount` workers (0: one per online
  // processor). `made`, when given, is called, on the worker, as each job's
  // picture is done with.
  DerivedFiles(std::vector<PictureJob> jobs, std::string outputDir, int workerCount,
               std::function<void()> made = nullptr);
  // Stops the workers; files not taken are not made.
  ~DerivedFiles();
  DerivedFiles(const DerivedFiles&) = delete;
  DerivedFiles& operator=(const DerivedFiles&) = delete;

  // Waits for job `index` and puts its file in place. Jobs are taken in
  // ascending order, each once.
  DerivedFile take(size_t index);

 private:
  struct Made;
  struct Task;
  std::vector<Made> runTask(size_t task) const;

  const std::vector<PictureJob> jobs_;
  const std::string outputDir_;
  const std::function<void()> made_;
  std::vector<std::vector<size_t>> tasks_;            // the jobs of each task
  std::vector<std::pair<size_t, size_t>> taskOfJob_;  // task, and place in it
  std::unique_ptr<Task> running_;
};

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_DERIVED_FILES_H_
