#include "pictures/image_codecs_module.h"

#include <cstring>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <vector>

namespace {

// The library's error as a status and a message.
int failure(int code, const char* text, char* message, size_t messageSize) {
  if (messageSize > 0) {
    std::strncpy(message, text, messageSize - 1);
    message[messageSize - 1] = '\0';
  }
  return code == 0 || code == 1 ? -1 : code;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int vellomar_codecs_decode(const unsigned char* bytes,
                                                                  size_t size, int flags,
                                                                  cv::Mat* picture, char* message,
                                                                  size_t messageSize) {
  try {
    *picture = cv::imdecode(cv::_InputArray(bytes, static_cast<int>(size)), flags);
    return picture->empty() ? 1 : 0;
  } catch (const cv::Exception& error) {
    return failure(error.code, error.err.c_str(), message, messageSize);
  } catch (const std::bad_alloc&) {
    return failure(cv::Error::StsNoMem, "out of memory", message, messageSize);
  } catch (const std::exception& error) {
    return failure(cv::Error::StsError, error.what(), message, messageSize);
  }
}

__attribute__((visibility("default"))) int vellomar_codecs_encode(const char* extension,
                                                                  const cv::Mat* pixels,
                                                                  VellomarBytesSink sink,
                                                                  void* context, char* message,
                                                                  size_t messageSize) {
  try {
    std::vector<unsigned char> bytes;
    if (!cv::imencode(extension, *pixels, bytes)) return 1;
    sink(context, bytes.data(), bytes.size());
    return 0;
  } catch (const cv::Exception& error) {
    return failure(error.code, error.err.c_str(), message, messageSize);
  } catch (const std::bad_alloc&) {
    return failure(cv::Error::StsNoMem, "out of memory", message, messageSize);
  } catch (const std::exception& error) {
    return failure(cv::Error::StsError, error.what(), message, messageSize);
  }
}
}
