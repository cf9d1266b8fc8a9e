#include "platform/error_stream.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <ext/stdio_filebuf.h>
#include <iostream>

namespace vellomar {

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

}  // namespace vellomar
