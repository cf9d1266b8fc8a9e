#include "element/image_io.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "platform/file_system.h"
#include "platform/os_path.h"

namespace vellomar {
namespace {

// The library's own console warnings would break the one-line diagnostics.
void silenceLibraryLog() {
  static const bool silenced = [] {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    return true;
  }();
  (void)silenced;
}

cv::Mat loadPicture(const std::string& sourceFilePath) {
  try {
    return cv::imread(toOsPath(sourceFilePath), cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    return cv::Mat();  // a picture the library cannot decode is not loaded
  }
}

// The whole picture resized to the box, with the window as its region of
// interest.
cv::Mat scaleToBox(const cv::Mat& picture, const DerivedPlan& plan) {
  cv::Mat scaled;
  cv::resize(picture, scaled, cv::Size(plan.region.targetWidth, plan.region.targetHeight), 0, 0,
             cv::INTER_LINEAR);
  return scaled(cv::Rect(plan.window.x, plan.window.y, plan.window.width, plan.window.height));
}

}  // namespace

ImageOutcome produceDerivedImage(const ImageJob& job) {
  silenceLibraryLog();
  ImageOutcome outcome;
  const cv::Mat picture = loadPicture(job.sourceFilePath);
  if (picture.empty()) return outcome;
  outcome.loaded = true;
  outcome.pictureWidth = picture.cols;
  outcome.pictureHeight = picture.rows;

  const DerivedPlan plan = planDerivedImage(job.censusCount, picture.cols, picture.rows,
                                            job.visibleArea, job.region);
  outcome.path = plan.path;
  std::vector<uchar> encoded;
  try {
    const cv::Mat derived = plan.path == DerivedPath::kReduce ? scaleToBox(picture, plan) : picture;
    // The name picks the encoder by its extension, as a save to that name does.
    if (!cv::imencode(job.derivedName, derived, encoded)) {
      outcome.writeError = "the image library could not encode it";
      return outcome;
    }
  } catch (const cv::Exception& error) {
    throw ImageLibraryError(error.err);
  }
  outcome.written = writeFileAtomically(
      job.outputDir, job.derivedName,
      std::string(reinterpret_cast<const char*>(encoded.data()), encoded.size()),
      outcome.writeError);
  return outcome;
}

}  // namespace vellomar
