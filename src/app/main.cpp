#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"

int main(int argc, char** argv) {
  return vellomar::runCommandLine(std::vector<std::string>(argv, argv + argc), std::cout,
                                  std::cerr);
}
