// The one-by-one anchor: the album's picture work done literally, one element
// after another, with the library calls of the original description and fresh
// buffers each time (default allocator, default library threads): load the
// picture unchanged; on the cut path create the box-sized picture, resize
// the whole picture into it bilinearly, set the window as region of interest
// and save; on the copy path save the picture as loaded.
//
// usage: anchor ALBUM_DIR OUTPUT_DIR

#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "album_jobs.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: anchor ALBUM_DIR OUTPUT_DIR\n");
    return 2;
  }
  const std::string out = std::string(argv[2]) + "/";
  for (const vellomar::PictureJob& job : bench::albumJobs(argv[1])) {
    const cv::Mat picture = cv::imread(job.sourceFilePath, cv::IMREAD_UNCHANGED);
    if (picture.empty()) continue;
    const vellomar::DerivedPlan plan = bench::planOf(job, picture.cols, picture.rows);
    if (plan.derivation == vellomar::Derivation::kCut) {
      cv::Mat box(plan.region.targetHeight, plan.region.targetWidth, picture.type());
      cv::resize(picture, box, box.size(), 0, 0, cv::INTER_LINEAR);
      cv::imwrite(out + job.derivedName, box(cv::Rect(plan.region.left, plan.region.top,
                                                      plan.region.width, plan.region.height)));
    } else {
      cv::imwrite(out + job.derivedName, picture);
    }
  }
  return 0;
}
