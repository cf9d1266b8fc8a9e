#ifndef VELLOMAR_PLATFORM_FILE_SYSTEM_H_
#define VELLOMAR_PLATFORM_FILE_SYSTEM_H_

// The few file-system calls the tool makes. Every path argument is a tool path
// (code-page bytes, backslashes allowed); it is turned into an operating-system
// path here.

#include <string>

namespace vellomar {

// Creates the last component of `path`. Returns false when it could not be
// created, which includes the case where it exists already.
bool makeDirectory(const std::string& path);

// Reads the whole file. Returns false (and leaves `bytes` empty) when the file
// cannot be opened or read, or is not a regular file.
bool readFileBytes(const std::string& path, std::string& bytes);

// Writes `bytes` as the file `name` in `directory` (which ends with a
// separator) so that the file is either absent, the old file, or complete: the
// bytes go to a temporary file in the same directory, which is then renamed
// over the target. The temporary name begins with ".vellomar-partial-" and
// keeps the extension of `name`. Returns false and sets `error`
// to the system's reason when it fails; no temporary file is left behind then.
bool writeFileAtomically(const std::string& directory, const std::string& name,
                         const std::string& bytes, std::string& error);

}  // namespace vellomar

#endif  // VELLOMAR_PLATFORM_FILE_SYSTEM_H_
