#include "tools/radiosim/checksums.h"

namespace radiosim {

uint8_t BlockCheck(std::string_view bytes) {
  uint8_t x = 0;
  for (char c : bytes) x ^= uint8_t(c);
  return x;
}

uint16_t Crc16(std::string_view bytes) {
  uint16_t crc = 0xFFFF;
  for (char c : bytes) {
    crc ^= uint8_t(c);
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
  }
  return crc;
}

}  // namespace radiosim
