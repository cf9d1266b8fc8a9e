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

#include <map>
#include <utility>
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

// The album description as a run changes it, element by element in element
// order, by the rule above.
class AlbumDocument {
 public:
  // The parsed document; once finished, the one written.
  Json::Value root;

  // The run read element `element` of page `page` to depth `reads`.
  void read(int page, int element, ElementReads reads);
  // The run rewrote the image record of that element (the last read), with
  // `image`: the reads of the page's elements up to it now show.
  void rewrite(int page, int element, Json::Value image);
  // What the reads add besides, once every element is done. The root is an
  // object or null, photoBook too.
  void finish();

 private:
  // For each page, the elements read since its last rewritten one.
  std::map<int, std::vector<std::pair<int, ElementReads>>> pending_;
  bool rewritten_ = false;
};

}  // namespace vellomar

#endif  // VELLOMAR_ALBUM_ALBUM_DOCUMENT_H_
