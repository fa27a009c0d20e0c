// The one driver thread that owns the serial line: tMOP for MODUS 1 and 2 (central-modem
// detection and the time-slot loop), TModbus for MODUS 0 (no line work). The exports unit
// creates it suspended at server start, resumes it, and at server stop terminates it, waits for
// it and frees it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace driver {

class TCustomFunk;  // the protocol object: 3964R procedure, telegrams, scheduler

class TDriverThread {
 public:
  virtual ~TDriverThread();  // terminates the thread and waits for it
  TDriverThread(const TDriverThread&) = delete;
  TDriverThread& operator=(const TDriverThread&) = delete;

  // Starts the suspended thread. Throws std::system_error when no thread can be made.
  virtual void Resume();
  // Asks the loop to end; it tests the flag at each pass.
  void Terminate();
  // Blocks until the thread has ended; returns at once when it never ran.
  void WaitFor();
  bool Terminated() const { return terminated_.load(); }

  // The protocol object (the debug window shows it); nullptr when the thread has none.
  TCustomFunk* Funk() const { return funk_; }

 protected:
  TDriverThread() = default;
  // The thread's body; runs once, until it sees Terminated().
  virtual void Execute() = 0;
  // Blocks until Terminate is called (for a loop with nothing to do).
  void WaitForTerminate();
  // Derived destructors call this first, so Execute never runs on a half-destroyed object.
  void TerminateAndWait();

  TCustomFunk* funk_ = nullptr;

 private:
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
};

// MODUS 1 and 2.
class tMOP final : public TDriverThread {
 public:
  // The thread, suspended, with its protocol object on an open port. On failure it logs the
  // reason, sets FatalErrorCode and returns nullptr.
  static std::unique_ptr<tMOP> Create();
  ~tMOP() override;

 protected:
  void Execute() override;

 private:
  tMOP() = default;
};

// MODUS 0.
class TModbus final : public TDriverThread {
 public:
  // As tMOP::Create.
  static std::unique_ptr<TModbus> Create();
  ~TModbus() override;

 protected:
  void Execute() override;

 private:
  TModbus() = default;
};

}  // namespace driver
