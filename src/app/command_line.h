#ifndef VELLOMAR_APP_COMMAND_LINE_H_
#define VELLOMAR_APP_COMMAND_LINE_H_

// The command line: vellomar SOURCE_DIR OUTPUT_DIR ORIGIN_FLAG.

#include <ostream>
#include <string>
#include <vector>

namespace vellomar {

class CodePage;
struct RunSettings;

// Fills `settings` from exactly three arguments (after the program name):
// sourceDir is the first with a backslash appended, outputDir the second,
// useOriginPath is atoi(third) == 1. Returns false for any other count.
bool readRunSettings(const std::vector<std::string>& args, RunSettings& settings);

// The whole command: `args` holds the program name and the arguments. Returns
// the exit status. --help / -h and --version, given alone, print to `out` and
// return 0; a wrong argument count returns -1 silently; an empty output
// directory is refused on `err`. Otherwise runs the album pass with the code
// page of the locale (or `codePage`, when given), showing its progress on
// `err` when `errIsTerminal`.
int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool errIsTerminal = false);
int runCommandLine(const std::vector<std::string>& args, const CodePage& codePage,
                   std::ostream& out, std::ostream& err, bool errIsTerminal = false);

}  // namespace vellomar

#endif  // VELLOMAR_APP_COMMAND_LINE_H_
