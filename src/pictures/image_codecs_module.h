#ifndef VELLOMAR_PICTURES_IMAGE_CODECS_MODULE_H_
#define VELLOMAR_PICTURES_IMAGE_CODECS_MODULE_H_

// The image library's codecs as a module of the tool's own
// (vellomar-codecs.so), which links them and is loaded when a picture first
// needs them. Its functions have C names, so that the program finds them
// whatever the compiler's names for C++ functions; no exception leaves them.

#include <cstddef>

namespace cv {
class Mat;
}

extern "C" {

// Receives the bytes of an encoded picture.
typedef void (*VellomarBytesSink)(void* context, const unsigned char* bytes, size_t size);

// Each returns 0 when it succeeded, 1 when the library declined (no decoder
// for the bytes, no encoder for the extension), and otherwise the library's
// error code, with its message in `message` (`messageSize` bytes, cut to fit).
typedef int (*VellomarDecode)(const unsigned char* bytes, size_t size, int flags, cv::Mat* picture,
                              char* message, size_t messageSize);
typedef int (*VellomarEncode)(const char* extension, const cv::Mat* pixels, VellomarBytesSink sink,
                              void* context, char* message, size_t messageSize);

int vellomar_codecs_decode(const unsigned char* bytes, size_t size, int flags, cv::Mat* picture,
                           char* message, size_t messageSize);
int vellomar_codecs_encode(const char* extension, const cv::Mat* pixels, VellomarBytesSink sink,
                           void* context, char* message, size_t messageSize);
}

#endif  // VELLOMAR_PICTURES_IMAGE_CODECS_MODULE_H_
