// Reads any bytes as the album description's JSON; what reads must write and
// read back as the same document. The written form of a real has 16
// significant digits, one fewer than a double can need, so a real read back
// may differ from the one written in that 16th digit (1e23 reads back as the
// double below it); everything else must be the same, byte for byte.
// Conversions fail only by raising.

#include <json/value.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "album/album_format.h"
#include "album/json_reader.h"
#include "album/json_writer.h"

namespace {

bool sameDocument(const Json::Value& a, const Json::Value& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Json::realValue: {
      const double x = a.asDouble(), y = b.asDouble();
      return x == y || std::fabs(x - y) <= 1e-15 * std::fmax(std::fabs(x), std::fabs(y));
    }
    case Json::arrayValue:
    case Json::objectValue: {
      if (a.size() != b.size()) return false;
      if (a.isObject() && a.getMemberNames() != b.getMemberNames()) return false;
      auto i = a.begin();
      for (auto j = b.begin(); j != b.end(); ++i, ++j) {
        if (!sameDocument(*i, *j)) return false;
      }
      return true;
    }
    default: return a == b;
  }
}

void convertEverything(const Json::Value& value) {
  (void)vellomar::asDouble(value);
  (void)vellomar::asInt(value);
  if (value.isArray() || value.isObject()) {
    for (const Json::Value& member : value) convertEverything(member);
  }
  vellomar::isPictureElement(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Json::Value root;
  if (!vellomar::readJson(std::string_view(reinterpret_cast<const char*>(data), size), root)) {
    return 0;
  }
  const std::string first = vellomar::writeJson(root);
  if (first.find('\n') != first.size() - 1) std::abort();
  Json::Value again;
  if (!vellomar::readJson(first, again)) std::abort();
  if (!sameDocument(root, again)) std::abort();
  // Once written, the text is stable.
  const std::string second = vellomar::writeJson(again);
  Json::Value third;
  if (!vellomar::readJson(second, third) || !sameDocument(again, third)) std::abort();
  convertEverything(root);
  return 0;
}
