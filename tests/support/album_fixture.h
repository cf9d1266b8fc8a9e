#ifndef VELLOMAR_TESTS_SUPPORT_ALBUM_FIXTURE_H_
#define VELLOMAR_TESTS_SUPPORT_ALBUM_FIXTURE_H_

// A source and an output directory for whole passes of the tool, run in
// process with captured streams or as the built binary.

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "support/temp_dir.h"

namespace vellomar {

// The console messages as the tool prints them (GBK bytes and a line feed).
extern const char kFileOpenErrorLine[];
extern const char kParseErrorLine[];

struct PassResult {
  int status = 0;
  std::string out;
  std::string err;
};

class AlbumPassTest : public ::testing::Test {
 protected:
  std::string sourceDir() const { return dir_.file("in"); }
  std::string outputDir() const { return dir_.file("out"); }
  std::string sourceFile(const std::string& name) const { return sourceDir() + "/" + name; }
  std::string outputFile(const std::string& name) const { return outputDir() + "/" + name; }

  void writeAlbum(const std::string& bytes) { writeFile(sourceFile("album.desc"), bytes); }
  // Runs the pass in process on the two directories.
  PassResult runPass(const std::string& flag = "0");
  PassResult runPass(const CodePage& codePage, const std::string& flag);
  // The written album.desc, or "" when there is none.
  std::string outputAlbum() const;

  void SetUp() override;

 private:
  ScopedTempDir dir_;
};

// Runs the built binary with `args`; stdout and stderr are captured.
PassResult runBinary(const std::vector<std::string>& args);

}  // namespace vellomar

#endif  // VELLOMAR_TESTS_SUPPORT_ALBUM_FIXTURE_H_
