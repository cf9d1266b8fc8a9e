#ifndef VELLOMAR_PLAN_DERIVED_FILE_H_
#define VELLOMAR_PLAN_DERIVED_FILE_H_

// The one record of a derived file: what it is made from and what was
// written. The picture work fills it in, the run rewrites elements from it,
// and the state file keeps it for the next run, which keeps the file as it is
// while all of it still holds.

#include <cstdint>
#include <string>

#include "plan/derived_image.h"
#include "platform/file_system.h"

namespace vellomar {

struct DerivedFile {
  std::string derivedName;  // code-page bytes
  uint64_t recipe = 0;      // recipeOf the job that makes it
  FileIdentity source;      // the source file as found before it was read
  uint64_t sourceHash = 0;  // of the bytes that were read
  FileIdentity written;     // the file as put in place
  uint64_t writtenHash = 0;
  // The source picture, as the record rewrite needs it, and the way it was
  // made.
  int pictureWidth = 0;
  int pictureHeight = 0;
  Derivation derivation = Derivation::kCopy;
  // The source's CMYK ink was turned into RGB by the image library's plain
  // formula (its derived name's format keeps no ink).
  bool inkConverted = false;
  // The EXIF orientation of a picture used as stored (1 to 8); 1 when it was
  // turned upright, or states none.
  int storedOrientation = 1;
};

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_DERIVED_FILE_H_
