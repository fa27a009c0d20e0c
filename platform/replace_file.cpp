#include "platform/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace platform {

namespace {

// 0 or the error number.
int WriteAll(const FileCalls& calls, int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = calls.Write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno ? errno : EIO;
    if (n == 0) return EIO;
    done += size_t(n);
  }
  return 0;
}

int ReadAll(int fd, std::string& bytes) {
  char buf[8192];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    bytes.append(buf, size_t(n));
  }
}

// The old bytes fit where they were, so they can be put back even on a full disk.
int WriteInPlace(const std::string& target, const std::string& bytes, const FileCalls& calls) {
  int fd = calls.Open(target.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  std::string old;
  int err = ReadAll(fd, old);
  if (err == 0 && lseek(fd, 0, SEEK_SET) != 0) err = errno;
  if (err != 0) {
    close(fd);
    return err;
  }
  err = WriteAll(calls, fd, bytes);
  if (err == 0 && ftruncate(fd, off_t(bytes.size())) != 0) err = errno;
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (err != 0) {
    if (lseek(fd, 0, SEEK_SET) == 0 && WriteAll(calls, fd, old) == 0) (void)!ftruncate(fd, off_t(old.size()));
    (void)!fsync(fd);
  }
  if (close(fd) != 0 && err == 0) err = errno;
  return err;
}

}  // namespace

FileCalls SystemFileCalls() {
  return {[](const char* path, int mode) { return access(path, mode); },
          [](const char* path, int flags, mode_t mode) { return open(path, flags, mode); },
          [](int fd, const void* data, size_t size) { return write(fd, data, size); }};
}

int ReplaceFile(const std::string& path, const std::string& bytes, const FileCalls& calls) {
  std::string target = path;
  char real[PATH_MAX];
  if (realpath(path.c_str(), real)) target = real;
  struct stat st {};
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists && calls.Access(target.c_str(), W_OK) != 0) return errno;

  const std::string temp = target + ".tmp-" + std::to_string(getpid());
  int fd = calls.Open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, exists ? 0600 : 0666);
  if (fd < 0) {
    const int err = errno;
    // A folder we may not create files in, holding a file we may write.
    if (exists && err == EACCES) return WriteInPlace(target, bytes, calls);
    return err;
  }
  int err = WriteAll(calls, fd, bytes);
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (err == 0 && exists && fchmod(fd, st.st_mode & 07777) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) unlink(temp.c_str());
  return err;
}

}  // namespace platform
