#include "platform/filetime.h"

namespace platform {

uint64_t FileTimeToU64(FILETIME ft) { return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

FILETIME U64ToFileTime(uint64_t v) { return FILETIME{uint32_t(v), uint32_t(v >> 32)}; }

namespace {
using Steps = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;  // FILETIME's unit
}  // namespace

FILETIME ToFileTime(std::chrono::system_clock::time_point t) {
  // floor: a time stamp before 1970 must not round up to a later step.
  int64_t v = std::chrono::floor<Steps>(t.time_since_epoch()).count() + int64_t(kFileTimeUnixEpoch);
  return U64ToFileTime(v < 0 ? 0 : uint64_t(v));
}

std::chrono::system_clock::time_point FromFileTime(FILETIME ft) {
  using TimePoint = std::chrono::system_clock::time_point;
  // The system clock (nanoseconds) spans only 1677..2262, while FILETIME 0 (1601, the usual
  // "no time stamp") and far dates lie outside: clamp instead of overflowing.
  constexpr int64_t kMin = std::chrono::floor<Steps>(TimePoint::min().time_since_epoch()).count() + 1;
  constexpr int64_t kMax = std::chrono::floor<Steps>(TimePoint::max().time_since_epoch()).count();
  uint64_t raw = FileTimeToU64(ft);
  if (raw > uint64_t(INT64_MAX)) return TimePoint::max();
  int64_t steps = int64_t(raw) - int64_t(kFileTimeUnixEpoch);
  if (steps < kMin) return TimePoint::min();
  if (steps > kMax) return TimePoint::max();
  return TimePoint{std::chrono::duration_cast<TimePoint::duration>(Steps{steps})};
}

}  // namespace platform
