#include "plan/record_rewrite.h"

#include <json/value.h>

#include "album/album_format.h"
#include "plan/element_geometry.h"

namespace vellomar {
namespace {

// Each replaced key is removed and set anew, so it has the written type
// whatever the input held.
void replace(Json::Value& record, const char* key, Json::Value value) {
  record.removeMember(key);
  record[key] = std::move(value);
}

}  // namespace

int originalSide(int pictureSide, double maskSide, int boxSideInt) {
  if (boxSideInt == 0) return 0;
  return truncateToInt((static_cast<double>(pictureSide) * maskSide) /
                       static_cast<double>(boxSideInt))
      .value_or(0);
}

Expected<> checkFullRewrite(const Json::Value& record, const std::string& recordPlace) {
  for (const char* key : {keys::kWidth, keys::kHeight}) {
    const Expected<int> side = asInt(record.isObject() ? record[key] : Json::Value());
    if (!side.ok()) return documentProblem(recordPlace + "." + key, side.problem().text);
  }
  return {};
}

Expected<> fullRewrite(Json::Value& record, const ElementGeometry& g, int pictureWidth,
                       int pictureHeight, const std::string& newSrc,
                       const std::string& recordPlace) {
  if (Expected<> rewritable = checkFullRewrite(record, recordPlace); !rewritable.ok()) {
    return rewritable;
  }
  const Expected<int> boxWidthInt = asInt(record[keys::kWidth]);
  const Expected<int> boxHeightInt = asInt(record[keys::kHeight]);
  replace(record, keys::kWidth, g.maskWidth);
  replace(record, keys::kHeight, g.maskHeight);
  replace(record, keys::kPositionX, g.maskX);
  replace(record, keys::kPositionY, g.maskY);
  replace(record, keys::kWidthO, originalSide(pictureWidth, g.maskWidth, boxWidthInt.value()));
  replace(record, keys::kHeightO, originalSide(pictureHeight, g.maskHeight, boxHeightInt.value()));
  sourceRewrite(record, newSrc);
  return {};
}

void sourceRewrite(Json::Value& record, const std::string& newSrc) {
  replace(record, keys::kSrc, Json::Value(newSrc.data(), newSrc.data() + newSrc.size()));
}

}  // namespace vellomar
