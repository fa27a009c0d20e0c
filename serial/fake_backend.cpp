#include "serial/fake_backend.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <cerrno>

#include "serial/stop_event.h"

namespace serial {

namespace {
constexpr int kFakeHandleBase = 1000;  // handles a test can tell from real descriptors
}

FakeComBackend::FakeComBackend(platform::ManualClock* clock)
    : clock_(clock ? clock : &own_clock_), wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

FakeComBackend::~FakeComBackend() {
  if (wake_fd_ >= 0) close(wake_fd_);
}

uint32_t FakeComBackend::Now() const { return clock_->TickMs(); }

int FakeComBackend::Failure(FakeOp op) const {
  auto it = failures_.find(op);
  return it == failures_.end() ? 0 : it->second;
}

void FakeComBackend::Wake() {
  cv_.notify_all();
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
}

void FakeComBackend::Raise(uint32_t events) { pending_events_ |= events; }

void FakeComBackend::Schedule(Arrival a) {
  {
    std::lock_guard lock(mutex_);
    auto pos = std::upper_bound(arrivals_.begin(), arrivals_.end(), a.at,
                                [this](uint32_t at, const Arrival& x) { return int32_t(at - x.at) < 0; });
    arrivals_.insert(pos, std::move(a));
    DeliverDue();
  }
  Wake();
}

void FakeComBackend::DeliverDue() {
  const uint32_t now = Now();
  while (!arrivals_.empty() && int32_t(now - arrivals_.front().at) >= 0) {
    Arrival a = std::move(arrivals_.front());
    arrivals_.pop_front();
    if (!open_ || lost_) continue;  // nobody listens
    errors_ |= a.flags;
    if (a.isBreak) Raise(kEvBreak);
    if (a.flags & (kCeFrame | kCeRxParity | kCeOverrun | kCeRxOver)) Raise(kEvErr);
    if (a.bytes.empty()) continue;
    const bool replace = (a.flags & (kCeFrame | kCeRxParity)) && (dcb_.Flags & kDcbErrorChar);
    for (char c : a.bytes) {
      queue_.push_back(replace ? char(dcb_.ErrorChar) : c);
      if (uint8_t(c) == dcb_.EvtChar && dcb_.EvtChar != 0) Raise(kEvRxFlag);
    }
    Raise(kEvRxChar);
    if (input_size_ && queue_.size() * 5 >= size_t(input_size_) * 4) Raise(kEvRx80Full);
  }
}

// --- the other end ---

void FakeComBackend::Receive(std::string_view bytes, uint32_t afterMs) {
  Schedule({Now() + afterMs, std::string(bytes), 0, false});
}

void FakeComBackend::ReceiveWithError(uint8_t byte, uint32_t ceFlag, uint32_t afterMs) {
  Schedule({Now() + afterMs, std::string(1, char(byte)), ceFlag, false});
}

void FakeComBackend::ReceiveBreak(uint32_t afterMs) { Schedule({Now() + afterMs, {}, kCeBreak, true}); }

void FakeComBackend::RaiseErrors(uint32_t ceFlags) { Schedule({Now(), {}, ceFlags, false}); }

void FakeComBackend::SetModemStatus(uint32_t status) {
  {
    std::lock_guard lock(mutex_);
    const uint32_t changed = modem_ ^ status;
    if (changed & kMsCtsOn) Raise(kEvCts);
    if (changed & kMsDsrOn) Raise(kEvDsr);
    if (changed & kMsRlsdOn) Raise(kEvRlsd);
    if ((modem_ & kMsRingOn) && !(status & kMsRingOn)) Raise(kEvRing);  // the ring's trailing edge
    modem_ = status;
  }
  Wake();
}

void FakeComBackend::SetWriteHandler(WriteHandler handler) {
  std::lock_guard lock(mutex_);
  write_handler_ = std::move(handler);
}

void FakeComBackend::BlockOutput(bool blocked) {
  {
    std::lock_guard lock(mutex_);
    output_blocked_ = blocked;
  }
  Wake();
}

void FakeComBackend::HoldEvents(bool held) {
  {
    std::lock_guard lock(mutex_);
    events_held_ = held;
  }
  Wake();
}

void FakeComBackend::HoldReads(bool held) {
  {
    std::lock_guard lock(mutex_);
    reads_held_ = held;
  }
  Wake();
}

int FakeComBackend::WaitingReads() const { return Locked([&] { return waiting_reads_; }); }

void FakeComBackend::Unplug() {
  {
    std::lock_guard lock(mutex_);
    plugged_ = false;
    if (open_) lost_ = true;
    queue_.clear();
    arrivals_.clear();
  }
  Wake();
}

void FakeComBackend::Plug() {
  std::lock_guard lock(mutex_);
  plugged_ = true;
}

void FakeComBackend::FailWith(FakeOp op, int error) {
  std::lock_guard lock(mutex_);
  if (error)
    failures_[op] = error;
  else
    failures_.erase(op);
}

// --- inspection ---

std::string FakeComBackend::Written() const { return Locked([&] { return written_; }); }
std::string FakeComBackend::TakeWritten() {
  std::lock_guard lock(mutex_);
  return std::exchange(written_, {});
}
TDeviceControl FakeComBackend::State() const { return Locked([&] { return dcb_; }); }
int FakeComBackend::StateCount() const { return Locked([&] { return state_count_; }); }
uint32_t FakeComBackend::InputQueueSize() const { return Locked([&] { return input_size_; }); }
uint32_t FakeComBackend::OutputQueueSize() const { return Locked([&] { return output_size_; }); }
bool FakeComBackend::Dtr() const { return Locked([&] { return dtr_; }); }
bool FakeComBackend::Rts() const { return Locked([&] { return rts_; }); }
int FakeComBackend::OpenCount() const { return Locked([&] { return open_count_; }); }
std::string FakeComBackend::OpenedPath() const { return Locked([&] { return path_; }); }
std::vector<uint32_t> FakeComBackend::Purges() const { return Locked([&] { return purges_; }); }
uint32_t FakeComBackend::EventMask() const { return Locked([&] { return event_mask_; }); }
size_t FakeComBackend::Queued() const { return Locked([&] { return queue_.size(); }); }
bool FakeComBackend::IsOpen() const { return Locked([&] { return open_; }); }
int FakeComBackend::Handle() const { return Locked([&] { return open_ ? kFakeHandleBase + open_count_ : -1; }); }

// --- ComBackend ---

int FakeComBackend::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (int e = Failure(FakeOp::Open)) return e;
  if (!plugged_) return ENOENT;
  if (open_) return EBUSY;  // exclusive use
  open_ = true;
  lost_ = false;
  ++open_count_;
  path_ = path;
  queue_.clear();
  errors_ = 0;
  pending_events_ = 0;
  event_mask_ = 0;
  return 0;
}

