// The picture work of an album as the benchmark programs see it: for every
// picture element that gets a derived picture, in element order, what to
// read, what to write and the window. Built from the tool's own rules, so
// that the anchor and the floor do the tool's work and nothing else.

#ifndef VELLOMAR_BENCH_ALBUM_JOBS_H_
#define VELLOMAR_BENCH_ALBUM_JOBS_H_

#include <json/value.h>

#include <map>
#include <string>
#include <vector>

#include "album/album_format.h"
#include "album/json_reader.h"
#include "census/source_path.h"
#include "element/derived_image.h"
#include "element/element_geometry.h"
#include "platform/code_page.h"
#include "util/whole_file.h"

namespace bench {

struct Job {
  std::string source;       // file path
  std::string derivedName;  // file name in the output directory
  int censusCount = 0;
  double visibleArea = 0;
  std::optional<vellomar::PixelRegion> region;
};

inline std::vector<Job> albumJobs(const std::string& albumDir) {
  using namespace vellomar;
  Json::Value root;
  if (!readJson(readWholeFile(albumDir + "/album.desc"), root)) return {};
  const CodePage codePage = CodePage::named("UTF-8");
  const double scale = asDouble(root["photoBook"]["scale"]);
  Json::Value& pages = root["photoBook"]["pages"];
  std::vector<Job> jobs;
  std::map<std::string, int> census;
  for (Json::Value& page : pages) {
    for (Json::Value& element : page["elements"]) {
      if (!isPictureElement(element)) continue;
      const SourcePath source = sourcePathOf(element, false, codePage);
      if (source.status != SourcePath::Status::kUsable) continue;
      ++census[source.path];
      if (isSkippedSource(source.path)) continue;
      ElementGeometry g = readElementGeometry(element, "");
      placeWindow(g);
      jobs.push_back({albumDir + "/" + source.path, derivedNameOf(source.path), 0,
                      visibleArea(g, scale), pixelRegionOf(g, scale)});
    }
  }
  for (Job& job : jobs) job.censusCount = census[job.source.substr(albumDir.size() + 1)];
  return jobs;
}

// The path the tool takes for `job` with a picture of that size.
inline vellomar::DerivedPlan planOf(const Job& job, int width, int height) {
  return vellomar::planDerivedImage(job.censusCount, width, height, job.visibleArea, job.region);
}

}  // namespace bench

#endif  // VELLOMAR_BENCH_ALBUM_JOBS_H_
