#include "serial/stop_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <system_error>

#include "platform/clock.h"

namespace serial {

TStopEvent::TStopEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TStopEvent::~TStopEvent() { close(fd_); }

void TStopEvent::Set() {
  // Never read back, so the counter stays above 0 and the fd stays readable.
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

bool TStopEvent::IsSet() const { return Wait(0); }

bool TStopEvent::Wait(uint32_t ms) const {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const int64_t left = std::max<int64_t>(int64_t(ms) - spent.count(), 0);
    pollfd p{fd_, POLLIN, 0};
    const int r = poll(&p, 1, int(std::min<int64_t>(left, INT32_MAX)));
    if (r == 1) return true;
    if (r == 0 || (r < 0 && errno != EINTR) || left == 0) return false;
  }
}

bool PauseUnlessStopped(platform::Clock& clock, uint32_t ms, const TStopEvent* stop) {
  if (!stop) {
    clock.SleepMs(ms);
    return false;
  }
  if (stop->IsSet()) return true;
  // Only the real clock really waits; a test clock's time jumps, and a stop within it is seen
  // at the next wait.
  if (dynamic_cast<platform::SystemClock*>(&clock)) return stop->Wait(ms);
  clock.SleepMs(ms);
  return stop->IsSet();
}

}  // namespace serial
