#include "tools/radiosim/pacer.h"

#include <algorithm>

namespace radiosim {

Pacer::Pacer(int baud, int bitsPerChar)
    : charTime_(baud > 0 && bitsPerChar > 0 ? Duration(int64_t(bitsPerChar) * 1'000'000'000 / baud) : Duration(0)) {}

void Pacer::Queue(Direction& d, std::string_view bytes, Duration now) {
  for (char b : bytes) {
    d.lineFree = std::max(d.lineFree, now) + charTime_;
    d.bytes.push_back({d.lineFree, b});
  }
}

std::string Pacer::Due(Direction& d, Duration now) {
  std::string s;
  while (!d.bytes.empty() && d.bytes.front().at <= now) {
    s += d.bytes.front().byte;
    d.bytes.pop_front();
  }
  return s;
}

void Pacer::FromServer(std::string_view bytes, Duration now) { Queue(in_, bytes, now); }
std::string Pacer::ToModem(Duration now) { return Due(in_, now); }
void Pacer::FromModem(std::string_view bytes, Duration now) { Queue(out_, bytes, now); }
std::string Pacer::ToServer(Duration now) { return Due(out_, now); }

Duration Pacer::NextDeadline() const {
  Duration d = kNever;
  if (!in_.bytes.empty()) d = std::min(d, in_.bytes.front().at);
  if (!out_.bytes.empty()) d = std::min(d, out_.bytes.front().at);
  return d;
}

void Pacer::Clear() {
  in_ = {};
  out_ = {};
}

int BitsPerChar(std::string_view frame) {
  if (frame.size() != 3) return 0;
  const char data = frame[0], parity = frame[1], stop = frame[2];
  if (data < '5' || data > '8' || (stop != '1' && stop != '2')) return 0;
  int parityBits = 0;
  switch (parity) {
    case 'N': case 'n': parityBits = 0; break;
    case 'E': case 'e': case 'O': case 'o': case 'M': case 'm': case 'S': case 's': parityBits = 1; break;
    default: return 0;
  }
  return 1 + (data - '0') + parityBits + (stop - '0');
}

}  // namespace radiosim
