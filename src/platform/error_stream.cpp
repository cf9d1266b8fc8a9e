#include "platform/error_stream.h"

#include <fcntl.h>

#include <cstdio>
#include <ext/stdio_filebuf.h>
#include <iostream>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace vellomar {

#ifdef _WIN32

ErrorStream separateErrorStream() {
  // The progress line is for a console, which is what a person watches.
  DWORD mode = 0;
  const bool terminal = ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  // The copy keeps the text mode of the original: lines end in CR LF.
  const int saved = ::_dup(2);
  const int nowhere = ::_open("NUL", _O_WRONLY | _O_NOINHERIT);
  if (saved < 0 || nowhere < 0 || ::_dup2(nowhere, 2) < 0) {
    if (saved >= 0) ::_close(saved);
    if (nowhere >= 0) ::_close(nowhere);
    return {std::cerr, terminal};
  }
  ::_close(nowhere);
  static __gnu_cxx::stdio_filebuf<char> buffer(saved, std::ios::out, 1);
  static std::ostream stream(&buffer);
  return {stream, terminal};
}

#else

ErrorStream separateErrorStream() {
  // A reader that went away (vellomar ... 2>&1 | head) must not end the run:
  // what cannot be written is lost, and the exit status still tells.
  ::signal(SIGPIPE, SIG_IGN);
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved < 0 || nowhere < 0 || ::dup2(nowhere, STDERR_FILENO) < 0) {
    if (saved >= 0) ::close(saved);
    if (nowhere >= 0) ::close(nowhere);
    return {std::cerr, terminal};
  }
  ::close(nowhere);
  static __gnu_cxx::stdio_filebuf<char> buffer(saved, std::ios::out, 1);
  static std::ostream stream(&buffer);
  return {stream, terminal};
}

#endif

}  // namespace vellomar
