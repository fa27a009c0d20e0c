#include "serial/tty_errors.h"

#include "serial/com_types.h"

namespace serial {

uint32_t CounterFlags(const LineCounters& before, const LineCounters& after) {
  uint32_t flags = 0;
  if (after.frame != before.frame) flags |= kCeFrame;
  if (after.parity != before.parity) flags |= kCeRxParity;
  if (after.overrun != before.overrun) flags |= kCeOverrun;
  if (after.bufOverrun != before.bufOverrun) flags |= kCeRxOver;
  if (after.brk != before.brk) flags |= kCeBreak;
  return flags;
}

void MarkDecoder::Reset(bool replace, uint8_t errorChar) {
  replace_ = replace;
  error_char_ = errorChar;
  state_ = 0;
}

uint32_t MarkDecoder::Decode(const uint8_t* raw, size_t n, std::string& out) {
  uint32_t flags = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = raw[i];
    switch (state_) {
      case 0:
        if (b == 0xFF)
          state_ = 1;
        else
          out.push_back(char(b));
        break;
      case 1:
        if (b == 0) {
          state_ = 2;
        } else {
          out.push_back(char(0xFF));  // FF FF: the data byte FF
          if (b != 0xFF) out.push_back(char(b));
          state_ = 0;
        }
        break;
      default:
        if (b == 0) {
          flags |= kCeBreak;
        } else {
          flags |= kCeRxParity;
          out.push_back(char(replace_ ? error_char_ : b));
        }
        state_ = 0;
        break;
    }
  }
  return flags;
}

}  // namespace serial
