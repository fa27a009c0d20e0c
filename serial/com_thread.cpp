#include "serial/com_thread.h"

#include "serial/com_port.h"

namespace serial {

namespace {
std::atomic<int> alive{0};
}

int TComThread::Alive() { return alive.load(); }

TComThread::TComThread(TCustomComPort& port) : port_(port) {
  (void)port_.line_.SetEventMask(EventsToMask(port_.Events()));
  ++alive;
  thread_ = std::thread([this] {
    Execute();
    --alive;
  });
}

TComThread::~TComThread() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

class TComThread::Reporting {
 public:
  explicit Reporting(TComThread& t) : t_(t), before_(t.reporter_.exchange(std::this_thread::get_id())) {}
  ~Reporting() { t_.reporter_.store(before_); }
  Reporting(const Reporting&) = delete;
  Reporting& operator=(const Reporting&) = delete;

 private:
  TComThread& t_;
  std::thread::id before_;
};

void TComThread::Stop() {
  stop_.Set();
  sync_.Cancel();
  std::this_thread::yield();
}

void TComThread::FreeAfterReport() {
  free_after_report_ = true;
  Stop();
}

void TComThread::Execute() {
  try {
    for (;;) {
      uint32_t mask = 0;
      WaitEventResult r = port_.line_.WaitEvent(stop_, mask);
      if (r == WaitEventResult::Stopped || stop_.IsSet()) break;
      if (r == WaitEventResult::Failed) continue;  // this wake-up is skipped
      events_.store(MaskToEvents(mask).ToBits());
      DispatchEvents();
      // A handler may have closed (or freed) the port: it is not touched after a stop.
      if (stop_.IsSet()) break;
    }
  } catch (...) {
    // A handler's exception ends the thread quietly instead of the program.
    fatal_ = std::current_exception();
  }
  if (free_after_report_) {
    // Close has done the device's part already; nobody waits for this thread.
    thread_.detach();
    delete this;
    return;
  }
  (void)port_.line_.SetEventMask(0);
  (void)port_.line_.Purge(kPurgeTxClear | kPurgeRxClear);
}

void TComThread::DispatchEvents() {
  switch (port_.SyncMethod()) {
    case smThreadSync:
      sync_.Run(port_.Dispatcher(), [this] { DeliverEvents(); });
      break;
    case smWindowSync:
      SendEventMessages();
      break;
    case smNone:
      DeliverEvents();
      break;
  }
}

void TComThread::DeliverEvents() {
  const Reporting reporting(*this);
  const TComEvents events = Events();
  for (TComEvent e : kReportOrder) {
    if (stop_.IsSet()) return;  // a handler closed the port
    if (events.Contains(e)) port_.ReportEvent(e);
  }
}

void TComThread::SendEventMessages() {
  const TComEvents events = Events();
  TMainThreadDispatcher* dispatcher = port_.Dispatcher();
  for (TComEvent e : kReportOrder) {
    if (!events.Contains(e)) continue;
    bool sent = sync_.Run(dispatcher, [&] {
      const Reporting reporting(*this);
      try {
        port_.WindowProc(WM_COMPORT_EVENT, EventMaskBit(e), 0);
      } catch (...) {
        HandleApplicationException(dispatcher, std::current_exception());
      }
    });
    if (!sent) return;  // stopping
  }
}

}  // namespace serial
