#ifndef VELLOMAR_CENSUS_SOURCE_CENSUS_H_
#define VELLOMAR_CENSUS_SOURCE_CENSUS_H_

// How many picture elements of the whole book use each source picture.

#include <map>
#include <string>

namespace vellomar {

struct AlbumRun;

class SourceCensus {
 public:
  using Entries = std::map<std::string, int>;

  // Counts one more use of `path` (a source path, code-page bytes; never "").
  void add(const std::string& path);
  // Moves the cursor to the entry whose key is `path`, byte for byte, or to the
  // end; returns the cursor.
  Entries::const_iterator find(const std::string& path);
  void clear();

  Entries::const_iterator censusCursor() const { return censusCursor_; }
  bool cursorAtEnd() const { return censusCursor_ == entries_.end(); }
  const Entries& entries() const { return entries_; }

 private:
  Entries entries_;
  Entries::const_iterator censusCursor_ = entries_.end();
};

// Walks every element of every page of the run's page list with the document
// cursor and counts the source path of each picture element that has one.
// Adds to what the census holds. Throws FatalError for a page list the walk
// cannot follow.
void buildSourceCensus(AlbumRun& run);

}  // namespace vellomar

#endif  // VELLOMAR_CENSUS_SOURCE_CENSUS_H_
