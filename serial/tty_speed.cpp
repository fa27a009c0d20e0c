#include "serial/tty_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace serial {

int SetCustomSpeed(int fd, uint32_t rate) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = rate;
  t.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

}  // namespace serial
