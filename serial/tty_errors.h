// Line errors of a tty: the driver's interrupt counters (TIOCGICOUNT) and the markers that
// PARMRK puts into the data, both turned into the clear-error flags (kCe*).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace serial {

struct LineCounters {
  uint32_t frame = 0, parity = 0, overrun = 0, bufOverrun = 0, brk = 0;
};

// Flags for the counters that rose from before to after (counters wrap).
uint32_t CounterFlags(const LineCounters& before, const LineCounters& after);

// Turns PARMRK input back into data: FF FF is a data byte FF, FF 00 00 a break (no data),
// FF 00 x a byte x received with a parity or framing error. A marker split between two reads
// is completed by the next one.
class MarkDecoder {
 public:
  // replace: a byte with an error becomes errorChar instead of x.
  void Reset(bool replace = false, uint8_t errorChar = 0);
  // Appends the data of raw to out; the flags of the markers met (kCeBreak, kCeRxParity).
  uint32_t Decode(const uint8_t* raw, size_t n, std::string& out);
  // Bytes of an unfinished marker held back.
  size_t Held() const { return state_; }
  bool Replace() const { return replace_; }
  uint8_t ErrorChar() const { return error_char_; }

 private:
  bool replace_ = false;
  uint8_t error_char_ = 0;
  size_t state_ = 0;  // 0 normal, 1 after FF, 2 after FF 00
};

}  // namespace serial
