#ifndef VELLOMAR_APP_PROOF_RUN_H_
#define VELLOMAR_APP_PROOF_RUN_H_

// The proof of a prepared book: every page drawn from the source album and
// from the prepared album, side by side with their difference, and figures
// that say whether the two agree.

#include <ostream>
#include <string>
#include <vector>

#include "proof/proof_report.h"

namespace vellomar {

class CodePage;
class FileSystem;

// Exit statuses of the proof command.
constexpr int kProofPasses = 0;
constexpr int kProofFails = 1;    // a page is below the thresholds
constexpr int kProofNotMade = 2;  // wrong arguments, an album that cannot be read, ...

struct ProofSettings {
  std::string sourceDir;  // tool paths, as given
  std::string outputDir;
  std::string proofDir;
  bool useOriginPath = false;    // the source album's paths as the tool read them
  bool exifOrientation = false;  // pictures turned upright by their EXIF orientation
  int longSide = 1600;           // pixels of a page drawing's long side
  ProofThresholds thresholds;
  int workerCount = 0;  // elements drawn at once; 0 for one per processor
  bool showProgress = false;
};

// Draws every page, writes the drawings and PROOF_DIR/index.html, reports on
// `out` where the proof is, and returns the exit status.
int runProof(const ProofSettings& settings, const CodePage& codePage, FileSystem& files,
             std::ostream& out, std::ostream& err);

}  // namespace vellomar

#endif  // VELLOMAR_APP_PROOF_RUN_H_
