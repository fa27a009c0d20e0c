#include "serial/tty_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace serial {

static_assert(kKernelControlChars == NCCS, "the kernel's termios2 has NCCS control characters");

int SetKernelLine(int fd, const KernelLine& line, uint32_t otherRate) {
  termios2 t{};
  t.c_iflag = line.iflag;
  t.c_oflag = line.oflag;
  t.c_cflag = line.cflag;
  t.c_lflag = line.lflag;
  t.c_line = line.line;
  std::memcpy(t.c_cc, line.cc, sizeof t.c_cc);
  if (otherRate != 0) {
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = otherRate;
    t.c_ospeed = otherRate;
  }
  return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

int GetKernelLine(int fd, KernelLine& line) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  line.iflag = t.c_iflag;
  line.oflag = t.c_oflag;
  line.cflag = t.c_cflag;
  line.lflag = t.c_lflag;
  line.line = t.c_line;
  std::memcpy(line.cc, t.c_cc, sizeof line.cc);
  line.ispeed = t.c_ispeed;
  line.ospeed = t.c_ospeed;
  return 0;
}

}  // namespace serial