void FakeComBackend::Close() {
  {
    std::lock_guard lock(mutex_);
    open_ = false;
    lost_ = false;
    queue_.clear();
  }
  Wake();
}

int FakeComBackend::SetState(const TDeviceControl& dcb) {
  std::lock_guard lock(mutex_);
  if (int e = Failure(FakeOp::SetState)) return e;
  if (lost_) return EIO;
  dcb_ = dcb;
  ++state_count_;
  return 0;
}

int FakeComBackend::SetupQueues(uint32_t inputSize, uint32_t outputSize) {
  std::lock_guard lock(mutex_);
  if (int e = Failure(FakeOp::SetupQueues)) return e;
  if (lost_) return EIO;  // as a hung-up tty answers
  input_size_ = inputSize;
  output_size_ = outputSize;
  return 0;
}

bool FakeComBackend::WaitUntil(std::unique_lock<std::mutex>& lock, const TStopEvent* abort,
                               const std::function<bool()>& done) {
  while (!done()) {
    // An eventfd cannot wake a condition variable: the abort is looked at every few ms.
    if (abort && abort->IsSet()) return false;
    cv_.wait_for(lock, std::chrono::milliseconds(2));
  }
  return true;
}

IoResult FakeComBackend::ReadSome(uint8_t* buffer, size_t n, uint32_t waitMs, const TStopEvent* abort) {
  std::unique_lock lock(mutex_);
  if (int e = Failure(FakeOp::Read)) return {IoStatus::Error, 0, e};
  for (;;) {
    if (!open_) return {IoStatus::Error, 0, EBADF};
    if (lost_) return {IoStatus::Lost, 0, EIO};
    DeliverDue();
    if (!queue_.empty() || waitMs == 0 || (abort && abort->IsSet())) break;
    if (reads_held_) {
      ++waiting_reads_;
      const bool released = WaitUntil(lock, abort, [&] { return !reads_held_; });
      --waiting_reads_;
      if (!released) break;
      continue;
    }
    if (!arrivals_.empty()) {
      const uint32_t until = arrivals_.front().at - Now();
      if (waitMs == kWaitForever || until <= waitMs) {
        clock_->Advance(std::chrono::milliseconds(until));
        waitMs = waitMs == kWaitForever ? waitMs : waitMs - until;
        continue;
      }
    }
    if (waitMs != kWaitForever) {
      clock_->Advance(std::chrono::milliseconds(waitMs));
      DeliverDue();
      break;
    }
    // No time-out and nothing scripted: the test has to send something.
    const size_t arrived = arrivals_.size();
    if (!WaitUntil(lock, abort,
                   [&] { return !queue_.empty() || arrivals_.size() != arrived || !open_ || lost_ || reads_held_; }))
      break;
  }
  const size_t k = std::min(n, queue_.size());
  std::copy_n(queue_.begin(), k, buffer);
  queue_.erase(0, k);
  return {IoStatus::Ok, k, 0};
}

