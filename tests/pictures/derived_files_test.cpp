#include "pictures/derived_files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "app/album_run.h"
#include "plan/run_settings.h"
#include "platform/code_page.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// Every file of a directory by name, with its bytes.
std::map<std::string, std::string> filesOf(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (DIR* listing = ::opendir(dir.c_str())) {
    while (dirent* entry = ::readdir(listing)) {
      if (entry->d_name[0] != '.') files[entry->d_name] = readFile(dir + "/" + entry->d_name);
    }
    ::closedir(listing);
  }
  return files;
}

struct Outcome {
  int status;
  std::string err;
  std::map<std::string, std::string> files;
};

Outcome runWith(int workers, const std::string& source, const std::string& output) {
  RunSettings settings;
  settings.sourceDir = source + "\\";
  settings.outputDir = output;
  settings.workerCount = workers;
  std::ostringstream out, err;
  Outcome run;
  run.status = processAlbum(settings, CodePage::named("UTF-8"), out, err);
  run.err = err.str();
  run.files = filesOf(output);
  return run;
}

class ImagePipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(dir_.file("in").c_str(), 0777);
    for (const char* sub : {"a", "b"}) ::mkdir(dir_.file(std::string("in/") + sub).c_str(), 0777);
    int seed = 3;
    for (const char* name :
         {"a/x.png", "b/x.png", "a/y.png", "solo.png", "big.jpg", "shared.png", "deep.png"}) {
      const int type = std::string(name) == "deep.png" ? CV_16UC3 : CV_8UC3;
      writePicture(dir_.file(std::string("in/") + name), makePicture(40 + seed, 30 + seed, type));
      seed += 7;
    }
    writeFile(dir_.file("in/enc.unknown"), readFile(dir_.file("in/solo.png")));
  }

  // The album with `middle` standing between its first and second half.
  void writeAlbum(const std::string& middle) {
    const std::string reduce =
        R"("width":20,"height":15,"mask":{"width":12,"height":9,"positionX":3,"positionY":2})";
    writeFile(dir_.file("in/album.desc"),
              R"({"photoBook":{"scale":1,"pages":[{"elements":[
                  {"image":{"src":"a/x.png",)" +
                  reduce + R"(}},
                  {"image":{"src":"shared.png"}},
                  {"image":{"src":"a/y.png"}},
                  {"image":{"src":"big.jpg",)" +
                  reduce + R"(}},
                  {"image":{"src":"missing.png"}},
                  {"image":{"src":"../escape.png"}}]},
                {"elements":[)" +
                  middle + R"(]},
                {"elements":[
                  {"image":{"src":"shared.png"}},
                  {"image":{"src":"b/x.png"}},
                  {"image":{"src":"b/y.png"}},
                  {"image":{"src":"deep.png",)" +
                  reduce + R"(}},
                  {"image":{"src":"solo.png",)" +
                  reduce + R"(}}]}]}})");
  }

  ScopedTempDir dir_;
};

TEST_F(ImagePipelineTest, ManyWorkersLeaveWhatOneWorkerLeaves) {
  const std::pair<const char*, const char*> middles[] = {
      {"nothing in the way", R"({"text":"middle"})"},
      {"an encoder error", R"({"image":{"src":"enc.unknown"}})"},
      {"a value of the wrong kind", R"({"image":{"src":"solo.png","rotation":[]}})"},
  };
  for (const auto& [name, middle] : middles) {
    SCOPED_TRACE(name);
    writeAlbum(middle);
    // The same output directory for both, emptied in between, so that the
    // diagnostics name the same files.
    const std::string output = dir_.file("out");
    const Outcome one = runWith(1, dir_.file("in"), output);
    std::filesystem::remove_all(output);
    const Outcome many = runWith(4, dir_.file("in"), output);
    EXPECT_EQ(one.status, many.status);
    EXPECT_EQ(one.err, many.err);
    EXPECT_TRUE(one.files == many.files);
    // x.png is a/x.png's window until b/x.png replaces it at the end, when the
    // run gets there; b/y.png is missing, so a/y.png's copy stays.
    const bool whole = std::string(name) == "nothing in the way";
    EXPECT_EQ(one.files.count("album.desc"), whole ? 1u : 0u);
    EXPECT_EQ(readPicture(output + "/x.png").cols, whole ? 50 : 12);
    EXPECT_TRUE(samePixels(readPicture(output + "/y.png"), readPicture(dir_.file("in/a/y.png"))));
    std::filesystem::remove_all(output);
  }
}

// Written into the source directory, a derived file is the source of a later
// element, which must read it only once it is there.
TEST_F(ImagePipelineTest, LaterElementReadsWhatAnEarlierOneWrote) {
  writePicture(dir_.file("in/x.png"), makePicture(8, 8, CV_8UC3));
  writeFile(dir_.file("in/album.desc"),
            R"({"photoBook":{"pages":[{"elements":[{"image":{"src":"a/x.png"}},
                                                   {"image":{"src":"x.png"}}]}]}})");
  const Outcome run = runWith(4, dir_.file("in"), dir_.file("in"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(samePixels(readPicture(dir_.file("in/x.png")), readPicture(dir_.file("in/a/x.png"))));
}

}  // namespace
}  // namespace vellomar
