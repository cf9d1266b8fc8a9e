#ifndef VELLOMAR_ELEMENT_IMAGE_IO_H_
#define VELLOMAR_ELEMENT_IMAGE_IO_H_

// Producing one derived picture: load the source picture, decide, scale and
// cut or copy, encode, write. The only part of the tool that touches pixels.

#include <optional>
#include <stdexcept>
#include <string>

#include "element/derived_image.h"
#include "element/element_geometry.h"

namespace vellomar {

// Everything the work on one element's picture needs.
struct ImageJob {
  std::string sourceFilePath;  // tool path of the source picture
  std::string outputDir;       // tool path, ending with a separator
  std::string derivedName;     // the derived file's name in outputDir
  int censusCount = 0;         // picture elements of the book using this source
  double visibleArea = 0;
  std::optional<PixelRegion> region;  // empty when the window is not sound
};

struct ImageOutcome {
  bool loaded = false;
  int pictureWidth = 0;
  int pictureHeight = 0;
  DerivedPath path = DerivedPath::kCopy;
  bool written = false;
  std::string writeError;  // why the derived file could not be written
};

// An error raised by the image library while scaling or encoding.
class ImageLibraryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loads the source picture as stored (channels and depth kept). When it loads,
// chooses the path, makes the derived picture (reduce: the whole picture
// resized bilinearly to the box, then the window; copy: the picture as
// loaded), encodes it by the derived name's extension with the library's
// defaults and writes it atomically into the output directory. Nothing is
// written when the picture does not load. Throws ImageLibraryError.
ImageOutcome produceDerivedImage(const ImageJob& job);

}  // namespace vellomar

#endif  // VELLOMAR_ELEMENT_IMAGE_IO_H_
