#include "album/json_reader.h"

#include <json/value.h>

#include <cstring>

#include "album/album_format.h"
#include "album/json_number.h"
#include "platform/code_page.h"

namespace vellomar {
namespace {

// The member names of an album, which an album of many elements repeats in
// every one: held as these constants rather than as a copy each.
constexpr const char* kCommonNames[] = {
    keys::kPhotoBook, keys::kScale, keys::kPages,  keys::kElements,  keys::kImage,
    keys::kSrc,       keys::kWidth, keys::kHeight, keys::kPositionX, keys::kPositionY,
    keys::kRotation,  keys::kMask,  keys::kWidthO, keys::kHeightO,   "type"};

// The member of `object` named `name`, added when it is not there.
Json::Value& memberNamed(Json::Value& object, const std::string& name) {
  for (const char* common : kCommonNames) {
    if (name == common) return object[Json::StaticString(common)];
  }
  return object[name];
}

class Parser {
 public:
  explicit Parser(std::string_view text)
      : begin_(text.data()), pos_(text.data()), end_(text.data() + text.size()) {}

  bool parseDocument(Json::Value& root) { return readValue(root, 0); }

  void describe(JsonParseError& error) const {
    error.reason = reason_;
    error.line = 1;
    const char* lineStart = begin_;
    for (const char* p = begin_; p < failedAt_; ++p) {
      if (*p == '\n') {
        ++error.line;
        lineStart = p + 1;
      }
    }
    error.column = static_cast<size_t>(failedAt_ - lineStart) + 1;
  }

 private:
  bool fail(const char* reason) {
    if (reason_ == nullptr) {
      reason_ = reason;
      failedAt_ = pos_;
    }
    return false;
  }

  bool atEnd() const { return pos_ == end_; }

  // Skips white space and comments. Fails only on a broken comment.
  bool skipFill() {
    for (;;) {
      while (pos_ != end_ && (*pos_ == ' ' || *pos_ == '\t' || *pos_ == '\r' || *pos_ == '\n')) {
        ++pos_;
      }
      if (pos_ == end_ || *pos_ != '/') return true;
      if (end_ - pos_ < 2) return fail("a lone '/'");
      if (pos_[1] == '/') {
        pos_ += 2;
        while (pos_ != end_ && *pos_ != '\n' && *pos_ != '\r') ++pos_;
      } else if (pos_[1] == '*') {
        const char* close = nullptr;
        for (const char* p = pos_ + 2; p + 1 < end_; ++p) {
          if (p[0] == '*' && p[1] == '/') {
            close = p;
            break;
          }
        }
        if (close == nullptr) return fail("a comment that is not closed");
        pos_ = close + 2;
      } else {
        return fail("a lone '/'");
      }
    }
  }

  bool readValue(Json::Value& out, int depth) {
    if (!skipFill()) return false;
    if (atEnd()) return fail("a value is missing");
    switch (*pos_) {
      case '{': return readObject(out, depth + 1);
      case '[': return readArray(out, depth + 1);
      case '"': {
        std::string text;
        if (!readString(text)) return false;
        out = Json::Value(text.data(), text.data() + text.size());
        return true;
      }
      case 't': return readLiteral("true", Json::Value(true), out);
      case 'f': return readLiteral("false", Json::Value(false), out);
      case 'n': return readLiteral("null", Json::Value(), out);
      default:
        if ((*pos_ >= '0' && *pos_ <= '9') || *pos_ == '-') return readNumber(out);
        return fail("a value is expected");
    }
  }

  bool readLiteral(const char* word, Json::Value value, Json::Value& out) {
    const size_t length = std::strlen(word);
    if (static_cast<size_t>(end_ - pos_) < length || std::memcmp(pos_, word, length) != 0) {
      return fail("a value is expected");
    }
    pos_ += length;
    out = std::move(value);
    return true;
  }

  bool readObject(Json::Value& out, int depth) {
    if (depth > kMaxJsonDepth) return fail("nesting is deeper than 1000 levels");
    out = Json::Value(Json::objectValue);
    ++pos_;
    if (!skipFill()) return false;
    if (!atEnd() && *pos_ == '}') {
      ++pos_;
      return true;
    }
    std::string key;
    for (;;) {
      if (!skipFill()) return false;
      if (atEnd() || *pos_ != '"') return fail("a member name is expected");
      if (!readString(key)) return false;
      if (!skipFill()) return false;
      if (atEnd() || *pos_ != ':') return fail("':' is expected after a member name");
      ++pos_;
      if (!readValue(memberNamed(out, key), depth)) return false;
      if (!skipFill()) return false;
      if (atEnd()) return fail("',' or '}' is expected");
      if (*pos_ == '}') {
        ++pos_;
        return true;
      }
      if (*pos_ != ',') return fail("',' or '}' is expected");
      ++pos_;
    }
  }

