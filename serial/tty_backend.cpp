#include "serial/tty_backend.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <cerrno>

#include "platform/no_destroy.h"
#include "serial/stop_event.h"

namespace serial {

namespace {

platform::SystemClock& RealClock() {
  static platform::NoDestroy<platform::SystemClock> clock;
  return clock.value;
}

bool ReadCounters(int fd, LineCounters& c) {
  serial_icounter_struct ic{};
  if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
  c.frame = uint32_t(ic.frame);
  c.parity = uint32_t(ic.parity);
  c.overrun = uint32_t(ic.overrun);
  c.bufOverrun = uint32_t(ic.buf_overrun);
  c.brk = uint32_t(ic.brk);
  return true;
}

}  // namespace

TtyBackend::TtyBackend(platform::Clock* clock) : clock_(clock ? clock : &RealClock()), real_time_(!clock) {}

TtyBackend::~TtyBackend() { Close(); }

int TtyBackend::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) return EBUSY;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  if (!isatty(fd)) {
    ::close(fd);
    return ENOTTY;
  }
  // flock holds against every other user; TIOCEXCL against further opens (except root's).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return e;
  }
  ioctl(fd, TIOCEXCL);
  fd_ = fd;
  marked_ = false;
  decoder_.Reset();
  decoded_.clear();
  errors_ = 0;
  wrote_ = false;
  event_mask_ = 0;
  have_counters_ = ReadCounters(fd_, counters_);
  return 0;
}

void TtyBackend::Close() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

bool TtyBackend::IsOpen() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

int TtyBackend::Handle() const {
  std::lock_guard lock(mutex_);
  return fd_;
}

int TtyBackend::SetState(const TDeviceControl& dcb) {
  TtyLineConfig config;
  if (int e = TtyConfigFromState(dcb, config)) return e;
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return EBADF;
  if (int e = ApplyTtyConfig(fd_, config, not_kept_)) return e;
  if (config.marked != marked_ || config.marked) decoder_.Reset(config.replace, config.errorChar);
  marked_ = config.marked;
  event_char_ = dcb.EvtChar;
  return 0;
}

std::string TtyBackend::NotKept() const {
  std::lock_guard lock(mutex_);
  return not_kept_;
}

int TtyBackend::SetupQueues(uint32_t inputSize, uint32_t) {
  // The kernel's queues have fixed sizes; the input size only sets the 80 % mark.
  std::lock_guard lock(mutex_);
  input_size_ = inputSize;
  return 0;
}

TtyBackend::Fill TtyBackend::FillDecoded(int& error, size_t upTo) {
  error = 0;
  uint8_t raw[4096];
  while (decoded_.size() < upTo) {
    const size_t room = std::min(sizeof raw, upTo - decoded_.size());
    ssize_t k = ::read(fd_, raw, room);
    if (k > 0) {
      const size_t before = decoded_.size();
      if (marked_) {
        uint32_t flags = decoder_.Decode(raw, size_t(k), decoded_);
        if (!have_counters_) errors_ |= flags;  // the counters tell frame from parity better
      } else {
        decoded_.append(reinterpret_cast<const char*>(raw), size_t(k));
      }
      if (WatchesEventChar() && decoded_.find(char(event_char_), before) != std::string::npos) rx_flag_ = true;
      if (size_t(k) < room) return Fill::Ok;
      continue;
    }
    if (k == 0) return Fill::HangUp;  // a tty reads end-of-file only after a hang-up
    if (errno == EINTR) continue;
    if (errno != EAGAIN) error = errno;
    return Fill::Ok;
  }
  return Fill::Ok;
}

