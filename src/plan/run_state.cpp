#include "plan/run_state.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "plan/derived_image.h"
#include "util/content_hash.h"

namespace vellomar {
namespace {

// The state's first line: this release's, and the earlier one's (which kept
// derived files alone).
constexpr char kHeader[] = "vellomar-state 3";
constexpr char kEarlierHeader[] = "vellomar-state 2";
constexpr char kOwnWord[] = "own";

std::string hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::optional<std::string> unhex(const std::string& text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const char pair[3] = {text[i], text[i + 1], '\0'};
    char* end = nullptr;
    const unsigned long byte = std::strtoul(pair, &end, 16);
    if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0]))) return std::nullopt;
    bytes += static_cast<char>(byte);
  }
  return bytes;
}

// A whole field as an unsigned number of `base`, or a signed one.
bool field(const std::string& text, uint64_t& value, int base = 10) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text.c_str(), &end, base);
  return *end == '\0' && errno == 0;
}

bool field(const std::string& text, int64_t& value) {
  if (text.empty() || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return *end == '\0' && errno == 0;
}

std::string identityText(const FileIdentity& file) {
  return std::to_string(file.device) + ' ' + std::to_string(file.inode) + ' ' +
         std::to_string(file.size) + ' ' + std::to_string(file.modifiedNanoseconds) + ' ' +
         std::to_string(file.changedNanoseconds);
}

std::string hashText(uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, hash);
  return text;
}

}  // namespace

uint64_t recipeOf(const PictureJob& job, const std::string& versions) {
  std::ostringstream recipe;
  recipe.precision(17);
  // A picture used more than once is copied, whatever its windows: all its
  // copies are one file.
  const bool copy = job.censusCount != 1;
  recipe << versions << '\n' << (copy ? "copy" : "one") << ' ';
  if (!copy) recipe << job.visibleArea;
  recipe << '\n';
  if (job.region && !copy) {
    const PixelRegion& r = *job.region;
    recipe << r.left << ' ' << r.top << ' ' << r.width << ' ' << r.height << ' ' << r.targetWidth
           << ' ' << r.targetHeight;
  }
  recipe << '\n' << job.derivedName << '\n' << job.upright;
  // Files encoded as the library encodes them keep the recipes they had.
  const EncoderSettings& encoder = job.encoder;
  if (!encoder.isDefault()) {
    recipe << "\nencoded " << encoder.jpegQuality << ' ' << encoder.jpegFullChroma << ' '
           << encoder.dotsPerInch;
  }
  if (job.resampling == Resampling::kArea) recipe << "\nresampled by area";
  return contentHash(recipe.str());
}

bool keepsFile(const DerivedFile& previous, uint64_t recipe, const FilesNow& now) {
  const auto holds = [](const std::optional<FileIdentity>& identity,
                        const std::optional<uint64_t>& hash, const FileIdentity& was,
                        uint64_t wasHash) {
    return identity && (*identity == was || (hash && *hash == wasHash));
  };
  return previous.recipe == recipe &&
         holds(now.source, now.sourceHash, previous.source, previous.sourceHash) &&
         holds(now.written, now.writtenHash, previous.written, previous.writtenHash);
}

RerunLedger planReruns(const std::vector<PictureJob>& jobs,
                       const std::vector<DerivedFile>& previous, const std::string& versions,
                       const std::string& outputDir, const LookFile& look) {
  RerunLedger ledger;
  std::map<std::string, const DerivedFile*> byName;
  for (const DerivedFile& file : previous) byName[file.derivedName] = &file;
  // The jobs of one name are one file: it is looked at once.
  std::map<std::string, std::optional<DerivedFile>> decided;
  std::map<std::string, size_t> taskOfSource;
  for (const PictureJob& job : jobs) {
    JobFile& entry = ledger.jobs.emplace_back();
    entry.recipe = recipeOf(job, versions);
    const auto found = byName.find(job.derivedName);
    if (found != byName.end() && found->second->recipe == entry.recipe) {
      const auto [done, fresh] = decided.emplace(job.derivedName, std::nullopt);
      if (fresh) {
        const DerivedFile& was = *found->second;
        FilesNow now;
        look(job.sourceFilePath, was.source, now.source, now.sourceHash);
        look(outputDir + job.derivedName, was.written, now.written, now.writtenHash);
        if (keepsFile(was, entry.recipe, now)) {
          done->second = was;
          done->second->source = *now.source;
          done->second->written = *now.written;
        }
      }
      entry.kept = done->second;
      if (entry.kept) continue;
    }
    const auto [task, fresh] = taskOfSource.emplace(job.sourceFilePath, ledger.tasks.size());
    entry.task = task->second;
    entry.copy = !fresh;
    if (fresh) ledger.tasks.push_back(ledger.jobs.size() - 1);
  }
  return ledger;
}

void OwnedFiles::add(OwnedFile file) {
  std::string key = foldedName(file.name);
  records_.emplace(std::move(key), std::move(file));
}

void OwnedFiles::add(const DerivedFile& file) {
  add(OwnedFile{file.derivedName, file.written, file.writtenHash});
}

bool stillAsPut(const FileIdentity& now, const FileIdentity& was) {
  return now.sameFile(was) && now.size == was.size &&
         now.modifiedNanoseconds == was.modifiedNanoseconds;
}

