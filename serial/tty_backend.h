// The serial device of Linux: a tty opened by path for exclusive use (flock and TIOCEXCL),
// programmed through termios, read and written without blocking under poll(). Line errors come
// from the driver's interrupt counters (TIOCGICOUNT) where it has them and from the markers
// that PARMRK puts into the data otherwise; the modem lines from TIOCM*. A pty has no modem
// lines and no counters: those calls then report nothing and succeed.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "serial/com_backend.h"
#include "serial/tty_errors.h"
#include "serial/tty_termios.h"

namespace serial {

// How often the event wait looks at what poll() cannot wait for (modem lines, counters,
// the transmit queue).
inline constexpr int kEventSampleMs = 10;

class TtyBackend : public ComBackend {
 public:
  // clock nullptr: real time, waits block in poll(). With a test clock every wait becomes a
  // check without waiting followed by the clock's SleepMs, so a test never sits through one.
  explicit TtyBackend(platform::Clock* clock = nullptr);
  ~TtyBackend() override;

  platform::Clock& Clock() override { return *clock_; }
  int Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override;
  int Handle() const override;
  int SetState(const TDeviceControl& dcb) override;
  std::string NotKept() const override;
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
  enum class Fill { Ok, HangUp };
  // Reads what the device has into decoded_ until it holds upTo bytes (caller holds mutex_); an
  // errno in error. The event character is looked for in what it adds.
  Fill FillDecoded(int& error, size_t upTo = SIZE_MAX);
  // The event character is watched: every byte goes through decoded_, where it is seen.
  bool WatchesEventChar() const { return event_char_ != 0 && (event_mask_ & kEvRxFlag); }
  // Takes new interrupt counts into errors_ (caller holds mutex_); the flags of the new ones.
  uint32_t SampleCounters();
  uint32_t InputQueued();   // caller holds mutex_
  uint32_t ModemStatus();   // caller holds mutex_; 0 without modem lines
  // Waits until the device is ready for events, ms ran out or abort is set; the device's
  // revents, 0 when it is not ready.
  int WaitDevice(int fd, short events, uint32_t ms, const TStopEvent* abort);

  platform::Clock* clock_;
  const bool real_time_;
  mutable std::mutex mutex_;
  int fd_ = -1;
  bool marked_ = false;  // input carries PARMRK markers
  std::string not_kept_;  // what the last state asked for and a pty dropped
  MarkDecoder decoder_;
  std::string decoded_;  // received and decoded, not yet handed out
  bool have_counters_ = false;
  LineCounters counters_{};
  uint32_t errors_ = 0;
  uint32_t input_size_ = 1024;
  uint32_t event_mask_ = 0;
  uint8_t event_char_ = 0;   // 0: none
  bool rx_flag_ = false;     // the event character came since the last event look
  uint32_t last_in_ = 0;     // input queued at the last event look
  uint32_t last_modem_ = 0;  // modem status at the last event look
  bool wrote_ = false;       // output since the last transmit-empty report
};

}  // namespace serial
