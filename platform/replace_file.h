// Writing a file so that a failure (a refused folder, a full disk) never leaves it half
// overwritten.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace platform {

// The system calls the writing goes through; tests put refusing or failing ones in.
struct FileCalls {
  std::function<int(const char* path, int mode)> Access;
  std::function<int(const char* path, int flags, mode_t mode)> Open;
  std::function<ssize_t(int fd, const void* data, size_t size)> Write;
};
// The system's own calls.
FileCalls SystemFileCalls();

// Replaces the contents of path by bytes: through a new file beside it that takes its place at
// the end, or, in a folder that takes no new file, in place, with the old bytes put back when
// the writing fails. A link stays a link to the file. Returns 0 or the error number; after an
// error the old file is as it was.
int ReplaceFile(const std::string& path, const std::string& bytes, const FileCalls& calls = SystemFileCalls());

}  // namespace platform
