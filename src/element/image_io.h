#ifndef VELLOMAR_ELEMENT_IMAGE_IO_H_
#define VELLOMAR_ELEMENT_IMAGE_IO_H_

// Pictures: loading, making a derived picture, encoding. The only part of the
// tool that touches pixels.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "element/derived_image.h"
#include "element/element_geometry.h"

namespace vellomar {

// An error raised by the image library while scaling or encoding.
class ImageLibraryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A decoded picture, channels and depth as stored.
class Picture {
 public:
  // The picture at `sourceFilePath` (a tool path); not loaded when the file is
  // missing, declares more than kMaxPicturePixels pixels (checked before
  // decoding), or the library cannot decode it.
  static Picture load(const std::string& sourceFilePath);

  bool loaded() const { return pixels_ != nullptr; }
  // Why it did not load, when there is more to say than that it did not.
  const std::string& loadProblem() const { return loadProblem_; }
  int width() const;
  int height() const;

  // The derived picture for `plan`, encoded by the extension of
  // `derivedName` with the library's default settings: on the reduce path the
  // whole picture resized bilinearly to the box, then the window; on the copy
  // path the picture as loaded. A box that would take more than
  // kMaxWholeBoxBytes is computed for the window only. Returns false when the
  // encoder declines.
  // Throws ImageLibraryError.
  bool encode(const DerivedPlan& plan, const std::string& derivedName,
              std::vector<unsigned char>& bytes) const;

 private:
  struct Pixels;
  std::shared_ptr<const Pixels> pixels_;
  std::string loadProblem_;
};

// True when the library has an encoder for the name's extension.
bool canEncode(const std::string& derivedName);

// The library's own worker threads are not used: the tool runs several
// pictures at once instead. Also silences the library's console log.
void prepareImageLibrary();

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
  std::string loadProblem;  // more on why it did not load, or ""
  int pictureWidth = 0;
  int pictureHeight = 0;
  DerivedPath path = DerivedPath::kCopy;
  bool written = false;
  std::string writeError;  // why the derived file could not be written
};

// The whole work for one element, start to end: load, decide, encode and
// write the derived file atomically. Nothing is written when the picture does
// not load. Throws ImageLibraryError.
ImageOutcome produceDerivedImage(const ImageJob& job);

}  // namespace vellomar

#endif  // VELLOMAR_ELEMENT_IMAGE_IO_H_