Ownership OwnedFiles::of(const std::string& name, const std::optional<FileIdentity>& now,
                         const std::function<std::optional<uint64_t>()>& hashNow) const {
  if (!now) return Ownership::kAbsent;
  const auto [begin, end] = records_.equal_range(foldedName(name));
  if (begin == end) return Ownership::kForeign;
  // As put in place: the same file, not written since.
  for (auto at = begin; at != end; ++at) {
    if (stillAsPut(*now, at->second.identity)) return Ownership::kOwn;
  }
  // Or the same bytes (the directory was copied, say).
  const std::optional<uint64_t> hash = hashNow();
  for (auto at = begin; at != end && hash; ++at) {
    if (at->second.hash == *hash) return Ownership::kOwn;
  }
  return Ownership::kChanged;
}

std::vector<OwnedFile> OwnedFiles::records() const {
  std::vector<OwnedFile> records;
  records.reserve(records_.size());
  for (const auto& [key, file] : records_) records.push_back(file);
  return records;
}

namespace {

std::string ownedText(const OwnedFile& file) {
  return std::string(kOwnWord) + ' ' + hex(file.name) + ' ' + std::to_string(file.identity.device) +
         ' ' + std::to_string(file.identity.inode) + ' ' + std::to_string(file.identity.size) +
         ' ' + std::to_string(file.identity.modifiedNanoseconds) + ' ' + hashText(file.hash) + '\n';
}

// An "own" line's words, after the first.
std::optional<OwnedFile> ownedOf(const std::vector<std::string>& w) {
  constexpr size_t kFields = 7;
  OwnedFile file;
  const auto name = w.size() == kFields ? unhex(w[1]) : std::nullopt;
  if (!name || !field(w[2], file.identity.device) || !field(w[3], file.identity.inode) ||
      !field(w[4], file.identity.size) || !field(w[5], file.identity.modifiedNanoseconds) ||
      !field(w[6], file.hash, 16)) {
    return std::nullopt;
  }
  file.name = *name;
  return file;
}

std::vector<std::string> wordsOf(const std::string& line) {
  std::istringstream words(line);
  std::vector<std::string> w;
  for (std::string word; words >> word;) w.push_back(word);
  return w;
}

}  // namespace

std::string stateText(const RunState& state) {
  std::string text = std::string(kHeader) + '\n';
  for (const DerivedFile& file : state.files) {
    text += hex(file.derivedName) + ' ' + hashText(file.recipe) + ' ' + identityText(file.source) +
            ' ' + hashText(file.sourceHash) + ' ' + identityText(file.written) + ' ' +
            hashText(file.writtenHash) + ' ' + std::to_string(file.pictureWidth) + ' ' +
            std::to_string(file.pictureHeight) + ' ' +
            (file.derivation == Derivation::kCut ? "reduce" : "copy") + ' ' +
            (file.inkConverted ? "converted" : "as-is") + ' ' +
            std::to_string(file.storedOrientation) + '\n';
  }
  for (const OwnedFile& file : state.owned) text += ownedText(file);
  return text;
}

std::optional<RunState> readState(std::string_view text) {
  std::istringstream lines{std::string(text)};
  std::string line;
  RunState state;
  if (!std::getline(lines, line) || (line != kHeader && line != kEarlierHeader)) {
    return std::nullopt;
  }
  state.earlierRelease = line == kEarlierHeader;
  while (std::getline(lines, line)) {
    const std::vector<std::string> w = wordsOf(line);
    if (!state.earlierRelease && !w.empty() && w[0] == kOwnWord) {
      const std::optional<OwnedFile> owned = ownedOf(w);
      if (!owned) return std::nullopt;
      state.owned.push_back(*owned);
      continue;
    }
    // An earlier release's line lacks the last two words: whether ink was
    // converted, and the orientation of a picture used as stored.
    const size_t fields = state.earlierRelease ? 17 : 19;
    if (w.size() != fields) return std::nullopt;
    DerivedFile file;
    const auto name = unhex(w[0]);
    uint64_t width = 0, height = 0;
    const auto identity = [&](size_t at, FileIdentity& into) {
      return field(w[at], into.device) && field(w[at + 1], into.inode) &&
             field(w[at + 2], into.size) && field(w[at + 3], into.modifiedNanoseconds) &&
             field(w[at + 4], into.changedNanoseconds);
    };
    if (!name || !field(w[1], file.recipe, 16) || !identity(2, file.source) ||
        !field(w[7], file.sourceHash, 16) || !identity(8, file.written) ||
        !field(w[13], file.writtenHash, 16) || !field(w[14], width) || !field(w[15], height) ||
        width > INT32_MAX || height > INT32_MAX || (w[16] != "reduce" && w[16] != "copy") ||
        (fields == 19 && ((w[17] != "converted" && w[17] != "as-is") || w[18].size() != 1 ||
                          w[18][0] < '1' || w[18][0] > '8'))) {
      return std::nullopt;
    }
    file.inkConverted = fields == 19 && w[17] == "converted";
    file.storedOrientation = fields == 19 ? w[18][0] - '0' : 1;
    file.derivedName = *name;
    file.pictureWidth = static_cast<int>(width);
    file.pictureHeight = static_cast<int>(height);
    file.derivation = w[16] == "reduce" ? Derivation::kCut : Derivation::kCopy;
    state.files.push_back(std::move(file));
  }
  return state;
}

std::string journalLine(const OwnedFile& file) { return ownedText(file); }

std::vector<OwnedFile> readJournal(std::string_view text) {
  std::vector<OwnedFile> files;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
    const std::vector<std::string> w = wordsOf(std::string(text.substr(start, end - start)));
    if (w.empty() || w[0] != kOwnWord) continue;
    if (auto owned = ownedOf(w)) files.push_back(std::move(*owned));
  }
  return files;
}

}  // namespace vellomar
