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

void AlbumDocument::read(int page, int element, ElementReads reads) {
  pending_[page].emplace_back(element, reads);
}

void AlbumDocument::rewrite(int page, int element, Json::Value image) {
  Json::Value& elements =
      root[keys::kPhotoBook][keys::kPages][static_cast<Json::ArrayIndex>(page)][keys::kElements];
  for (const auto& [index, reads] : pending_[page]) {
    addReadMembers(elements[static_cast<Json::ArrayIndex>(index)], reads);
  }
  pending_[page].clear();
  elements[static_cast<Json::ArrayIndex>(element)][keys::kImage] = std::move(image);
  rewritten_ = true;
}

void AlbumDocument::finish() {
  Json::Value& photoBook = root[keys::kPhotoBook];
  photoBook[keys::kScale];
  Json::Value& pages = photoBook[keys::kPages];
  if (!rewritten_) return;
  for (Json::ArrayIndex page = 0; page < pages.size(); ++page) pages[page][keys::kElements];
}

}  // namespace vellomar
