#include "pictures/derived_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/test_support.h"

namespace vellomar {
namespace {

namespace fs = std::filesystem;

// Every file of a directory by name, with its bytes.
std::map<std::string, std::string> filesOf(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    files[entry.path().filename().string()] = readFile(entry.path().string());
  }
  return files;
}

// The jobs, each reducing its picture to 12 x 9 pixels, or copying it when it
// is shared.
std::vector<PictureJob> jobsOn(const std::string& dir, std::vector<std::string> sources) {
  std::vector<PictureJob> jobs;
  for (const std::string& source : sources) {
    const size_t arrow = source.find('>');
    const int count = std::count(sources.begin(), sources.end(), source) > 1 ? 2 : 1;
    jobs.push_back({dir + "/" + source.substr(0, arrow), source.substr(arrow + 1), count, 10.0,
                    PixelRegion{3, 2, 12, 9, 20, 15}});
  }
  return jobs;
}

// Takes every job in order; returns what each gave, one line each.
std::string takeAll(const std::vector<PictureJob>& jobs, const std::string& out, int workers) {
  DerivedFiles files(jobs, out + "/", workers);
  std::string outcomes;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const DerivedFile file = files.take(i);
    outcomes += std::to_string(static_cast<int>(file.picture.status)) + " " +
                std::to_string(file.written) + " " + file.writeError + "\n";
  }
  return outcomes;
}

TEST(DerivedFilesTest, ManyWorkersLeaveWhatOneWorkerLeaves) {
  ScopedTempDir dir;
  for (const char* name : {"x.png", "y.png", "z.jpg", "w.png"}) {
    writeFile(dir.file(name), encoded(std::strrchr(name, '.'), makePicture(40, 30, CV_8UC3)));
  }
  // Two jobs copy y.png; w.png's window replaces x.png's; a directory stands
  // where the last one goes.
  const std::vector<PictureJob> jobs =
      jobsOn(dir.path(), {"x.png>x.png", "y.png>y.png", "z.jpg>z.jpg", "none.png>none.png",
                          "y.png>y.png", "w.png>x.png", "x.png>dir.png"});
  fs::create_directories(dir.file("one/dir.png"));
  fs::create_directories(dir.file("many/dir.png"));
  const std::string one = takeAll(jobs, dir.file("one"), 1);
  EXPECT_EQ(one, "0 1 \n0 1 \n0 1 \n1 0 \n0 1 \n0 1 \n0 0 Is a directory\n");
  EXPECT_EQ(takeAll(jobs, dir.file("many"), 4), one);
  const auto files = filesOf(dir.file("one"));
  EXPECT_TRUE(files == filesOf(dir.file("many")));
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(readPicture(dir.file("one/y.png")).size(), cv::Size(40, 30));
  // A run that ends early leaves no temporary of the jobs it did not take.
  DerivedFiles(jobs, dir.file("many") + "/", 4).take(3);  // the last to start
  EXPECT_TRUE(filesOf(dir.file("many")) == files);
}

// The output directory is the source directory: the window of sub/p.png
// replaces p.png, which the next job copies; the last job is never taken.
TEST(DerivedFilesTest, ASourceInTheOutputDirectoryIsReadAfterTheJobsBeforeIt) {
  ScopedTempDir dir;
  fs::create_directories(dir.file("sub"));
  writeFile(dir.file("sub/p.png"), encoded(".png", makePicture(40, 30, CV_8UC3)));
  writeFile(dir.file("p.png"), encoded(".png", makePicture(30, 20, CV_8UC1)));
  const auto jobs = jobsOn(dir.path(), {"sub/p.png>p.png", "p.png>p.png", "p.png>p.png", "x>q"});
  DerivedFiles files(jobs, dir.path() + "/", 4);
  EXPECT_TRUE(files.take(0).written && files.take(1).written);
  EXPECT_EQ(readPicture(dir.file("p.png")).size(), cv::Size(12, 9));
  EXPECT_EQ(filesOf(dir.path()).size(), 2u);  // p.png and sub, no temporary
}

}  // namespace
}  // namespace vellomar
