// Paces the bytes of a pty as a real serial line would: one character takes its bits at the
// baud rate (9600 baud 8E1: 11 bits, 1.146 ms). A byte the server writes reaches the modem
// only once the line has carried it, and the modem's bytes leave one character time apart.
// Without a rate the pacer passes bytes straight through. Free of I/O.
#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "tools/radiosim/line_3964r.h"

namespace radiosim {

class Pacer {
 public:
  Pacer() = default;
  Pacer(int baud, int bitsPerChar);

  bool Paced() const { return charTime_.count() > 0; }
  Duration CharTime() const { return charTime_; }

  // Bytes the server wrote, read at now.
  void FromServer(std::string_view bytes, Duration now);
  // Those the line has carried by now.
  std::string ToModem(Duration now);
  // Bytes the modem sends at now.
  void FromModem(std::string_view bytes, Duration now);
  // Those whose character has passed on the line by now.
  std::string ToServer(Duration now);
  Duration NextDeadline() const;
  void Clear();

 private:
  struct Timed {
    Duration at;
    char byte;
  };
  struct Direction {
    std::deque<Timed> bytes;
    Duration lineFree{0};  // when the last queued character has passed
  };
  void Queue(Direction& d, std::string_view bytes, Duration now);
  std::string Due(Direction& d, Duration now);

  Duration charTime_{0};
  Direction in_, out_;
};

// Bits of one character for a frame text such as "8E1" or "7N2": start bit, data bits, parity
// bit unless N, stop bits; 0 for a text that is none.
int BitsPerChar(std::string_view frame);

}  // namespace radiosim
