#include "host/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

std::unique_ptr<FolderLock> FolderLock::Take(const std::string& folder, std::string* error) {
  const std::string path = folder + kFileName;
  // O_NOFOLLOW: a link planted in place of the file must not make us create one elsewhere.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0 && errno == EACCES) {
    // Another user's lock file: reading is enough to lock it.
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  if (fd < 0) {
    *error = "cannot open the lock file " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  int rc;
  do rc = flock(fd, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    close(fd);
    *error = err == EWOULDBLOCK ? "another host already serves the server folder " + folder + " (" + path + " is locked)"
                                : "cannot lock " + path + ": " + std::strerror(err);
    return nullptr;
  }
  return std::unique_ptr<FolderLock>(new FolderLock(fd));
}

FolderLock::~FolderLock() { close(fd_); }

}  // namespace host
