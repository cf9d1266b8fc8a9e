#ifndef VELLOMAR_TESTS_SUPPORT_TEST_SUPPORT_H_
#define VELLOMAR_TESTS_SUPPORT_TEST_SUPPORT_H_

// What the tests share: a temporary directory, whole files, whole runs of the
// tool on a source and an output directory, and small pictures.

#include <gtest/gtest.h>
#include <json/value.h>
#ifndef _WIN32
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "album/json_reader.h"
#include "app/command_line.h"
#include "platform/code_page.h"
#include "platform/file_system.h"

namespace vellomar {

namespace fs = std::filesystem;

// Whether the tests run on Windows, where some of the system's words differ,
// and the separator of the paths the tool reports: Windows keeps the backslash.
#ifdef _WIN32
constexpr bool kWindows = true;
constexpr char kSeparator[] = "\\";
#else
constexpr bool kWindows = false;
constexpr char kSeparator[] = "/";
#endif

// A directory for one test, removed with everything in it at the end.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::string path =
          (fs::temp_directory_path() / ("vellomar-test-" + std::to_string(random()))).string();
      if (fs::create_directory(path)) path_ = path;
    }
    if (path_.empty()) ADD_FAILURE() << "no temporary directory";
  }
  ~ScopedTempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + kSeparator + name; }

 private:
  std::string path_;
};

// The JSON text read as the tool reads it; fails the test when it does not read.
inline Json::Value parseJson(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(readJson(text, value)) << text;
  return value;
}

// Whether `text` holds `part`; when it does not, the failure shows both.
inline ::testing::AssertionResult holds(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// "" when there is no file.
inline std::string readFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

// The bytes of `value`, `size` of them, least significant first unless `big`.
inline std::string bytesOf(uint64_t value, int size, bool big = false) {
  std::string bytes;
  for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> 8 * (big ? size - 1 - i : i));
  return bytes;
}

// Every file under `dir`, by its path under it, with its bytes.
inline std::map<std::string, std::string> treeOf(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    files[fs::relative(entry.path(), dir).string()] = readFile(entry.path().string());
  }
  return files;
}

// The console messages as the tool prints them (GBK bytes and a line feed).
constexpr char kFileOpenErrorLine[] = "\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xB4\xED\xCE\xF3\xA3\xA1\n";
constexpr char kParseErrorLine[] =
    "Json\xCE\xC4\xBC\xFE\xBD\xE2\xCE\xF6\xB4\xED\xCE\xF3\xA3\xAC\xBD\xE2\xCE\xF6\xBD\xE1\xB9\xFB"
    ": 0\n";

// A deterministic picture of noise, so that any shift of a window or change
// of sampling shows. `type` is an OpenCV type.
inline cv::Mat makePicture(int width, int height, int type) {
  cv::Mat picture(height, width, type);
  cv::RNG(static_cast<uint64_t>(width) * 7919 + static_cast<uint64_t>(height))
      .fill(picture, cv::RNG::UNIFORM, 0, CV_MAT_DEPTH(type) == CV_16U ? 65536 : 256);
  return picture;
}

inline std::string encoded(const char* extension, const cv::Mat& picture) {
  std::vector<uchar> bytes;
  EXPECT_TRUE(cv::imencode(extension, picture, bytes)) << extension;
  return std::string(bytes.begin(), bytes.end());
}

