// What the component expects of the platform's serial functions, built once over a backend:
// reads and writes under the time-out rules, the clear-error call with its gathered flags, and
// the recovery of a lost device. When a device hangs up (a USB adapter pulled), a read still
// waits out its time-out, so that a polling loop never spins; on the way it reopens the same
// device name once, re-applies the last settings and modem lines, and goes on if that worked.
// Status and settings calls on a lost device succeed (settings are kept for the reopen), and
// the first clear-error call afterwards reports the I/O error flag. The loss and the recovery
// are logged once each.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "serial/com_backend.h"

namespace serial {

using LogSink = std::function<void(std::string_view)>;

// A lost device is retried this often while a read waits without a time-out.
inline constexpr uint32_t kLostRetryMs = 1000;

class ComLine {
 public:
  explicit ComLine(std::shared_ptr<ComBackend> backend);

  ComBackend& Backend() { return *backend_; }
  const ComBackend& Backend() const { return *backend_; }
  // Where the loss, the recovery and the settings a device drops are told; by default
  // (nullptr) the error log, where the loss and the recovery are written even while logging is
  // off.
  void SetLog(LogSink log);

  // Opens the device path (see DevicePath); 0 or an errno.
  [[nodiscard]] int Open(const std::string& path);
  void Close();
  bool IsOpen() const { return open_; }

  // The settings are remembered so that a reopened device gets them again. What a device does
  // not keep of them (a pty: parity, byte size) is logged once per open.
  [[nodiscard]] int SetState(const TDeviceControl& dcb);
  [[nodiscard]] int SetTimeouts(const TCommTimeouts& t);
  [[nodiscard]] int SetupQueues(int32_t inputSize, int32_t outputSize);
  [[nodiscard]] int Escape(uint32_t function);

  // While abort (nullptr: none) is set, reads and writes return at once with what they have,
  // a wait under way ends, and no byte is written. Set from any thread; the event outlives the
  // line's use of it.
  void SetAbortEvent(const TStopEvent* abort) { abort_ = abort; }

  // Reads up to n bytes under the time-outs; the count read. error (0 when none) says why a
  // read ended early for another reason than its time-outs.
  size_t Read(uint8_t* buffer, size_t n, int* error = nullptr);
  // Writes n bytes under the write time-outs; the count written.
  size_t Write(const uint8_t* buffer, size_t n, int* error = nullptr);

  [[nodiscard]] int ClearError(uint32_t& errors, uint32_t& inQueue, uint32_t& outQueue);
  [[nodiscard]] int GetModemStatus(uint32_t& status);
  [[nodiscard]] int Purge(uint32_t flags);
  [[nodiscard]] int SetEventMask(uint32_t mask);
  WaitEventResult WaitEvent(const TStopEvent& stop, uint32_t& events);

  bool Lost() const { return lost_.load(); }

 private:
  // Handles a loss seen by a read: logs it, tries one reopen. True when the device is back.
  bool Recover(int error, bool mayReopen);
  // Logs the loss once per episode and raises the I/O error flag.
  void MarkLost(int error);
  // Lost and closed after a failed reopen.
  bool Detached() const;
  // A status or settings call's result: a lost device's error marks it lost and is no failure,
  // so that a pulled adapter never fails the port's user outside its reads.
  int Checked(int result);
  int Reapply();
  // always: into the error log even while logging is off.
  void Log(const std::string& text, bool always);
  bool Aborted() const;


  std::shared_ptr<ComBackend> backend_;
  LogSink log_;
  std::string path_;  // set by Open, read by the thread that reads
  std::atomic<bool> open_{false};
  std::atomic<bool> lost_{false};
  std::atomic<const TStopEvent*> abort_{nullptr};
  std::mutex mutex_;  // guards the fields below against an event thread's status calls
  uint32_t lost_flags_ = 0;
  std::optional<TDeviceControl> dcb_;
  std::string not_kept_logged_;  // what the device drops, as logged since the open
  TCommTimeouts timeouts_{};
  std::optional<std::pair<uint32_t, uint32_t>> queues_;
  std::optional<bool> dtr_, rts_;
  uint32_t event_mask_ = 0;
};

}  // namespace serial
