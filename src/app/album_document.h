#ifndef VELLOMAR_APP_ALBUM_DOCUMENT_H_
#define VELLOMAR_APP_ALBUM_DOCUMENT_H_

// The album description being worked on, its working copy and the cursor
// shared by the census and the element pass; and the context of one run.

#include <json/value.h>

#include <map>
#include <string>
#include <vector>

namespace vellomar {

class CodePage;
class Diagnostics;
class SourceCensus;
struct RunSettings;

// A rewritten element is carried back with its whole element list into the
// page list, and the page list into the root: the list carries whatever the
// reads of the page's earlier elements added (absent members as null), and
// nothing of the elements after it. The pass reads and changes the elements
// where they stand in the page list, notes every element its reads touched and
// the last element carried back on each page, and when it ends puts back, from
// the root, the touched elements after that last one: the same document as
// carrying everything back after every element, in linear time and with one
// copy.
struct AlbumDocument {
  // The parsed document; written out at the end of the pass.
  Json::Value root;
  // Deep copy of photoBook.pages, taken once before the census.
  Json::Value pageList;
  // The current page's elements, where they stand in pageList.
  Json::Value* elementList = nullptr;
  int pageCount = 0;
  int pageIndex = 0;
  int elementCount = 0;
  int elementIndex = 0;

  std::map<int, std::vector<int>> touchedElements;  // by page
  std::map<int, int> lastCarried;                   // by page
};

// Element `element` of page `page` of the page list.
inline Json::Value& elementAt(AlbumDocument& document, int page, int element) {
  return document.pageList[static_cast<Json::ArrayIndex>(page)]["elements"]
                          [static_cast<Json::ArrayIndex>(element)];
}

// Notes that the reads of the element at the cursor may change it.
inline void touchElement(AlbumDocument& document) {
  document.touchedElements[document.pageIndex].push_back(document.elementIndex);
}

// Records that element `element` of page `page` has been rewritten.
inline void carryBack(AlbumDocument& document, int page, int element) {
  int& last = document.lastCarried.emplace(page, element).first->second;
  if (element > last) last = element;
}

// At the end of the pass: when anything was carried back, the touched
// elements after each page's last one carried back are put back as read, and
// the page list replaces the root's pages.
inline void finishPages(AlbumDocument& document) {
  if (document.lastCarried.empty()) return;
  const Json::Value& root = document.root;
  const Json::Value& pages = root["photoBook"]["pages"];
  for (const auto& [page, touched] : document.touchedElements) {
    const auto carried = document.lastCarried.find(page);
    const int last = carried == document.lastCarried.end() ? -1 : carried->second;
    for (int element : touched) {
      if (element <= last) continue;
      elementAt(document, page, element) = pages[static_cast<Json::ArrayIndex>(page)]["elements"]
                                                [static_cast<Json::ArrayIndex>(element)];
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
