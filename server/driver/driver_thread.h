// The one driver thread that owns the serial line: tMOP for MODUS 1 and 2 (central-modem
// detection and the time-slot loop), TModbus for MODUS 0 (no line work). The exports unit
// creates it suspended at server start, resumes it, and at server stop terminates it, waits for
// it and frees it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/main_thread.h"
#include "server/driver/custom_funk.h"

namespace platform {
class Clock;
}

namespace driver {

class TDriverThread {
 public:
  virtual ~TDriverThread();  // terminates the thread and waits for it
  TDriverThread(const TDriverThread&) = delete;
  TDriverThread& operator=(const TDriverThread&) = delete;

  // Starts the suspended thread. Throws std::system_error when no thread can be made.
  virtual void Resume();
  // Asks the loop to end: it tests the flag at each pass, and the wait it is in ends at once.
  // Any thread.
  void Terminate();
  // Blocks until the thread has ended; returns at once when it never ran.
  void WaitFor();
  bool Terminated() const { return terminated_.load(); }

  // The protocol object (the debug window shows it); nullptr when the thread has none.
  TCustomFunk* Funk() const { return funk_.get(); }

 protected:
  TDriverThread() = default;
  // The thread's body; runs once, until it sees Terminated().
  virtual void Execute() = 0;
  // Called by Terminate after the flag is set, from the terminating thread: wakes a wait that
  // does not test the flag itself.
  virtual void WakeUp() {}
  // Blocks until Terminate is called or the time has passed; true when terminated.
  bool WaitForTerminate(std::chrono::milliseconds timeout);
  // Derived destructors call this first, so Execute never runs on a half-destroyed object.
  void TerminateAndWait();

  std::unique_ptr<TCustomFunk> funk_;

 private:
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
};

// MODUS 1 and 2.
class tMOP final : public TDriverThread {
 public:
  // The thread, suspended, with its protocol object on the port that the RS232 key of
  // Ostrel.INI names, in the passive time-slot mode for MODUS 2. On failure it logs the reason,
  // sets FatalErrorCode (-30 to -33 from the port, -41 otherwise) and returns nullptr.
  static std::unique_ptr<tMOP> Create();
  // The same on the port the factory makes, with every wait on clock.
  static std::unique_ptr<tMOP> Create(const TCustomFunk::PortFactory& factory, platform::Clock& clock);
  ~tMOP() override;

 protected:
  // Real-time priority when permitted, then the work loop until terminated.
  void Execute() override;
  // Ends the wait the loop is in: a read of the line, a pause.
  void WakeUp() override;

 private:
  tMOP() = default;
  // factory nullptr: the server's own port on the tty.
  static std::unique_ptr<tMOP> Make(const TCustomFunk::PortFactory* factory, platform::Clock* clock);
};

// MODUS 0.
class TModbus final : public TDriverThread {
 public:
  // As tMOP::Create, with -40 as the code of an exception that carries none.
  static std::unique_ptr<TModbus> Create();
  static std::unique_ptr<TModbus> Create(const TCustomFunk::PortFactory& factory, platform::Clock& clock);
  ~TModbus() override;

  // Only its two trace lines: MODUS 0 exchanges nothing on the line.
  void ListenToRS232();

 protected:
  // Until terminated: ListenToRS232 through the main thread, once per pause.
  void Execute() override;
  void WakeUp() override;

 private:
  TModbus() = default;
  static std::unique_ptr<TModbus> Make(const TCustomFunk::PortFactory* factory, platform::Clock* clock);
  serial::TSyncCall sync_;
};

}  // namespace driver
