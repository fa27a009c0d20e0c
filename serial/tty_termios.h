// The device-control record in termios terms, worked out without a device so that every bit
// can be checked, and the call that programs a tty with it.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>

#include "serial/com_types.h"

namespace serial {

struct TtyLineConfig {
  termios tio{};
  uint32_t rate = 0;          // bits per second
  bool standardRate = false;  // rate has a B-constant, set in tio; otherwise termios2/BOTHER
  bool marked = false;        // PARMRK on: the input carries error markers to decode
  bool replace = false;       // a byte received with an error becomes errorChar
  uint8_t errorChar = 0;
  std::optional<bool> dtr;  // the line state to set, nullopt: leave it
  std::optional<bool> rts;
};

// 0, or EINVAL for what a tty cannot do: a rate of 0, 1.5 stop bits with 6 to 8 data bits,
// 2 stop bits with 5 data bits (the UART would send 1.5 or 2 instead), a byte size outside 5..8
// or a parity above 4.
int TtyConfigFromState(const TDeviceControl& dcb, TtyLineConfig& config);

// What a device kept of the line it was asked for (its cflag before and after): error EINVAL
// when it dropped parity, the byte size or the stop bits, unless it is a pty, which carries
// bytes and keeps neither parity nor byte size; then dropped names them ("even parity, 7 data
// bits") and the device is used as it is.
struct TtyKept {
  int error = 0;
  std::string dropped;
};
TtyKept CheckKept(tcflag_t asked, tcflag_t kept, bool pty);

// The device is the slave side of a pseudo-terminal.
bool IsPseudoTerminal(int fd);

// Programs fd (the line, read back and checked with CheckKept, then the modem lines); 0 or an
// errno. dropped: what a pty did not keep, "" when it kept all.
int ApplyTtyConfig(int fd, const TtyLineConfig& config, std::string& dropped);

// The B-constant of a rate, or nullopt when there is none.
std::optional<speed_t> StandardSpeed(uint32_t rate);

}  // namespace serial
