// A pty pair for tests: the test holds the master side, a port opens the slave by its path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace serial::testing {

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      char name[128];
      if (ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
    }
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  const std::string& SlavePath() const { return slave_; }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  bool Send(const std::string& bytes) {
    return write(master_, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  }
  // Reads what arrives until n bytes are there or nothing came for a second.
  std::string Receive(size_t n) {
    std::string out;
    while (out.size() < n) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 1000) != 1) break;
      char buf[4096];
      ssize_t k = read(master_, buf, sizeof buf);
      if (k <= 0) break;
      out.append(buf, size_t(k));
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// Waits until fd has input (the pty moves data to the other side asynchronously).
inline bool WaitReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 5000) == 1;
}

}  // namespace serial::testing
