#include "platform/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

// A socket bound to an abstract address: the name vanishes with the last descriptor, which
// the kernel closes when the process ends however it ends.
std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::Acquire(const std::string& name) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(-1));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string id = "qar-instance/" + std::to_string(getuid()) + "/" + name;
  size_t len = std::min(id.size(), sizeof addr.sun_path - 1);
  std::memcpy(addr.sun_path + 1, id.data(), len);  // sun_path[0] = 0: the abstract namespace
  socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + len);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), size) != 0) {
    int err = errno;
    close(fd);
    if (err == EADDRINUSE) return nullptr;
    return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(-1));
  }
  return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(fd));
}

SingleInstanceGuard::~SingleInstanceGuard() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace platform
