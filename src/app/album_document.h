#ifndef VELLOMAR_APP_ALBUM_DOCUMENT_H_
#define VELLOMAR_APP_ALBUM_DOCUMENT_H_

// The album description being worked on, its working copies and the cursor
// shared by the census and the element pass; and the context of one run.

#include <json/value.h>
#include <string>

namespace vellomar {

class CodePage;
class Diagnostics;
class SourceCensus;
struct RunSettings;

struct AlbumDocument {
  // The parsed document; written out at the end of the pass.
  Json::Value root;
  // Deep copy of photoBook.pages, taken once before the census.
  Json::Value pageList;
  // Deep copy of the current page's elements, taken afresh for each page.
  Json::Value elementList;
  int pageCount = 0;
  int pageIndex = 0;
  int elementCount = 0;
  int elementIndex = 0;

  // Carrying changes back. After a rewritten element, the element list as it
  // stands belongs in the page list and the page list in the root. Rather than
  // copying both whole after every such element, the pass records the last
  // element carried back on the current page and moves the carried entries
  // into the page list when the page ends, and moves the page list into the
  // root at the end of the pass: the same document, in linear time.
  int lastCarriedElement = -1;  // on the current page; -1 when none
  bool pagesCarried = false;    // some element of the book was carried back
};

// Carries the element at the cursor, as it now stands in `elementList`, back
// towards the root (see AlbumDocument).
inline void carryBack(AlbumDocument& document) {
  document.lastCarriedElement = document.elementIndex;
  document.pagesCarried = true;
}

// At the end of a page: the page list receives the element list as it stood
// when its last element was carried back.
inline void finishPage(AlbumDocument& document) {
  if (document.lastCarriedElement < 0) return;
  Json::Value& elements =
      document.pageList[static_cast<Json::ArrayIndex>(document.pageIndex)]["elements"];
  for (int i = 0; i <= document.lastCarriedElement; ++i) {
    elements[static_cast<Json::ArrayIndex>(i)].swap(
        document.elementList[static_cast<Json::ArrayIndex>(i)]);
  }
  document.lastCarriedElement = -1;
}

// Everything one pass shares, passed to the operations that make it up.
struct AlbumRun {
  RunSettings& settings;
  AlbumDocument& document;
  SourceCensus& census;
  const CodePage& codePage;
  Diagnostics& diagnostics;
  // The album description read, as diagnostics name it.
  const std::string& albumFile;
};

}  // namespace vellomar

#endif  // VELLOMAR_APP_ALBUM_DOCUMENT_H_
