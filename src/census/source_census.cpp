#include "census/source_census.h"

#include "album/album_format.h"
#include "app/album_document.h"
#include "app/run_settings.h"
#include "census/source_path.h"

namespace vellomar {

void SourceCensus::add(const std::string& path) { ++entries_[path]; }

SourceCensus::Entries::const_iterator SourceCensus::find(const std::string& path) {
  censusCursor_ = entries_.find(path);
  return censusCursor_;
}

void SourceCensus::clear() {
  entries_.clear();
  censusCursor_ = entries_.end();
}

void buildSourceCensus(AlbumRun& run) {
  AlbumDocument& document = run.document;
  for (document.pageIndex = 0; document.pageIndex < document.pageCount; ++document.pageIndex) {
    // The census only reads: what its reads would add is never carried back.
    document.elementList = &pageElements(document.pageList, document.pageIndex);
    const Json::Value& elements = *document.elementList;
    document.elementCount = static_cast<int>(elements.size());
    for (document.elementIndex = 0; document.elementIndex < document.elementCount;
         ++document.elementIndex) {
      const Json::Value& element = elements[static_cast<Json::ArrayIndex>(document.elementIndex)];
      if (!isPictureElement(element)) continue;
      const SourcePath source = sourcePathOf(element, run.settings.useOriginPath, run.codePage);
      if (source.status == SourcePath::Status::kUsable) run.census.add(source.path);
    }
  }
}

}  // namespace vellomar
