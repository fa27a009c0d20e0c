// FILETIME: UTC in 100 ns steps since 1601-01-01, as the OPC time stamps carry it.
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

struct FILETIME {
  uint32_t dwLowDateTime = 0;
  uint32_t dwHighDateTime = 0;
  friend bool operator==(const FILETIME&, const FILETIME&) = default;
};

// 100 ns steps between 1601-01-01 and 1970-01-01.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

uint64_t FileTimeToU64(FILETIME ft);
FILETIME U64ToFileTime(uint64_t v);
FILETIME ToFileTime(std::chrono::system_clock::time_point t);
// The system clock spans 1677..2262 only: earlier FILETIMEs (0 included) give its min(),
// later ones its max().
std::chrono::system_clock::time_point FromFileTime(FILETIME ft);

}  // namespace platform
