#include "server/opc/item_handle.h"

#include <stdexcept>

namespace opc {

int32_t ItemHandle::Encode() const {
  const int64_t sum = int64_t(property) + int64_t(group) * 16 + int64_t(station) * 256 + int64_t(reg) * 65536;
  if (sum < 0 || sum > INT32_MAX) throw std::overflow_error("Integer overflow");
  return int32_t(sum);
}

ItemHandle ItemHandle::Decode(int32_t handle) {
  const uint32_t h = uint32_t(handle);
  return {int32_t(h & 0xF), int32_t((h >> 4) & 0xF), int32_t((h >> 8) & 0xFF), int32_t(h >> 16)};
}

}  // namespace opc
