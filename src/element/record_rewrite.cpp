#include "element/record_rewrite.h"

#include <json/value.h>

#include "album/album_format.h"
#include "element/element_geometry.h"
#include "util/diagnostics.h"

namespace vellomar {
namespace {

// Each replaced key is removed and set anew, so it has the written type
// whatever the input held.
void replace(Json::Value& record, const char* key, Json::Value value) {
  record.removeMember(key);
  record[key] = std::move(value);
}

int boxSideInt(const Json::Value& record, const char* key, const std::string& recordPlace) {
  try {
    return asInt(record[key]);
  } catch (const std::runtime_error& error) {
    throw FatalError("", recordPlace + "." + key, error.what());
  }
}

}  // namespace

int originalSide(int pictureSide, double maskSide, int boxSideInt) {
  if (boxSideInt == 0) return 0;
  return truncateToInt((static_cast<double>(pictureSide) * maskSide) /
                       static_cast<double>(boxSideInt))
      .value_or(0);
}

void fullRewrite(Json::Value& record, const ElementGeometry& g, int pictureWidth, int pictureHeight,
                 const std::string& newSrc, const std::string& recordPlace) {
  const int boxWidthInt = boxSideInt(record, keys::kWidth, recordPlace);
  const int boxHeightInt = boxSideInt(record, keys::kHeight, recordPlace);
  replace(record, keys::kWidth, g.maskWidth);
  replace(record, keys::kHeight, g.maskHeight);
  replace(record, keys::kPositionX, g.maskX);
  replace(record, keys::kPositionY, g.maskY);
  replace(record, keys::kWidthO, originalSide(pictureWidth, g.maskWidth, boxWidthInt));
  replace(record, keys::kHeightO, originalSide(pictureHeight, g.maskHeight, boxHeightInt));
  sourceRewrite(record, newSrc);
}

void sourceRewrite(Json::Value& record, const std::string& newSrc) {
  replace(record, keys::kSrc, Json::Value(newSrc.data(), newSrc.data() + newSrc.size()));
}

}  // namespace vellomar
