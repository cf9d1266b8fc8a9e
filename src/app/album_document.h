#ifndef VELLOMAR_APP_ALBUM_DOCUMENT_H_
#define VELLOMAR_APP_ALBUM_DOCUMENT_H_

// The album description being worked on, its working copies and the cursor
// shared by the census and the element pass; and the context of one run.

#include <json/value.h>
#include <map>
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

  // Carrying changes back. A rewritten element is carried back with its whole
  // element list into the page list, and the page list into the root; the
  // lists carry whatever the reads of earlier elements of the page added. The
  // pass keeps, for each page that waits for picture work, its element list as
  // the reads left it, and for each page the last element carried back; when
  // the pass ends, those lists (up to that element) go into the page list and
  // the page list into the root: the same document as carrying everything back
  // after every element, in linear time.
  std::map<int, Json::Value> waitingPages;
  std::map<int, int> lastCarried;
};

// Element `element` of the waiting element list of page `page`.
inline Json::Value& waitingElement(AlbumDocument& document, int page, int element) {
  return document.waitingPages[page][static_cast<Json::ArrayIndex>(element)];
}

// Records that element `element` of page `page` has been rewritten.
inline void carryBack(AlbumDocument& document, int page, int element) {
  int& last = document.lastCarried.emplace(page, element).first->second;
  if (element > last) last = element;
}

// At the end of the pass: the page list receives each page's element list up
// to its last element carried back, and the root receives the page list, when
// anything was carried back.
inline void finishPages(AlbumDocument& document) {
  if (document.lastCarried.empty()) return;
  for (const auto& [page, last] : document.lastCarried) {
    Json::Value& elements = document.pageList[static_cast<Json::ArrayIndex>(page)]["elements"];
    Json::Value& waiting = document.waitingPages[page];
    for (int i = 0; i <= last; ++i) {
      elements[static_cast<Json::ArrayIndex>(i)].swap(waiting[static_cast<Json::ArrayIndex>(i)]);
    }
  }
  document.root["photoBook"]["pages"].swap(document.pageList);
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
