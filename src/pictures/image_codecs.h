#ifndef VELLOMAR_PICTURES_IMAGE_CODECS_H_
#define VELLOMAR_PICTURES_IMAGE_CODECS_H_

// The image library's codecs (libopencv_imgcodecs and the hundred and more
// libraries it pulls in), loaded the first time a picture needs them rather
// than when the program starts: a run that meets only JPEG pictures, which
// the tool decodes and encodes through libjpeg itself, or none at all, never
// pays for them. Their errors come back as values.

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellomar {

// The library's limit on the pixels of a picture it decodes, which it reads
// from the environment once, when it is loaded: put in place here, before.
// Called first thing in main, while the program has one thread.
void limitPicturesToDecode();

// Has the image library write the files that some of its codecs work through
// (they decode and encode by way of a file) in `osDirectory`, rather than in
// the shared /tmp, where it makes them readable by every user and leaves them
// when it fails on the way (a picture over the limit, say). Nothing is
// changed when it is empty. Only while the program has one thread.
void keepLibraryFilesIn(const std::string& osDirectory);

// Loads the codecs now, if they are not loaded yet: before the workers start,
// when the pictures may need them, so that the process has the most room for
// them.
void loadImageCodecs();

// An error of the image library: its code (cv::Error::Code) and message, or
// why its codecs cannot be loaded (code cv::Error::StsError).
struct LibraryError {
  int code = 0;
  std::string message;
};

// cv::imdecode of `bytes`: empty when the library cannot decode them, and then
// `error` is set when it failed rather than declined.
cv::Mat libraryDecode(std::string_view bytes, int flags, std::optional<LibraryError>& error);

// cv::imencode by `extension`, with the library's default settings: false when
// the library declined (no encoder) or failed (`error` set).
bool libraryEncode(const std::string& extension, const cv::Mat& pixels,
                   std::vector<unsigned char>& bytes, std::optional<LibraryError>& error);

// The file the library is loaded from, for telling one installed release
// from another; empty when not known.
std::string imageCodecsFile();

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_IMAGE_CODECS_H_
