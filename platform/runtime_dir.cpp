#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace platform {

std::string UserRuntimeDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/qar";
  // Not below /tmp: any user may create a name there first and so keep this user out.
  const std::string home = HomeDir();
  if (!home.empty()) return WithTrailingSlash(home) + ".qar-run";
  return "/tmp/qar-" + std::to_string(geteuid());
}

bool EnsurePrivateDir(const std::string& dir, bool group_access, std::string* error) {
  auto failed = [&](const std::string& what) {
    *error = what + " " + dir + ": " + std::strerror(errno);
    return false;
  };
  if (mkdir(dir.c_str(), group_access ? 0750 : 0700) != 0 && errno != EEXIST)
    return failed("cannot create the directory");
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) return failed("cannot examine the directory");
  const mode_t closed_bits = group_access ? 0007 : 0077;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & closed_bits) != 0) {
    *error = "the directory " + dir + " is not a private directory of this user";
    return false;
  }
  return true;
}

}  // namespace platform
