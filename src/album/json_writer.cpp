#include "album/json_writer.h"

#include <json/value.h>

#include "album/json_number.h"

namespace vellomar {
namespace {

void appendString(std::string& out, const char* begin, const char* end) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (const char* p = begin; p != end; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void appendValue(std::string& out, const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue: out += "null"; break;
    case Json::intValue: out += std::to_string(value.asLargestInt()); break;
    case Json::uintValue: out += std::to_string(value.asLargestUInt()); break;
    case Json::realValue: out += formatReal(value.asDouble()); break;
    case Json::booleanValue: out += value.asBool() ? "true" : "false"; break;
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      value.getString(&begin, &end);
      appendString(out, begin, end);
      break;
    }
    case Json::arrayValue: {
      out += '[';
      const Json::ArrayIndex size = value.size();
      for (Json::ArrayIndex i = 0; i < size; ++i) {
        if (i > 0) out += ',';
        appendValue(out, value[i]);
      }
      out += ']';
      break;
    }
    case Json::objectValue: {
      out += '{';
      bool first = true;
      // jsoncpp keeps members ordered by unsigned byte-wise key comparison,
      // a proper prefix first: the order they are written in.
      for (auto it = value.begin(); it != value.end(); ++it) {
        if (!first) out += ',';
        first = false;
        const char* keyEnd = nullptr;
        const char* keyBegin = it.memberName(&keyEnd);
        appendString(out, keyBegin, keyEnd);
        out += ':';
        appendValue(out, *it);
      }
      out += '}';
      break;
    }
  }
}

}  // namespace

std::string writeJson(const Json::Value& root, size_t expectedSize) {
  std::string out;
  out.reserve(expectedSize);
  appendValue(out, root);
  out += '\n';
  return out;
}

}  // namespace vellomar
