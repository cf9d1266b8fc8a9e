#ifndef VELLOMAR_PLAN_ALBUM_PLAN_H_
#define VELLOMAR_PLAN_ALBUM_PLAN_H_

// Everything the album description alone decides, before any picture is
// touched: the book's scale, which elements get a derived picture and from
// what, the problems reported for the others, and where a document error ends
// the run. Values in, values out: no file is read and nothing is thrown.

#include <json/value.h>

#include <optional>
#include <string>
#include <vector>

#include "album/album_document.h"
#include "plan/derived_image.h"
#include "plan/element_geometry.h"
#include "plan/plan_settings.h"
#include "util/diagnostics.h"

namespace vellomar {

class CodePage;
struct PlanSettings;

// The picture work of one element: what to read, what to write, the window.
// How a derived file is encoded beyond what its name says. The defaults make
// the files as the image library makes them.
struct EncoderSettings {
  int jpegQuality = kDefaultJpegQuality;
  bool jpegFullChroma = false;
  double dotsPerInch = 0;  // stated in the file; 0 states nothing
  bool isDefault() const {
    return jpegQuality == kDefaultJpegQuality && !jpegFullChroma && dotsPerInch == 0;
  }
};

struct PictureJob {
  std::string sourceFilePath;  // tool path of the source picture
  std::string derivedName;     // the derived file's name in the output directory
  int censusCount = 0;         // picture elements of the book using this source
  double visibleArea = 0;
  std::optional<PixelRegion> region;  // empty when the window is not sound
  bool upright = false;               // the picture is turned upright by its EXIF orientation first
  EncoderSettings encoder{};
  Resampling resampling = Resampling::kBilinear;
};

// One picture element, as the run reads it; or an element whose picture is
// left out (`leftOut`).
struct ElementPlan {
  int page = 0;
  int element = 0;
  std::string place;   // the element's place in the document
  std::string source;  // UTF-8: its src after the origin rule, as far as it was read
  ElementReads reads = ElementReads::kNone;
  // Leaves the element alone; reported in its turn. A problem whose file is
  // empty is one of the album description.
  std::optional<Problem> problem;
  std::optional<PictureJob> job;  // the element gets a derived picture
  ElementGeometry geometry;
  std::string newSrc;  // UTF-8: the derived name, for the rewritten record
  // UTF-8: the name the derived file would have had, when another picture's
  // has it; "" when it has it itself.
  std::string renamedFrom;
  // Why the picture the element holds is left out of the book; "" for a
  // picture element.
  std::string leftOut;
  // Why a picture element names no file to prepare, for the report.
  std::string skipped;
};

struct AlbumPlan {
  double scale = 0;  // page units per pixel: photoBook.scale
  // The picture elements read (and those whose picture is left out), in page
  // and element order; only those before `fatal`, when there is one.
  std::vector<ElementPlan> elements;
  // The first document error, which ends the run before any picture is made.
  // Its file is empty: the album description.
  std::optional<Problem> fatal;
  // What the run says of the whole book without changing its outcome.
  std::vector<Problem> notes;
};

// Plans the run over the parsed document `root`.
AlbumPlan planAlbum(const Json::Value& root, const PlanSettings& settings,
                    const CodePage& codePage);

// The image record of `element` (as read) once the element's derived picture
// is made from a `pictureWidth` x `pictureHeight` picture by `derivation`: with the
// members the plan's reads add, fully rewritten after a reduction, with only
// src changed after a copy. Returns the problem that ends the run when the
// record cannot be rewritten.
Expected<> rewrittenImage(const ElementPlan& plan, const Json::Value& element,
                          Derivation derivation, int pictureWidth, int pictureHeight,
                          Json::Value& image);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_ALBUM_PLAN_H_