IoResult FakeComBackend::WriteSome(const uint8_t* buffer, size_t n, uint32_t waitMs, const TStopEvent* abort) {
  WriteHandler handler;
  {
    std::unique_lock lock(mutex_);
    if (int e = Failure(FakeOp::Write)) return {IoStatus::Error, 0, e};
    if (!open_) return {IoStatus::Error, 0, EBADF};
    if (lost_) return {IoStatus::Lost, 0, EIO};
    if (output_blocked_) {
      if (abort && abort->IsSet()) return {IoStatus::Ok, 0, 0};
      if (waitMs != kWaitForever) {
        clock_->Advance(std::chrono::milliseconds(waitMs));
        return {IoStatus::Ok, 0, 0};
      }
      if (!WaitUntil(lock, abort, [&] { return !output_blocked_ || !open_ || lost_; })) return {IoStatus::Ok, 0, 0};
      if (!open_ || lost_) return {IoStatus::Lost, 0, EIO};
    }
    written_.append(reinterpret_cast<const char*>(buffer), n);
    Raise(kEvTxEmpty);
    handler = write_handler_;
  }
  Wake();
  if (handler) handler(*this, std::string_view(reinterpret_cast<const char*>(buffer), n));
  return {IoStatus::Ok, n, 0};
}

int FakeComBackend::ClearError(uint32_t& errors, uint32_t& inQueue, uint32_t& outQueue) {
  std::lock_guard lock(mutex_);
  if (int e = Failure(FakeOp::ClearError)) return e;
  if (lost_) return EIO;  // as a hung-up tty answers
  DeliverDue();
  errors = std::exchange(errors_, 0);
  inQueue = uint32_t(queue_.size());
  outQueue = 0;
  return 0;
}

int FakeComBackend::GetModemStatus(uint32_t& status) {
  std::lock_guard lock(mutex_);
  if (int e = Failure(FakeOp::GetModemStatus)) return e;
  if (lost_) return EIO;  // as a hung-up tty answers
  status = modem_;
  return 0;
}

int FakeComBackend::Escape(uint32_t function) {
  std::lock_guard lock(mutex_);
  if (int e = Failure(FakeOp::Escape)) return e;
  if (lost_) return EIO;  // as a hung-up tty answers
  switch (function) {
    case kSetDtr: dtr_ = true; break;
    case kClrDtr: dtr_ = false; break;
    case kSetRts: rts_ = true; break;
    case kClrRts: rts_ = false; break;
    default: return EINVAL;
  }
  return 0;
}

int FakeComBackend::Purge(uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (int e = Failure(FakeOp::Purge)) return e;
  if (lost_) return EIO;  // as a hung-up tty answers
  purges_.push_back(flags);
  DeliverDue();
  if (flags & (kPurgeRxClear | kPurgeRxAbort)) queue_.clear();
  return 0;
}

int FakeComBackend::SetEventMask(uint32_t mask) {
  {
    std::lock_guard lock(mutex_);
    if (int e = Failure(FakeOp::SetEventMask)) return e;
    if (lost_) return EIO;
    event_mask_ = mask;
    pending_events_ = 0;
  }
  Wake();
  return 0;
}

WaitEventResult FakeComBackend::WaitEvent(const TStopEvent& stop, uint32_t& events) {
  events = 0;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      DeliverDue();
      if (open_ && !lost_ && !events_held_) {
        events = pending_events_ & event_mask_;
        pending_events_ &= ~event_mask_;
        if (events) return WaitEventResult::Event;
      }
    }
    pollfd fds[2] = {{stop.Fd(), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return WaitEventResult::Failed;
    if (fds[0].revents) return WaitEventResult::Stopped;
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(wake_fd_, &count, sizeof count);
  }
}

}  // namespace serial
