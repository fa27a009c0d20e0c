// The event thread of an open port with a non-empty event set: it waits for the device's
// events or its stop event and hands each wake-up's events to the port's report steps, in a
// fixed order, in the way the port's SyncMethod says.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <thread>

#include "serial/com_types.h"
#include "serial/main_thread.h"
#include "serial/stop_event.h"

namespace serial {

class TCustomComPort;

class TComThread {
 public:
  // Sets the port's event mask from its Events and starts the thread.
  explicit TComThread(TCustomComPort& port);
  // Stop, then waits for the thread's end.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // Signals the stop event; a hand-over to the main thread not yet begun is dropped.
  void Stop();
  // The calling thread runs this thread's reports now: the handler of one of them is calling.
  bool ReportsOnThisThread() const { return reporter_.load() == std::this_thread::get_id(); }
  // From inside a report (a handler closing its port), where the thread cannot be waited for:
  // stops it, and the thread frees itself once the report has returned, touching the port no
  // more. The caller gives up its ownership.
  void FreeAfterReport();
  // The events of the last wake-up.
  TComEvents Events() const { return TComEvents::FromBits(events_.load()); }
  // An exception that ended the thread (a report step under smThreadSync or smNone).
  // Valid once the thread has ended.
  std::exception_ptr FatalException() const { return fatal_; }
  // Event threads of the process whose body has not yet ended.
  static int Alive();

 private:
  void Execute();
  void DispatchEvents();
  void DeliverEvents();
  void SendEventMessages();

  // Marks the calling thread as running this thread's reports for the scope's length.
  class Reporting;

  TCustomComPort& port_;
  TStopEvent stop_;
  TSyncCall sync_;
  std::atomic<uint16_t> events_{0};
  std::atomic<std::thread::id> reporter_{};
  std::atomic<bool> free_after_report_{false};
  std::exception_ptr fatal_;
  std::thread thread_;
};

// The fixed order in which one wake-up's events are reported.
inline constexpr TComEvent kReportOrder[kComEventCount] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                                           evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

}  // namespace serial
