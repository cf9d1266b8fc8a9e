#include "plan/source_path.h"

#include <json/value.h>

#include <cstring>

#include "album/album_format.h"
#include "plan/derived_image.h"
#include "util/text_encoding.h"

namespace vellomar {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::string toOriginPath(const std::string& src) {
  // The first five bytes are not examined; from the sixth, one or more
  // separators must come before the 's'.
  size_t k = 5;
  if (src.size() <= k || !isSeparator(src[k])) return src;
  while (k < src.size() && isSeparator(src[k])) ++k;
  if (k >= src.size() || src[k] != 's') return src;
  return "origin/o" + src.substr(k + 1);
}

SourcePath sourcePathOf(const Json::Value& element, bool useOriginPath, const CodePage& codePage) {
  SourcePath result;
  const Json::Value& image = element[keys::kImage];
  if (!image.isObject()) return result;
  const Json::Value& src = image[keys::kSrc];
  if (!src.isString()) return result;
  const char* begin = nullptr;
  const char* end = nullptr;
  src.getString(&begin, &end);
  std::string text(begin, end);
  text.resize(std::strlen(text.c_str()));  // the text ends at a NUL byte
  if (text.empty()) return result;
  if (text.size() > kMaxPathBytes) {
    result.kind = SourcePath::Kind::kProblem;
    result.problem = "src is longer than " + std::to_string(kMaxPathBytes) + " bytes";
    return result;
  }
  if (useOriginPath) text = toOriginPath(text);
  result.text = text;
  result.path = convertUtf8ToAnsi(codePage, text);
  if (result.path.empty()) return result;
  if (text.size() > kMaxPathBytes || result.path.size() > kMaxPathBytes) {
    result.kind = SourcePath::Kind::kProblem;
    result.problem = "the source path is longer than " + std::to_string(kMaxPathBytes) + " bytes";
    result.path.clear();
    return result;
  }
  result.kind = SourcePath::Kind::kUsable;
  return result;
}

ElementSource elementSourceOf(const Json::Value& element, const std::string& directory,
                              bool useOriginPath, const CodePage& codePage) {
  ElementSource result;
  result.source = sourcePathOf(element, useOriginPath, codePage);
  const std::string& path = result.source.path;
  if (result.source.kind == SourcePath::Kind::kProblem) {
    result.kind = ElementSource::Kind::kProblem;
    result.problem = result.source.problem;
  } else if (result.source.kind != SourcePath::Kind::kUsable) {
    result.kind = ElementSource::Kind::kNone;
  } else if (isSkippedSource(path)) {
    result.kind = ElementSource::Kind::kSkipped;
  } else if (hasParentComponent(path)) {
    result.kind = ElementSource::Kind::kProblem;
    result.problem = "the source path leads out of the source directory: " + path;
  } else if (isUnusableDerivedName(derivedNameOf(path))) {
    result.kind = ElementSource::Kind::kProblem;
    result.problem = "the source path names no file: " + path;
  } else {
    result.kind = ElementSource::Kind::kFile;
    result.filePath = directory + '\\' + path;
  }
  return result;
}

bool hasParentComponent(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || isSeparator(path[i])) {
      if (path.compare(start, i - start, "..") == 0) return true;
      start = i + 1;
    }
  }
  return false;
}

}  // namespace vellomar
