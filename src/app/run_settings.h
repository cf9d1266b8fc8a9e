#ifndef VELLOMAR_APP_RUN_SETTINGS_H_
#define VELLOMAR_APP_RUN_SETTINGS_H_

// What one run works with, as the command line gives it; unchanged after.

#include <string>

#include "plan/plan_settings.h"

namespace vellomar {

// What the plan takes, and what only the run does with the files.
struct RunSettings : PlanSettings {
  // Code-page bytes: the second argument; the run appends one backslash once
  // the directory has been created.
  std::string outputDir;
  // Pictures worked on at once; 0 for one per online processor.
  int workerCount = 0;
  // The error stream is a terminal: show how far the picture work has come.
  bool showProgress = false;
  // Make every picture, whatever an earlier run left.
  bool rebuild = false;
  // While another run writes into the output directory, wait for it to end
  // (or give up at once).
  bool waitForOtherRuns = true;
  // Code-page bytes: where the run's report goes; empty for none.
  std::string reportFile;
  // Replace files in the output directory that the tool did not write (never
  // a source file of the album).
  bool overwrite = false;
};

}  // namespace vellomar

#endif  // VELLOMAR_APP_RUN_SETTINGS_H_
