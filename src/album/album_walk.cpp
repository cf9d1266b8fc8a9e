#include "album/album_walk.h"

#include "album/album_format.h"

namespace vellomar {
namespace {

const Json::Value kNothing;

}  // namespace

const Json::Value& memberOf(const Json::Value& value, const char* key) {
  return value.isObject() ? value[key] : kNothing;
}

const Json::Value& pagesOf(const Json::Value& root) {
  return memberOf(memberOf(root, keys::kPhotoBook), keys::kPages);
}

const Json::Value& elementsOf(const Json::Value& pages, Json::ArrayIndex page) {
  return memberOf(entryOf(pages, page), keys::kElements);
}

const Json::Value& entryOf(const Json::Value& list, Json::ArrayIndex index) {
  return index < entriesOf(list) ? list[index] : kNothing;
}

Json::ArrayIndex entriesOf(const Json::Value& list) { return list.isArray() ? list.size() : 0; }

}  // namespace vellomar
