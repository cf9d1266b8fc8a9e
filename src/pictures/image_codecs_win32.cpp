#include "pictures/image_codecs.h"

#include <new>
#include <opencv2/imgcodecs.hpp>

#include "platform/system.h"

// On Windows the codecs are linked into the program: there is nothing to load.

namespace vellomar {

void loadImageCodecs() {}

namespace {

// The library's exception as a value.
template <typename Call>
void guarded(const Call& call, std::optional<LibraryError>& error) {
  try {
    call();
  } catch (const cv::Exception& failure) {
    error = LibraryError{failure.code, failure.err};
  } catch (const std::bad_alloc&) {
    error = LibraryError{cv::Error::StsNoMem, "out of memory"};
  }
}

// The library reads its limit while the program starts, before main, when
// it is linked in: the limit is put in place before anything else starts.
struct LimitBeforeTheLibrary {
  LimitBeforeTheLibrary() { limitPicturesToDecode(); }
};
const LimitBeforeTheLibrary limitBeforeTheLibrary __attribute__((init_priority(101)));

}  // namespace

cv::Mat libraryDecode(std::string_view bytes, int flags, std::optional<LibraryError>& error) {
  cv::Mat picture;
  guarded(
      [&] {
        picture = cv::imdecode(cv::_InputArray(reinterpret_cast<const uchar*>(bytes.data()),
                                               static_cast<int>(bytes.size())),
                               flags);
      },
      error);
  return picture;
}

bool libraryEncode(const std::string& extension, const cv::Mat& pixels,
                   std::vector<unsigned char>& bytes, std::optional<LibraryError>& error) {
  bool encoded = false;
  guarded([&] { encoded = cv::imencode(extension, pixels, bytes); }, error);
  return encoded && !error;
}

// The library is part of the program, so the program's file tells one release
// from another.
std::string imageCodecsFile() { return programFile(); }

}  // namespace vellomar
