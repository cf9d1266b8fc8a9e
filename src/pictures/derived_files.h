#ifndef VELLOMAR_PICTURES_DERIVED_FILES_H_
#define VELLOMAR_PICTURES_DERIVED_FILES_H_

// The derived files of a run. Workers make the pictures and write each to a
// temporary file beside its name; the run asks for them in element order and
// each is put in place as its turn comes, so the output directory changes as
// running the elements one by one would change it. A picture several
// elements share is one file, made and written once.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pictures/picture.h"
#include "plan/run_state.h"

namespace vellomar {

class Progress;

// Puts a made file in place under `name` in the output directory: its
// temporary file renamed over the name, the hash of its bytes known; the
// reason when it cannot be.
using PutInPlace =
    std::function<Expected<>(TemporaryFile& made, const std::string& name, uint64_t hash)>;

class DerivedFiles {
 public:
  // Starts making the derived files of `jobs` (in element order) in
  // `outputDir` (a tool path ending with a separator) on `workerCount`
  // workers (0: one per online processor), reading and writing through
  // `files`, as `ledger` (planReruns of the jobs) says: its kept files are
  // not made, and each of its tasks is made once. `progress`, when given,
  // counts the pictures made.
  DerivedFiles(FileSystem& files, std::vector<PictureJob> jobs, RerunLedger ledger,
               std::string outputDir, int workerCount, PutInPlace putInPlace,
               Progress* progress = nullptr);
  // Stops the workers; files not asked for are not made.
  ~DerivedFiles();
  DerivedFiles(const DerivedFiles&) = delete;
  DerivedFiles& operator=(const DerivedFiles&) = delete;

  // The file of the next job, in job order, without its bytes: the kept one,
  // or the one made, put in place now (or why there is none). The file's
  // recipe is its job's.
  DerivedPicture next();

  // Why fewer workers run than were asked for; "" when all of them run.
  const std::string& missingWorkers() const;

 private:
  struct Made;
  struct Running;
  std::vector<Made> runTask(size_t task) const;

  FileSystem& files_;
  const std::vector<PictureJob> jobs_;
  const RerunLedger ledger_;
  const std::string outputDir_;
  const PutInPlace putInPlace_;
  Progress* const progress_;
  std::vector<std::optional<DerivedPicture>> written_;  // each task's file, once put in place
  size_t next_ = 0;
  std::unique_ptr<Running> running_;
};

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_DERIVED_FILES_H_
