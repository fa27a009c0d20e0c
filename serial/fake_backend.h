// An in-process serial device for tests. Time is virtual: a read that would wait moves the
// clock forward to the next scripted arrival or to the end of its wait, so time-out tests run
// at once. The test plays the other end: scripted incoming bytes with their arrival times,
// line errors, breaks, modem-line states, a handler that sees every write (and may script the
// answer), a pulled and re-plugged device, and failures of single operations.
//
// Only waits without a limit (all read time-outs 0, an event wait) block for real, until the
// test scripts something. Thread-safe: the test may script from another thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "serial/com_backend.h"

namespace serial {

enum class FakeOp { Open, SetState, SetupQueues, Read, Write, ClearError, GetModemStatus, Escape, Purge, SetEventMask };

class FakeComBackend : public ComBackend {
 public:
  using WriteHandler = std::function<void(FakeComBackend& device, std::string_view bytes)>;

  // clock nullptr: a virtual clock of its own. A shared clock lets the code under test wait
  // on the same time line.
  explicit FakeComBackend(platform::ManualClock* clock = nullptr);
  ~FakeComBackend() override;

  platform::ManualClock& VirtualClock() { return *clock_; }

  // --- the other end ---
  // bytes arrive afterMs from now (virtual time), all at once.
  void Receive(std::string_view bytes, uint32_t afterMs = 0);
  // One byte received with a line error (kCeFrame or kCeRxParity): the flag is raised when it
  // arrives, and the byte is replaced by the error character when the state asks for that.
  void ReceiveWithError(uint8_t byte, uint32_t ceFlag, uint32_t afterMs = 0);
  // A break on the line: kCeBreak and the break event, no data.
  void ReceiveBreak(uint32_t afterMs = 0);
  // Raises line-error flags now (kCeOverrun, kCeRxOver, ...), with the error event.
  void RaiseErrors(uint32_t ceFlags);
  // The modem status inputs (kMs* bits); changes raise their events.
  void SetModemStatus(uint32_t status);
  // Called after every accepted write, outside the device's lock; it may call Receive.
  void SetWriteHandler(WriteHandler handler);
  // While blocked, the device takes no output (like a peer holding CTS off).
  void BlockOutput(bool blocked);
  // Pulls the device: reads and writes report it lost and Open fails with ENOENT until Plug.
  void Unplug();
  void Plug();
  // While held, the event wait reports nothing; what happened meanwhile comes as one wake-up.
  void HoldEvents(bool held);
  // While held, a read that finds nothing waits for real, without moving the clock, until the
  // hold ends (or the read is aborted): a reader caught inside its wait.
  void HoldReads(bool held);
  // Reads waiting in such a hold now.
  int WaitingReads() const;
  // Every later call of op fails with error (an errno); 0 lets it succeed again.
  void FailWith(FakeOp op, int error);

  // --- what the device saw ---
  std::string Written() const;
  std::string TakeWritten();
  TDeviceControl State() const;  // the last state set
  int StateCount() const;        // how often the state was set
  uint32_t InputQueueSize() const;
  uint32_t OutputQueueSize() const;
  bool Dtr() const;
  bool Rts() const;
  int OpenCount() const;
  std::string OpenedPath() const;
  std::vector<uint32_t> Purges() const;  // flags of every purge, oldest first
  uint32_t EventMask() const;
  size_t Queued() const;  // bytes arrived and not yet read

  // --- ComBackend ---
  platform::Clock& Clock() override { return *clock_; }
  int Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override;
  int Handle() const override;
  int SetState(const TDeviceControl& dcb) override;
  int SetupQueues(uint32_t inputSize, uint32_t outputSize) override;
  IoResult ReadSome(uint8_t* buffer, size_t n, uint32_t waitMs, const TStopEvent* abort) override;
  IoResult WriteSome(const uint8_t* buffer, size_t n, uint32_t waitMs, const TStopEvent* abort) override;
  int ClearError(uint32_t& errors, uint32_t& inQueue, uint32_t& outQueue) override;
  int GetModemStatus(uint32_t& status) override;
  int Escape(uint32_t function) override;
  int Purge(uint32_t flags) override;
  int SetEventMask(uint32_t mask) override;
  WaitEventResult WaitEvent(const TStopEvent& stop, uint32_t& events) override;

 private:
  struct Arrival {
    uint32_t at;  // tick of arrival
    std::string bytes;
    uint32_t flags;  // kCe* raised on arrival
    bool isBreak;
  };
  int Failure(FakeOp op) const;
  template <class F>
  auto Locked(F f) const {
    std::lock_guard lock(mutex_);
    return f();
  }
  uint32_t Now() const;
  void Schedule(Arrival a);
  void DeliverDue();  // moves arrivals due by now into the queue
  void Raise(uint32_t events);
  void Wake();
  // Waits for real until done() holds (true) or abort is set (false); lock holds mutex_.
  bool WaitUntil(std::unique_lock<std::mutex>& lock, const TStopEvent* abort, const std::function<bool()>& done);

  platform::ManualClock own_clock_;
  platform::ManualClock* clock_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  int wake_fd_;  // readable when something was scripted, for the event wait's poll
  std::map<FakeOp, int> failures_;
  bool open_ = false;
  bool plugged_ = true;
  bool lost_ = false;
  bool output_blocked_ = false;
  bool events_held_ = false;
  bool reads_held_ = false;
  int waiting_reads_ = 0;
  int open_count_ = 0;
  std::string path_;
  TDeviceControl dcb_{};
  int state_count_ = 0;
  uint32_t input_size_ = 0, output_size_ = 0;
  std::deque<Arrival> arrivals_;  // by arrival time
  std::string queue_;             // arrived, not read
  std::string written_;
  uint32_t errors_ = 0;
  uint32_t modem_ = 0;
  bool dtr_ = false, rts_ = false;
  std::vector<uint32_t> purges_;
  uint32_t event_mask_ = 0;
  uint32_t pending_events_ = 0;
  WriteHandler write_handler_;
};

}  // namespace serial
