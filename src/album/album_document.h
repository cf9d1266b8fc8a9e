#ifndef VELLOMAR_ALBUM_ALBUM_DOCUMENT_H_
#define VELLOMAR_ALBUM_ALBUM_DOCUMENT_H_

// The album description as a run changes it, and the rule of which members
// the run's reads add to what it writes.
//
// The document's own program read every member with an inserting lookup (an
// absent member is added as null) and worked on copies: a rewritten element
// was carried back with its whole element list into the page list, and the
// page list into the root. So the written document holds:
// - photoBook, its scale and its pages, added as null where absent;
// - when no element was rewritten, the pages as read;
// - otherwise, every page with "elements" (null where absent), and on each
//   page the elements up to its last rewritten one with the members their
//   reads add and their rewritten records; later elements as read.

#include <json/value.h>

#include <optional>
#include <vector>

namespace vellomar {

// How far the run read a picture element.
enum class ElementReads {
  kNone,
  kSource,    // image.src
  kGeometry,  // and the picture box and the mask box
};

// Adds to `element` the members a read of that depth looks up, as null where
// absent: image.src; then image.width, height, positionX, positionY,
// rotation and image.mask.width, height, positionX, positionY. A null image or
// mask becomes an object; one of another kind is left alone.
void addReadMembers(Json::Value& element, ElementReads reads);

// What the run did to one element of the book.
struct ElementChange {
  int page = 0;
  int element = 0;
  ElementReads reads = ElementReads::kNone;
  std::optional<Json::Value> image;  // the rewritten image record
};

struct AlbumDocument {
  // The parsed document; once the changes are applied, the one written.
  Json::Value root;

  // Applies what the run read and rewrote, the changes in element order, by
  // the rule above. The root is an object or null, photoBook too.
  void applyChanges(const std::vector<ElementChange>& changes);
};

}  // namespace vellomar

#endif  // VELLOMAR_ALBUM_ALBUM_DOCUMENT_H_
