#ifndef VELLOMAR_PLAN_RUN_STATE_H_
#define VELLOMAR_PLAN_RUN_STATE_H_

// What a run leaves for the next one in the output directory: for every
// derived file it wrote, what the file was made from and what was written, so
// that a later run whose element has the same inputs, and finds the file as it
// was written, can take it as it is instead of making it again.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/album_plan.h"
#include "plan/derived_image.h"
#include "platform/file_system.h"

namespace vellomar {

// The state file's name in the output directory.
constexpr char kStateFileName[] = ".vellomar-state";

struct MadeFile {
  std::string derivedName;  // code-page bytes
  FileIdentity source;      // as found before it was read
  uint64_t sourceHash = 0;  // of the bytes that were read
  uint64_t recipe = 0;      // recipeOf the job
  FileIdentity written;
  uint64_t writtenHash = 0;
  int pictureWidth = 0;
  int pictureHeight = 0;
  DerivedPath path = DerivedPath::kCopy;
};

// Everything besides the source's bytes that decides a derived file's bytes:
// the job's census count, visible area, window and name, and `versions` (of
// the tool and the libraries that make pictures).
uint64_t recipeOf(const PictureJob& job, const std::string& versions);

// The state file's text, and the records read back from it; nothing when the
// text is damaged or not a state file of this tool.
std::string stateText(const std::vector<MadeFile>& files);
std::optional<std::vector<MadeFile>> readState(std::string_view text);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_RUN_STATE_H_
