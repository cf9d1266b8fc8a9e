#include "app/run_report.h"

#include <json/value.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "album/json_writer.h"

namespace vellomar {

double printResolution(int pictureWidth, int pictureHeight, double boxWidth, double boxHeight,
                       double scale) {
  return std::min(pictureWidth / std::abs(boxWidth / scale),
                  pictureHeight / std::abs(boxHeight / scale));
}

std::string reportText(const std::vector<ElementOutcome>& outcomes, int status,
                       const std::string& ended) {
  std::string text;
  std::map<std::string, int> counts = {
      {"cut", 0}, {"copied", 0}, {"kept", 0}, {"skipped", 0}, {"problem", 0}};
  for (const ElementOutcome& outcome : outcomes) {
    Json::Value line(Json::objectValue);
    line["place"] = outcome.place;
    line["source"] = outcome.source;
    line["decision"] = outcome.decision;
    ++counts[outcome.decision];
    if (!outcome.problem.empty()) line["problem"] = outcome.problem;
    if (!outcome.derived.empty()) line["derived"] = outcome.derived;
    if (outcome.sized) {
      line["size"].append(outcome.width);
      line["size"].append(outcome.height);
      line["window"].append(outcome.windowWidth);
      line["window"].append(outcome.windowHeight);
    }
    if (outcome.resolved && std::isfinite(outcome.resolution)) {
      line["resolution"] = std::round(outcome.resolution * 1000) / 1000;
    }
    text += writeJson(line);
  }
  Json::Value closing(Json::objectValue);
  for (const auto& [decision, count] : counts) closing["counts"][decision] = count;
  closing["status"] = status & 0xFF;
  if (!ended.empty()) closing["ended"] = ended;
  return text + writeJson(closing);
}

}  // namespace vellomar
