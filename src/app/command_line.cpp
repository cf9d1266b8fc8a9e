#include "app/command_line.h"

#include <cstdlib>

#include "app/album_run.h"
#include "app/exit_status.h"
#include "plan/run_settings.h"
#include "platform/code_page.h"
#include "platform/system.h"
#include "util/diagnostics.h"

namespace vellomar {
namespace {

constexpr char kUsage[] =
    "usage: vellomar [--jobs N] [--rebuild] [--exif-orientation] SOURCE_DIR OUTPUT_DIR\n"
    "                ORIGIN_FLAG\n"
    "\n"
    "Reads SOURCE_DIR/album.desc, writes one derived picture for every picture\n"
    "element into OUTPUT_DIR (created when its parent exists) and the updated\n"
    "OUTPUT_DIR/album.desc. ORIGIN_FLAG 1 reads each picture from its origin/o\n"
    "path instead of its thumbnail path; any other value reads src as it stands.\n"
    "\n"
    "Exit status: 0 when every picture was prepared and album.desc written;\n"
    "255 otherwise. Problems are reported on standard error.\n"
    "\n"
    "      --jobs N   work on at most N pictures at once (default: one per\n"
    "                 processor); the output is the same for every N\n"
    "      --rebuild  make every picture again, whatever an earlier run into\n"
    "                 OUTPUT_DIR left (by default, a derived file that is still\n"
    "                 as written from the same source and element is kept)\n"
    "      --exif-orientation\n"
    "                 turn every picture upright by its EXIF orientation before\n"
    "                 its window is cut (by default pictures are used as stored)\n"
    "  -h, --help     print this help\n"
    "      --version  print the version\n";

constexpr long kMaxJobs = 1024;

}  // namespace

bool readRunSettings(const std::vector<std::string>& args, RunSettings& settings) {
  if (args.size() != 4) return false;
  settings.useOriginPath = std::atoi(args[3].c_str()) == 1;
  settings.sourceDir = args[1] + '\\';
  settings.outputDir = args[2];
  return true;
}

int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool errIsTerminal) {
  return runCommandLine(args, CodePage::fromLocale(), out, err, errIsTerminal);
}

int runCommandLine(const std::vector<std::string>& args, const CodePage& codePage,
                   std::ostream& out, std::ostream& err, bool errIsTerminal) {
  if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
    out << kUsage;
    return kExitSuccess;
  }
  if (args.size() == 2 && args[1] == "--version") {
    out << "vellomar " << VELLOMAR_VERSION << '\n';
    return kExitSuccess;
  }
  RunSettings settings;
  // Options stand before the three arguments, which are taken as they come.
  std::vector<std::string> positional = {args.front()};
  size_t at = 1;
  for (; args.size() - at > 3; ++at) {
    if (args[at] == "--rebuild") {
      settings.rebuild = true;
      continue;
    }
    if (args[at] == "--exif-orientation") {
      settings.exifOrientation = true;
      continue;
    }
    if (args[at] == "--no-wait") {
      settings.waitForOtherRuns = false;
      continue;
    }
    if (args[at] != "--jobs" || at + 1 == args.size()) break;
    const std::string& count = args[++at];
    char* end = nullptr;
    const long jobs = std::strtol(count.c_str(), &end, 10);
    if (count.empty() || *end != '\0' || jobs < 1 || jobs > kMaxJobs) {
      err << diagnosticLine(
          "", "--jobs",
          "not a number of pictures from 1 to " + std::to_string(kMaxJobs) + ": " + count);
      return kExitFailure;
    }
    settings.workerCount = static_cast<int>(jobs);
  }
  positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(at), args.end());
  if (!readRunSettings(positional, settings)) return kExitFailure;
  if (settings.outputDir.empty()) {
    err << diagnosticLine("", "", "the output directory is empty");
    return kExitFailure;
  }
  settings.showProgress = errIsTerminal;
  keepFreedMemory();
  return processAlbum(settings, codePage, out, err);
}

}  // namespace vellomar
