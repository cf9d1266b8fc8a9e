#include <iostream>
#include <string>
#include <vector>

#include "pictures/picture.h"
#include "platform/error_stream.h"
#include "proof/proof_run.h"

int main(int argc, char** argv) {
  vellomar::limitPicturesToDecode(argv);  // may run the program again
  const vellomar::ErrorStream err = vellomar::separateErrorStream();
  return vellomar::runProofCommandLine(std::vector<std::string>(argv, argv + argc), std::cout,
                                       err.stream, err.terminal);
}
