#include "app/previous_run.h"

#include <climits>
#include <map>

#include "platform/file_system.h"
#include "platform/os_path.h"
#include "util/content_hash.h"

namespace vellomar {
namespace {

// The state files of big albums are a few megabytes; anything far larger is
// not one.
constexpr uint64_t kMaxStateBytes = uint64_t{256} << 20;

// Whether the file at `path`, found as `now`, holds the bytes hashed `hash`:
// at once when it is the very file `identity` describes, by reading it
// otherwise.
bool holds(const std::string& path, const std::optional<FileIdentity>& now,
           const FileIdentity& identity, uint64_t hash, bool readAlways) {
  if (!now) return false;
  if (*now == identity && !readAlways) return true;
  std::string bytes;
  return readFileBytes(path, bytes, nullptr, INT_MAX) && contentHash(bytes) == hash;
}

}  // namespace

std::vector<std::optional<DerivedFile>> filesToTake(const std::vector<PictureJob>& jobs,
                                                    const std::string& outputDir,
                                                    const std::string& versions,
                                                    Diagnostics& diagnostics) {
  std::vector<std::optional<DerivedFile>> taken(jobs.size());
  const std::string path = outputDir + kStateFileName;
  std::string text;
  if (!fileIdentity(path) || jobs.empty()) return taken;
  std::optional<std::vector<MadeFile>> previous;
  if (readFileBytes(path, text, nullptr, kMaxStateBytes)) previous = readState(text);
  if (!previous) {
    diagnostics.note(toOsPath(path), "",
                     "is not a state file this tool can read: every picture is made again");
    return taken;
  }
  if (readsFromOutputDirectory(jobs, outputDir)) return taken;
  std::map<std::string, int> writers;
  for (const PictureJob& job : jobs) ++writers[job.derivedName];
  std::map<std::string, const MadeFile*> byName;
  for (const MadeFile& file : *previous) byName[file.derivedName] = &file;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const PictureJob& job = jobs[i];
    const auto found = byName.find(job.derivedName);
    if (writers[job.derivedName] != 1 || found == byName.end()) continue;
    const MadeFile& made = *found->second;
    // The file is read whole: a file that lost its bytes but kept its size
    // and time is made again.
    const std::string written = outputDir + job.derivedName;
    const std::optional<FileIdentity> source = fileIdentity(job.sourceFilePath);
    if (made.recipe != recipeOf(job, versions) ||
        !holds(job.sourceFilePath, source, made.source, made.sourceHash, false) ||
        !holds(written, fileIdentity(written), made.written, made.writtenHash, true)) {
      continue;
    }
    DerivedFile file;
    file.picture.status = DerivedPicture::Status::kMade;
    file.picture.pictureWidth = made.pictureWidth;
    file.picture.pictureHeight = made.pictureHeight;
    file.picture.path = made.path;
    file.picture.source = source;
    file.picture.sourceHash = made.sourceHash;
    file.written = true;
    file.writtenFile = made.written;
    file.writtenHash = made.writtenHash;
    taken[i] = std::move(file);
  }
  return taken;
}

std::optional<MadeFile> recordOf(const PictureJob& job, const DerivedFile& file,
                                 const std::string& versions) {
  if (!file.written || !file.picture.source || !file.writtenFile) return std::nullopt;
  MadeFile made;
  made.derivedName = job.derivedName;
  made.source = *file.picture.source;
  made.sourceHash = file.picture.sourceHash;
  made.recipe = recipeOf(job, versions);
  made.written = *file.writtenFile;
  made.writtenHash = file.writtenHash;
  made.pictureWidth = file.picture.pictureWidth;
  made.pictureHeight = file.picture.pictureHeight;
  made.path = file.picture.path;
  return made;
}

void writeRunState(const std::string& outputDir, const std::vector<MadeFile>& files,
                   Diagnostics& diagnostics) {
  std::string error;
  if (!writeFileAtomically(outputDir, kStateFileName, stateText(files), error)) {
    diagnostics.note(toOsPath(outputDir + kStateFileName), "", "cannot be written: " + error);
  }
}

}  // namespace vellomar
