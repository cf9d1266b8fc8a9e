#ifndef VELLOMAR_APP_RUN_REPORT_H_
#define VELLOMAR_APP_RUN_REPORT_H_

// The report of a run for a pipeline to read: JSON Lines, one object for
// every picture element in document order, then one that closes it.

#include <string>
#include <vector>

#include "plan/album_plan.h"
#include "platform/file_system.h"

namespace vellomar {

// What the run did to one picture element. Texts are UTF-8.
struct ElementOutcome {
  std::string place;          // photoBook.pages[0].elements[2]
  std::string source;         // its source path (src after the origin rule)
  std::string decision;       // "cut", "copied", "kept", "skipped" or "problem"
  std::string problem;        // what went wrong, for "problem"
  std::string reason;         // why it is skipped, when that is worth saying
  std::string derived;        // the derived file's name, when there is one
  std::string renamedFrom;    // the name it would have had, when another picture's has it
  bool inkConverted = false;  // the source's CMYK ink became RGB
  // The EXIF orientation of a picture used as stored in a box of the upright
  // picture's proportions (it likely prints on its side); 1 otherwise.
  int storedTurned = 1;
  bool sized = false;  // the sizes below are known
  int width = 0;       // of the derived picture, in pixels
  int height = 0;
  int windowWidth = 0;  // of the window, in pixels of the source picture
  int windowHeight = 0;
  // Source pixels per printed pixel (below 1 the picture is enlarged), when
  // the box has a size.
  double resolution = 0;
  bool resolved = false;
};

// The report's text: a line for each outcome, then one with the count of
// each decision, the exit status as a shell sees it, the error that ended
// the run early, when one did, how the derived files were encoded, when not
// as the image library encodes them, and how windows were resampled, when
// not bilinearly. Every line is UTF-8 JSON: text that
// is not UTF-8 (a src of other bytes) has U+FFFD for what is not.
std::string reportText(const std::vector<ElementOutcome>& outcomes, int status,
                       const std::string& ended, const EncoderSettings& encoder = {},
                       Resampling resampling = Resampling::kBilinear);

// Writes the report to `path`: a regular file (or none yet) is replaced whole
// through a temporary file (`leftover`), anything else there (a link, a named
// pipe, a device: /dev/stdout) is written into.
Expected<> writeReport(FileSystem& files, const std::string& path, const std::string& text,
                       Leftover leftover);

}  // namespace vellomar

#endif  // VELLOMAR_APP_RUN_REPORT_H_
