#ifndef VELLOMAR_TESTS_SUPPORT_TEMP_DIR_H_
#define VELLOMAR_TESTS_SUPPORT_TEMP_DIR_H_

// A directory for one test, removed with everything in it when the test ends.

#include <string>

namespace vellomar {

class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // The directory, without a trailing separator.
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole-file helpers for tests; they fail the test on error.
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

}  // namespace vellomar

#endif  // VELLOMAR_TESTS_SUPPORT_TEMP_DIR_H_
