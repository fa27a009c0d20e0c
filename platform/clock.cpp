#include "platform/clock.h"

#include <atomic>
#include <ctime>
#include <thread>

#include "platform/no_destroy.h"

namespace platform {

Clock::TimePoint SystemClock::Now() { return std::chrono::system_clock::now(); }

uint32_t SystemClock::TickMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1'000'000u;
  return uint32_t(ms);  // wraps like the platform tick
}

void SystemClock::SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds{ms}); }

namespace {
// Never destroyed: the server library's unload hook still stamps its last lines with it.
constinit NoDestroy<SystemClock> system_clock_storage;
constinit SystemClock& system_clock = system_clock_storage.value;
constinit std::atomic<Clock*> default_clock{&system_clock_storage.value};
}  // namespace

Clock& DefaultClock() { return *default_clock.load(std::memory_order_acquire); }

void SetDefaultClock(Clock* clock) {
  default_clock.store(clock ? clock : &system_clock, std::memory_order_release);
}

Clock::TimePoint ManualClock::Now() {
  std::lock_guard lock(mutex_);
  return now_;
}

uint32_t ManualClock::TickMs() {
  std::lock_guard lock(mutex_);
  return tick_;
}

void ManualClock::Advance(std::chrono::milliseconds d) {
  std::lock_guard lock(mutex_);
  now_ += d;
  tick_ += uint32_t(d.count());
}

void ManualClock::Set(TimePoint t) {
  std::lock_guard lock(mutex_);
  now_ = t;
}

}  // namespace platform
