#include "album/album_document.h"

#include <map>

#include "album/album_format.h"

namespace vellomar {

void addReadMembers(Json::Value& element, ElementReads reads) {
  if (reads == ElementReads::kNone) return;
  Json::Value& image = element[keys::kImage];
  if (!isKeyed(image)) return;
  image[keys::kSrc];
  if (reads != ElementReads::kGeometry) return;
  for (const char* key :
       {keys::kWidth, keys::kHeight, keys::kPositionX, keys::kPositionY, keys::kRotation}) {
    image[key];
  }
  Json::Value& mask = image[keys::kMask];
  if (!isKeyed(mask)) return;
  for (const char* key : {keys::kWidth, keys::kHeight, keys::kPositionX, keys::kPositionY}) {
    mask[key];
  }
}

void AlbumDocument::applyChanges(const std::vector<ElementChange>& changes) {
  Json::Value& photoBook = root[keys::kPhotoBook];
  photoBook[keys::kScale];
  Json::Value& pages = photoBook[keys::kPages];
  std::map<int, int> lastRewritten;  // by page
  for (const ElementChange& change : changes) {
    if (change.image) lastRewritten[change.page] = change.element;
  }
  if (lastRewritten.empty()) return;
  for (Json::ArrayIndex page = 0; page < pages.size(); ++page) pages[page][keys::kElements];
  for (const ElementChange& change : changes) {
    const auto last = lastRewritten.find(change.page);
    if (last == lastRewritten.end() || change.element > last->second) continue;
    Json::Value& element = pages[static_cast<Json::ArrayIndex>(change.page)][keys::kElements]
                                [static_cast<Json::ArrayIndex>(change.element)];
    addReadMembers(element, change.reads);
    if (change.image) element[keys::kImage] = *change.image;
  }
}

}  // namespace vellomar
