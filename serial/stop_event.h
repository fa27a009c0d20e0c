// A manual-reset event that a poll() can wait on beside a device: once set it stays set.
#pragma once

#include <cstdint>

namespace platform {
class Clock;
}

namespace serial {

class TStopEvent {
 public:
  TStopEvent();
  ~TStopEvent();
  TStopEvent(const TStopEvent&) = delete;
  TStopEvent& operator=(const TStopEvent&) = delete;

  // Any thread.
  void Set();
  bool IsSet() const;
  // Waits up to ms for the event; true when it is set.
  bool Wait(uint32_t ms) const;
  // Readable (POLLIN) once set.
  int Fd() const { return fd_; }

 private:
  int fd_;
};

// Waits ms on clock unless stop is set or becomes set meanwhile; true when stopped. A test clock
// advances instead of waiting (unless stop is already set); stop nullptr waits as the clock does.
bool PauseUnlessStopped(platform::Clock& clock, uint32_t ms, const TStopEvent* stop);

}  // namespace serial
