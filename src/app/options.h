#ifndef VELLOMAR_APP_OPTIONS_H_
#define VELLOMAR_APP_OPTIONS_H_

// The options of both programs' command lines, read as GNU tools read them:
// --name, --name VALUE or --name=VALUE, and -h for --help, anywhere before
// "--"; any other dash and letter is an unknown option; every other argument
// is an operand (an ORIGIN_FLAG of -1 included).

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vellomar {

struct OptionSpec {
  const char* name;  // without the dashes
  bool takesValue = false;
};

struct ParsedArguments {
  std::map<std::string, std::string> options;  // by name; the last one given wins
  std::vector<std::string> operands;
  std::string error;  // why the command line is wrong; "" when it is not
  bool has(const std::string& name) const { return options.count(name) != 0; }
};

// Splits `args` (without the program name) by `specs`.
ParsedArguments parseArguments(const std::vector<std::string>& args,
                               const std::vector<OptionSpec>& specs);

// `text` as a whole number from `least` to `most`; nothing otherwise.
std::optional<long> wholeNumber(const std::string& text, long least, long most);
// `text` as a finite number of at least 0; nothing otherwise.
std::optional<double> positiveNumber(const std::string& text);

}  // namespace vellomar

#endif  // VELLOMAR_APP_OPTIONS_H_
