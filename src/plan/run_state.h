#ifndef VELLOMAR_PLAN_RUN_STATE_H_
#define VELLOMAR_PLAN_RUN_STATE_H_

// What a run leaves for the next one in the output directory: the rule by
// which the next run keeps a derived file instead of making it again, and the
// record of which files of the directory the tool wrote.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/album_plan.h"
#include "plan/derived_file.h"
#include "platform/file_system.h"

namespace vellomar {

// The state file's name in the output directory.
constexpr char kStateFileName[] = ".vellomar-state";

// The journal of a run in the output directory: what it puts in place,
// recorded before it does, so that a run that is killed part way leaves its
// files known as its own.
constexpr char kJournalFileName[] = ".vellomar-journal";

// Everything besides the source's bytes that decides a derived file's bytes:
// the job's census count, visible area, window, name and turn, and
// `versions` (of the tool and the libraries that make pictures).
uint64_t recipeOf(const PictureJob& job, const std::string& versions);

// What is found now of the files a kept derived file depends on. A hash is
// known only when it was worth reading the file.
struct FilesNow {
  std::optional<FileIdentity> source;
  std::optional<uint64_t> sourceHash;
  std::optional<FileIdentity> written;
  std::optional<uint64_t> writtenHash;
};

// Whether a file the last run made (`previous`) is kept as it is for a job
// whose recipe is `recipe`: the recipe is the same, the source holds the same
// bytes (the same identity, or failing that the same hash) and the file is
// still as it was written (likewise).
bool keepsFile(const DerivedFile& previous, uint64_t recipe, const FilesNow& now);

// Finds what is there now of a file the last run knew as `was`: its identity,
// and the hash of its bytes when that identity is not `was`.
using LookFile =
    std::function<void(const std::string& path, const FileIdentity& was,
                       std::optional<FileIdentity>& identity, std::optional<uint64_t>& hash)>;

// Where the file of one job of a run comes from.
struct JobFile {
  uint64_t recipe = 0;              // recipeOf the job
  std::optional<DerivedFile> kept;  // the last run's, with its files as found now
  // Otherwise made by `task` (one for each source file, its first job making
  // the picture); a later job of the task's source takes the file its first
  // job writes (`copy`).
  size_t task = 0;
  bool copy = false;
};

// The re-run rule applied to the jobs of a run, in element order.
struct RerunLedger {
  std::vector<JobFile> jobs;
  std::vector<size_t> tasks;  // the job that makes each task's picture
};

// Decides every job of a run: a job whose derived name the last run made
// (`previous`; empty to make everything) is kept when keepsFile says so, with
// its source and its file in `outputDir` looked at once through `look`;
// every other job is made once for its source file. `versions` is
// pictureMakersVersion's.
RerunLedger planReruns(const std::vector<PictureJob>& jobs,
                       const std::vector<DerivedFile>& previous, const std::string& versions,
                       const std::string& outputDir, const LookFile& look);

// A file the tool put in the output directory, as it put it there.
struct OwnedFile {
  std::string name;       // code-page bytes
  FileIdentity identity;  // its change time is not compared: a rename sets it
  uint64_t hash = 0;      // of its bytes
};

// Whose a file of the output directory is.
enum class Ownership {
  kAbsent,   // there is none
  kOwn,      // the tool wrote it, and it is as written (or holds the same bytes)
  kChanged,  // the tool wrote a file of this name, but this one is not as written
  kForeign,  // the tool never wrote a file of this name
};

// Whether the file found `now` is the one that was `was` when it was put in
// place, not written since (a rename sets the change time: it is not
// compared).
bool stillAsPut(const FileIdentity& now, const FileIdentity& was);

// The files of the output directory that the tool wrote, by name.
class OwnedFiles {
 public:
  void add(OwnedFile file);
  void add(const DerivedFile& file);
  // The file named `name` now: its identity, and its bytes' hash (asked only
  // when the identity does not tell). Names are compared as a
  // case-insensitive file system compares them.
  Ownership of(const std::string& name, const std::optional<FileIdentity>& now,
               const std::function<std::optional<uint64_t>()>& hashNow) const;
  bool empty() const { return records_.empty(); }
  // Every record, in name order.
  std::vector<OwnedFile> records() const;

 private:
  std::multimap<std::string, OwnedFile> records_;  // by folded name
};

// What a run leaves for the next one.
struct RunState {
  std::vector<DerivedFile> files;  // derived files made or kept, with their recipes
  std::vector<OwnedFile> owned;    // other files the tool put there: album.desc, older pictures
  // Left by an earlier release, which kept no record of album.desc: the one
  // beside it is taken as the tool's.
  bool earlierRelease = false;
};

// The state file's text, and the state read back from it; nothing when the
// text is damaged or not a state file of this tool.
std::string stateText(const RunState& state);
std::optional<RunState> readState(std::string_view text);

// A line of the journal; the records of a journal's text (a line cut short by
// the run's end is left out).
std::string journalLine(const OwnedFile& file);
std::vector<OwnedFile> readJournal(std::string_view text);

}  // namespace vellomar

#endif  // VELLOMAR_PLAN_RUN_STATE_H_
