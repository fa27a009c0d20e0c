#include "serial/com_line.h"

#include <poll.h>

#include <algorithm>
#include <system_error>
#include <utility>

#include "serial/stop_event.h"
#include "support/error_log.h"

namespace serial {

namespace {

constexpr uint32_t kMaxWait = 0xFFFFFFFEu;  // longest finite wait

uint32_t Capped(uint64_t ms) { return uint32_t(std::min<uint64_t>(ms, kMaxWait)); }

// Time left of a span that started elapsed ms ago.
uint32_t Remaining(uint32_t span, uint32_t elapsed) { return elapsed >= span ? 0 : span - elapsed; }

std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace

ComLine::ComLine(std::shared_ptr<ComBackend> backend)
    : backend_(std::move(backend)) {}

void ComLine::SetLog(LogSink log) { log_ = std::move(log); }

void ComLine::Log(const std::string& text, bool always) {
  if (log_)
    log_(text);
  else if (always)
    support::LogMessageForced(text);
  else
    support::LogMessage(text);
}

bool ComLine::Aborted() const {
  const TStopEvent* abort = abort_.load();
  return abort && abort->IsSet();
}

int ComLine::Open(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    path_ = path;
    not_kept_logged_.clear();
    lost_flags_ = 0;
    dcb_.reset();
    queues_.reset();
    dtr_.reset();
    rts_.reset();
    event_mask_ = 0;
  }
  lost_ = false;
  int error = backend_->Open(path);
  open_ = error == 0;
  return error;
}

void ComLine::Close() {
  backend_->Close();
  open_ = false;
  lost_ = false;
}

bool ComLine::Detached() const { return lost_.load() && !backend_->IsOpen(); }

int ComLine::Checked(int result) {
  if (result == 0 || !IsDeviceLostError(result)) return result;
  MarkLost(result);
  return 0;
}

// While the device is lost, settings are only remembered; the reopen applies them.
int ComLine::SetState(const TDeviceControl& dcb) {
  std::string log;
  {
    std::lock_guard lock(mutex_);
    dcb_ = dcb;
  }
  if (lost_) return 0;
  const int result = Checked(backend_->SetState(dcb));
  if (result == 0 && !lost_) {
    const std::string dropped = backend_->NotKept();
    std::lock_guard lock(mutex_);
    if (!dropped.empty() && dropped != not_kept_logged_) log = "ComPort " + path_ + ": device does not keep " + dropped;
    not_kept_logged_ = dropped;
  }
  if (!log.empty()) Log(log, false);
  return result;
}

int ComLine::SetTimeouts(const TCommTimeouts& t) {
  std::lock_guard lock(mutex_);
  timeouts_ = t;
  return 0;
}

int ComLine::SetupQueues(int32_t inputSize, int32_t outputSize) {
  if (inputSize < 0 || outputSize < 0) return EINVAL;
  {
    std::lock_guard lock(mutex_);
    queues_ = {uint32_t(inputSize), uint32_t(outputSize)};
  }
  return lost_ ? 0 : Checked(backend_->SetupQueues(uint32_t(inputSize), uint32_t(outputSize)));
}

int ComLine::Escape(uint32_t function) {
  if (!open_) return EBADF;
  {
    std::lock_guard lock(mutex_);
    if (function == kSetDtr || function == kClrDtr) dtr_ = function == kSetDtr;
    if (function == kSetRts || function == kClrRts) rts_ = function == kSetRts;
  }
  return lost_ ? 0 : Checked(backend_->Escape(function));
}

int ComLine::Reapply() {
  std::optional<TDeviceControl> dcb;
  std::optional<std::pair<uint32_t, uint32_t>> queues;
  std::optional<bool> dtr, rts;
  uint32_t mask;
  {
    std::lock_guard lock(mutex_);
    dcb = dcb_;
    queues = queues_;
    dtr = dtr_;
    rts = rts_;
    mask = event_mask_;
  }
  int error = 0;
  if (queues && !error) error = backend_->SetupQueues(queues->first, queues->second);
  if (dcb && !error) error = backend_->SetState(*dcb);
  if (dtr && !error) error = backend_->Escape(*dtr ? kSetDtr : kClrDtr);
  if (rts && !error) error = backend_->Escape(*rts ? kSetRts : kClrRts);
  if (mask && !error) error = backend_->SetEventMask(mask);
  return error;
}

void ComLine::MarkLost(int error) {
  if (lost_.exchange(true)) return;
  {
    std::lock_guard lock(mutex_);
    lost_flags_ |= kCeIO;
  }
  Log("ComPort " + path_ + ": device lost (" + ErrorText(error) + ")", true);
}

bool ComLine::Recover(int error, bool mayReopen) {
  MarkLost(error);
  if (!mayReopen || !open_) return false;
  backend_->Close();
  if (backend_->Open(path_) != 0) return false;
  if (Reapply() != 0) {
    backend_->Close();
    return false;
  }
  lost_ = false;
  Log("ComPort " + path_ + ": device reopened", true);
  return true;
}

size_t ComLine::Read(uint8_t* buffer, size_t n, int* error) {
  if (error) *error = 0;
  if (n == 0 || !open_) return 0;
  TCommTimeouts t;
  bool discard_null;
  {
    std::lock_guard lock(mutex_);
    t = timeouts_;
    discard_null = dcb_ && (dcb_->Flags & kDcbNull);
  }
  // The platform's rules: interval "all ones" with both totals 0 takes what is there; with
  // the multiplier "all ones" too it waits up to the constant for the first byte only.
  // Otherwise the totals (when not both 0) bound the whole read and a finite interval bounds
  // the gap between two bytes.
  const bool immediate = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
  const bool first_byte = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
                          t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
  const bool has_total = first_byte || (!immediate && (t.ReadTotalTimeoutMultiplier || t.ReadTotalTimeoutConstant));
  const uint32_t total = first_byte ? t.ReadTotalTimeoutConstant
                                    : Capped(uint64_t(t.ReadTotalTimeoutMultiplier) * n + t.ReadTotalTimeoutConstant);
  const bool has_interval = !immediate && !first_byte && t.ReadIntervalTimeout != 0 &&
                            t.ReadIntervalTimeout != kMaxDword;

  platform::Clock& clock = backend_->Clock();
  const TStopEvent* abort = abort_.load();
  const uint32_t start = clock.TickMs();
  uint32_t last_byte = start;
  size_t got = 0;
  bool reopen_tried = false;
  for (bool first = true;; first = false) {
    const uint32_t now = clock.TickMs();
    uint32_t wait = has_total ? Remaining(total, now - start) : kWaitForever;
    if (immediate || (first_byte && got > 0)) wait = 0;
    if (has_interval && got > 0) wait = std::min(wait, Remaining(t.ReadIntervalTimeout, now - last_byte));
    if (!first && (wait == 0 || got == n)) break;
    if (Aborted()) break;

    IoResult r = Detached() ? IoResult{IoStatus::Lost, 0, EIO}
                            : backend_->ReadSome(buffer + got, n - got, wait, abort);
    if (r.status == IoStatus::Ok) {
      size_t k = r.count;
      if (discard_null) k = size_t(std::remove(buffer + got, buffer + got + k, uint8_t(0)) - (buffer + got));
      if (r.count > 0) last_byte = clock.TickMs();
      got += k;
      if (immediate) break;
      continue;
    }
    if (r.status == IoStatus::Error) {
      if (error) *error = r.error;
      break;
    }
    // Lost: one reopen per read; else the read waits out its time-out so no loop spins.
    const bool try_reopen = !reopen_tried;
    reopen_tried = true;
    if (Recover(r.error, try_reopen)) continue;
    if (error) *error = r.error;
    const uint32_t left = clock.TickMs() - start;
    if (immediate) break;
    if (has_total) {
      PauseUnlessStopped(clock, Remaining(total, left), abort);
      break;
    }
    if (has_interval && got > 0) break;
    // No time-out at all: wait and retry until the device is back.
    if (PauseUnlessStopped(clock, kLostRetryMs, abort)) break;
    reopen_tried = false;
  }
  return got;
}

size_t ComLine::Write(const uint8_t* buffer, size_t n, int* error) {
  if (error) *error = 0;
  if (n == 0 || !open_) return 0;
  TCommTimeouts t;
  {
    std::lock_guard lock(mutex_);
    t = timeouts_;
  }
  const bool has_total = t.WriteTotalTimeoutMultiplier || t.WriteTotalTimeoutConstant;
  const uint32_t total = Capped(uint64_t(t.WriteTotalTimeoutMultiplier) * n + t.WriteTotalTimeoutConstant);
  platform::Clock& clock = backend_->Clock();
  const TStopEvent* abort = abort_.load();
  const uint32_t start = clock.TickMs();
  size_t put = 0;
  for (bool first = true; put < n; first = false) {
    const uint32_t wait = has_total ? Remaining(total, clock.TickMs() - start) : kWaitForever;
    if ((!first && wait == 0) || Aborted()) break;
    IoResult r = Detached() ? IoResult{IoStatus::Lost, 0, EIO}
                            : backend_->WriteSome(buffer + put, n - put, wait, abort);
    put += r.count;
    if (r.status == IoStatus::Lost) MarkLost(r.error);
    if (r.status != IoStatus::Ok) {
      if (error) *error = r.error;
      break;
    }
  }
  return put;
}

int ComLine::ClearError(uint32_t& errors, uint32_t& inQueue, uint32_t& outQueue) {
  errors = inQueue = outQueue = 0;
  if (!open_) return EBADF;
  int result = lost_ ? 0 : Checked(backend_->ClearError(errors, inQueue, outQueue));
  if (result) return result;
  if (lost_) errors = inQueue = outQueue = 0;
  std::lock_guard lock(mutex_);
  errors |= std::exchange(lost_flags_, 0);
  return 0;
}

int ComLine::GetModemStatus(uint32_t& status) {
  status = 0;
  if (!open_) return EBADF;
  int result = lost_ ? 0 : Checked(backend_->GetModemStatus(status));
  if (lost_) status = 0;
  return result;
}

int ComLine::Purge(uint32_t flags) {
  if (!open_) return EBADF;
  return lost_ ? 0 : Checked(backend_->Purge(flags));
}

int ComLine::SetEventMask(uint32_t mask) {
  {
    std::lock_guard lock(mutex_);
    event_mask_ = mask;
  }
  return lost_ ? 0 : Checked(backend_->SetEventMask(mask));
}

WaitEventResult ComLine::WaitEvent(const TStopEvent& stop, uint32_t& events) {
  events = 0;
  if (Detached()) {
    // Nothing to report until a read brings the device back; look again now and then.
    pollfd p{stop.Fd(), POLLIN, 0};
    return poll(&p, 1, int(kLostRetryMs)) == 1 ? WaitEventResult::Stopped : WaitEventResult::Failed;
  }
  return backend_->WaitEvent(stop, events);
}

}  // namespace serial