IoResult TtyBackend::ReadSome(uint8_t* buffer, size_t n, uint32_t waitMs, const TStopEvent* abort) {
  for (;;) {
    int fd;
    {
      std::lock_guard lock(mutex_);
      if (fd_ < 0) return {IoStatus::Error, 0, EBADF};
      int error = 0;
      Fill fill = Fill::Ok;
      if (!marked_ && decoded_.empty() && !WatchesEventChar()) {
        // Plain data goes straight into the caller's buffer.
        ssize_t k = ::read(fd_, buffer, n);
        if (k > 0) return {IoStatus::Ok, size_t(k), 0};
        if (k == 0) fill = Fill::HangUp;
        else if (errno != EAGAIN && errno != EINTR) error = errno;
      } else {
        fill = FillDecoded(error);
      }
      if (!decoded_.empty()) {
        const size_t k = std::min(n, decoded_.size());
        std::copy_n(decoded_.begin(), k, buffer);
        decoded_.erase(0, k);
        return {IoStatus::Ok, k, 0};
      }
      if (fill == Fill::HangUp) return {IoStatus::Lost, 0, EIO};
      if (error) return {IsDeviceLostError(error) ? IoStatus::Lost : IoStatus::Error, 0, error};
      if (waitMs == 0) return {IoStatus::Ok, 0, 0};
      fd = fd_;
    }
    if (WaitDevice(fd, POLLIN, waitMs, abort) == 0) return {IoStatus::Ok, 0, 0};
    waitMs = 0;  // look once more; the caller's deadline decides about further waits
  }
}

IoResult TtyBackend::WriteSome(const uint8_t* buffer, size_t n, uint32_t waitMs, const TStopEvent* abort) {
  for (;;) {
    int fd;
    {
      std::lock_guard lock(mutex_);
      if (fd_ < 0) return {IoStatus::Error, 0, EBADF};
      ssize_t k = ::write(fd_, buffer, n);
      if (k >= 0) {
        wrote_ = wrote_ || k > 0;
        return {IoStatus::Ok, size_t(k), 0};
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return {IsDeviceLostError(errno) ? IoStatus::Lost : IoStatus::Error, 0, errno};
      if (waitMs == 0) return {IoStatus::Ok, 0, 0};
      fd = fd_;
    }
    if (WaitDevice(fd, POLLOUT, waitMs, abort) == 0) return {IoStatus::Ok, 0, 0};
    waitMs = 0;
  }
}

int TtyBackend::WaitDevice(int fd, short events, uint32_t ms, const TStopEvent* abort) {
  if (!real_time_) {
    pollfd p{fd, events, 0};
    if (poll(&p, 1, 0) == 1) return p.revents;
    if (!abort || !abort->IsSet()) clock_->SleepMs(ms == kWaitForever ? kEventSampleMs : ms);
    return 0;
  }
  // The abort event beside the device, so that a stop ends the wait at once.
  pollfd p[2] = {{fd, events, 0}, {abort ? abort->Fd() : -1, POLLIN, 0}};
  int timeout = ms == kWaitForever ? -1 : int(std::min<uint32_t>(ms, 0x7FFFFFFF));
  int r = poll(p, 2, timeout);
  if (r < 0) return errno == EINTR ? POLLIN : POLLERR;  // look again at once
  return r == 0 ? 0 : p[0].revents;
}

uint32_t TtyBackend::SampleCounters() {
  if (!have_counters_) return 0;
  LineCounters now;
  if (!ReadCounters(fd_, now)) return 0;
  uint32_t flags = CounterFlags(counters_, now);
  counters_ = now;
  errors_ |= flags;
  return flags;
}

uint32_t TtyBackend::InputQueued() {
  int raw = 0;
  if (ioctl(fd_, FIONREAD, &raw) != 0) raw = 0;
  return uint32_t(decoded_.size()) + uint32_t(std::max(raw, 0));
}

uint32_t TtyBackend::ModemStatus() {
  int bits = 0;
  if (ioctl(fd_, TIOCMGET, &bits) != 0) return 0;
  uint32_t status = 0;
  if (bits & TIOCM_CTS) status |= kMsCtsOn;
  if (bits & TIOCM_DSR) status |= kMsDsrOn;
  if (bits & TIOCM_RI) status |= kMsRingOn;
  if (bits & TIOCM_CD) status |= kMsRlsdOn;
  return status;
}

int TtyBackend::ClearError(uint32_t& errors, uint32_t& inQueue, uint32_t& outQueue) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return EBADF;
  int error = 0;
  if (marked_) FillDecoded(error);  // markers still queued carry their flags
  SampleCounters();
  errors = std::exchange(errors_, 0);
  inQueue = InputQueued();
  int out = 0;
  outQueue = ioctl(fd_, TIOCOUTQ, &out) == 0 ? uint32_t(std::max(out, 0)) : 0;
  return 0;
}

