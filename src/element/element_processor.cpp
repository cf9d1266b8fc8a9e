#include "element/element_processor.h"

#include "album/album_format.h"
#include "app/album_document.h"
#include "app/run_settings.h"
#include "census/source_census.h"
#include "census/source_path.h"
#include "element/derived_image.h"
#include "element/record_rewrite.h"
#include "platform/os_path.h"
#include "util/text_encoding.h"

namespace vellomar {

ElementPlan processElement(AlbumRun& run) {
  AlbumDocument& document = run.document;
  ElementPlan plan;
  plan.pageIndex = document.pageIndex;
  plan.elementIndex = document.elementIndex;
  Json::Value& element =
      (*document.elementList)[static_cast<Json::ArrayIndex>(document.elementIndex)];
  if (!isPictureElement(element)) return plan;
  touchElement(document);
  lookUpSource(element);
  plan.place = elementPlace(document.pageIndex, document.elementIndex);
  const std::string srcPlace = plan.place + "." + keys::kImage + "." + keys::kSrc;

  const SourcePath source = sourcePathOf(element, run.settings.useOriginPath, run.codePage);
  if (source.status == SourcePath::Status::kProblem) {
    plan.problem = Problem{run.albumFile, srcPlace, source.problem};
    return plan;
  }
  if (source.status != SourcePath::Status::kUsable || isSkippedSource(source.path)) return plan;
  if (hasParentComponent(source.path)) {
    plan.problem = Problem{run.albumFile, srcPlace,
                           "the source path leads out of the source directory: " + source.path};
    return plan;
  }
  const std::string derivedName = derivedNameOf(source.path);
  if (isUnusableDerivedName(derivedName)) {
    plan.problem =
        Problem{run.albumFile, srcPlace, "the source path names no file: " + source.path};
    return plan;
  }

  plan.geometry = readElementGeometry(element, plan.place);
  placeWindow(plan.geometry);

  ImageJob job;
  job.sourceFilePath = run.settings.sourceDir + '\\' + source.path;
  if (job.sourceFilePath.size() > kMaxPathBytes) {
    plan.problem =
        Problem{toOsPath(job.sourceFilePath), plan.place,
                "the source file path is longer than " + std::to_string(kMaxPathBytes) + " bytes"};
    return plan;
  }
  run.census.find(source.path);
  job.censusCount = run.census.cursorAtEnd() ? 0 : run.census.censusCursor()->second;
  job.outputDir = run.settings.outputDir;
  job.derivedName = derivedName;
  job.visibleArea = visibleArea(plan.geometry, run.settings.scale);
  job.region = pixelRegionOf(plan.geometry, run.settings.scale);
  plan.job = std::move(job);
  return plan;
}

void finishElement(AlbumRun& run, const ElementPlan& plan, const ImageOutcome& outcome) {
  const ImageJob& job = *plan.job;
  if (!outcome.loaded) {
    run.diagnostics.problem(toOsPath(job.sourceFilePath), plan.place,
                            "the picture cannot be loaded" +
                                (outcome.loadProblem.empty() ? "" : ": " + outcome.loadProblem));
    return;
  }
  if (!outcome.written) {
    run.diagnostics.problem(toOsPath(job.outputDir + job.derivedName), plan.place,
                            "cannot be written: " + outcome.writeError);
    return;
  }
  Json::Value& record = elementAt(run.document, plan.pageIndex, plan.elementIndex)[keys::kImage];
  const std::string newSrc = convertAnsiToUtf8(run.codePage, job.derivedName);
  if (outcome.path == DerivedPath::kReduce) {
    fullRewrite(record, plan.geometry, outcome.pictureWidth, outcome.pictureHeight, newSrc,
                plan.place + "." + keys::kImage);
  } else {
    sourceRewrite(record, newSrc);
  }
  carryBack(run.document, plan.pageIndex, plan.elementIndex);
}

}  // namespace vellomar
