#include "app/previous_run.h"

#include <climits>
#include <map>

#include "pictures/picture.h"
#include "plan/run_state.h"
#include "platform/file_system.h"
#include "platform/os_path.h"
#include "util/content_hash.h"

namespace vellomar {
namespace {

// The state files of big albums are a few megabytes; anything far larger is
// not one.
constexpr uint64_t kMaxStateBytes = uint64_t{256} << 20;

// The identity of the file at `path`, and the hash of its bytes when they are
// not known by that identity to be the ones hashed `was`.
void find(const std::string& path, const FileIdentity& was, std::optional<FileIdentity>& identity,
          std::optional<uint64_t>& hash) {
  identity = fileIdentity(path);
  std::string bytes;
  if (identity && !(*identity == was) && readFileBytes(path, bytes, nullptr, INT_MAX)) {
    hash = contentHash(bytes);
  }
}

}  // namespace

std::vector<std::optional<DerivedFile>> filesToKeep(const std::vector<PictureJob>& jobs,
                                                    const std::string& outputDir,
                                                    Diagnostics& diagnostics) {
  const std::string path = outputDir + kStateFileName;
  if (!fileIdentity(path) || jobs.empty()) return {};
  std::string text;
  std::optional<std::vector<DerivedFile>> previous;
  if (readFileBytes(path, text, nullptr, kMaxStateBytes)) previous = readState(text);
  if (!previous) {
    diagnostics.note(toOsPath(path), "",
                     "is not a state file this tool can read: every picture is made again");
    return {};
  }
  std::vector<std::optional<DerivedFile>> kept(jobs.size());
  std::map<std::string, const DerivedFile*> byName;
  for (const DerivedFile& file : *previous) byName[file.derivedName] = &file;
  const std::vector<bool> alone = writesItsNameAlone(jobs);
  const std::string versions = pictureMakersVersion();
  // The jobs of one source file writing their name alone are one file: it is
  // looked at once.
  std::map<std::string, std::optional<DerivedFile>> decided;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const PictureJob& job = jobs[i];
    const auto found = byName.find(job.derivedName);
    const uint64_t recipe = recipeOf(job, versions);
    if (found == byName.end() || !alone[i] || found->second->recipe != recipe) continue;
    const auto [done, fresh] = decided.emplace(job.derivedName, std::nullopt);
    if (fresh) {
      const DerivedFile& previousFile = *found->second;
      FilesNow now;
      find(job.sourceFilePath, previousFile.source, now.source, now.sourceHash);
      find(outputDir + job.derivedName, previousFile.written, now.written, now.writtenHash);
      if (keepsFile(previousFile, recipe, alone[i], now)) {
        done->second = previousFile;
        done->second->source = *now.source;
        done->second->written = *now.written;
      }
    }
    kept[i] = done->second;
  }
  return kept;
}

void writeRunState(const std::string& outputDir, const std::vector<DerivedFile>& files,
                   Diagnostics& diagnostics) {
  std::string error;
  if (!writeFileAtomically(outputDir, kStateFileName, stateText(files), error)) {
    diagnostics.note(toOsPath(outputDir + kStateFileName), "", "cannot be written: " + error);
  }
}

}  // namespace vellomar