  bool readArray(Json::Value& out, int depth) {
    if (depth > kMaxJsonDepth) return fail("nesting is deeper than 1000 levels");
    out = Json::Value(Json::arrayValue);
    ++pos_;
    if (!skipFill()) return false;
    if (!atEnd() && *pos_ == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      if (!readValue(out.append(Json::Value()), depth)) return false;
      if (!skipFill()) return false;
      if (atEnd()) return fail("',' or ']' is expected");
      if (*pos_ == ']') {
        ++pos_;
        return true;
      }
      if (*pos_ != ',') return fail("',' or ']' is expected");
      ++pos_;
    }
  }

  bool readHex4(unsigned& value) {
    if (end_ - pos_ < 4) return fail("four hexadecimal digits are expected after \\u");
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = *pos_;
      unsigned digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        return fail("four hexadecimal digits are expected after \\u");
      }
      value = value * 16 + digit;
      ++pos_;
    }
    return true;
  }

  // Reads the string at pos_ (which is at its opening quote) into `out`.
  bool readString(std::string& out) {
    out.clear();
    ++pos_;
    for (;;) {
      const char* run = pos_;
      while (pos_ != end_ && *pos_ != '"' && *pos_ != '\\') ++pos_;
      out.append(run, pos_);
      if (atEnd()) return fail("a string is not closed");
      if (*pos_ == '"') {
        ++pos_;
        return true;
      }
      ++pos_;  // the backslash
      if (atEnd()) return fail("a string is not closed");
      const char escape = *pos_++;
      switch (escape) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp = 0;
          if (!readHex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (end_ - pos_ < 2 || pos_[0] != '\\' || pos_[1] != 'u') {
              return fail("a high surrogate must be followed by a second \\u escape");
            }
            pos_ += 2;
            unsigned second = 0;
            if (!readHex4(second)) return false;
            cp = 0x10000 + ((cp & 0x3FF) << 10) + (second & 0x3FF);
          }
          appendUtf8(out, cp);
          break;
        }
        default: --pos_; return fail("an unknown escape");
      }
    }
  }

  static bool isNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
  }

  bool readNumber(Json::Value& out) {
    const char* start = pos_;
    while (pos_ != end_ && isNumberChar(*pos_)) ++pos_;
    const std::string_view token(start, static_cast<size_t>(pos_ - start));

    bool integer = true;
    for (size_t i = 0; i < token.size(); ++i) {
      const char c = token[i];
      if (c == '.' || c == 'e' || c == 'E' || c == '+' || (c == '-' && i > 0)) integer = false;
    }
    if (integer) {
      const bool negative = token[0] == '-';
      const uint32_t threshold = negative ? 214748364u : 429496729u;
      uint32_t value = 0;
      for (size_t i = negative ? 1 : 0; i < token.size() && integer; ++i) {
        if (value >= threshold) {
          integer = false;
        } else {
          value = value * 10 + static_cast<uint32_t>(token[i] - '0');
        }
      }
      if (integer) {
        if (negative) {
          out = Json::Value(static_cast<Json::Int>(-static_cast<int64_t>(value)));
        } else if (value <= 2147483647u) {
          out = Json::Value(static_cast<Json::Int>(value));
        } else {
          out = Json::Value(static_cast<Json::UInt>(value));
        }
        return true;
      }
    }
    double real = 0;
    if (!scanReal(token, real)) {
      pos_ = start;
      return fail("a number is not readable");
    }
    out = Json::Value(real);
    return true;
  }

  const char* begin_;
  const char* pos_;
  const char* end_;
  const char* reason_ = nullptr;
  const char* failedAt_ = nullptr;
};

}  // namespace

bool readJson(std::string_view text, Json::Value& root, JsonParseError* error) {
  Parser parser(text);
  if (parser.parseDocument(root)) return true;
  if (error != nullptr) parser.describe(error[0]);
  return false;
}

}  // namespace vellomar
