#include "serial/tty_termios.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>

#include "serial/tty_speed.h"

namespace serial {

std::optional<speed_t> StandardSpeed(uint32_t rate) {
  static constexpr struct {
    uint32_t rate;
    speed_t speed;
  } kSpeeds[] = {{50, B50},           {75, B75},           {110, B110},         {134, B134},
                 {150, B150},         {200, B200},         {300, B300},         {600, B600},
                 {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
                 {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                 {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
                 {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
                 {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
                 {3500000, B3500000}, {4000000, B4000000}};
  for (const auto& s : kSpeeds)
    if (s.rate == rate) return s.speed;
  return std::nullopt;
}

int TtyConfigFromState(const TDeviceControl& d, TtyLineConfig& c) {
  c = TtyLineConfig{};
  if (d.BaudRate == 0 || d.ByteSize < 5 || d.ByteSize > 8 || d.Parity > 4 || d.StopBits > 2) return EINVAL;
  // A UART sends 1.5 stop bits only with 5 data bits and 2 only with more.
  if (d.StopBits == 1 && d.ByteSize != 5) return EINVAL;
  if (d.StopBits == 2 && d.ByteSize == 5) return EINVAL;

  termios& t = c.tio;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = CREAD | CLOCAL | kSizes[d.ByteSize - 5];
  if (d.StopBits != 0) t.c_cflag |= CSTOPB;
  switch (d.Parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  const uint32_t dtr = DcbDtrControl(d.Flags), rts = DcbRtsControl(d.Flags);
  // Linux has one switch for both directions of RTS/CTS flow.
  if ((d.Flags & kDcbOutxCtsFlow) || rts == 2) t.c_cflag |= CRTSCTS;

  // With the parity check, PARMRK marks bytes received with errors and breaks in the data;
  // without it a break is ignored rather than read as a 0 byte.
  if (d.Flags & kDcbParity) {
    t.c_iflag |= INPCK | PARMRK;
    c.marked = true;
    c.replace = (d.Flags & kDcbErrorChar) != 0;
    c.errorChar = d.ErrorChar;
  } else {
    t.c_iflag |= IGNBRK;
  }
  if (d.Flags & kDcbOutX) t.c_iflag |= IXON;
  if (d.Flags & kDcbInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = cc_t(d.XonChar);
  t.c_cc[VSTOP] = cc_t(d.XoffChar);
  // With O_NONBLOCK, MIN 1 makes an empty queue EAGAIN, so that a read of 0 means hang-up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  // Stored and without effect here, as termios has nothing like them: DSR output flow, DSR
  // sensitivity, DTR handshake (DTR is just raised), continue-on-Xoff, the Xon/Xoff limits,
  // RTS toggle (RTS is left as it is) and abort-on-error. The event character only raises
  // events; null discarding is done by the reading code.

  c.rate = d.BaudRate;
  if (auto speed = StandardSpeed(d.BaudRate)) {
    c.standardRate = true;
    cfsetispeed(&t, *speed);
    cfsetospeed(&t, *speed);
  } else {
    cfsetispeed(&t, B38400);  // replaced by the real rate through termios2
    cfsetospeed(&t, B38400);
  }
  c.dtr = dtr != 0;
  if (rts == 0 || rts == 1) c.rts = rts == 1;
  return 0;
}

namespace {

// Device numbers of pty slaves.
constexpr unsigned kPtySlaveMajor = 136, kPtySlaveMajors = 8, kBsdPtySlaveMajor = 3;

// A pty has no modem lines; a line call there must not fail the port.
int ModemLine(int fd, unsigned long request, int bits) {
  if (ioctl(fd, request, &bits) == 0) return 0;
  return errno == ENOTTY || errno == EINVAL ? 0 : errno;
}

std::string ParityName(tcflag_t c) {
  if (c & CMSPAR) return c & PARODD ? "mark" : "space";
  return c & PARODD ? "odd" : "even";
}

int DataBits(tcflag_t c) {
  switch (c & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

}  // namespace

TtyKept CheckKept(tcflag_t asked, tcflag_t kept, bool pty) {
  // The kind of parity counts only where there is parity.
  const tcflag_t kind = (asked & PARENB) ? (PARODD | CMSPAR) : 0;
  const tcflag_t mask = CSIZE | PARENB | CSTOPB | kind;
  TtyKept k;
  if ((asked & mask) == (kept & mask)) return k;
  if (!pty) {
    k.error = EINVAL;
    return k;
  }
  auto add = [&](const std::string& what) { k.dropped += (k.dropped.empty() ? "" : ", ") + what; };
  if ((asked & (PARENB | kind)) != (kept & (PARENB | kind))) add(ParityName(asked) + " parity");
  if ((asked & CSIZE) != (kept & CSIZE)) add(std::to_string(DataBits(asked)) + " data bits");
  if ((asked & CSTOPB) != (kept & CSTOPB)) add(asked & CSTOPB ? "2 stop bits" : "1 stop bit");
  return k;
}

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  // Unix98 pty slaves (/dev/pts/N) and the old BSD ones (/dev/ttyp0).
  return (m >= kPtySlaveMajor && m < kPtySlaveMajor + kPtySlaveMajors) || m == kBsdPtySlaveMajor;
}

int ApplyTtyConfig(int fd, const TtyLineConfig& c, std::string& dropped) {
  dropped.clear();
  KernelLine line;
  line.iflag = c.tio.c_iflag;
  line.oflag = c.tio.c_oflag;
  line.cflag = c.tio.c_cflag;
  line.lflag = c.tio.c_lflag;
  std::copy_n(c.tio.c_cc, kKernelControlChars, line.cc);
  if (int e = SetKernelLine(fd, line, c.standardRate ? 0 : c.rate)) return e;
  KernelLine now;
  if (int e = GetKernelLine(fd, now)) return e;
  const TtyKept kept = CheckKept(line.cflag, now.cflag, IsPseudoTerminal(fd));
  if (kept.error) return kept.error;
  dropped = kept.dropped;
  if (c.dtr)
    if (int e = ModemLine(fd, *c.dtr ? TIOCMBIS : TIOCMBIC, TIOCM_DTR)) return e;
  if (c.rts)
    if (int e = ModemLine(fd, *c.rts ? TIOCMBIS : TIOCMBIC, TIOCM_RTS)) return e;
  return 0;
}

}  // namespace serial
