#include "element/image_io.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/file_system.h"
#include "platform/os_path.h"

namespace vellomar {

struct Picture::Pixels {
  cv::Mat mat;
};

Picture Picture::load(const std::string& sourceFilePath) {
  Picture picture;
  try {
    cv::Mat mat = cv::imread(toOsPath(sourceFilePath), cv::IMREAD_UNCHANGED);
    if (!mat.empty()) picture.pixels_ = std::make_shared<const Pixels>(Pixels{std::move(mat)});
  } catch (const cv::Exception&) {
    // A picture the library cannot decode is not loaded.
  }
  return picture;
}

int Picture::width() const { return pixels_ ? pixels_->mat.cols : 0; }
int Picture::height() const { return pixels_ ? pixels_->mat.rows : 0; }

bool Picture::encode(const DerivedPlan& plan, const std::string& derivedName,
                     std::vector<unsigned char>& bytes) const {
  try {
    cv::Mat derived = pixels_->mat;
    if (plan.path == DerivedPath::kReduce) {
      cv::Mat scaled;
      cv::resize(pixels_->mat, scaled,
                 cv::Size(plan.region.targetWidth, plan.region.targetHeight), 0, 0,
                 cv::INTER_LINEAR);
      derived = scaled(cv::Rect(plan.window.x, plan.window.y, plan.window.width,
                                plan.window.height));
    }
    // The name picks the encoder by its extension, as a save to that name does.
    return cv::imencode(derivedName, derived, bytes);
  } catch (const cv::Exception& error) {
    throw ImageLibraryError(error.err);
  }
}

bool canEncode(const std::string& derivedName) {
  try {
    return cv::haveImageWriter(derivedName);
  } catch (const cv::Exception&) {
    return false;
  }
}

void prepareImageLibrary() {
  static const bool prepared = [] {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    cv::setNumThreads(1);
    return true;
  }();
  (void)prepared;
}

ImageOutcome produceDerivedImage(const ImageJob& job) {
  prepareImageLibrary();
  ImageOutcome outcome;
  const Picture picture = Picture::load(job.sourceFilePath);
  if (!picture.loaded()) return outcome;
  outcome.loaded = true;
  outcome.pictureWidth = picture.width();
  outcome.pictureHeight = picture.height();
  const DerivedPlan plan = planDerivedImage(job.censusCount, picture.width(), picture.height(),
                                            job.visibleArea, job.region);
  outcome.path = plan.path;
  std::vector<unsigned char> bytes;
  if (!picture.encode(plan, job.derivedName, bytes)) {
    outcome.writeError = "the image library could not encode it";
    return outcome;
  }
  outcome.written = writeFileAtomically(
      job.outputDir, job.derivedName,
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
      outcome.writeError);
  return outcome;
}

}  // namespace vellomar
