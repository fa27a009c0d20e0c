// The item handle: the 32-bit integer by which the host names an item in every request.
// It packs the register's address, so a request finds its record without a lookup table:
// bits 0-3 property index (0 = the value), 4-7 register group, 8-15 station index,
// 16-31 register index within the group.
#pragma once

#include <cstdint>

namespace opc {

struct ItemHandle {
  int32_t property = 0;
  int32_t group = 0;
  int32_t station = 0;
  int32_t reg = 0;

  // property + group x 16 + station x 256 + register x 65536. Throws std::overflow_error
  // unless the sum is a non-negative 32-bit number (registers up to 32767).
  int32_t Encode() const;
  static ItemHandle Decode(int32_t handle);
};

}  // namespace opc
