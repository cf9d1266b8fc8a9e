#ifndef VELLOMAR_APP_EXIT_STATUS_H_
#define VELLOMAR_APP_EXIT_STATUS_H_

// The statuses a run ends with. -1 reaches the shell as 255.

namespace vellomar {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;

}  // namespace vellomar

#endif  // VELLOMAR_APP_EXIT_STATUS_H_
