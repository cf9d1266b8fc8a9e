// The codec floor: decoding every picture of the album once and encoding every
// window (a region of the decoded picture of the window's size) or whole copy
// once, on all processors, largest pictures first, with freed memory kept.
// Nothing else: no resizing, no files written. The tool cannot be faster.
//
// usage: floor ALBUM_DIR

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <thread>

#include "album_jobs.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: floor ALBUM_DIR\n");
    return 2;
  }
  vellomar::keepFreedMemory();
  cv::setNumThreads(1);
  std::map<std::string, std::vector<vellomar::PictureJob>> bySource;
  for (const vellomar::PictureJob& job : bench::albumJobs(argv[1]))
    bySource[job.sourceFilePath].push_back(job);
  std::vector<std::pair<off_t, std::string>> sources;
  for (const auto& entry : bySource) {
    struct stat info {};
    ::stat(entry.first.c_str(), &info);
    sources.emplace_back(info.st_size, entry.first);
  }
  std::sort(sources.rbegin(), sources.rend());

  std::atomic<size_t> next{0};
  std::atomic<size_t> bytes{0};
  auto work = [&] {
    for (size_t i; (i = next++) < sources.size();) {
      const cv::Mat picture = cv::imread(sources[i].second, cv::IMREAD_UNCHANGED);
      if (picture.empty()) continue;
      bool copied = false;
      for (const vellomar::PictureJob& job : bySource[sources[i].second]) {
        const vellomar::DerivedPlan plan = bench::planOf(job, picture.cols, picture.rows);
        std::vector<uchar> encoded;
        if (plan.derivation == vellomar::Derivation::kCut) {
          const cv::Rect window(0, 0, std::min(plan.region.width, picture.cols),
                                std::min(plan.region.height, picture.rows));
          cv::imencode(job.derivedName, picture(window), encoded);
        } else if (!copied) {
          cv::imencode(job.derivedName, picture, encoded);
          copied = true;
        }
        bytes += encoded.size();
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < vellomar::onlineProcessorCount(); ++t) threads.emplace_back(work);
  for (std::thread& thread : threads) thread.join();
  std::printf("%zu bytes encoded\n", bytes.load());
  return 0;
}
