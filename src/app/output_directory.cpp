#include "app/output_directory.h"

#include <algorithm>
#include <climits>
#include <map>
#include <set>

#include "plan/derived_image.h"
#include "platform/os_path.h"
#include "util/content_hash.h"

namespace vellomar {
namespace {

// The state files of big albums are a few megabytes; anything far larger is
// not one. A journal holds a line for each file put in place.
constexpr uint64_t kMaxStateBytes = uint64_t{256} << 20;

constexpr char kAlbumFileName[] = "album.desc";

// The state `directory` holds, when it holds one that reads (`unreadable`
// says when a file is there that does not), and the files the state and the
// journal of a run killed before it could record its state say vellomar
// wrote.
RunState readRunState(FileSystem& files, const std::string& directory, bool& unreadable,
                      OwnedFiles& owned) {
  RunState previous;
  const std::string statePath = directory + kStateFileName;
  unreadable = false;
  if (fileIdentity(files, statePath)) {
    std::optional<RunState> state;
    const Expected<std::string> text = files.readFile(statePath, kMaxStateBytes);
    if (text.ok()) state = readState(text.value());
    unreadable = !state;
    if (state) previous = std::move(*state);
  }
  for (const DerivedFile& file : previous.files) owned.add(file);
  for (const OwnedFile& file : previous.owned) owned.add(file);
  const Expected<std::string> journal =
      files.readFile(directory + kJournalFileName, kMaxStateBytes);
  if (journal.ok()) {
    for (OwnedFile& file : readJournal(journal.value())) owned.add(std::move(file));
  }
  return previous;
}

}  // namespace

OutputDirectory::OutputDirectory(FileSystem& files, std::string directory, Diagnostics& diagnostics)
    : files_(files), directory_(std::move(directory)), diagnostics_(diagnostics) {
  bool unreadable = false;
  previous_ = readRunState(files_, directory_, unreadable, owned_);
  // Damaged, or a later release's: what it says of the files there is not
  // known, so none of them is taken for vellomar's.
  if (unreadable) {
    diagnostics_.note(toOsPath(directory_ + kStateFileName), "",
                      "is not a state file this tool can read: every picture is made again, and "
                      "no file there is taken for vellomar's (--overwrite replaces them)");
  }
}

std::vector<std::string> namesWrittenIn(FileSystem& files, const std::string& directory) {
  bool unreadable = false;
  OwnedFiles owned;
  readRunState(files, directory, unreadable, owned);
  std::vector<std::string> names;
  for (const OwnedFile& file : owned.records()) names.push_back(file.name);
  return names;
}

Ownership OutputDirectory::ownership(const std::string& name) {
  const std::string path = directory_ + name;
  const std::optional<FileStatus> found = files_.linkStatus(path);
  if (!found) return Ownership::kAbsent;
  if (found->kind != FileStatus::Kind::kRegular) return Ownership::kForeign;
  // An earlier release kept no record of album.desc: its state stands for it.
  if (previous_.earlierRelease && foldedName(name) == kAlbumFileName) return Ownership::kOwn;
  return owned_.of(name, found->identity, [&]() -> std::optional<uint64_t> {
    const Expected<std::string> bytes = files_.readFile(path, INT_MAX);
    if (!bytes.ok()) return std::nullopt;
    return contentHash(bytes.value());
  });
}

RerunLedger OutputDirectory::planReruns(const std::vector<PictureJob>& jobs,
                                        const std::string& versions, bool rebuild) {
  // The identity of the file at `path`, and the hash of its bytes when they
  // are not known by that identity to be the ones hashed `was`.
  const auto look = [&](const std::string& path, const FileIdentity& was,
                        std::optional<FileIdentity>& identity, std::optional<uint64_t>& hash) {
    identity = fileIdentity(files_, path);
    if (!identity || *identity == was) return;
    const Expected<std::string> bytes = files_.readFile(path, INT_MAX);
    if (bytes.ok()) hash = contentHash(bytes.value());
  };
  static const std::vector<DerivedFile> kNone;  // a rebuild keeps nothing
  return vellomar::planReruns(jobs, rebuild ? kNone : previous_.files, versions, directory_, look);
}

Expected<> OutputDirectory::putInPlace(TemporaryFile& made, const std::string& name,
                                       uint64_t hash) {
  const std::optional<FileIdentity> identity = fileIdentity(files_, made.path());
  if (!identity) return failure("the file made for it is gone");
  // Renaming keeps the file, its size and its time: the record holds after.
  OwnedFile record{name, *identity, hash};
  if (!journal_) {
    Expected<std::unique_ptr<AppendingFile>> opened =
        files_.openForAppending(directory_ + kJournalFileName);
    if (!opened.ok()) return opened.problem();
    journal_ = std::move(opened).value();
  }
  Expected<> done = journal_->append(journalLine(record));
  // The description the last run left names the files there: once one of
  // them is replaced (or made again where it was missing) it would name
  // another picture, so it goes before the first picture is put in place. A
  // run that ends before it writes its own then leaves none.
  if (done.ok() && !withdrawn_ && foldedName(name) != kAlbumFileName) {
    const std::string album = directory_ + kAlbumFileName;
    withdrawn_ = ownership(kAlbumFileName) != Ownership::kOwn;
    if (!withdrawn_) {
      files_.remove(album);
      withdrawn_ = !files_.linkStatus(album);
    }
    if (!withdrawn_) {
      done = failure(
          "the album.desc the last run left, which names the pictures there, cannot "
          "be removed first");
    }
  }
  if (done.ok()) done = made.commit(directory_, name);
  if (done.ok()) placed_.push_back(std::move(record));
  return done;
}

Expected<> OutputDirectory::write(const std::string& name, std::string_view bytes) {
  TemporaryFile temporary;
  Expected<> written = temporary.write(files_, directory_, name, bytes, Leftover::kSweptUnderLock);
  if (!written.ok()) return written;
  return putInPlace(temporary, name, contentHash(bytes));
}

void OutputDirectory::removeUnnamed(const std::vector<std::string>& named,
                                    const std::vector<DerivedFile>& made) {
  std::set<std::string> kept{kAlbumFileName};  // folded
  for (const std::string& name : named) kept.insert(foldedName(name));
  for (const OwnedFile& file : owned_.records()) {
    if (kept.count(foldedName(file.name)) != 0) continue;
    // Only the very file put there and not written since: not a copy that
    // holds the same bytes, not a file this run made or kept under another
    // spelling of a name.
    const std::optional<FileStatus> now = files_.linkStatus(directory_ + file.name);
    if (!now || now->kind != FileStatus::Kind::kRegular ||
        !stillAsPut(now->identity, file.identity) ||
        std::any_of(made.begin(), made.end(),
                    [&](const DerivedFile& m) { return now->identity.sameFile(m.written); })) {
      continue;
    }
    files_.remove(directory_ + file.name);
  }
}

void OutputDirectory::finish(const std::vector<DerivedFile>& made) {
  RunState state;
  state.files = made;
  std::set<std::string> named;  // folded: this run's records stand for these names
  for (const DerivedFile& file : made) named.insert(foldedName(file.derivedName));
  for (const OwnedFile& file : placed_) {
    if (named.count(foldedName(file.name)) == 0) state.owned.push_back(file);
  }
  for (const OwnedFile& file : placed_) named.insert(foldedName(file.name));
  // Files the tool wrote before and this run left alone stay the tool's while
  // they are there.
  std::set<std::string> recorded;  // each record once
  for (const OwnedFile& file : owned_.records()) {
    if (named.count(foldedName(file.name)) == 0 && recorded.insert(journalLine(file)).second &&
        files_.linkStatus(directory_ + file.name)) {
      state.owned.push_back(file);
    }
  }
  journal_.reset();
  if (state.files.empty() && state.owned.empty() &&
      !fileIdentity(files_, directory_ + kStateFileName)) {
    return;
  }
  const Expected<> written = writeFileAtomically(files_, directory_, kStateFileName,
                                                 stateText(state), Leftover::kSweptUnderLock);
  if (!written.ok()) {
    diagnostics_.note(toOsPath(directory_ + kStateFileName), "",
                      "cannot be written: " + written.reason());
    return;
  }
  files_.remove(directory_ + kJournalFileName);
}

}  // namespace vellomar
