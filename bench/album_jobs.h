// The picture work of an album as the benchmark programs see it: for every
// picture element that gets a derived picture, in element order, what to
// read, what to write and the window, as the tool's own planner decides it,
// so that the anchor and the floor do the tool's work and nothing else.

#ifndef VELLOMAR_BENCH_ALBUM_JOBS_H_
#define VELLOMAR_BENCH_ALBUM_JOBS_H_

#include <json/value.h>

#include <string>
#include <vector>

#include "album/json_reader.h"
#include "plan/album_plan.h"
#include "plan/plan_settings.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/os_path.h"
#include "util/whole_file.h"

namespace bench {

// The jobs, with their source paths as paths of this system.
inline std::vector<vellomar::PictureJob> albumJobs(const std::string& albumDir) {
  using namespace vellomar;
  Json::Value root;
  if (!readJson(readWholeFile(nativeFileSystem(), albumDir + "/album.desc"), root)) return {};
  PlanSettings settings;
  settings.sourceDir = albumDir + "\\";
  const AlbumPlan plan = planAlbum(root, settings, CodePage::named("UTF-8"));
  std::vector<PictureJob> jobs;
  for (const ElementPlan& element : plan.elements) {
    if (!element.job) continue;
    jobs.push_back(*element.job);
    jobs.back().sourceFilePath = toOsPath(jobs.back().sourceFilePath);
  }
  return jobs;
}

// The path the tool takes for `job` with a picture of that size.
inline vellomar::DerivedPlan planOf(const vellomar::PictureJob& job, int width, int height) {
  return vellomar::planDerivedImage(job.censusCount, width, height, job.visibleArea, job.region);
}

}  // namespace bench

#endif  // VELLOMAR_BENCH_ALBUM_JOBS_H_
