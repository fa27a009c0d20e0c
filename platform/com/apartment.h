// The main-thread queue ("apartment") through which callbacks reach a client program: the
// transport's threads Post the work, and the program's own loop runs it on its thread, in the
// order it was posted, never inside a call the program is making. A plain loop calls
// RunPending or WaitAndRun; a GUI loop sets a wake-up hook that schedules RunPending.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace platform::com {

class Apartment {
 public:
  Apartment() = default;
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

  // Any thread. The work runs later on the thread that runs this apartment.
  void Post(std::function<void()> work);
  // Runs the work queued when it is called (work posted meanwhile waits for the next call),
  // in order. Returns how much ran.
  size_t RunPending();
  // Waits until work is queued or max_wait has passed, then runs what is queued. This waits
  // for an event, not for a time: it returns as soon as work arrives.
  size_t WaitAndRun(std::chrono::milliseconds max_wait);
  // Runs work as it arrives until done() holds (checked after each batch) or max_wait has
  // passed; true when done() held.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds max_wait);
  size_t Pending() const;
  // Called on the posting thread after each Post (for instance to wake a GUI loop); it must
  // not run the work itself.
  void SetWakeUp(std::function<void()> wake_up);

 private:
  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
  std::function<void()> wake_up_;
};

// The apartment of the program's main thread, used when a caller names none.
Apartment& MainApartment();

}  // namespace platform::com
