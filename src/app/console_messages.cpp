#include "app/console_messages.h"

namespace vellomar {
namespace {

// The texts as GBK (code page 936) bytes.
constexpr char kFileOpenError[] = "\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xB4\xED\xCE\xF3\xA3\xA1";
constexpr char kParseError[] =
    "Json\xCE\xC4\xBC\xFE\xBD\xE2\xCE\xF6\xB4\xED\xCE\xF3\xA3\xAC"
    "\xBD\xE2\xCE\xF6\xBD\xE1\xB9\xFB: ";

}  // namespace

void printFileOpenError(std::ostream& out) { out << kFileOpenError << '\n' << std::flush; }

void printParseError(std::ostream& out, int parseResult) {
  out << kParseError << parseResult << '\n' << std::flush;
}

}  // namespace vellomar
