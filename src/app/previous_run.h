#ifndef VELLOMAR_APP_PREVIOUS_RUN_H_
#define VELLOMAR_APP_PREVIOUS_RUN_H_

// Re-runs that redo only what changed: the derived files an earlier run
// wrote, found as written and made from the same inputs, are taken as they
// are; at the end the run records what it wrote and took.

#include <optional>
#include <string>
#include <vector>

#include "pictures/derived_files.h"
#include "plan/run_state.h"
#include "util/diagnostics.h"

namespace vellomar {

// For each of `jobs` (element order), the derived file the last run left in
// `outputDir` (a tool path ending with a separator) when it can be taken as it
// is: its name is written by this job alone, its source holds the bytes it
// was made from, nothing else differs (`versions` included), and the file is
// as that run wrote it. Nothing is taken when a source lies in the output
// directory. A state file that cannot be read as one is reported once and
// ignored.
std::vector<std::optional<DerivedFile>> filesToTake(const std::vector<PictureJob>& jobs,
                                                    const std::string& outputDir,
                                                    const std::string& versions,
                                                    Diagnostics& diagnostics);

// The record of `file`, the derived file of `job`, when it was written (or
// taken) and its source was read.
std::optional<MadeFile> recordOf(const PictureJob& job, const DerivedFile& file,
                                 const std::string& versions);

// Replaces the state file of `outputDir` with `files`; a failure is reported.
void writeRunState(const std::string& outputDir, const std::vector<MadeFile>& files,
                   Diagnostics& diagnostics);

}  // namespace vellomar

#endif  // VELLOMAR_APP_PREVIOUS_RUN_H_
