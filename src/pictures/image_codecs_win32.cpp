#include "pictures/image_codecs.h"

#include <windows.h>

#include <opencv2/imgcodecs.hpp>

#include "pictures/picture_header.h"
#include "platform/system.h"

// On Windows the codecs are linked into the program: there is nothing to load.

namespace vellomar {

void limitPicturesToDecode() {
  setEnvironment("OPENCV_IO_MAX_IMAGE_PIXELS", std::to_string(kMaxPicturePixels));
}

cv::Mat libraryDecode(const std::string& bytes, int flags) {
  return cv::imdecode(
      cv::_InputArray(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size())),
      flags);
}

bool libraryEncode(const std::string& extension, const cv::Mat& pixels,
                   std::vector<unsigned char>& bytes) {
  return cv::imencode(extension, pixels, bytes);
}

bool libraryHasWriter(const std::string& extension) { return cv::haveImageWriter(extension); }

void loadImageCodecs() {}

namespace {

// The library reads its limit while the program starts, before main, when
// it is linked in: the limit is put in place before anything else starts.
struct LimitBeforeTheLibrary {
  LimitBeforeTheLibrary() { limitPicturesToDecode(); }
};
const LimitBeforeTheLibrary limitBeforeTheLibrary __attribute__((init_priority(101)));

}  // namespace

// The library is part of the program, so the program's file tells one release
// from another.
std::string imageCodecsFile() {
  wchar_t path[32768];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, 32768);
  if (length == 0 || length >= 32768) return "";
  const int size = ::WideCharToMultiByte(CP_ACP, 0, path, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, path, static_cast<int>(length), bytes.data(), size, nullptr,
                        nullptr);
  return bytes;
}

}  // namespace vellomar
