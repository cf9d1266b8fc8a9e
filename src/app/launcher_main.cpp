// The command a user runs: it gives the image library its limit on the
// pixels of a picture in the environment, which the library reads once when
// it is loaded, and runs the program itself, which lies in
// libexec/vellomar/ under the same name (beside this one in a build, one
// level up when installed). Nothing here loads the image library, so the
// limit costs no second start of it.

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pictures/picture_header.h"

int main(int, char** argv) {
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) {
    std::fprintf(stderr, "vellomar: cannot find where the program lies: %s\n",
                 std::strerror(errno));
    return -1;
  }
  self[length] = '\0';
  const std::string path(self);
  const size_t slash = path.rfind('/');
  const std::string directory = path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  ::setenv("OPENCV_IO_MAX_IMAGE_PIXELS", std::to_string(vellomar::kMaxPicturePixels).c_str(), 1);
  for (const char* place : {"/../libexec/vellomar/", "/libexec/vellomar/"}) {
    const std::string program = directory + place + name;
    if (::access(program.c_str(), X_OK) == 0) ::execv(program.c_str(), argv);
  }
  std::fprintf(stderr, "vellomar: cannot run %s/../libexec/vellomar/%s: %s\n", directory.c_str(),
               name.c_str(), std::strerror(errno));
  return -1;
}
