// The serial port component: a port name, its line settings in four settings objects, the open
// device, synchronous reads and writes under time-outs, the modem lines, the line-error flags
// and queue purging. Every failing device call raises EComPort (com_error.h).
//
// Threads: the component has no locks. One thread (the server's driver thread) creates, uses
// and frees a port. When Events is not empty at Open (never in the server build, whose Open
// clears it), an event thread reports line events through the On* handlers: on the main thread
// for smThreadSync and smWindowSync (through the dispatcher of main_thread.h), in the event
// thread for smNone; it calls ReadLineErrors, PendingInputCount and ReadLineSignals itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/com_backend.h"
#include "serial/com_error.h"
#include "serial/com_line.h"
#include "serial/com_settings.h"
#include "serial/com_store.h"
#include "serial/com_types.h"

namespace serial {

class TComThread;
class TMainThreadDispatcher;
class TCustomComPort;

// The server build works synchronously and never starts an event thread; the configurator's
// build keeps Events at Open and reads through asynchronous transfer records.
enum class TComPortBuild { Server, Configurator };

using TNotifyEvent = std::function<void(TCustomComPort& sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& sender, int32_t count)>;
using TComSignalEvent = std::function<void(TCustomComPort& sender, bool state)>;
using TComErrorEvent = std::function<void(TCustomComPort& sender, TComErrors errors)>;

// Told when a port it watches is destroyed (FreeNotification).
class TComPortObserver {
 public:
  virtual ~TComPortObserver() = default;
  virtual void PortRemoved(TCustomComPort& port) = 0;
};

// Message that carries one event to the port's window under smWindowSync: word parameter =
// the event's mask bit (kEv*), long parameter 0.
inline constexpr uint32_t WM_COMPORT_EVENT = 0x0400 + 1;

// A transfer record of the configurator build's asynchronous reading.
struct TAsyncTransfer {
  uint8_t Kind = 0;  // 0 write, 1 read
  std::unique_ptr<uint8_t[]> Data;
  int32_t Size = 0;
  // The transfer under way: it runs in a thread of its own, as an overlapped one would.
  std::thread worker;
  size_t result = 0;
  int error = 0;
};
using PAsync = std::unique_ptr<TAsyncTransfer>;
// A fresh record: not busy, no data.
void CreateAsyncRecord(PAsync& record);
// Waits for a transfer still under way, frees the record and empties the reference.
void FreeAsyncRecord(PAsync& record);

class TCustomComPort {
 public:
  // backend nullptr: a TtyBackend. The server's driver passes none; tests pass a fake.
  explicit TCustomComPort(std::shared_ptr<ComBackend> backend = nullptr,
                          TComPortBuild build = TComPortBuild::Server);
  // Close (whose failures are swallowed here), then the settings objects.
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // Component part: the name (the settings store's INI section) and the loading/designing
  // state, during which settings are only stored.
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  bool Loading() const { return loading_; }
  bool Designing() const { return designing_; }
  void SetLoading(bool on) { loading_ = on; }
  void SetDesigning(bool on) { designing_ = on; }
  // After the port was read from a stream: opens it when Connected was read as True. A
  // failure goes to the application's exception handler, not to the caller.
  virtual void Loaded();
  void FreeNotification(TComPortObserver* observer);
  void RemoveFreeNotification(TComPortObserver* observer);

  TComPortBuild Build() const { return build_; }
  ComBackend& Backend() { return line_.Backend(); }
  // Where the port logs the loss and the recovery of its device (default: the error log).
  void SetLog(LogSink log) { line_.SetLog(std::move(log)); }
  // While abort is set (by any thread), Read and Write return at once with what they have and a
  // wait under way ends: a stop need not wait out a time-out. nullptr: none.
  void SetAbortEvent(const TStopEvent* abort) { line_.SetAbortEvent(abort); }
  // Dispatcher of this port's main-thread calls; nullptr: the process-wide one. Set it
  // before Open: the event thread reads it.
  void SetDispatcher(TMainThreadDispatcher* dispatcher) { dispatcher_ = dispatcher; }
  TMainThreadDispatcher* Dispatcher() const;

  // The handle of the device open now, -1 otherwise; a device reopened after a loss has a new one.
  int DeviceHandle() const;

  // Published settings. A setter that changes a value while connected re-applies its group.
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  TBaudRate BaudRate() const { return baud_rate_; }
  void SetBaudRate(TBaudRate value);
  // Bits per second when BaudRate is brCustom.
  int32_t CustomBaudRate() const { return custom_baud_rate_; }
  void SetCustomBaudRate(int32_t value);
  // "COMn" is /dev/ttyS<n-1>, a path is used as it is, any other name is /dev/<name>.
  const std::string& Port() const { return port_; }
  // A different name (case counts) on a connected port closes it and opens it again.
  void SetPort(const std::string& value);
  TStopBits StopBits() const { return stop_bits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return data_bits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discard_null_; }
  void SetDiscardNull(bool value);
  uint8_t EventChar() const { return event_char_; }
  void SetEventChar(uint8_t value);
  // Takes effect at the next Open (which in the server build empties it).
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  void SetBuffer(const TComBuffer& value);  // assigns, then always re-applies the queue sizes
  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  void SetParity(const TComParity& value);
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComFlowControl& FlowControl() { return flow_control_; }
  const TComFlowControl& FlowControl() const { return flow_control_; }
  void SetFlowControl(const TComFlowControl& value);
  TSyncMethod SyncMethod() const { return sync_method_; }
  // Raises EComPort code 14 when the value differs while connected.
  void SetSyncMethod(TSyncMethod value);
  // Groups that the settings store writes and reads (default: basic only).
  EnumSet<TStoredProp, uint8_t> StoredProps() const { return stored_props_; }
  void SetStoredProps(EnumSet<TStoredProp, uint8_t> value) { stored_props_ = value; }

