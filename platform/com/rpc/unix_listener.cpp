#include "platform/com/rpc/unix_listener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform::com::rpc {

namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// The descriptors below which a connection may lie: the soft limit less what stays free.
size_t DescriptorBound() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  const size_t soft = static_cast<size_t>(limit.rlim_cur);
  return soft - std::min(UnixListener::kReservedDescriptors, soft / 4);
}

size_t SoftLimit() {
  rlimit limit{};
  return getrlimit(RLIMIT_NOFILE, &limit) == 0 ? static_cast<size_t>(limit.rlim_cur) : 0;
}

}  // namespace

std::unique_ptr<UnixListener> UnixListener::Open(const std::string& path, mode_t mode, std::string* error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    *error = "the socket path " + path + " is too long";
    return nullptr;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = Errno("cannot make a socket");
    return nullptr;
  }
  int wake[2];
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    *error = Errno("cannot bind " + path);
  } else if (chmod(path.c_str(), mode) != 0) {
    *error = Errno("cannot set the mode of " + path);
  } else if (listen(fd, SOMAXCONN) != 0) {
    *error = Errno("cannot listen on " + path);
  } else if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = Errno("cannot make a pipe");
  } else {
    return std::unique_ptr<UnixListener>(new UnixListener(fd, wake[0], wake[1], path));
  }
  close(fd);
  return nullptr;
}

UnixListener::UnixListener(int fd, int wake_read, int wake_write, std::string path)
    : fd_(fd), wake_read_(wake_read), wake_write_(wake_write), path_(std::move(path)) {}

UnixListener::~UnixListener() {
  Stop();
  close(fd_);
  close(wake_read_);
  close(wake_write_);
}

void UnixListener::Start(std::function<void(int fd)> take, Log log, Log lost) {
  take_ = std::move(take);
  log_ = std::move(log);
  lost_ = std::move(lost);
  thread_ = std::thread([this] { Loop(); });
}

void UnixListener::Stop() {
  if (stopping_.exchange(true)) return;
  const char c = 0;
  (void)!write(wake_write_, &c, 1);
  if (thread_.joinable()) thread_.join();
}

bool UnixListener::Pause(int ms) {
  pollfd wake{wake_read_, POLLIN, 0};
  poll(&wake, 1, ms);
  return stopping_;
}

void UnixListener::Loop() {
  // One line for each time connections could not be taken, until one is taken again.
  bool short_told = false;
  auto tell_short = [&](const std::string& text) {
    if (!short_told && log_) log_(text);
    short_told = true;
  };
  int pause_ms = 1;
  while (!stopping_) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      if (lost_) lost_(Errno("cannot wait for client connections on " + path_));
      return;
    }
    if (stopping_ || fds[1].revents) return;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      if (lost_) lost_("the socket " + path_ + " takes no client connections any more");
      return;
    }
    // A stop is looked at between connections too: clients that keep connecting must not hold it up.
    while (!stopping_) {
      const int c = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (c >= 0) {
        const size_t bound = DescriptorBound();
        if (static_cast<size_t>(c) >= bound) {
          close(c);
          tell_short("file descriptors run short: client connections are refused while " + std::to_string(c + 1) +
                     " of " + std::to_string(SoftLimit()) + " are in use (the server keeps " +
                     std::to_string(SoftLimit() - bound) + " for its own files)");
          continue;
        }
        short_told = false;
        pause_ms = 1;
        take_(c);
        continue;
      }
      if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The waiting connections stay queued on the socket; they are taken once descriptors
        // are free again.
        tell_short(Errno("no file descriptor is free for a client connection") +
                   "; connections wait until one is");
        if (Pause(pause_ms)) return;
        pause_ms = std::min(pause_ms * 2, 50);
        break;
      }
      if (lost_) lost_(Errno("cannot take client connections on " + path_));
      return;
    }
  }
}

}  // namespace platform::com::rpc
