#include "plan/run_state.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "util/content_hash.h"

namespace vellomar {
namespace {

constexpr char kHeader[] = "vellomar-state 1";

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
         std::to_string(file.size) + ' ' + std::to_string(file.modifiedNanoseconds);
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
  recipe << versions << '\n' << job.censusCount << ' ' << job.visibleArea << '\n';
  if (job.region) {
    const PixelRegion& r = *job.region;
    recipe << r.left << ' ' << r.top << ' ' << r.width << ' ' << r.height << ' ' << r.targetWidth
           << ' ' << r.targetHeight;
  }
  recipe << '\n' << job.derivedName << '\n' << job.upright;
  return contentHash(recipe.str());
}

std::string stateText(const std::vector<MadeFile>& files) {
  std::string text = std::string(kHeader) + '\n';
  for (const MadeFile& file : files) {
    text += hex(file.derivedName) + ' ' + identityText(file.source) + ' ' +
            hashText(file.sourceHash) + ' ' + hashText(file.recipe) + ' ' +
            identityText(file.written) + ' ' + hashText(file.writtenHash) + ' ' +
            std::to_string(file.pictureWidth) + ' ' + std::to_string(file.pictureHeight) + ' ' +
            (file.path == DerivedPath::kReduce ? "reduce" : "copy") + '\n';
  }
  return text;
}

std::optional<std::vector<MadeFile>> readState(std::string_view text) {
  std::istringstream lines{std::string(text)};
  std::string line;
  if (!std::getline(lines, line) || line != kHeader) return std::nullopt;
  std::vector<MadeFile> files;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    constexpr size_t kFields = 15;
    if (w.size() != kFields) return std::nullopt;
    MadeFile file;
    const auto name = unhex(w[0]);
    uint64_t width = 0, height = 0;
    const auto identity = [&](size_t at, FileIdentity& into) {
      return field(w[at], into.device) && field(w[at + 1], into.inode) &&
             field(w[at + 2], into.size) && field(w[at + 3], into.modifiedNanoseconds);
    };
    if (!name || !identity(1, file.source) || !field(w[5], file.sourceHash, 16) ||
        !field(w[6], file.recipe, 16) || !identity(7, file.written) ||
        !field(w[11], file.writtenHash, 16) || !field(w[12], width) || !field(w[13], height) ||
        width > INT32_MAX || height > INT32_MAX || (w[14] != "reduce" && w[14] != "copy")) {
      return std::nullopt;
    }
    file.derivedName = *name;
    file.pictureWidth = static_cast<int>(width);
    file.pictureHeight = static_cast<int>(height);
    file.path = w[14] == "reduce" ? DerivedPath::kReduce : DerivedPath::kCopy;
    files.push_back(std::move(file));
  }
  return files;
}

}  // namespace vellomar
