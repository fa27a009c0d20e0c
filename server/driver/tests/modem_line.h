// The simulator's central radio modem, in-process, as the device under a serial port: what the
// driver writes goes to the modem, what the modem sends is read back, and time is a virtual
// clock that a read moves on to the modem's next event or to the end of its wait. So the whole
// driver loop, with its 1000 ms listening passes and 18 s slots, runs in a test at once and the
// same way every time.
//
// Beside the modem, an observer of the same line procedure takes the telegrams the driver sent,
// in order. The port can vanish and come back.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "serial/com_backend.h"
#include "serial/stop_event.h"
#include "tools/radiosim/line_3964r.h"
#include "tools/radiosim/modem.h"

namespace driver::testing {

class ModemLine final : public serial::ComBackend {
 public:
  ModemLine(const radiosim::Network& net, const radiosim::ModemOptions& options, platform::ManualClock& clock)
      : clock_(clock), modem_(net, options, clock, Now()) {}

  radiosim::Modem& Modem() { return modem_; }
  radiosim::Duration Now() const { return std::chrono::milliseconds(clock_.TickMs()); }

  // Telegrams of the frames the driver sent, oldest first; taking them empties the list.
  std::vector<std::string> TakeSent() {
    auto sent = observer_.TakeTelegrams();
    sent_.insert(sent_.end(), sent.begin(), sent.end());
    return std::exchange(sent_, {});
  }
  // The port vanishes (reads and writes fail, it cannot be opened) and comes back.
  void Unplug() {
    gone_ = true;
    modem_.PortClosed();
    in_.clear();
  }
  void Plug() { gone_ = false; }
  // Calls of ReadSome and WriteSome since the start: a loop that spins makes many of them.
  long Calls() const { return calls_; }
  size_t BytesWritten() const { return written_; }

  // --- ComBackend ---
  platform::Clock& Clock() override { return clock_; }
  int Open(const std::string&) override {
    if (gone_) return ENOENT;
    open_ = true;
    return 0;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  int Handle() const override { return open_ ? 100 : -1; }
  int SetState(const serial::TDeviceControl&) override { return 0; }
  int SetupQueues(uint32_t, uint32_t) override { return 0; }

  serial::IoResult ReadSome(uint8_t* buffer, size_t n, uint32_t waitMs, const serial::TStopEvent* abort) override {
    ++calls_;
    if (gone_) return {serial::IoStatus::Lost, 0, EIO};
    if (abort && abort->IsSet()) waitMs = 0;
    const radiosim::Duration wait =
        waitMs == serial::kWaitForever ? radiosim::Duration(std::chrono::hours(1)) : std::chrono::milliseconds(waitMs);
    const radiosim::Duration deadline = Now() + wait;
    for (;;) {
      Pump();
      if (!in_.empty()) {
        const size_t k = std::min(n, in_.size());
        in_.copy(reinterpret_cast<char*>(buffer), k);
        in_.erase(0, k);
        return {serial::IoStatus::Ok, k, 0};
      }
      const radiosim::Duration now = Now();
      if (now >= deadline) return {serial::IoStatus::Ok, 0, 0};
      radiosim::Duration next = std::min(modem_.NextDeadline(), deadline);
      if (next <= now) next = now + std::chrono::milliseconds(1);
      clock_.Advance(std::chrono::ceil<std::chrono::milliseconds>(next - now));
    }
  }
  serial::IoResult WriteSome(const uint8_t* buffer, size_t n, uint32_t, const serial::TStopEvent*) override {
    ++calls_;
    if (gone_) return {serial::IoStatus::Lost, 0, EIO};
    const std::string_view bytes(reinterpret_cast<const char*>(buffer), n);
    // A frame broken off (a collision) is forgotten after its character pause.
    observer_.Advance(Now());
    observer_.Receive(bytes, Now());
    observer_.TakeOutput();  // the observer's own replies go nowhere
    auto sent = observer_.TakeTelegrams();
    sent_.insert(sent_.end(), sent.begin(), sent.end());
    modem_.Receive(bytes, Now());
    written_ += n;
    Pump();
    return {serial::IoStatus::Ok, n, 0};
  }
  int ClearError(uint32_t& errors, uint32_t& inQueue, uint32_t& outQueue) override {
    errors = outQueue = 0;
    inQueue = uint32_t(in_.size());
    return 0;
  }
  int GetModemStatus(uint32_t& status) override {
    status = 0;
    return 0;
  }
  int Escape(uint32_t) override { return 0; }
  int Purge(uint32_t flags) override {
    if (flags & serial::kPurgeRxClear) in_.clear();
    return 0;
  }
  int SetEventMask(uint32_t) override { return 0; }
  serial::WaitEventResult WaitEvent(const serial::TStopEvent&, uint32_t&) override {
    return serial::WaitEventResult::Failed;
  }

 private:
  void Pump() {
    modem_.Advance(Now());
    in_ += modem_.TakeOutput();
  }

  platform::ManualClock& clock_;
  radiosim::Modem modem_;
  radiosim::Line3964R observer_;
  std::vector<std::string> sent_;
  std::string in_;  // sent by the modem, not yet read
  bool open_ = false;
  bool gone_ = false;
  long calls_ = 0;
  size_t written_ = 0;
};

}  // namespace driver::testing
