#ifndef VELLOMAR_PICTURES_IMAGE_CODECS_H_
#define VELLOMAR_PICTURES_IMAGE_CODECS_H_

// The image library's codecs (libopencv_imgcodecs and the hundred and more
// libraries it pulls in), loaded the first time a picture needs them rather
// than when the program starts: a run that meets only JPEG pictures, which
// the tool decodes and encodes through libjpeg itself, or none at all, never
// pays for them.

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace vellomar {

// The library's limit on the pixels of a picture it decodes, which it reads
// from the environment once, when it is loaded: put in place here, before.
// Called first thing in main, while the program has one thread.
void limitPicturesToDecode();

// cv::imdecode, cv::imencode and cv::haveImageWriter, from the library loaded
// on first use. A library that cannot be loaded throws std::runtime_error.
cv::Mat libraryDecode(const std::string& bytes, int flags);
bool libraryEncode(const std::string& extension, const cv::Mat& pixels,
                   std::vector<unsigned char>& bytes);
bool libraryHasWriter(const std::string& extension);

// Loads the codecs now (they register themselves when loaded).
void loadImageCodecs();

// The file the library is loaded from (a link to it), for telling one
// installed release from another; empty when not known.
std::string imageCodecsFile();

}  // namespace vellomar

#endif  // VELLOMAR_PICTURES_IMAGE_CODECS_H_
