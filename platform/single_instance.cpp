#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/runtime_dir.h"

namespace platform {

namespace {

// Name as one file name: bytes other than letters, digits, "-", "_" and "." become %XX, so
// no name reaches outside the folder.
std::string FileNameOf(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || (c == '.' && !out.empty());
    if (plain) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out + ".instance";
}

bool SameFile(int fd, const std::string& path) {
  struct stat held, named;
  return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

std::string SingleInstanceGuard::LockFile(const std::string& name) { return UserRuntimeDir() + "/" + FileNameOf(name); }

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::Acquire(const std::string& name) {
  auto let_through = [] { return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(-1, {})); };
  std::string error;
  if (!EnsurePrivateDir(UserRuntimeDir(), false, &error)) return let_through();
  const std::string path = LockFile(name);
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return let_through();
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      close(fd);
      if (err == EWOULDBLOCK) return nullptr;
      if (err == EINTR) continue;
      return let_through();
    }
    // A holder that ended removed the file after this open: the lock is on a file nobody else
    // will find, so take the one the name leads to now.
    if (SameFile(fd, path)) return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(fd, path));
    close(fd);
  }
}

SingleInstanceGuard::~SingleInstanceGuard() {
  if (fd_ < 0) return;
  // Removed while still locked, so a program that opens the name afterwards makes a new file.
  unlink(path_.c_str());
  close(fd_);
}

}  // namespace platform
