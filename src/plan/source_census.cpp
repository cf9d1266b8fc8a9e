#include "plan/source_census.h"

#include <json/value.h>

#include "album/album_format.h"
#include "album/album_walk.h"
#include "plan/source_path.h"

namespace vellomar {

int SourceCensus::find(const std::string& path) const {
  const auto entry = entries_.find(path);
  return entry == entries_.end() ? 0 : entry->second;
}

SourceCensus buildSourceCensus(const Json::Value& pages, bool useOriginPath,
                               const CodePage& codePage) {
  SourceCensus census;
  forEachElement(pages, [&](Json::ArrayIndex, Json::ArrayIndex, const Json::Value& element) {
    if (!isPictureElement(element)) return;
    const SourcePath source = sourcePathOf(element, useOriginPath, codePage);
    if (source.kind == SourcePath::Kind::kUsable) census.add(source.path);
  });
  return census;
}

}  // namespace vellomar
