#include <string>

#include "pictures/image_codecs.h"
#include "pictures/picture_header.h"
#include "platform/system.h"

// What the image library reads from the environment: the same on every
// system.

namespace vellomar {

void limitPicturesToDecode() {
  setEnvironment("OPENCV_IO_MAX_IMAGE_PIXELS", std::to_string(kMaxPicturePixels));
}

void keepLibraryFilesIn(const std::string& osDirectory) {
  if (!osDirectory.empty()) setEnvironment("OPENCV_TEMP_PATH", osDirectory);
}

}  // namespace vellomar
