#ifndef VELLOMAR_ALBUM_ALBUM_WALK_H_
#define VELLOMAR_ALBUM_ALBUM_WALK_H_

// The walk over the book's pages and their elements, read without changing
// the document: whatever the document lacks, or holds in another shape, reads
// as null.

#include <json/value.h>

namespace vellomar {

// The member `key` of `value`.
const Json::Value& memberOf(const Json::Value& value, const char* key);
// photoBook.pages of `root`.
const Json::Value& pagesOf(const Json::Value& root);
// The elements of page `page` of `pages`.
const Json::Value& elementsOf(const Json::Value& pages, Json::ArrayIndex page);
// Entry `index` of the list `list`.
const Json::Value& entryOf(const Json::Value& list, Json::ArrayIndex index);
// The entries of a list; 0 for anything else.
Json::ArrayIndex entriesOf(const Json::Value& list);

// Calls `visit(page, index, element)` for every element of every page of
// `pages`, pages and elements in order.
template <typename Visit>
void forEachElement(const Json::Value& pages, const Visit& visit) {
  for (Json::ArrayIndex page = 0; page < entriesOf(pages); ++page) {
    const Json::Value& elements = elementsOf(pages, page);
    for (Json::ArrayIndex index = 0; index < entriesOf(elements); ++index) {
      visit(page, index, elements[index]);
    }
  }
}

}  // namespace vellomar

#endif  // VELLOMAR_ALBUM_ALBUM_WALK_H_
