#include "element/element_processor.h"

#include "album/album_format.h"
#include "app/album_document.h"
#include "app/run_settings.h"
#include "census/source_census.h"
#include "census/source_path.h"
#include "element/derived_image.h"
#include "element/element_geometry.h"
#include "element/image_io.h"
#include "element/record_rewrite.h"
#include "platform/os_path.h"
#include "util/diagnostics.h"
#include "util/text_encoding.h"

namespace vellomar {

void processElement(AlbumRun& run) {
  AlbumDocument& document = run.document;
  Json::Value& element =
      document.elementList[static_cast<Json::ArrayIndex>(document.elementIndex)];
  if (!isPictureElement(element)) return;
  const std::string place = elementPlace(document.pageIndex, document.elementIndex);
  const std::string imagePlace = place + "." + keys::kImage;

  const SourcePath source = sourcePathOf(element, run.settings.useOriginPath, run.codePage);
  if (source.status == SourcePath::Status::kProblem) {
    run.diagnostics.problem(run.albumFile, imagePlace + "." + keys::kSrc, source.problem);
    return;
  }
  if (source.status != SourcePath::Status::kUsable || isSkippedSource(source.path)) return;
  if (hasParentComponent(source.path)) {
    run.diagnostics.problem(run.albumFile, imagePlace + "." + keys::kSrc,
                            "the source path leads out of the source directory: " + source.path);
    return;
  }
  const std::string derivedName = derivedNameOf(source.path);
  if (isUnusableDerivedName(derivedName)) {
    run.diagnostics.problem(run.albumFile, imagePlace + "." + keys::kSrc,
                            "the source path names no file: " + source.path);
    return;
  }

  ElementGeometry geometry = readElementGeometry(element, place);
  placeWindow(geometry);

  ImageJob job;
  job.sourceFilePath = run.settings.sourceDir + '\\' + source.path;
  if (job.sourceFilePath.size() > kMaxPathBytes) {
    run.diagnostics.problem(toOsPath(job.sourceFilePath), place,
                            "the source file path is longer than " +
                                std::to_string(kMaxPathBytes) + " bytes");
    return;
  }
  run.census.find(source.path);
  job.censusCount = run.census.cursorAtEnd() ? 0 : run.census.censusCursor()->second;
  job.outputDir = run.settings.outputDir;
  job.derivedName = derivedName;
  job.visibleArea = visibleArea(geometry, run.settings.scale);
  job.region = pixelRegionOf(geometry, run.settings.scale);

  const std::string derivedFile = toOsPath(job.outputDir + derivedName);
  ImageOutcome outcome;
  try {
    outcome = produceDerivedImage(job);
  } catch (const ImageLibraryError& error) {
    throw FatalError(derivedFile, place, std::string("the image library failed: ") + error.what());
  }
  if (!outcome.loaded) {
    run.diagnostics.problem(toOsPath(job.sourceFilePath), place, "the picture cannot be loaded");
    return;
  }
  if (!outcome.written) {
    run.diagnostics.problem(derivedFile, place, "cannot be written: " + outcome.writeError);
    return;
  }

  Json::Value& record = element[keys::kImage];
  const std::string newSrc = convertAnsiToUtf8(run.codePage, derivedName);
  if (outcome.path == DerivedPath::kReduce) {
    fullRewrite(record, geometry, outcome.pictureWidth, outcome.pictureHeight, newSrc, imagePlace);
  } else {
    sourceRewrite(record, newSrc);
  }
  carryBack(document);
}

}  // namespace vellomar
