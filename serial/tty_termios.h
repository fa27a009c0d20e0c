// The device-control record in termios terms, worked out without a device so that every bit
// can be checked, and the call that programs a tty with it.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

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

// Programs fd (termios, then the rate, then the modem lines); 0 or an errno.
int ApplyTtyConfig(int fd, const TtyLineConfig& config);

// The B-constant of a rate, or nullopt when there is none.
std::optional<speed_t> StandardSpeed(uint32_t rate);

}  // namespace serial
