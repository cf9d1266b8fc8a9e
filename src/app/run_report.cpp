#include "app/run_report.h"

#include <json/value.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "album/json_writer.h"
#include "platform/code_page.h"

namespace vellomar {

namespace {

// The text as UTF-8, whatever bytes it holds.
Json::Value utf8(const std::string& text) { return utf16ToUtf8(utf8ToUtf16(text)); }

}  // namespace

std::string reportText(const std::vector<ElementOutcome>& outcomes, int status,
                       const std::string& ended, const EncoderSettings& encoder,
                       Resampling resampling) {
  std::string text;
  std::map<std::string, int> counts = {
      {"cut", 0}, {"copied", 0}, {"kept", 0}, {"skipped", 0}, {"problem", 0}};
  for (const ElementOutcome& outcome : outcomes) {
    Json::Value line(Json::objectValue);
    line["place"] = outcome.place;
    line["source"] = utf8(outcome.source);
    line["decision"] = outcome.decision;
    ++counts[outcome.decision];
    if (!outcome.problem.empty()) line["problem"] = utf8(outcome.problem);
    if (!outcome.reason.empty()) line["reason"] = utf8(outcome.reason);
    if (!outcome.derived.empty()) line["derived"] = utf8(outcome.derived);
    if (!outcome.renamedFrom.empty()) line["renamedFrom"] = utf8(outcome.renamedFrom);
    if (outcome.inkConverted) line["converted"] = "CMYK to RGB";
    if (outcome.storedTurned != 1) line["storedTurned"] = outcome.storedTurned;
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
  if (!ended.empty()) closing["ended"] = utf8(ended);
  if (!encoder.isDefault()) {
    closing["encoded"]["jpegQuality"] = encoder.jpegQuality;
    closing["encoded"]["jpegChroma"] = encoder.jpegFullChroma ? "444" : "420";
    if (encoder.dotsPerInch > 0) {
      closing["encoded"]["dotsPerInch"] = std::round(encoder.dotsPerInch * 1000) / 1000;
    }
  }
  if (resampling == Resampling::kArea) closing["resampled"] = "area";
  return text + writeJson(closing);
}

Expected<> writeReport(FileSystem& files, const std::string& path, const std::string& text,
                       Leftover leftover) {
  const std::optional<FileStatus> found = files.linkStatus(path);
  if (found && found->kind == FileStatus::Kind::kDirectory) return failure("it names a directory");
  if (found && found->kind != FileStatus::Kind::kRegular) return files.writeInto(path, text);
  const size_t separator = path.find_last_of("/\\");
  const std::string directory = separator == std::string::npos ? "" : path.substr(0, separator + 1);
  const std::string name = path.substr(directory.size());
  if (name.empty()) return failure("it names a directory");
  return writeFileAtomically(files, directory, name, text, leftover);
}

}  // namespace vellomar
