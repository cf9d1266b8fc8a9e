// Prints the album's picture work, one derived picture per line, for the
// benchmark's comparison rows (other image tools doing the same work):
//   reduce SOURCE NAME TARGET_WIDTH TARGET_HEIGHT X Y WIDTH HEIGHT
//   copy SOURCE NAME
// usage: list_jobs ALBUM_DIR

#include <cstdio>
#include <opencv2/imgcodecs.hpp>

#include "album_jobs.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: list_jobs ALBUM_DIR\n");
    return 2;
  }
  for (const vellomar::PictureJob& job : bench::albumJobs(argv[1])) {
    const cv::Mat picture = cv::imread(job.sourceFilePath, cv::IMREAD_UNCHANGED);
    if (picture.empty()) continue;
    const vellomar::DerivedPlan plan = bench::planOf(job, picture.cols, picture.rows);
    if (plan.derivation == vellomar::Derivation::kCut) {
      std::printf("reduce %s %s %d %d %d %d %d %d\n", job.sourceFilePath.c_str(),
                  job.derivedName.c_str(), plan.region.targetWidth, plan.region.targetHeight,
                  plan.region.left, plan.region.top, plan.region.width, plan.region.height);
    } else {
      std::printf("copy %s %s\n", job.sourceFilePath.c_str(), job.derivedName.c_str());
    }
  }
  return 0;
}
