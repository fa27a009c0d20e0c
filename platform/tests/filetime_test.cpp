#include "platform/filetime.h"

#include <gtest/gtest.h>

#include <chrono>

namespace platform {
namespace {

using std::chrono::nanoseconds;
using std::chrono::seconds;
using TimePoint = std::chrono::system_clock::time_point;

TEST(FileTime, KnownInstants) {
  struct Row {
    const char* label;
    TimePoint t;
    uint64_t steps;
  };
  const Row rows[] = {
      {"Unix epoch", TimePoint{}, 116444736000000000ull},
      {"2000-01-01", TimePoint{seconds{946684800}}, 125911584000000000ull},
      {"one step after the epoch", TimePoint{nanoseconds{100}}, 116444736000000001ull},
      {"one step before the epoch", TimePoint{nanoseconds{-100}}, 116444735999999999ull},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(FileTimeToU64(ToFileTime(row.t)), row.steps);
    EXPECT_EQ(FromFileTime(U64ToFileTime(row.steps)), row.t);
  }
  EXPECT_EQ(kFileTimeUnixEpoch, 116444736000000000ull);
}

TEST(FileTime, SplitsIntoLowAndHighWords) {
  FILETIME ft = U64ToFileTime(0x01D9'8765'4321'0FEDull);
  EXPECT_EQ(ft.dwHighDateTime, 0x01D98765u);
  EXPECT_EQ(ft.dwLowDateTime, 0x43210FEDu);
  EXPECT_EQ(FileTimeToU64(ft), 0x01D9'8765'4321'0FEDull);
}

TEST(FileTime, RoundTripKeeps100NanosecondSteps) {
  TimePoint t{seconds{1'700'000'000} + nanoseconds{123'456'700}};
  EXPECT_EQ(FromFileTime(ToFileTime(t)), t);
  // Below one step the time is cut to the step it lies in, also before 1970.
  EXPECT_EQ(FromFileTime(ToFileTime(t + nanoseconds{99})), t);
  EXPECT_EQ(FileTimeToU64(ToFileTime(TimePoint{nanoseconds{-50}})), kFileTimeUnixEpoch - 1);
}

TEST(FileTime, InstantsOutsideTheSystemClockAreClamped) {
  // FILETIME 0 (1601) is the common "no time stamp"; it must not overflow the nanosecond clock.
  EXPECT_EQ(FromFileTime(FILETIME{}), TimePoint::min());
  EXPECT_EQ(FromFileTime(U64ToFileTime(UINT64_MAX)), TimePoint::max());
  EXPECT_EQ(FromFileTime(U64ToFileTime(0x7FFF'FFFF'FFFF'FFFFull)), TimePoint::max());
}

}  // namespace
}  // namespace platform
