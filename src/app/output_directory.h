#ifndef VELLOMAR_APP_OUTPUT_DIRECTORY_H_
#define VELLOMAR_APP_OUTPUT_DIRECTORY_H_

// The output directory as one run writes into it, under its lock: which of
// its files the tool wrote before (by the state the last run left, and the
// journal of a run that was killed), which derived files are kept as they
// are, and every file this run puts in place, recorded in the journal before
// it is, and in the state at the end.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/album_plan.h"
#include "plan/derived_file.h"
#include "plan/run_state.h"
#include "platform/file_system.h"
#include "util/diagnostics.h"

namespace vellomar {

class OutputDirectory {
 public:
  // Reads what the last runs left in `directory` (a tool path ending with a
  // separator); a state file that cannot be read as one is reported once.
  OutputDirectory(FileSystem& files, std::string directory, Diagnostics& diagnostics);

  // Whose the file `name` is: anything there that is not a regular file (a
  // directory, a link) is not the tool's.
  Ownership ownership(const std::string& name);

  // planReruns of `jobs` (element order) against what the last run left here
  // (nothing, to make every file), looking at the files as they are now.
  RerunLedger planReruns(const std::vector<PictureJob>& jobs, const std::string& versions,
                         bool rebuild);

  // Puts `made` in place as `name`, recorded in the journal first; the
  // reason when it cannot be (it is then removed). Before the first picture
  // is put in place, the album.desc the last run left is removed (a picture
  // is not put in place while it cannot be).
  Expected<> putInPlace(TemporaryFile& made, const std::string& name, uint64_t hash);
  // Writes `bytes` as the file `name` the same way.
  Expected<> write(const std::string& name, std::string_view bytes);

  // Removes the files earlier runs put here under names that are not `named`
  // (the derived names of the book's picture elements, made or not), when
  // each is still the file put there and none of `made`.
  void removeUnnamed(const std::vector<std::string>& named, const std::vector<DerivedFile>& made);

  // Records the run in the state file: the derived files it made or kept
  // (`made`, one for each name), and every other file the tool put there that
  // is still there; then the journal goes. A failure is reported.
  void finish(const std::vector<DerivedFile>& made);

 private:
  FileSystem& files_;
  const std::string directory_;
  Diagnostics& diagnostics_;
  RunState previous_;
  OwnedFiles owned_;                        // as the last runs left them
  std::vector<OwnedFile> placed_;           // put in place by this run
  std::unique_ptr<AppendingFile> journal_;  // open once something is put in place
  bool withdrawn_ = false;  // the last run's album.desc is gone, or is not the tool's
};

// The names of the files vellomar wrote in `directory` (ending with a
// separator), as its state and journal record them, said nothing of.
std::vector<std::string> namesWrittenIn(FileSystem& files, const std::string& directory);

}  // namespace vellomar

#endif  // VELLOMAR_APP_OUTPUT_DIRECTORY_H_
