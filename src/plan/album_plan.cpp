#include "plan/album_plan.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "album/album_format.h"
#include "album/album_walk.h"
#include "plan/plan_settings.h"
#include "plan/record_rewrite.h"
#include "plan/source_census.h"
#include "plan/source_path.h"
#include "platform/os_path.h"
#include "util/text_encoding.h"

namespace vellomar {
namespace {

const std::string kPagesPlace = std::string(keys::kPhotoBook) + "." + keys::kPages;

// The first page that a walk by index cannot follow, as the problem that ends
// the run.
Expected<> checkPageShapes(const Json::Value& pages) {
  for (Json::ArrayIndex page = 0; page < pages.size(); ++page) {
    const std::string place = pagePlace(static_cast<int>(page));
    if (!isKeyed(pages[page])) {
      return documentProblem(place, "a page that is neither an object nor null");
    }
    if (isObjectWithMembers(pages[page][keys::kElements])) {
      return documentProblem(place + "." + keys::kElements,
                             "an object where a list of elements is expected");
    }
  }
  return {};
}

// Plans one picture element; returns the problem that ends the run, if its
// geometry has one.
Expected<> planElement(const Json::Value& element, const PlanSettings& settings,
                       const CodePage& codePage, const SourceCensus& census, double scale,
                       ElementPlan& plan) {
  plan.place = elementPlace(plan.page, plan.element);
  if (isKeyed(element[keys::kImage])) plan.reads = ElementReads::kSource;
  const std::string srcPlace = plan.place + "." + keys::kImage + "." + keys::kSrc;
  const ElementSource source =
      elementSourceOf(element, settings.sourceDir, settings.useOriginPath, codePage);
  plan.source = source.source.text;
  if (source.kind == ElementSource::Kind::kProblem) {
    plan.problem = documentProblem(srcPlace, source.problem);
    return {};
  }
  if (source.kind == ElementSource::Kind::kSkipped) {
    plan.skipped = "a web address or \"default\": no file of the album";
  } else if (source.kind == ElementSource::Kind::kNone) {
    plan.skipped = "its src names no file (missing, empty or not text)";
  }
  if (source.kind != ElementSource::Kind::kFile) return {};
  const std::string& sourcePath = source.source.path;
  const std::string derivedName = derivedNameOf(sourcePath);

  plan.reads = ElementReads::kGeometry;
  if (Expected<> read = readElementGeometry(element, plan.place, plan.geometry); !read.ok()) {
    return read;
  }
  placeWindow(plan.geometry);

  PictureJob job;
  job.sourceFilePath = source.filePath;
  if (job.sourceFilePath.size() > kMaxPathBytes) {
    plan.problem =
        Problem{toOsPath(job.sourceFilePath), plan.place,
                "the source file path is longer than " + std::to_string(kMaxPathBytes) + " bytes"};
    return {};
  }
  job.censusCount = census.find(sourcePath);
  job.derivedName = derivedName;
  job.visibleArea = visibleArea(plan.geometry, scale);
  job.region = pixelRegionOf(plan.geometry, scale);
  job.upright = settings.exifOrientation;
  job.encoder.jpegQuality = settings.jpegQuality;
  job.encoder.jpegFullChroma = settings.jpegFullChroma;
  job.resampling = settings.resampling;
  // A page unit is 1 / scale printed pixels.
  if (settings.pageUnit != PageUnit::kNone && scale > 0 && std::isfinite(scale)) {
    job.encoder.dotsPerInch = unitsPerInch(settings.pageUnit) / scale;
  }
  // A window the picture may be cut to needs a record that can be rewritten:
  // known now, before any picture is made, rather than after.
  if (job.censusCount == 1 && job.region && windowInBox(*job.region)) {
    const std::string recordPlace = plan.place + "." + keys::kImage;
    if (Expected<> rewritable = checkFullRewrite(element[keys::kImage], recordPlace);
        !rewritable.ok()) {
      return rewritable;
    }
  }
  plan.job = std::move(job);
  plan.newSrc = convertAnsiToUtf8(codePage, derivedName);
  return {};
}

// Gives each source file's derived picture a name no other source's has: the
// first keeps the name after its path's last separator; a later one whose
// name is taken (as a case-insensitive file system compares names) is named
// NAME-2.EXT, NAME-3.EXT, ... the first that no source of the book and no
// file of the tool's own has. Elements of one source share its file.
void nameDerivedFiles(std::vector<ElementPlan>& elements, const CodePage& codePage) {
  std::set<std::string> taken;  // folded
  for (const ElementPlan& element : elements) {
    if (element.job) taken.insert(foldedName(element.newSrc));
  }
  std::set<std::string> given;                      // folded
  std::map<std::string, std::string> nameOfSource;  // by source file path
  for (ElementPlan& element : elements) {
    if (!element.job) continue;
    PictureJob& job = *element.job;
    const auto [named, fresh] = nameOfSource.emplace(job.sourceFilePath, job.derivedName);
    if (fresh) {
      const std::string folded = foldedName(element.newSrc);
      if (given.count(folded) == 0 && !isReservedName(element.newSrc)) {
        given.insert(folded);
      } else {
        const size_t dot = job.derivedName.rfind('.');
        std::string stem = job.derivedName.substr(0, dot);
        if (isReservedName(stem)) stem.insert(0, "_");  // no number makes it a picture's
        const std::string extension = dot == std::string::npos ? "" : job.derivedName.substr(dot);
        for (int k = 2;; ++k) {
          std::string name = stem;
          name.append("-").append(std::to_string(k)).append(extension);
          const std::string utf8 = convertAnsiToUtf8(codePage, name);
          const std::string candidate = foldedName(utf8);
          if (taken.count(candidate) != 0 || given.count(candidate) != 0 || isReservedName(utf8)) {
            continue;
          }
          given.insert(candidate);
          named->second = name;
          break;
        }
      }
    }
    if (named->second == job.derivedName) continue;
    element.renamedFrom = element.newSrc;
    job.derivedName = named->second;
    element.newSrc = convertAnsiToUtf8(codePage, job.derivedName);
  }
}

}  // namespace

AlbumPlan planAlbum(const Json::Value& root, const PlanSettings& settings,
                    const CodePage& codePage) {
  AlbumPlan plan;
  if (!isKeyed(root)) {
    plan.fatal = documentProblem("", "the document is neither an object nor null");
    return plan;
  }
  const Json::Value& photoBook = root[keys::kPhotoBook];
  if (!isKeyed(photoBook)) {
    plan.fatal = documentProblem(keys::kPhotoBook, "neither an object nor null");
    return plan;
  }
  const Expected<double> scale = asDouble(photoBook[keys::kScale]);
  if (!scale.ok()) {
    plan.fatal =
        documentProblem(std::string(keys::kPhotoBook) + "." + keys::kScale, scale.problem().text);
    return plan;
  }
  plan.scale = scale.value();
  const Json::Value& pages = photoBook[keys::kPages];
  if (isObjectWithMembers(pages)) {
    plan.fatal = documentProblem(kPagesPlace, "an object where a list of pages is expected");
    return plan;
  }
  if (const Expected<> shapes = checkPageShapes(pages); !shapes.ok()) {
    plan.fatal = shapes.problem();
    return plan;
  }

  // Written back as it is, and said: a book of no pages is most likely not
  // the book meant (a member misspelt, an album.desc left empty).
  if (!pages.isArray() || pages.empty()) {
    plan.notes.push_back(
        photoBook.isNull() ? documentProblem(keys::kPhotoBook,
                                             "missing: the book has no pages, nothing is prepared")
                           : documentProblem(kPagesPlace, "no pages: nothing is prepared"));
  }
  const SourceCensus census = buildSourceCensus(pages, settings.useOriginPath, codePage);
  size_t pictures = 0;  // room made at once: a large album's plans grow no copy
  forEachElement(pages, [&](Json::ArrayIndex, Json::ArrayIndex, const Json::Value& element) {
    pictures += isPictureElement(element) ? 1 : 0;
  });
  plan.elements.reserve(pictures);
  forEachElement(
      pages, [&](Json::ArrayIndex page, Json::ArrayIndex index, const Json::Value& element) {
        if (plan.fatal) return;
        ElementPlan elementPlan;
        elementPlan.page = static_cast<int>(page);
        elementPlan.element = static_cast<int>(index);
        if (!isPictureElement(element)) {
          // Left out by the first-key rule, which stored albums rely on: said.
          const std::optional<std::string> key = keyBeforeImage(element);
          if (!key) return;
          elementPlan.place = elementPlace(elementPlan.page, elementPlan.element);
          elementPlan.source = sourcePathOf(element, settings.useOriginPath, codePage).text;
          elementPlan.leftOut = "not a picture element (its first key is \"" +
                                convertAnsiToUtf8(codePage, *key) +
                                "\", not \"image\"): its picture is left out of the book";
          plan.elements.push_back(std::move(elementPlan));
          return;
        }
        const Expected<> planned =
            planElement(element, settings, codePage, census, plan.scale, elementPlan);
        if (planned.ok()) {
          plan.elements.push_back(std::move(elementPlan));
        } else {
          plan.fatal = planned.problem();
        }
      });
  if (plan.fatal) return plan;
  nameDerivedFiles(plan.elements, codePage);
  const bool anyPicture = std::any_of(plan.elements.begin(), plan.elements.end(),
                                      [](const ElementPlan& e) { return e.job.has_value(); });
  if (anyPicture && !(plan.scale > 0 && std::isfinite(plan.scale))) {
    plan.notes.push_back(documentProblem(
        std::string(keys::kPhotoBook) + "." + keys::kScale,
        photoBook[keys::kScale].isNull() ? "the book has no scale: every picture is copied whole"
                                         : "not a positive number: every picture is copied whole"));
  }
  return plan;
}

Expected<> rewrittenImage(const ElementPlan& plan, const Json::Value& element,
                          Derivation derivation, int pictureWidth, int pictureHeight,
                          Json::Value& image) {
  Json::Value read = element;
  addReadMembers(read, plan.reads);
  image = read[keys::kImage];
  if (derivation == Derivation::kCopy) {
    sourceRewrite(image, plan.newSrc);
    return {};
  }
  return fullRewrite(image, plan.geometry, pictureWidth, pictureHeight, plan.newSrc,
                     plan.place + "." + keys::kImage);
}

}  // namespace vellomar
