#include "app/options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "platform/c_number.h"

namespace vellomar {

ParsedArguments parseArguments(const std::vector<std::string>& args,
                               const std::vector<OptionSpec>& specs) {
  ParsedArguments parsed;
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A dash and a letter begin an option; an ORIGIN_FLAG of -1 is an operand.
    const bool option = arg.size() >= 2 && arg[0] == '-' &&
                        (arg[1] == '-' || std::isalpha(static_cast<unsigned char>(arg[1])));
    if (optionsEnd || !option) {
      parsed.operands.push_back(arg);
      continue;
    }
    if (arg[1] != '-' && arg != "-h") {
      parsed.error = "unknown option " + arg;
      return parsed;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    std::string name = arg == "-h" ? "help" : arg.substr(2);
    std::optional<std::string> value;
    const size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& candidate : specs) {
      if (name == candidate.name) spec = &candidate;
    }
    if (spec == nullptr) {
      parsed.error = "unknown option " + arg;
      return parsed;
    }
    if (spec->takesValue && !value) {
      if (i + 1 == args.size()) {
        parsed.error = "--" + name + " needs a value";
        return parsed;
      }
      value = args[++i];
    }
    if (!spec->takesValue && value) {
      parsed.error = "--" + name + " takes no value";
      return parsed;
    }
    parsed.options[name] = value.value_or("");
  }
  return parsed;
}

std::optional<long> wholeNumber(const std::string& text, long least, long most) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || value < least || value > most) return std::nullopt;
  return value;
}

std::optional<double> positiveNumber(const std::string& text) {
  char* end = nullptr;
  const double value = parseCNumber(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0) return std::nullopt;
  return value;
}

}  // namespace vellomar
