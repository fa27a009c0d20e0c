#include "tools/radiosim/port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace radiosim {

namespace {

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

bool MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return 0;
  }
}

bool SetLine(int fd, int baud, const std::string& frame) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  const speed_t speed = SpeedOf(baud);
  if (speed == 0 || frame.size() != 3) {
    errno = EINVAL;
    return false;
  }
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB);
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  if (frame[0] < '5' || frame[0] > '8') {
    errno = EINVAL;
    return false;
  }
  t.c_cflag |= sizes[frame[0] - '5'];
  if (frame[1] == 'E' || frame[1] == 'e') t.c_cflag |= PARENB;
  if (frame[1] == 'O' || frame[1] == 'o') t.c_cflag |= PARENB | PARODD;
  if (frame[2] == '2') t.c_cflag |= CSTOPB;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

std::unique_ptr<Port> Port::OpenPty(std::string& error) {
  const int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m < 0) {
    error = Why("posix_openpt");
    return nullptr;
  }
  char name[128] = {};
  if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
    error = Why("pty slave");
    ::close(m);
    return nullptr;
  }
  const int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (s < 0 || !MakeRaw(s)) {
    error = Why(std::string("open ") + name);
    if (s >= 0) ::close(s);
    ::close(m);
    return nullptr;
  }
  return std::unique_ptr<Port>(new Port(m, s, name));
}

std::unique_ptr<Port> Port::OpenDevice(const std::string& path, int baud, const std::string& frame,
                                       std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = Why("open " + path);
    return nullptr;
  }
  if (!MakeRaw(fd) || (baud > 0 && !SetLine(fd, baud, frame))) {
    error = Why("settings of " + path);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<Port>(new Port(fd, -1, path));
}

Port::~Port() {
  ::close(fd_);
  if (slaveFd_ >= 0) ::close(slaveFd_);
}

bool Port::Read(std::string& into) {
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      into.append(buf, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;  // end of file or a failure: the port is gone
  }
}

bool Port::Write(std::string& pending) {
  while (!pending.empty()) {
    const ssize_t n = ::write(fd_, pending.data(), pending.size());
    if (n > 0) {
      pending.erase(0, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
  return true;
}

bool PointLink(const std::string& link, const std::string& target, std::string& error) {
  const std::string tmp = link + ".new";
  ::unlink(tmp.c_str());
  if (::symlink(target.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0) {
    error = Why("link " + link);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link) { ::unlink(link.c_str()); }

}  // namespace radiosim
