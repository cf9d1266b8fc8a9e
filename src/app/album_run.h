#ifndef VELLOMAR_APP_ALBUM_RUN_H_
#define VELLOMAR_APP_ALBUM_RUN_H_

// The one run over an album: read and parse album.desc, create the output
// directory, plan, make the derived pictures and rewrite their elements in
// element order, write album.desc.

#include <ostream>

namespace vellomar {

class CodePage;
class FileSystem;
struct RunSettings;

// Runs the pass through `files`. Returns kExitSuccess when it ran to its end
// and nothing went wrong, kExitFailure otherwise. The two console messages go
// to `out`; every other diagnostic goes to `err`.
int processAlbum(const RunSettings& settings, const CodePage& codePage, FileSystem& files,
                 std::ostream& out, std::ostream& err);

}  // namespace vellomar

#endif  // VELLOMAR_APP_ALBUM_RUN_H_
