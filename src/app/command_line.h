#ifndef VELLOMAR_APP_COMMAND_LINE_H_
#define VELLOMAR_APP_COMMAND_LINE_H_

// The command lines of both programs:
//   vellomar [OPTIONS] SOURCE_DIR OUTPUT_DIR ORIGIN_FLAG
//   vellomar-proof [OPTIONS] SOURCE_DIR OUTPUT_DIR PROOF_DIR

#include <ostream>
#include <string>
#include <vector>

namespace vellomar {

class CodePage;
class FileSystem;
struct RunSettings;

// Fills `settings` from exactly three arguments (after the program name):
// sourceDir is the first with a backslash appended, outputDir the second,
// useOriginPath is atoi(third) == 1. Returns false for any other count.
bool readRunSettings(const std::vector<std::string>& args, RunSettings& settings);

// vellomar: `args` holds the program name and the arguments. Returns the exit
// status. --help (-h) and --version print to `out` and return 0; a command
// line that is wrong is said on `err`, with the usage line, and returns -1.
// Otherwise runs the album pass with the code page of the locale and the
// system's file system (or `codePage` and `files`, when given), showing its
// progress on `err` when `errIsTerminal`.
int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool errIsTerminal = false);
int runCommandLine(const std::vector<std::string>& args, const CodePage& codePage,
                   FileSystem& files, std::ostream& out, std::ostream& err,
                   bool errIsTerminal = false);

// vellomar-proof, likewise; a wrong command line returns 2.
int runProofCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                        bool errIsTerminal = false);

}  // namespace vellomar

#endif  // VELLOMAR_APP_COMMAND_LINE_H_
