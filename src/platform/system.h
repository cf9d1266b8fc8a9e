#ifndef VELLOMAR_PLATFORM_SYSTEM_H_
#define VELLOMAR_PLATFORM_SYSTEM_H_

// What the process asks of the system as a whole.

#include <string>

namespace vellomar {

// The number of processors online (at least 1).
int onlineProcessorCount();

// Makes freed memory stay in the process for the next allocation, instead of
// going back to the system: pictures of tens of megabytes are decoded one
// after another, and fresh pages for each would cost more than the decoding.
void keepFreedMemory();

// Makes sure the process has `name`=`value` in its environment from its very
// start: when it has not, sets it and runs the same program again in its place
// (same arguments, same streams). Returns only when it has it, or when the
// program cannot be run again.
void restartWithEnvironment(const char* name, const std::string& value, char** argv);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_SYSTEM_H_
