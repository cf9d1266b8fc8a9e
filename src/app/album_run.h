#ifndef VELLOMAR_APP_ALBUM_RUN_H_
#define VELLOMAR_APP_ALBUM_RUN_H_

// The one pass over an album: read and parse album.desc, create the output
// directory, count the sources, process every element, write album.desc.

#include <ostream>

namespace vellomar {

class CodePage;
struct RunSettings;

// Runs the pass. Returns kExitSuccess when it ran to its end and nothing went
// wrong, kExitFailure otherwise. The two console messages go to `out`; every
// other diagnostic goes to `err`.
int processAlbum(RunSettings& settings, const CodePage& codePage, std::ostream& out,
                 std::ostream& err);

}  // namespace vellomar

#endif  // VELLOMAR_APP_ALBUM_RUN_H_
