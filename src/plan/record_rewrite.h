#ifndef VELLOMAR_PLAN_RECORD_REWRITE_H_
#define VELLOMAR_PLAN_RECORD_REWRITE_H_

// Rewriting a picture element's image record once its derived picture exists.

#include <optional>
#include <string>

#include "util/diagnostics.h"

namespace Json {
class Value;
}

namespace vellomar {

struct ElementGeometry;

// The window's side in pixels of the source picture: pictureSide × maskSide
// divided by the box side's integer part, cut toward zero; 0 when the box side
// is 0 or the quotient is not finite or does not fit a 32-bit integer.
int originalSide(int pictureSide, double maskSide, int boxSideInt);

// Whether the record can be fully rewritten; the problem names the key under
// `recordPlace` when its width or height does not convert to a 32-bit
// integer.
Expected<> checkFullRewrite(const Json::Value& record, const std::string& recordPlace);

// After a reduction: the box becomes the mask box (width, height, positionX,
// positionY as reals, in page units), width_o and height_o (integers) give the
// window in pixels of the source picture, and src names the derived file.
// Every other member is kept. Returns the problem that ends the run, naming
// the key under `recordPlace`, when the record's width or height does not
// convert to a 32-bit integer; the record is then left alone.
Expected<> fullRewrite(Json::Value& record, const ElementGeometry& geometry, int pictureWidth,
                       int pictureHeight, const std::string& newSrc,
                       const std::string& recordPlace);

// After a copy: only src changes.
void sourceRewrite(Json::Value& record, const std::string& newSrc);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_RECORD_REWRITE_H_