int TtyBackend::GetModemStatus(uint32_t& status) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return EBADF;
  int bits = 0;
  if (ioctl(fd_, TIOCMGET, &bits) != 0 && errno != ENOTTY && errno != EINVAL) return errno;
  status = ModemStatus();
  return 0;
}

int TtyBackend::Escape(uint32_t function) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return EBADF;
  int bits;
  unsigned long request;
  switch (function) {
    case kSetDtr: bits = TIOCM_DTR, request = TIOCMBIS; break;
    case kClrDtr: bits = TIOCM_DTR, request = TIOCMBIC; break;
    case kSetRts: bits = TIOCM_RTS, request = TIOCMBIS; break;
    case kClrRts: bits = TIOCM_RTS, request = TIOCMBIC; break;
    default: return EINVAL;
  }
  if (ioctl(fd_, request, &bits) == 0) return 0;
  return errno == ENOTTY || errno == EINVAL ? 0 : errno;  // no modem lines (a pty)
}

int TtyBackend::Purge(uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return EBADF;
  const bool rx = flags & (kPurgeRxAbort | kPurgeRxClear);
  const bool tx = flags & (kPurgeTxAbort | kPurgeTxClear);
  if (!rx && !tx) return 0;
  if (tcflush(fd_, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) != 0) return errno;
  if (rx) {
    decoded_.clear();
    decoder_.Reset(decoder_.Replace(), decoder_.ErrorChar());
  }
  return 0;
}

int TtyBackend::SetEventMask(uint32_t mask) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return EBADF;
  event_mask_ = mask;
  rx_flag_ = false;
  last_in_ = InputQueued();
  last_modem_ = ModemStatus();
  return 0;
}

WaitEventResult TtyBackend::WaitEvent(const TStopEvent& stop, uint32_t& events) {
  events = 0;
  for (;;) {
    int fd;
    bool watch_input;
    {
      std::lock_guard lock(mutex_);
      if (fd_ < 0) return WaitEventResult::Failed;
      fd = fd_;
      if (WatchesEventChar()) {
        // Only up to the input queue's size: what nobody reads stays in the device, which then
        // holds the sender back, as without the watch.
        int error = 0;
        (void)FillDecoded(error, input_size_);  // a hang-up or an error is the reader's to see
      }
      const uint32_t in = InputQueued();
      const uint32_t modem = ModemStatus();
      const uint32_t line = SampleCounters();
      uint32_t ev = 0;
      if (in > last_in_) ev |= kEvRxChar;
      const uint64_t mark = uint64_t(input_size_) * 4;
      if (uint64_t(in) * 5 >= mark && uint64_t(last_in_) * 5 < mark) ev |= kEvRx80Full;
      int out = 0;
      if (wrote_ && ioctl(fd_, TIOCOUTQ, &out) == 0 && out == 0) {
        ev |= kEvTxEmpty;
        wrote_ = false;
      }
      const uint32_t changed = modem ^ last_modem_;
      if (changed & kMsCtsOn) ev |= kEvCts;
      if (changed & kMsDsrOn) ev |= kEvDsr;
      if (changed & kMsRlsdOn) ev |= kEvRlsd;
      if ((last_modem_ & kMsRingOn) && !(modem & kMsRingOn)) ev |= kEvRing;
      if (line & kCeBreak) ev |= kEvBreak;
      if (line & (kCeFrame | kCeRxParity | kCeOverrun | kCeRxOver)) ev |= kEvErr;
      if (std::exchange(rx_flag_, false)) ev |= kEvRxFlag;
      last_in_ = in;
      last_modem_ = modem;
      events = ev & event_mask_;
      if (events) return WaitEventResult::Event;
      // Unread input keeps poll() readable, so then only the sampling wakes the thread.
      watch_input = in == 0;
    }
    pollfd fds[2] = {{stop.Fd(), POLLIN, 0}, {watch_input ? fd : -1, POLLIN, 0}};
    int r = poll(fds, 2, kEventSampleMs);
    if (r < 0 && errno != EINTR) return WaitEventResult::Failed;
    if (fds[0].revents) return WaitEventResult::Stopped;
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // A hung-up device stays "ready" for ever: wait for the stop event, not in a loop.
      pollfd p{stop.Fd(), POLLIN, 0};
      return poll(&p, 1, 1000) == 1 ? WaitEventResult::Stopped : WaitEventResult::Failed;
    }
  }
}

}  // namespace serial
