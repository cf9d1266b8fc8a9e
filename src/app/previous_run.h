#ifndef VELLOMAR_APP_PREVIOUS_RUN_H_
#define VELLOMAR_APP_PREVIOUS_RUN_H_

// Re-runs that redo only what changed: the derived files an earlier run
// wrote, found as written and made from the same inputs, are kept as they
// are; at the end the run records what it wrote and kept.

#include <optional>
#include <string>
#include <vector>

#include "plan/album_plan.h"
#include "plan/derived_file.h"
#include "util/diagnostics.h"

namespace vellomar {

// For each of `jobs` (element order), the derived file the last run left in
// `outputDir` (a tool path ending with a separator) when keepsFile says it
// is kept, with the identities found now. A state file that cannot be read as
// one is reported once and ignored. Empty when there is no state to keep from.
std::vector<std::optional<DerivedFile>> filesToKeep(const std::vector<PictureJob>& jobs,
                                                    const std::string& outputDir,
                                                    Diagnostics& diagnostics);

// Replaces the state file of `outputDir` with `files`; a failure is reported.
void writeRunState(const std::string& outputDir, const std::vector<DerivedFile>& files,
                   Diagnostics& diagnostics);

}  // namespace vellomar

#endif  // VELLOMAR_APP_PREVIOUS_RUN_H_
