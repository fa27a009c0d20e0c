#include "serial/com_thread.h"

#include "serial/com_port.h"

namespace serial {

TComThread::TComThread(TCustomComPort& port) : port_(port) {
  (void)port_.line_.SetEventMask(EventsToMask(port_.Events()));
  thread_ = std::thread([this] { Execute(); });
}

TComThread::~TComThread() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void TComThread::Stop() {
  stop_.Set();
  sync_.Cancel();
  std::this_thread::yield();
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
    }
  } catch (...) {
    // A handler's exception ends the thread quietly instead of the program.
    fatal_ = std::current_exception();
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
  const TComEvents events = Events();
  for (TComEvent e : kReportOrder)
    if (events.Contains(e)) port_.ReportEvent(e);
}

void TComThread::SendEventMessages() {
  const TComEvents events = Events();
  TMainThreadDispatcher* dispatcher = port_.Dispatcher();
  for (TComEvent e : kReportOrder) {
    if (!events.Contains(e)) continue;
    bool sent = sync_.Run(dispatcher, [&] {
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
