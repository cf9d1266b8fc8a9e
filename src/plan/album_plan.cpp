#include "plan/album_plan.h"

#include "album/album_format.h"
#include "album/album_walk.h"
#include "plan/record_rewrite.h"
#include "plan/run_settings.h"
#include "plan/source_census.h"
#include "plan/source_path.h"
#include "platform/os_path.h"
#include "util/text_encoding.h"

namespace vellomar {
namespace {

const std::string kPagesPlace = std::string(keys::kPhotoBook) + "." + keys::kPages;

// The first page that a walk by index cannot follow, as the problem that ends
// the run.
std::optional<Problem> pageShapeProblem(const Json::Value& pages) {
  for (Json::ArrayIndex page = 0; page < pages.size(); ++page) {
    const std::string place = pagePlace(static_cast<int>(page));
    if (!isKeyed(pages[page])) {
      return Problem{"", place, "a page that is neither an object nor null"};
    }
    if (isObjectWithMembers(pages[page][keys::kElements])) {
      return Problem{"", place + "." + keys::kElements,
                     "an object where a list of elements is expected"};
    }
  }
  return std::nullopt;
}

// Plans one picture element; returns the problem that ends the run, if its
// geometry has one.
std::optional<Problem> planElement(const Json::Value& element, const RunSettings& settings,
                                   const CodePage& codePage, const SourceCensus& census,
                                   double scale, ElementPlan& plan) {
  plan.place = elementPlace(plan.page, plan.element);
  if (isKeyed(element[keys::kImage])) plan.reads = ElementReads::kSource;
  const std::string srcPlace = plan.place + "." + keys::kImage + "." + keys::kSrc;
  const SourcePath source = sourcePathOf(element, settings.useOriginPath, codePage);
  plan.source = source.text;
  if (source.status == SourcePath::Status::kProblem) {
    plan.problem = Problem{"", srcPlace, source.problem};
    return std::nullopt;
  }
  if (source.status != SourcePath::Status::kUsable || isSkippedSource(source.path)) {
    return std::nullopt;
  }
  if (hasParentComponent(source.path)) {
    plan.problem =
        Problem{"", srcPlace, "the source path leads out of the source directory: " + source.path};
    return std::nullopt;
  }
  const std::string derivedName = derivedNameOf(source.path);
  if (isUnusableDerivedName(derivedName)) {
    plan.problem = Problem{"", srcPlace, "the source path names no file: " + source.path};
    return std::nullopt;
  }

  plan.reads = ElementReads::kGeometry;
  if (auto fatal = readElementGeometry(element, plan.place, plan.geometry)) return fatal;
  placeWindow(plan.geometry);

  PictureJob job;
  job.sourceFilePath = settings.sourceDir + '\\' + source.path;
  if (job.sourceFilePath.size() > kMaxPathBytes) {
    plan.problem =
        Problem{toOsPath(job.sourceFilePath), plan.place,
                "the source file path is longer than " + std::to_string(kMaxPathBytes) + " bytes"};
    return std::nullopt;
  }
  job.censusCount = census.find(source.path);
  job.derivedName = derivedName;
  job.visibleArea = visibleArea(plan.geometry, scale);
  job.region = pixelRegionOf(plan.geometry, scale);
  job.upright = settings.exifOrientation;
  plan.job = std::move(job);
  plan.newSrc = convertAnsiToUtf8(codePage, derivedName);
  return std::nullopt;
}

}  // namespace

AlbumPlan planAlbum(const Json::Value& root, const RunSettings& settings,
                    const CodePage& codePage) {
  AlbumPlan plan;
  if (!isKeyed(root)) {
    plan.fatal = Problem{"", "", "the document is neither an object nor null"};
    return plan;
  }
  const Json::Value& photoBook = root[keys::kPhotoBook];
  if (!isKeyed(photoBook)) {
    plan.fatal = Problem{"", keys::kPhotoBook, "neither an object nor null"};
    return plan;
  }
  const Expected<double> scale = asDouble(photoBook[keys::kScale]);
  if (!scale.ok()) {
    plan.fatal =
        Problem{"", std::string(keys::kPhotoBook) + "." + keys::kScale, scale.problem().text};
    return plan;
  }
  plan.scale = scale.value();
  const Json::Value& pages = photoBook[keys::kPages];
  if (isObjectWithMembers(pages)) {
    plan.fatal = Problem{"", kPagesPlace, "an object where a list of pages is expected"};
    return plan;
  }
  if ((plan.fatal = pageShapeProblem(pages))) return plan;

  const SourceCensus census = buildSourceCensus(pages, settings.useOriginPath, codePage);
  size_t pictures = 0;  // room made at once: a large album's plans grow no copy
  forEachElement(pages, [&](Json::ArrayIndex, Json::ArrayIndex, const Json::Value& element) {
    pictures += isPictureElement(element) ? 1 : 0;
  });
  plan.elements.reserve(pictures);
  forEachElement(
      pages, [&](Json::ArrayIndex page, Json::ArrayIndex index, const Json::Value& element) {
        if (plan.fatal || !isPictureElement(element)) return;
        ElementPlan elementPlan;
        elementPlan.page = static_cast<int>(page);
        elementPlan.element = static_cast<int>(index);
        plan.fatal = planElement(element, settings, codePage, census, plan.scale, elementPlan);
        if (!plan.fatal) plan.elements.push_back(std::move(elementPlan));
      });
  return plan;
}

std::optional<Problem> rewrittenImage(const ElementPlan& plan, const Json::Value& element,
                                      DerivedPath path, int pictureWidth, int pictureHeight,
                                      Json::Value& image) {
  Json::Value read = element;
  addReadMembers(read, plan.reads);
  image = read[keys::kImage];
  if (path == DerivedPath::kCopy) {
    sourceRewrite(image, plan.newSrc);
    return std::nullopt;
  }
  return fullRewrite(image, plan.geometry, pictureWidth, pictureHeight, plan.newSrc,
                     plan.place + "." + keys::kImage);
}

}  // namespace vellomar
