#ifndef VELLOMAR_PLAN_RUN_STATE_H_
#define VELLOMAR_PLAN_RUN_STATE_H_

// What a run leaves for the next one in the output directory, and the one
// rule by which the next run keeps a derived file instead of making it again.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/album_plan.h"
#include "plan/derived_file.h"
#include "platform/file_system.h"

namespace vellomar {

// The state file's name in the output directory.
constexpr char kStateFileName[] = ".vellomar-state";

// Everything besides the source's bytes that decides a derived file's bytes:
// the job's census count, visible area, window, name and turn, and
// `versions` (of the tool and the libraries that make pictures).
uint64_t recipeOf(const PictureJob& job, const std::string& versions);

// For each of `jobs` (element order), whether its derived name is written by
// the jobs of its own source file alone: they are then copies of one picture
// under one name, made and written once. A name that several source files
// write is written once for each of its jobs, in element order, as it
// always was.
std::vector<bool> writesItsNameAlone(const std::vector<PictureJob>& jobs);

// What is found now of the files a kept derived file depends on. A hash is
// known only when it was worth reading the file.
struct FilesNow {
  std::optional<FileIdentity> source;
  std::optional<uint64_t> sourceHash;
  std::optional<FileIdentity> written;
  std::optional<uint64_t> writtenHash;
};

// Whether a file the last run made (`previous`) is kept as it is for a job
// whose recipe is `recipe` and whose name it writes alone: the recipe is the
// same, the source holds the same bytes (the same identity, or failing that
// the same hash) and the file is still as it was written (likewise).
bool keepsFile(const DerivedFile& previous, uint64_t recipe, bool writesNameAlone,
               const FilesNow& now);

// The state file's text, and the records read back from it; nothing when the
// text is damaged or not a state file of this tool.
std::string stateText(const std::vector<DerivedFile>& files);
std::optional<std::vector<DerivedFile>> readState(std::string_view text);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_RUN_STATE_H_
