#include "app/command_line.h"

#include <cstdlib>

#include "app/album_run.h"
#include "app/exit_status.h"
#include "app/options.h"
#include "app/proof_run.h"
#include "app/run_settings.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "util/diagnostics.h"

namespace vellomar {
namespace {

constexpr char kUsageLine[] =
    "usage: vellomar [--jobs N] [--rebuild] [--exif-orientation] [--no-wait] [--report FILE]\n"
    "                [--overwrite] [--jpeg-quality Q] [--jpeg-chroma 444|420]\n"
    "                [--page-unit mm|in|pt] [--resample bilinear|area]\n"
    "                SOURCE_DIR OUTPUT_DIR ORIGIN_FLAG\n";

constexpr char kHelp[] =
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
    "                 as written from the same source, element and options is\n"
    "                 kept)\n"
    "      --exif-orientation\n"
    "                 turn every picture upright by its EXIF orientation before\n"
    "                 its window is cut (by default pictures are used as stored)\n"
    "      --no-wait  end at once, with status 255, when another run is writing\n"
    "                 into OUTPUT_DIR (by default the run waits for it)\n"
    "      --report FILE\n"
    "                 write what became of every picture element to FILE, as\n"
    "                 JSON Lines (one object per element, then a closing one)\n"
    "      --overwrite\n"
    "                 replace files in OUTPUT_DIR that vellomar did not write (by\n"
    "                 default a run never does: an album.desc there that it did\n"
    "                 not write ends the run, any other such file is left as it is)\n"
    "      --jpeg-quality Q\n"
    "                 encode derived JPEG files at quality Q, 1 to 100 (default 95)\n"
    "      --jpeg-chroma 444|420\n"
    "                 keep their colour at full resolution (444) or halve it each\n"
    "                 way (420, the default)\n"
    "      --page-unit mm|in|pt\n"
    "                 the unit the book is laid out in: the derived JPEG, PNG and\n"
    "                 TIFF files then state the density they print at (by default\n"
    "                 they state none)\n"
    "      --resample bilinear|area\n"
    "                 reduce a window to its box bilinearly (the default, as\n"
    "                 every earlier run did) or by averaging all the pixels under\n"
    "                 each printed pixel (area: far less moire on fine patterns)\n"
    "  -h, --help     print this help\n"
    "      --version  print the version\n";

constexpr char kProofUsageLine[] =
    "usage: vellomar-proof [OPTIONS] SOURCE_DIR OUTPUT_DIR PROOF_DIR\n";

constexpr char kProofHelp[] =
    "Draws every page of the album in SOURCE_DIR and of the album vellomar prepared\n"
    "from it in OUTPUT_DIR, judges every picture at print resolution against the\n"
    "part of its source it prints, and writes the drawings and PROOF_DIR/index.html.\n"
    "Exit status: 0 when every picture passes, 1 when one fails, 2 when no proof\n"
    "could be made.\n"
    "  --min-psnr DB     least PSNR of a picture against its source (default 22)\n"
    "  --max-shift PX    largest misplacement, in printed pixels (default 1.5)\n"
    "  --min-detail R    least part of the source's fine detail kept (default 0.5)\n"
    "  --min-alignment A least alignment with the source: below it, another picture\n"
    "                    or another part of it (default 0.5)\n"
    "  --max-enlargement X  fail a page where a picture is enlarged more than X times\n"
    "                    to print (by default such pictures, past 1.5, are only named)\n"
    "  --size N          pixels of a drawing's long side (default 1600)\n"
    "  --origin-path     SOURCE_DIR's album was run with the origin-path flag 1\n"
    "  --exif-orientation  pictures are turned upright by their EXIF orientation,\n"
    "                    as vellomar --exif-orientation turns them\n"
    "  --jobs N          pictures proved at once (default: one per processor)\n"
    "  -h, --help        print this help\n"
    "      --version     print the version\n";

constexpr long kMaxJobs = 1024;

// A command line that is wrong: the reason and the usage line, then `status`.
int wrong(std::ostream& err, const char* program, const std::string& reason, const char* usage,
          int status) {
  err << diagnosticLine(failure(reason), program) << usage << "(" << program
      << " --help for more)\n";
  return status;
}

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
  return runCommandLine(args, CodePage::fromLocale(), nativeFileSystem(), out, err, errIsTerminal);
}

int runCommandLine(const std::vector<std::string>& args, const CodePage& codePage,
                   FileSystem& files, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  const ParsedArguments parsed = parseArguments(
      std::vector<std::string>(args.begin() + 1, args.end()), {{"help"},
                                                               {"version"},
                                                               {"jobs", true},
                                                               {"rebuild"},
                                                               {"exif-orientation"},
                                                               {"no-wait"},
                                                               {"report", true},
                                                               {"overwrite"},
                                                               {"jpeg-quality", true},
                                                               {"jpeg-chroma", true},
                                                               {"page-unit", true},
                                                               {"resample", true}});
  if (parsed.has("help")) {
    out << kUsageLine << kHelp;
    return kExitSuccess;
  }
  if (parsed.has("version")) {
    out << "vellomar " << VELLOMAR_VERSION << '\n';
    return kExitSuccess;
  }
  const auto fail = [&](const std::string& reason) {
    return wrong(err, "vellomar", reason, kUsageLine, kExitFailure);
  };
  if (!parsed.error.empty()) return fail(parsed.error);
  RunSettings settings;
  std::vector<std::string> positional = {args.front()};
  positional.insert(positional.end(), parsed.operands.begin(), parsed.operands.end());
  // The options' values first: an option missing its value took an argument.
  const bool counted = readRunSettings(positional, settings);
  if (parsed.has("jobs")) {
    const auto jobs = wholeNumber(parsed.options.at("jobs"), 1, kMaxJobs);
    if (!jobs) {
      return fail("--jobs: not a number of pictures from 1 to " + std::to_string(kMaxJobs) + ": " +
                  parsed.options.at("jobs"));
    }
    settings.workerCount = static_cast<int>(*jobs);
  }
  settings.rebuild = parsed.has("rebuild");
  settings.exifOrientation = parsed.has("exif-orientation");
  settings.waitForOtherRuns = !parsed.has("no-wait");
  if (parsed.has("report")) {
    settings.reportFile = parsed.options.at("report");
    if (settings.reportFile.empty()) return fail("--report: the path is empty");
  }
  settings.overwrite = parsed.has("overwrite");
  if (parsed.has("jpeg-quality")) {
    const auto quality = wholeNumber(parsed.options.at("jpeg-quality"), 1, 100);
    if (!quality) {
      return fail("--jpeg-quality: not a quality from 1 to 100: " +
                  parsed.options.at("jpeg-quality"));
    }
    settings.jpegQuality = static_cast<int>(*quality);
  }
  if (parsed.has("jpeg-chroma")) {
    const std::string& chroma = parsed.options.at("jpeg-chroma");
    if (chroma != "444" && chroma != "420") return fail("--jpeg-chroma: 444 or 420, not " + chroma);
    settings.jpegFullChroma = chroma == "444";
  }
  if (parsed.has("page-unit")) {
    const std::string& unit = parsed.options.at("page-unit");
    settings.pageUnit = unit == "mm"   ? PageUnit::kMillimetre
                        : unit == "in" ? PageUnit::kInch
                        : unit == "pt" ? PageUnit::kPoint
                                       : PageUnit::kNone;
    if (settings.pageUnit == PageUnit::kNone) return fail("--page-unit: mm, in or pt, not " + unit);
  }
  if (parsed.has("resample")) {
    const std::string& resampling = parsed.options.at("resample");
    if (resampling != "bilinear" && resampling != "area") {
      return fail("--resample: bilinear or area, not " + resampling);
    }
    settings.resampling = resampling == "area" ? Resampling::kArea : Resampling::kBilinear;
  }
  if (!counted) {
    return fail("expected SOURCE_DIR OUTPUT_DIR ORIGIN_FLAG, got " +
                std::to_string(parsed.operands.size()) + " argument" +
                (parsed.operands.size() == 1 ? "" : "s"));
  }
  if (settings.outputDir.empty()) return fail("the output directory is empty");
  settings.showProgress = errIsTerminal;
  keepFreedMemory();
  return processAlbum(settings, codePage, files, out, err);
}

int runProofCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                        bool errIsTerminal) {
  const ParsedArguments parsed = parseArguments(
      std::vector<std::string>(args.begin() + 1, args.end()), {{"help"},
                                                               {"version"},
                                                               {"size", true},
                                                               {"min-psnr", true},
                                                               {"max-shift", true},
                                                               {"max-enlargement", true},
                                                               {"min-detail", true},
                                                               {"min-alignment", true},
                                                               {"origin-path"},
                                                               {"exif-orientation"},
                                                               {"jobs", true}});
  if (parsed.has("help")) {
    out << kProofUsageLine << kProofHelp;
    return kProofPasses;
  }
  if (parsed.has("version")) {
    out << "vellomar-proof " << VELLOMAR_VERSION << "\n";
    return kProofPasses;
  }
  const auto fail = [&](const std::string& reason) {
    return wrong(err, "vellomar-proof", reason, kProofUsageLine, kProofNotMade);
  };
  if (!parsed.error.empty()) return fail(parsed.error);
  if (parsed.operands.size() != 3) {
    return fail("expected SOURCE_DIR OUTPUT_DIR PROOF_DIR, got " +
                std::to_string(parsed.operands.size()) + " argument" +
                (parsed.operands.size() == 1 ? "" : "s"));
  }
  ProofSettings settings;
  settings.showProgress = errIsTerminal;
  settings.sourceDir = parsed.operands[0];
  settings.outputDir = parsed.operands[1];
  settings.proofDir = parsed.operands[2];
  settings.useOriginPath = parsed.has("origin-path");
  settings.exifOrientation = parsed.has("exif-orientation");
  const auto notAValue = [&](const std::string& name, const std::string& value) {
    std::string reason = "not a value for --";
    reason.append(name).append(": ").append(value);
    return fail(reason);
  };
  for (const auto& [name, value] : parsed.options) {
    if (name == "size" || name == "jobs") {
      const auto number = wholeNumber(value, 1, 10000);
      if (!number) return notAValue(name, value);
      (name == "size" ? settings.longSide : settings.workerCount) = static_cast<int>(*number);
    } else if (name != "origin-path" && name != "exif-orientation") {
      const auto number = positiveNumber(value);
      if (!number) return notAValue(name, value);
      ProofThresholds& t = settings.thresholds;
      (name == "min-psnr"        ? t.minPsnr
       : name == "max-shift"     ? t.maxMisplacement
       : name == "min-detail"    ? t.minDetail
       : name == "min-alignment" ? t.minAlignment
                                 : t.maxEnlargement) = *number;
    }
  }
  keepFreedMemory();
  return runProof(settings, CodePage::fromLocale(), nativeFileSystem(), out, err);
}

}  // namespace vellomar
