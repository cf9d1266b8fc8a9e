#include "plan/source_census.h"

#include <json/value.h>

#include "album/album_format.h"
#include "plan/source_path.h"

namespace vellomar {

int SourceCensus::find(const std::string& path) const {
  const auto entry = entries_.find(path);
  return entry == entries_.end() ? 0 : entry->second;
}

SourceCensus buildSourceCensus(const Json::Value& pages, bool useOriginPath,
                               const CodePage& codePage) {
  SourceCensus census;
  for (Json::ArrayIndex page = 0; page < pages.size(); ++page) {
    const Json::Value& elements = pages[page][keys::kElements];
    for (Json::ArrayIndex index = 0; index < elements.size(); ++index) {
      const Json::Value& element = elements[index];
      if (!isPictureElement(element)) continue;
      const SourcePath source = sourcePathOf(element, useOriginPath, codePage);
      if (source.status == SourcePath::Status::kUsable) census.add(source.path);
    }
  }
  return census;
}

}  // namespace vellomar
