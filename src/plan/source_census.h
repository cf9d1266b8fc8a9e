#ifndef VELLOMAR_PLAN_SOURCE_CENSUS_H_
#define VELLOMAR_PLAN_SOURCE_CENSUS_H_

// How many picture elements of the whole book use each source picture.

#include <map>
#include <string>

namespace Json {
class Value;
}

namespace vellomar {

class CodePage;

class SourceCensus {
 public:
  using Entries = std::map<std::string, int>;

  // Counts one more use of `path` (a source path, code-page bytes; never "").
  void add(const std::string& path) { ++entries_[path]; }
  // The uses of `path`, byte for byte; 0 when it has none.
  int find(const std::string& path) const;

 private:
  Entries entries_;
};

// Counts the source path of every picture element, on every page of `pages`,
// that has one. The pages are ones a walk by index can follow: each an object
// or null, its elements anything but an object with members.
SourceCensus buildSourceCensus(const Json::Value& pages, bool useOriginPath,
                               const CodePage& codePage);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_SOURCE_CENSUS_H_
