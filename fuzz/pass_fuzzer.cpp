// Runs the whole pass on any bytes as album.desc, over a source directory of a
// few small pictures. The run must end with 0 or -1, print on the standard
// output nothing but one of its two messages, report only whole
// "vellomar: " lines, leave no temporary file, and write an album.desc that
// reads back whenever it succeeds.

#include <json/value.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <string>

#include "album/json_reader.h"
#include "app/album_run.h"
#include "app/run_settings.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "util/whole_file.h"

namespace fs = std::filesystem;

namespace {

const fs::path& workDirectory() {
  static const fs::path dir = [] {
    fs::path path = fs::temp_directory_path() / ("vellomar-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(path / "in" / "sub");
    cv::Mat picture(6, 8, CV_8UC3);
    cv::randu(picture, 0, 255);
    cv::imwrite((path / "in" / "p.png").string(), picture);
    cv::imwrite((path / "in" / "sub" / "q.jpg").string(), picture);
    cv::Mat deep(5, 4, CV_16UC4);
    cv::randu(deep, 0, 65535);
    cv::imwrite((path / "in" / "d.png").string(), deep);
    std::ofstream(path / "in" / "broken.jpg") << "\xFF\xD8\xFF\xE0 not a picture";
    return path;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path& dir = workDirectory();
  std::ofstream(dir / "in" / "album.desc", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  fs::remove_all(dir / "out");

  vellomar::RunSettings settings;
  settings.sourceDir = (dir / "in").string() + "\\";
  settings.outputDir = (dir / "out").string();
  settings.workerCount = 2;
  std::ostringstream out, err;
  const int status = vellomar::processAlbum(settings, vellomar::CodePage::named("UTF-8"),
                                            vellomar::nativeFileSystem(), out, err);

  if (status != 0 && status != -1) std::abort();
  const std::string printed = out.str();
  if (!printed.empty() && printed.rfind("Json", 0) != 0 && printed.rfind("\xCE\xC4", 0) != 0) {
    std::abort();
  }
  std::istringstream lines(err.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("vellomar: ", 0) != 0) std::abort();
  }
  if (!err.str().empty() && err.str().back() != '\n') std::abort();
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(dir / "out", ignored)) {
    if (entry.path().filename().string().rfind(".vellomar-partial", 0) == 0) std::abort();
  }
  if (status == 0) {
    Json::Value written;
    if (!vellomar::readJson(vellomar::readWholeFile(vellomar::nativeFileSystem(),
                                                    (dir / "out" / "album.desc").string()),
                            written)) {
      std::abort();
    }
  }
  return 0;
}
