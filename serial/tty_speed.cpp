#include "serial/tty_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace serial {

static_assert(kKernelControlChars == NCCS, "the kernel's termios2 has NCCS control characters");

namespace {
// Runs f on each field of the kernel's record with its counterpart of ours.
template <class Line, class F>
void EachField(termios2& t, Line& line, F f) {
  f(t.c_iflag, line.iflag);
  f(t.c_oflag, line.oflag);
  f(t.c_cflag, line.cflag);
  f(t.c_lflag, line.lflag);
  f(t.c_line, line.line);
  f(t.c_ispeed, line.ispeed);
  f(t.c_ospeed, line.ospeed);
  for (int i = 0; i < kKernelControlChars; ++i) f(t.c_cc[i], line.cc[i]);
}
}  // namespace

int SetKernelLine(int fd, const KernelLine& line, uint32_t otherRate) {
  termios2 t{};
  EachField(t, line, [](auto& kernel, const auto& ours) { kernel = ours; });
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
  EachField(t, line, [](const auto& kernel, auto& ours) { ours = kernel; });
  return 0;
}

}  // namespace serial
