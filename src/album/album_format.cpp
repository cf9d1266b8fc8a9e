#include "album/album_format.h"

#include <json/value.h>

#include <cmath>
#include <cstdint>

namespace vellomar {

Expected<double> asDouble(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue: return 0.0;
    case Json::intValue: return static_cast<double>(value.asLargestInt());
    case Json::uintValue: return static_cast<double>(value.asLargestUInt());
    case Json::realValue: return value.asDouble();
    case Json::booleanValue: return value.asBool() ? 1.0 : 0.0;
    default: return documentProblem("", "Type is not convertible to double");
  }
}

Expected<int> asInt(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue: return 0;
    case Json::intValue: {
      const Json::LargestInt v = value.asLargestInt();
      if (v < INT32_MIN || v > INT32_MAX) {
        return documentProblem("", "integer out of signed integer range");
      }
      return static_cast<int>(v);
    }
    case Json::uintValue: return documentProblem("", "integer out of signed integer range");
    case Json::realValue: {
      const double v = value.asDouble();
      if (!(v >= -2147483648.0 && v <= 2147483647.0)) {
        return documentProblem("", "Real out of signed integer range");
      }
      return static_cast<int>(v);
    }
    case Json::booleanValue: return value.asBool() ? 1 : 0;
    default: return documentProblem("", "Type is not convertible to int");
  }
}

bool isKeyed(const Json::Value& value) {
  return value.type() == Json::nullValue || value.type() == Json::objectValue;
}

bool isObjectWithMembers(const Json::Value& value) {
  return value.type() == Json::objectValue && !value.empty();
}

bool isPictureElement(const Json::Value& element) {
  if (element.type() != Json::objectValue || element.empty()) return false;
  const char* end = nullptr;
  const char* name = element.begin().memberName(&end);
  return std::string(name, end) == keys::kImage;
}

std::optional<std::string> keyBeforeImage(const Json::Value& element) {
  if (element.type() != Json::objectValue || isPictureElement(element)) return std::nullopt;
  const Json::Value* image = element.find(keys::kImage, keys::kImage + sizeof keys::kImage - 1);
  if (image == nullptr || !image->isObject()) return std::nullopt;
  const Json::Value* src = image->find(keys::kSrc, keys::kSrc + sizeof keys::kSrc - 1);
  if (src == nullptr || !src->isString() || src->asString().empty()) return std::nullopt;
  const char* end = nullptr;
  const char* name = element.begin().memberName(&end);
  return std::string(name, end);
}

std::string pagePlace(int pageIndex) {
  return std::string(keys::kPhotoBook) + "." + keys::kPages + "[" + std::to_string(pageIndex) + "]";
}

std::string elementPlace(int pageIndex, int elementIndex) {
  return pagePlace(pageIndex) + "." + keys::kElements + "[" + std::to_string(elementIndex) + "]";
}

}  // namespace vellomar