// `file` (a JPEG file) with an Exif block stating `orientation` after its SOI.
inline std::string withOrientation(const std::string& file, int orientation) {
  const std::string exif =
      std::string("Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 25) +
      static_cast<char>(orientation) + std::string(6, '\0');
  return file.substr(0, 2) + "\xFF\xE1" + static_cast<char>(0) +
         static_cast<char>(exif.size() + 2) + exif + file.substr(2);
}

// As stored; empty when absent.
inline cv::Mat readPicture(const std::string& path) {
  return cv::imread(path, cv::IMREAD_UNCHANGED);
}

#ifndef _WIN32
// What `work` gives with an address space 64 MB over what is in use (what
// earlier work in this process left free given back first).
template <typename Work>
auto withLittleMemory(const Work& work) {
  rlimit saved{};
  ::getrlimit(RLIMIT_AS, &saved);
  ::malloc_trim(0);
  size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const rlimit limit{pages * ::sysconf(_SC_PAGESIZE) + (size_t{64} << 20), saved.rlim_max};
  ::setrlimit(RLIMIT_AS, &limit);
  const auto result = work();
  ::setrlimit(RLIMIT_AS, &saved);
  return result;
}
#endif

// The system's file system with faults put in: `fails(call, path)` says why
// the call (named as the FileSystem method) on that path fails, or "" to let
// it through; `listed` may change what a listing finds.
class FaultyFileSystem : public FileSystemWrapper {
 public:
  FaultyFileSystem() : FileSystemWrapper(nativeFileSystem()) {}
  std::function<std::string(const std::string& call, const std::string& path)> fails =
      [](const std::string&, const std::string&) { return std::string(); };
  std::function<void(std::vector<std::string>& names)> listed = [](std::vector<std::string>&) {};

  Expected<std::string> writeTemporary(const std::string& directory, const std::string& name,
                                       std::string_view bytes, Leftover leftover) override {
    const std::string why = fails("writeTemporary", directory + name);
    if (!why.empty()) return failure(why);
    return FileSystemWrapper::writeTemporary(directory, name, bytes, leftover);
  }
  Expected<> rename(const std::string& from, const std::string& to) override {
    if (const std::string why = fails("rename", to); !why.empty()) return failure(why);
    return FileSystemWrapper::rename(from, to);
  }
  // Each append to the file asks.
  Expected<std::unique_ptr<AppendingFile>> openForAppending(const std::string& path) override {
    struct Faulty : AppendingFile {
      FaultyFileSystem& files;
      std::string path;
      std::unique_ptr<AppendingFile> file;
      Faulty(FaultyFileSystem& files, std::string path, std::unique_ptr<AppendingFile> file)
          : files(files), path(std::move(path)), file(std::move(file)) {}
      Expected<> append(std::string_view bytes) override {
        if (const std::string why = files.fails("append", path); !why.empty()) return failure(why);
        return file->append(bytes);
      }
    };
    auto file = FileSystemWrapper::openForAppending(path);
    if (!file.ok()) return file;
    return std::unique_ptr<AppendingFile>(
        std::make_unique<Faulty>(*this, path, std::move(file).value()));
  }
  std::vector<std::string> list(const std::string& directory) override {
    std::vector<std::string> names = FileSystemWrapper::list(directory);
    listed(names);
    return names;
  }
  Expected<std::unique_ptr<DirectoryLock>> lock(const std::string& directory, bool wait,
                                                const std::function<void()>& waiting) override {
    if (const std::string why = fails("lock", directory); !why.empty()) return failure(why);
    return FileSystemWrapper::lock(directory, wait, waiting);
  }
};

struct RunResult {
  int status = 0;
  std::string out;
  std::string err;
};

// A source directory "in" and an output directory "out" for whole runs.
class AlbumRunTest : public ::testing::Test {
 protected:
  AlbumRunTest() { fs::create_directory(sourceDir()); }
  std::string sourceDir() const { return dir_.file("in"); }
  std::string outputDir() const { return dir_.file("out"); }
  std::string sourceFile(const std::string& name) const { return sourceDir() + kSeparator + name; }
  std::string outputFile(const std::string& name) const { return outputDir() + kSeparator + name; }
  void writeAlbum(const std::string& bytes) { writeFile(sourceFile("album.desc"), bytes); }
  // An album of one page at scale 1, an element for each of `sources`, whose
  // image records hold `rest` after their src.
  void writeAlbumOf(const std::vector<std::string>& sources, const std::string& rest = "") {
    std::string elements;
    for (const std::string& src : sources) {
      elements += (elements.empty() ? R"({"image":{"src":")" : R"(,{"image":{"src":")") + src +
                  "\"" + rest + "}}";
    }
    writeAlbum(R"({"photoBook":{"scale":1,"pages":[{"elements":[)" + elements + "]}]}}");
  }
  std::string outputAlbum() const { return readFile(outputFile("album.desc")); }
  // Writes a picture under the source directory (making its directory).
  void addPicture(const std::string& name, const cv::Mat& picture) {
    fs::create_directories(fs::path(sourceFile(name)).parent_path());
    writeFile(sourceFile(name), encoded(fs::path(name).extension().string().c_str(), picture));
  }
  // Runs in process, as the command line would, with `options` before the
  // directories, through `files`.
  RunResult run(const std::vector<std::string>& options = {},
                FileSystem& files = nativeFileSystem(), const std::string& flag = "0") {
    std::vector<std::string> args = {"vellomar"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {sourceDir(), outputDir(), flag});
    std::ostringstream out, err;
    const int status = runCommandLine(args, CodePage::named("UTF-8"), files, out, err);
    return {status, out.str(), err.str()};
  }
#ifndef _WIN32
  // Runs the built binary (under `wrapper`, a command), capturing both streams.
  RunResult runBinary(const std::vector<std::string>& args, const std::string& wrapper = "") {
    std::string command = wrapper + VELLOMAR_BINARY;
    for (const std::string& arg : args) command += " '" + arg + "'";
    const int raw = std::system((command + " >" + dir_.file("o") + " 2>" + dir_.file("e")).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000, readFile(dir_.file("o")),
            readFile(dir_.file("e"))};
  }
#endif

  ScopedTempDir dir_;
};

}  // namespace vellomar

#endif  // VELLOMAR_TESTS_SUPPORT_TEST_SUPPORT_H_
