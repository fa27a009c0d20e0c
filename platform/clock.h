// The time sources of the system. Everything that waits or stamps goes through a Clock so that
// tests can move time by hand instead of sleeping.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace platform {

class Clock {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  virtual ~Clock() = default;
  // Wall-clock time (UTC based; shown in local time by the callers that format it).
  virtual TimePoint Now() = 0;
  // Millisecond tick with 32-bit wrap-around, like the platform's tick counter.
  virtual uint32_t TickMs() = 0;
  // Blocks for the given time; a test clock advances instead.
  virtual void SleepMs(uint32_t ms) = 0;
};

class SystemClock final : public Clock {
 public:
  TimePoint Now() override;
  uint32_t TickMs() override;
  void SleepMs(uint32_t ms) override;
};

// The process-wide clock; SystemClock unless a test installs another.
Clock& DefaultClock();
void SetDefaultClock(Clock* clock);  // nullptr restores the system clock

// A clock that only moves when told. Thread-safe.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(TimePoint start = TimePoint{std::chrono::seconds{1'700'000'000}},
                       uint32_t tick = 0)
      : now_(start), tick_(tick) {}
  TimePoint Now() override;
  uint32_t TickMs() override;
  void SleepMs(uint32_t ms) override { Advance(std::chrono::milliseconds{ms}); }
  void Advance(std::chrono::milliseconds d);
  void Set(TimePoint t);

 private:
  std::mutex mutex_;
  TimePoint now_;
  uint32_t tick_;
};

}  // namespace platform
