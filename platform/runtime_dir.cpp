#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace platform {

namespace {

// The longest folder that still takes a socket named by a class ID ("/<36 characters>.sock").
constexpr size_t kLongestSocketDir = sizeof(sockaddr_un{}.sun_path) - 1 - 42;

// A home the folder can go in: named from the root, there, this user's own and writable. A home
// of another user (a program run with someone else's HOME) would get a folder that user could
// not use afterwards.
bool UsableHome(const std::string& home) {
  if (home.empty() || home[0] != '/') return false;
  struct stat st;
  return stat(home.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         access(home.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string UserRuntimeDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/qar";
  // Not below /tmp where it can be helped: any user may create a name there first and so keep
  // this user out (such a folder is refused, never used).
  const std::string home = HomeDir();
  if (UsableHome(home)) {
    std::string dir = WithTrailingSlash(home) + ".qar-run";
    if (dir.size() <= kLongestSocketDir) return dir;
  }
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
