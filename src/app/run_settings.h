#ifndef VELLOMAR_APP_RUN_SETTINGS_H_
#define VELLOMAR_APP_RUN_SETTINGS_H_

// What one run works with: the command line's directories and flag, and the
// book's scale once the album description has been read.

#include <string>

namespace vellomar {

struct RunSettings {
  // Code-page bytes: the first argument with one backslash appended.
  std::string sourceDir;
  // Code-page bytes: the second argument; one backslash is appended once the
  // directory has been created.
  std::string outputDir;
  // The third argument, read with atoi, equals 1.
  bool useOriginPath = false;
  // Page units per pixel of a derived image: photoBook.scale.
  double scale = 0.0;
  // Pictures worked on at once; 0 for one per online processor.
  int workerCount = 0;
  // The error stream is a terminal: show how far the picture work has come.
  bool showProgress = false;
};

}  // namespace vellomar

#endif  // VELLOMAR_APP_RUN_SETTINGS_H_
