// The device layer under the serial port component: one open serial device, reached through
// a few primitive calls. Two implementations: TtyBackend (a Linux tty through termios) and
// FakeComBackend (in-process, with a virtual clock, for tests). The time-out rules, the
// recovery of a lost device and the error numbers of the component are built on top of it, once
// for both (ComLine).
//
// Threads: the component's user (the driver thread) calls everything; an event thread may call
// WaitEvent, ClearError and GetModemStatus at the same time, so implementations guard their
// shared state.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "serial/com_types.h"

namespace serial {

class TStopEvent;

// Waits longer than any time-out: wait until something happens.
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

enum class IoStatus {
  Ok,     // the count says what was transferred (0 when the wait ran out)
  Lost,   // the device hung up or failed (adapter pulled, other side of a pty closed)
  Error,  // another failure; the errno is given beside
};

struct IoResult {
  IoStatus status = IoStatus::Ok;
  size_t count = 0;
  int error = 0;  // errno for Lost and Error
};

enum class WaitEventResult { Event, Stopped, Failed };

// The errors with which a device reports that it is gone or hung up.
inline bool IsDeviceLostError(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE; }

class ComBackend {
 public:
  virtual ~ComBackend() = default;

  // Deadlines of reads and writes are taken from this clock, and waits that have no device to
  // wait on (a lost device waiting out its time-out) go through its SleepMs.
  virtual platform::Clock& Clock() = 0;

  // Opens the device at path for exclusive use; 0 or an errno (ENOENT when it does not exist,
  // EBUSY when another user has it).
  [[nodiscard]] virtual int Open(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // The open device's handle (a file descriptor for a tty), -1 when closed.
  virtual int Handle() const = 0;

  // Programs the line; 0 or an errno (EINVAL for what the device cannot do).
  [[nodiscard]] virtual int SetState(const TDeviceControl& dcb) = 0;
  // What the last SetState asked for and the device does not keep, though it is used all the
  // same (a pty has no parity), as text; "" when it keeps all.
  virtual std::string NotKept() const { return {}; }
  [[nodiscard]] virtual int SetupQueues(uint32_t inputSize, uint32_t outputSize) = 0;

  // Waits up to waitMs (0: not at all, kWaitForever: without limit) until input is there, then
  // takes what is there, up to n bytes. Count 0 with Ok: the wait ran out, or abort (when not
  // nullptr) was set before or during it.
  virtual IoResult ReadSome(uint8_t* buffer, size_t n, uint32_t waitMs, const TStopEvent* abort) = 0;
  // Waits up to waitMs (or until abort is set) until the device takes output, then hands it as
  // much of buffer as it takes at once.
  virtual IoResult WriteSome(const uint8_t* buffer, size_t n, uint32_t waitMs, const TStopEvent* abort) = 0;

  // Returns the line-error flags (kCe*) gathered since the last call and clears them, with the
  // bytes waiting in the receive and transmit queues.
  [[nodiscard]] virtual int ClearError(uint32_t& errors, uint32_t& inQueue, uint32_t& outQueue) = 0;
  // Modem status bits (kMs*). A device without modem lines reports none and succeeds.
  [[nodiscard]] virtual int GetModemStatus(uint32_t& status) = 0;
  // kSetDtr, kClrDtr, kSetRts, kClrRts. A device without modem lines ignores them.
  [[nodiscard]] virtual int Escape(uint32_t function) = 0;
  // kPurge* flags: drops queued input and output.
  [[nodiscard]] virtual int Purge(uint32_t flags) = 0;

  // Events (kEv* bits) that WaitEvent reports; 0 reports none.
  [[nodiscard]] virtual int SetEventMask(uint32_t mask) = 0;
  // Blocks until an event of the mask happens (its bits in events) or stop is signalled.
  virtual WaitEventResult WaitEvent(const TStopEvent& stop, uint32_t& events) = 0;
};

}  // namespace serial
