#include "support/album_fixture.h"

#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/command_line.h"

namespace vellomar {

const char kFileOpenErrorLine[] = "\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xB4\xED\xCE\xF3\xA3\xA1\n";
const char kParseErrorLine[] =
    "Json\xCE\xC4\xBC\xFE\xBD\xE2\xCE\xF6\xB4\xED\xCE\xF3\xA3\xAC\xBD\xE2\xCE\xF6\xBD\xE1\xB9\xFB"
    ": 0\n";

void AlbumPassTest::SetUp() { ::mkdir(sourceDir().c_str(), 0777); }

PassResult AlbumPassTest::runPass(const std::string& flag) {
  return runPass(CodePage::named("UTF-8"), flag);
}

PassResult AlbumPassTest::runPass(const CodePage& codePage, const std::string& flag) {
  std::ostringstream out, err;
  PassResult result;
  result.status =
      runCommandLine({"vellomar", sourceDir(), outputDir(), flag}, codePage, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

std::string AlbumPassTest::outputAlbum() const {
  const std::string path = outputFile("album.desc");
  return fileExists(path) ? readFile(path) : "";
}

PassResult runBinary(const std::vector<std::string>& args) {
  ScopedTempDir capture;
  std::string command = VELLOMAR_BINARY;
  for (const std::string& arg : args) {
    command += " '";
    for (char c : arg) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  command += " >" + capture.file("out") + " 2>" + capture.file("err");
  PassResult result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000;
  result.out = readFile(capture.file("out"));
  result.err = readFile(capture.file("err"));
  return result;
}

}  // namespace vellomar
