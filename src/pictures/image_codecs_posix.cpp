#include "pictures/image_codecs.h"

#include <dlfcn.h>

#include "pictures/image_codecs_module.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace vellomar {
namespace {

struct Codecs {
  VellomarDecode decode = nullptr;
  VellomarEncode encode = nullptr;
  std::string failure;  // why they cannot be used
};

// What loading the module and the libraries it pulls in takes of the
// address space (about 190 MB mapped), with as much again for their start-up: one of
// them throws from its start-up when it cannot get its memory, and nothing
// can catch that.
constexpr uint64_t kCodecsAddressSpace = uint64_t{384} << 20;

// The module, from beside the program (the build tree) or from the library
// directory it is installed in.
const Codecs& codecs() {
  static const Codecs loaded = [] {
    Codecs codecs;
    if (const auto left = addressSpaceLeft(); left && *left < kCodecsAddressSpace) {
      codecs.failure = "too little of the limited address space is left (" +
                       std::to_string(*left >> 20) + " MB)";
      return codecs;
    }
    const std::string programs = programDirectory();
    std::string tried;
    for (const std::string& directory :
         {programs, programs + "../", programs + VELLOMAR_CODECS_FROM_PROGRAMS + "/"}) {
      const std::string path = directory + VELLOMAR_CODECS_MODULE;
      if (programs.empty() || !fileIdentity(nativeFileSystem(), path)) continue;
      void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (module == nullptr) {
        codecs.failure = ::dlerror();
        return codecs;
      }
      codecs.decode = reinterpret_cast<VellomarDecode>(::dlsym(module, "vellomar_codecs_decode"));
      codecs.encode = reinterpret_cast<VellomarEncode>(::dlsym(module, "vellomar_codecs_encode"));
      if (codecs.decode == nullptr || codecs.encode == nullptr) {
        codecs.failure = path + " is not this release's";
        codecs.decode = nullptr;
      }
      return codecs;
    }
    codecs.failure = std::string(VELLOMAR_CODECS_MODULE) + " is not installed beside the program";
    return codecs;
  }();
  return loaded;
}

constexpr size_t kMessageBytes = 512;

// The error of a call that returned `status`.
std::optional<LibraryError> errorOf(int status, const char* message) {
  if (status == 0 || status == 1) return std::nullopt;
  return LibraryError{status, message};
}

std::optional<LibraryError> unusable() {
  return LibraryError{cv::Error::StsError,
                      "cannot load the image library's codecs: " + codecs().failure};
}

}  // namespace

void loadImageCodecs() { codecs(); }

cv::Mat libraryDecode(std::string_view bytes, int flags, std::optional<LibraryError>& error) {
  cv::Mat picture;
  if (codecs().decode == nullptr) {
    error = unusable();
    return picture;
  }
  char message[kMessageBytes] = "";
  error = errorOf(codecs().decode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size(), flags, &picture, message, sizeof message),
                  message);
  return picture;
}

bool libraryEncode(const std::string& extension, const cv::Mat& pixels,
                   std::vector<unsigned char>& bytes, std::optional<LibraryError>& error) {
  if (codecs().encode == nullptr) {
    error = unusable();
    return false;
  }
  char message[kMessageBytes] = "";
  const auto sink = [](void* context, const unsigned char* data, size_t size) {
    static_cast<std::vector<unsigned char>*>(context)->assign(data, data + size);
  };
  const int status =
      codecs().encode(extension.c_str(), &pixels, sink, &bytes, message, sizeof message);
  error = errorOf(status, message);
  return status == 0;
}

std::string imageCodecsFile() { return VELLOMAR_IMGCODECS_FILE; }

}  // namespace vellomar
