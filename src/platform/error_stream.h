#ifndef VELLOMAR_PLATFORM_ERROR_STREAM_H_
#define VELLOMAR_PLATFORM_ERROR_STREAM_H_

// The image libraries write their own warnings to the standard error stream
// ("Premature end of JPEG file", "libpng error: ..."), which would break the
// tool's one-line diagnostics. The process keeps the real stream for itself
// and gives the libraries nowhere to write.

#include <ostream>

namespace vellomar {

struct ErrorStream {
  std::ostream& stream;
  bool terminal;  // the stream is a terminal
};

// Moves the standard error stream aside for the tool's own diagnostics and
// returns a stream on it; from then on, whatever else writes to the standard
// error stream writes to nowhere. Returns std::cerr when that cannot be done.
// Writing to a pipe whose reader has gone fails from then on, instead of
// ending the process.
ErrorStream separateErrorStream();

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_ERROR_STREAM_H_
