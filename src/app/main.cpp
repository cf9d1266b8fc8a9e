#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "pictures/image_codecs.h"
#include "platform/error_stream.h"
#include "platform/file_system.h"

int main(int argc, char** argv) {
  vellomar::limitPicturesToDecode();  // before the image library is loaded
  const vellomar::ScratchDirectory scratch("vellomar-");
  vellomar::keepLibraryFilesIn(scratch.osPath());
  vellomar::removeOwnFilesOnInterruption();
  const vellomar::ErrorStream err = vellomar::separateErrorStream();
  return vellomar::runCommandLine(std::vector<std::string>(argv, argv + argc), std::cout,
                                  err.stream, err.terminal);
}
