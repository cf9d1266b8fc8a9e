#include "element/image_io.h"

#include <climits>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "element/picture_header.h"
#include "element/window_resize.h"
#include "platform/file_system.h"
#include "platform/os_path.h"

namespace vellomar {

struct Picture::Pixels {
  cv::Mat mat;
};

Picture Picture::load(const std::string& sourceFilePath) {
  Picture picture;
  std::string bytes;
  if (!readFileBytes(sourceFilePath, bytes) || bytes.empty()) return picture;
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    picture.loadProblem_ = "the file is larger than the image library reads";
    return picture;
  }
  if (const auto size = pictureDimensions(bytes)) {
    if (size->height != 0 && size->width > kMaxPicturePixels / size->height) {
      picture.loadProblem_ = "it declares " + std::to_string(size->width) + " x " +
                             std::to_string(size->height) + " pixels, more than " +
                             std::to_string(kMaxPicturePixels / 1000000) + " megapixels";
      return picture;
    }
  }
  try {
    // Decoded from memory as it would be from the file: the same decoder,
    // chosen by the content.
    cv::Mat mat = cv::imdecode(cv::_InputArray(bytes.data(), static_cast<int>(bytes.size())),
                               cv::IMREAD_UNCHANGED);
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
      const cv::Size box(plan.region.targetWidth, plan.region.targetHeight);
      const cv::Rect window(plan.window.x, plan.window.y, plan.window.width, plan.window.height);
      const double boxBytes = static_cast<double>(box.width) * box.height *
                              static_cast<double>(pixels_->mat.elemSize());
      if (boxBytes > static_cast<double>(kMaxWholeBoxBytes)) {
        derived = resizeWindow(pixels_->mat, box, window);
      } else {
        cv::Mat scaled;
        cv::resize(pixels_->mat, scaled, box, 0, 0, cv::INTER_LINEAR);
        derived = scaled(window);
      }
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
  outcome.loadProblem = picture.loadProblem();
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
