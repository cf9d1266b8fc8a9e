#ifndef VELLOMAR_PLAN_SOURCE_PATH_H_
#define VELLOMAR_PLAN_SOURCE_PATH_H_

// How a picture element's src becomes the path of its source picture, relative
// to the source directory: the origin-path rule, then the code page.

#include <string>

namespace Json {
class Value;
}

namespace vellomar {

class CodePage;

// Paths taken from the document are held to this many bytes.
constexpr size_t kMaxPathBytes = 1023;

// When `src` is any five bytes, one or more separators ('/' or '\\'), then a
// lower-case 's', returns "origin/o" followed by what comes after that 's';
// otherwise returns `src` unchanged.
std::string toOriginPath(const std::string& src);

struct SourcePath {
  enum class Kind {
    kUsable,   // `path` is the source path
    kNone,     // no usable src: the element is left alone, silently
    kProblem,  // src is unusable in a way worth reporting: see `problem`
  };
  Kind kind = Kind::kNone;
  std::string path;     // code-page bytes
  std::string text;     // UTF-8: src (up to its NUL byte), after the origin rule
  std::string problem;  // what is wrong, for kProblem
};

// The source path of a picture element: image.src (up to its first NUL
// byte), through toOriginPath when `useOriginPath`, converted from UTF-8 to
// the code page. An image record that is neither an object nor null, and a src
// that is missing, not text or empty, or that converts to nothing, give kNone;
// a src or path longer than kMaxPathBytes gives kProblem. The census and the
// element pass both use this, so that they agree on every element.
SourcePath sourcePathOf(const Json::Value& element, bool useOriginPath, const CodePage& codePage);

// True when one of the path's components (between '/' or '\\') is "..".
bool hasParentComponent(const std::string& path);

// Where a picture element's picture comes from: the one rule for the run and
// for either side of the proof.
struct ElementSource {
  enum class Kind {
    kNone,     // no usable src: the element is left alone, silently
    kSkipped,  // a web address or "default": no file of the album
    kProblem,  // src is unusable: `problem` says why
    kFile,     // `filePath` is its picture's file
  };
  Kind kind = Kind::kNone;
  SourcePath source;     // src, as sourcePathOf reads it
  std::string filePath;  // tool path: `directory`, a backslash, the source path
  std::string problem;
};

// The source of `element`'s picture in `directory` (a tool path): its
// source path, unless it is a web address or "default", leads out of the
// directory (a ".." component) or names no file (ends in a separator).
ElementSource elementSourceOf(const Json::Value& element, const std::string& directory,
                              bool useOriginPath, const CodePage& codePage);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_SOURCE_PATH_H_
