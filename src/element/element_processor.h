#ifndef VELLOMAR_ELEMENT_ELEMENT_PROCESSOR_H_
#define VELLOMAR_ELEMENT_ELEMENT_PROCESSOR_H_

// The work on one element of the book, in two steps around its picture work:
// what the document says (read at the document cursor), and what becomes of
// the element once its derived picture exists.

#include <optional>
#include <string>

#include "element/element_geometry.h"
#include "element/image_io.h"
#include "util/diagnostics.h"

namespace vellomar {

struct AlbumRun;

struct ElementPlan {
  int pageIndex = 0;
  int elementIndex = 0;
  std::string place;               // the element's place in the document
  std::optional<Problem> problem;  // leaves the element alone; reported in turn
  std::optional<ImageJob> job;     // the picture work the element needs
  ElementGeometry geometry;
};

// Reads the element at the run's document cursor: the picture test, its source
// path and the skips, the derived name, the geometry. The reads add absent
// members as null to the cursor's element list. Throws FatalError for a value
// of the wrong kind.
ElementPlan processElement(AlbumRun& run);

// Reports what the picture work found wrong, or rewrites the element's image
// record (full rewrite after a reduction, source rewrite after a copy) and
// carries it back. Throws FatalError when the record's box is no integer.
void finishElement(AlbumRun& run, const ElementPlan& plan, const ImageOutcome& outcome);

}  // namespace vellomar

#endif  // VELLOMAR_ELEMENT_ELEMENT_PROCESSOR_H_
