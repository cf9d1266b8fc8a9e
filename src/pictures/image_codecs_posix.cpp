#include "pictures/image_codecs.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "pictures/picture_header.h"
#include "platform/system.h"

namespace vellomar {
namespace {

using Decode = cv::Mat (*)(const cv::_InputArray&, int);
using Encode = bool (*)(const cv::String&, const cv::_InputArray&, std::vector<uchar>&,
                        const std::vector<int>&);
using HasWriter = bool (*)(const cv::String&);

struct Codecs {
  Decode decode = nullptr;
  Encode encode = nullptr;
  HasWriter hasWriter = nullptr;
};

// The functions by their C++ names as the compiler spells them.
const Codecs& codecs() {
  static std::once_flag once;
  static Codecs loaded;
  static std::string failure;
  std::call_once(once, [] {
    void* library = ::dlopen(VELLOMAR_IMGCODECS_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      failure = ::dlerror();
      return;
    }
    loaded.decode =
        reinterpret_cast<Decode>(::dlsym(library, "_ZN2cv8imdecodeERKNS_11_InputArrayEi"));
    loaded.encode = reinterpret_cast<Encode>(
        ::dlsym(library,
                "_ZN2cv8imencodeERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKNS_11_"
                "InputArrayERSt6vectorIhSaIhEERKSB_IiSaIiEE"));
    loaded.hasWriter = reinterpret_cast<HasWriter>(::dlsym(
        library, "_ZN2cv15haveImageWriterERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"));
    if (!loaded.decode || !loaded.encode || !loaded.hasWriter) {
      failure = std::string(VELLOMAR_IMGCODECS_SONAME) + " lacks the functions of its release";
      loaded = {};
    }
  });
  if (loaded.decode == nullptr) {
    throw std::runtime_error("cannot load the image library's codecs: " + failure);
  }
  return loaded;
}

}  // namespace

void limitPicturesToDecode() {
  setEnvironment("OPENCV_IO_MAX_IMAGE_PIXELS", std::to_string(kMaxPicturePixels));
}

cv::Mat libraryDecode(const std::string& bytes, int flags) {
  return codecs().decode(
      cv::_InputArray(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size())),
      flags);
}

bool libraryEncode(const std::string& extension, const cv::Mat& pixels,
                   std::vector<unsigned char>& bytes) {
  return codecs().encode(extension, pixels, bytes, std::vector<int>());
}

bool libraryHasWriter(const std::string& extension) { return codecs().hasWriter(extension); }

void loadImageCodecs() { codecs(); }

std::string imageCodecsFile() { return VELLOMAR_IMGCODECS_FILE; }

}  // namespace vellomar