  // Event handlers, called by the Notify* hooks when set.
  TRxCharEvent OnRxChar;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComErrorEvent OnError;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TNotifyEvent OnRx80Full;

  // Opens the device and applies all settings. Does nothing when connected or designing.
  // Raises EComPort (code 1 when the device cannot be opened, with the errno); a failure after
  // the device was opened closes it again, except in the after-open signal reports (code 11),
  // which leave the port open.
  void Open();
  // Does nothing when not connected or designing.
  void Close();

  // Synchronous transfer; never raise. Write returns the bytes written (what was written when
  // its time-out ran out, 0 after a failure). Read returns after count bytes or when its
  // time-outs run out, with the bytes read (0 on failure). In the configurator build Read goes
  // through an asynchronous transfer record and raises code 3 on failure.
  int32_t Write(const void* buffer, int32_t count);
  int32_t Read(void* buffer, int32_t count);

  // Status calls; each raises EComPort with its code on failure.
  int32_t PendingInputCount();          // bytes waiting; clears the error state (code 10)
  uint32_t ReadErrorFlags();            // raw kCe* flags, cleared by the call (code 10)
  TComErrors ReadLineErrors();          // the same, mapped; parity only with Parity.Check (code 10)
  TModemSignals ReadLineSignals();      // code 11
  void SetDtrLine(bool state);          // code 12
  void SetRtsLine(bool state);          // code 12
  void PurgeQueues(bool input, bool output);  // code 5

  // Settings store: the groups of StoredProps as values of the section Name / the open key.
  virtual void WriteIniFile(TCustomIniFile& ini);
  virtual void WriteRegistry(TRegistryKey& key);
  virtual void ReadIniFile(TCustomIniFile& ini);
  virtual void ReadRegistry(TRegistryKey& key);

  // Configurator build, asynchronous reading. No record: code 4. StartRead returns the bytes
  // read at once (0 while the read is under way); WaitForTransfer waits without limit and
  // returns the bytes transferred (code 3 for a failed read, code 2 for a failed write).
  int32_t StartRead(void* buffer, int32_t count, TAsyncTransfer* record);
  int32_t WaitForTransfer(TAsyncTransfer* record);

  // The event machinery's state: a thread while open with a non-empty event set, a window
  // while open under smWindowSync.
  bool HasEventThread() const { return thread_ != nullptr; }
  bool HasWindow() const { return window_allocated_; }

  // The report step of one event (what the event thread runs for it).
  void ReportEvent(TComEvent event);
  // The port window's message handler: WM_COMPORT_EVENT runs the report step of the event
  // named by wParam; other messages do nothing.
  virtual void WindowProc(uint32_t message, uint32_t wParam, int32_t lParam);

 protected:
  virtual void OpenDevice();
  virtual void CloseDevice();
  virtual void ApplyAllSettings();

  virtual void NotifyAfterClose();
  virtual void NotifyAfterOpen();
  virtual void NotifyBeforeClose();
  virtual void NotifyBeforeOpen();
  virtual void NotifyRxChar(int32_t count);
  virtual void NotifyTxEmpty();
  virtual void NotifyBreak();
  virtual void NotifyRing();
  virtual void NotifyRxFlag();
  virtual void NotifyCTSChange(bool state);
  virtual void NotifyDSRChange(bool state);
  virtual void NotifyLineError(TComErrors errors);
  virtual void NotifyRLSDChange(bool state);
  virtual void NotifyRx80Full();

  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyQueueSizes();

 private:
  friend class TComTimeouts;
  friend class TComFlowControl;
  friend class TComParity;
  friend class TComBuffer;
  friend class TComThread;

  bool MayApply() const { return connected_ && !loading_ && !designing_; }
  void ClearError(uint32_t& errors, uint32_t& inQueue);
  void StopEventThread();

  // Component part.
  std::string name_;
  bool loading_ = false;
  bool designing_ = false;
  std::vector<TComPortObserver*> observers_;
  const TComPortBuild build_;

  std::unique_ptr<TComThread> thread_;
  bool window_allocated_ = false;
  bool connected_ = false;
  TBaudRate baud_rate_ = br9600;
  int32_t custom_baud_rate_ = 9600;
  std::string port_ = "COM1";
  TStopBits stop_bits_ = sbOneStopBit;
  TDataBits data_bits_ = dbEight;
  bool discard_null_ = false;
  uint8_t event_char_ = 0;
  TComEvents events_ = kAllComEvents;
  TComBuffer buffer_;
  TComParity parity_;
  TComTimeouts timeouts_;
  TComFlowControl flow_control_;
  TSyncMethod sync_method_ = smThreadSync;
  EnumSet<TStoredProp, uint8_t> stored_props_{spBasic};

  ComLine line_;
  TMainThreadDispatcher* dispatcher_ = nullptr;
};

// Publishes everything; adds nothing.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

}  // namespace serial
