#include "serial/com_port.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "serial/com_texts.h"
#include "serial/com_thread.h"
#include "serial/main_thread.h"
#include "serial/port_name.h"
#include "serial/tty_backend.h"

namespace serial {

// --- asynchronous transfer records ---

void CreateAsyncRecord(PAsync& record) { record = std::make_unique<TAsyncTransfer>(); }

void FreeAsyncRecord(PAsync& record) {
  if (record && record->worker.joinable()) record->worker.join();
  record.reset();
}

// --- construction ---

TCustomComPort::TCustomComPort(std::shared_ptr<ComBackend> backend, TComPortBuild build)
    : build_(build), line_(backend ? std::move(backend) : std::make_shared<TtyBackend>()) {
  buffer_.com_port_ = this;
  parity_.com_port_ = this;
  timeouts_.com_port_ = this;
  flow_control_.com_port_ = this;
}

TCustomComPort::~TCustomComPort() {
  for (TComPortObserver* o : std::exchange(observers_, {})) o->PortRemoved(*this);
  try {
    Close();
  } catch (...) {
    // A destructor must not throw: whatever Close left open goes now.
    StopEventThread();
    CloseDevice();
    connected_ = false;
  }
}

void TCustomComPort::Loaded() {
  loading_ = false;
  if (connected_ && !designing_) {
    connected_ = false;
    try {
      Open();
    } catch (...) {
      HandleApplicationException(Dispatcher(), std::current_exception());
    }
  }
}

void TCustomComPort::FreeNotification(TComPortObserver* observer) {
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) observers_.push_back(observer);
}

void TCustomComPort::RemoveFreeNotification(TComPortObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

TMainThreadDispatcher* TCustomComPort::Dispatcher() const {
  return dispatcher_ ? dispatcher_ : MainThreadDispatcher();
}

// --- setters ---

void TCustomComPort::SetConnected(bool value) {
  if (loading_ || designing_) {
    connected_ = value;
    return;
  }
  if (value == connected_) return;
  if (value)
    Open();
  else
    Close();
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (value == baud_rate_) return;
  baud_rate_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int32_t value) {
  if (value == custom_baud_rate_) return;
  custom_baud_rate_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  port_ = value;
  if (MayApply()) {
    Close();
    Open();
  }
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (value == stop_bits_) return;
  stop_bits_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (value == data_bits_) return;
  data_bits_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (value == discard_null_) return;
  discard_null_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetEventChar(uint8_t value) {
  if (value == event_char_) return;
  event_char_ = value;
  ApplyLineSettings();
}

// Assign re-applies its group once, also when nothing changed.
void TCustomComPort::SetBuffer(const TComBuffer& value) { buffer_.Assign(value); }
void TCustomComPort::SetParity(const TComParity& value) { parity_.Assign(value); }
void TCustomComPort::SetTimeouts(const TComTimeouts& value) { timeouts_.Assign(value); }
void TCustomComPort::SetFlowControl(const TComFlowControl& value) { flow_control_.Assign(value); }

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == sync_method_) return;
  if (MayApply()) throw EComPort::CreateWithCode(CError_SyncMeth);
  sync_method_ = value;
}

// --- opening and closing ---

void TCustomComPort::Open() {
  if (connected_ || designing_) return;
  if (build_ == TComPortBuild::Server) events_ = {};
  NotifyBeforeOpen();
  OpenDevice();
  connected_ = true;
  try {
    ApplyAllSettings();
  } catch (...) {
    CloseDevice();
    connected_ = false;
    throw;
  }
  if (!events_.Empty()) {
    window_allocated_ = sync_method_ == smWindowSync;
    thread_ = std::make_unique<TComThread>(*this);
  }
  NotifyAfterOpen();
  const TModemSignals signals = ReadLineSignals();
  NotifyCTSChange(signals.Contains(msCTS));
  NotifyDSRChange(signals.Contains(msDSR));
  NotifyRLSDChange(signals.Contains(msRLSD));
}

void TCustomComPort::Close() {
  if (!connected_ || designing_) return;
  NotifyCTSChange(false);
  NotifyDSRChange(false);
  NotifyRLSDChange(false);
  NotifyBeforeClose();
  if (int e = line_.Purge(kPurgeTxAbort | kPurgeRxAbort)) throw EComPort(CError_PurgeFailed, e);
  StopEventThread();
  CloseDevice();
  connected_ = false;
  NotifyAfterClose();
}

void TCustomComPort::StopEventThread() {
  // From one of the thread's own reports it cannot be waited for: it frees itself afterwards.
  if (thread_ && thread_->ReportsOnThisThread())
    thread_.release()->FreeAfterReport();
  else
    thread_.reset();
  window_allocated_ = false;
}

void TCustomComPort::OpenDevice() {
  if (int e = line_.Open(DevicePath(port_))) throw EComPort(CError_OpenFailed, e);
}

void TCustomComPort::CloseDevice() {
  if (line_.IsOpen()) line_.Close();
}

// Never a closed device's number, which is soon another file's; in both builds.
int TCustomComPort::DeviceHandle() const { return line_.IsOpen() ? line_.Backend().Handle() : -1; }

// --- applying settings ---

void TCustomComPort::ApplyAllSettings() {
  ApplyQueueSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings() {
  if (!MayApply()) return;
  const bool check = parity_.Check();
  const bool replace = check && parity_.Replace();
  TDeviceControl d;
  d.Length = kDeviceControlLength;
  d.BaudRate = baud_rate_ == brCustom ? uint32_t(custom_baud_rate_) : BaudRateValue(baud_rate_);
  uint32_t f = kDcbBinary;
  if (check) f |= kDcbParity;
  if (flow_control_.OutCTSFlow()) f |= kDcbOutxCtsFlow;
  if (flow_control_.OutDSRFlow()) f |= kDcbOutxDsrFlow;
  f |= uint32_t(flow_control_.ControlDTR()) << kDcbDtrControlShift;
  if (flow_control_.DSRSensitivity()) f |= kDcbDsrSensitivity;
  if (flow_control_.TxContinueOnXoff()) f |= kDcbTxContinueOnXoff;
  if (flow_control_.XonXoffOut()) f |= kDcbOutX;
  if (flow_control_.XonXoffIn()) f |= kDcbInX;
  if (replace) f |= kDcbErrorChar;
  if (discard_null_) f |= kDcbNull;
  f |= uint32_t(flow_control_.ControlRTS()) << kDcbRtsControlShift;
  d.Flags = f;
  d.XonLim = d.XoffLim = uint16_t(buffer_.InputSize() / 4);
  d.ByteSize = uint8_t(5 + data_bits_);
  d.Parity = uint8_t(parity_.Bits());
  d.StopBits = uint8_t(stop_bits_);
  d.XonChar = flow_control_.XonChar();
  d.XoffChar = flow_control_.XoffChar();
  d.ErrorChar = replace ? parity_.ReplaceChar() : 0;
  d.EvtChar = event_char_;
  if (int e = line_.SetState(d)) throw EComPort(CError_SetStateFailed, e);
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!MayApply()) return;
  TCommTimeouts t;
  t.ReadIntervalTimeout = uint32_t(timeouts_.ReadInterval());
  t.ReadTotalTimeoutMultiplier = uint32_t(timeouts_.ReadTotalMultiplier());
  t.ReadTotalTimeoutConstant = uint32_t(timeouts_.ReadTotalConstant());
  t.WriteTotalTimeoutMultiplier = uint32_t(timeouts_.WriteTotalMultiplier());
  t.WriteTotalTimeoutConstant = uint32_t(timeouts_.WriteTotalConstant());
  if (int e = line_.SetTimeouts(t)) throw EComPort(CError_TimeoutsFailed, e);
}

void TCustomComPort::ApplyQueueSizes() {
  if (!MayApply()) return;
  if (int e = line_.SetupQueues(buffer_.InputSize(), buffer_.OutputSize())) throw EComPort(CError_SetupComFailed, e);
}

// --- transfer ---

int32_t TCustomComPort::Write(const void* buffer, int32_t count) {
  if (count <= 0 || !buffer) return 0;
  try {
    return int32_t(line_.Write(static_cast<const uint8_t*>(buffer), size_t(count)));
  } catch (...) {
    return 0;
  }
}

int32_t TCustomComPort::Read(void* buffer, int32_t count) {
  if (count <= 0 || !buffer) return 0;
  if (build_ == TComPortBuild::Configurator) {
    PAsync record;
    CreateAsyncRecord(record);
    try {
      StartRead(buffer, count, record.get());
      int32_t n = WaitForTransfer(record.get());
      FreeAsyncRecord(record);
      return n;
    } catch (...) {
      FreeAsyncRecord(record);
      throw;
    }
  }
  try {
    return int32_t(line_.Read(static_cast<uint8_t*>(buffer), size_t(count)));
  } catch (...) {
    return 0;
  }
}

int32_t TCustomComPort::StartRead(void* buffer, int32_t count, TAsyncTransfer* record) {
  if (!record) throw EComPort::CreateWithCode(CError_InvalidAsync);
  record->Kind = 1;
  if (!line_.IsOpen()) throw EComPort(CError_ReadFailed, EBADF);
  if (record->worker.joinable()) record->worker.join();
  record->result = 0;
  record->error = 0;
  const size_t n = count > 0 ? size_t(count) : 0;
  record->worker = std::thread([this, record, buffer, n] {
    int error = 0;
    record->result = line_.Read(static_cast<uint8_t*>(buffer), n, &error);
    record->error = error;
  });
  return 0;  // under way
}

int32_t TCustomComPort::WaitForTransfer(TAsyncTransfer* record) {
  if (!record) throw EComPort::CreateWithCode(CError_InvalidAsync);
  if (record->worker.joinable()) record->worker.join();
  if (record->error) throw EComPort(record->Kind == 1 ? CError_ReadFailed : CError_WriteFailed, record->error);
  return int32_t(record->result);
}

// --- status ---

void TCustomComPort::ClearError(uint32_t& errors, uint32_t& inQueue) {
  uint32_t out_queue = 0;
  if (int e = line_.ClearError(errors, inQueue, out_queue)) throw EComPort(CError_ClearComFailed, e);
}

int32_t TCustomComPort::PendingInputCount() {
  uint32_t errors = 0, in_queue = 0;
  ClearError(errors, in_queue);
  return int32_t(in_queue);
}

uint32_t TCustomComPort::ReadErrorFlags() {
  uint32_t errors = 0, in_queue = 0;
  ClearError(errors, in_queue);
  return errors;
}

TComErrors TCustomComPort::ReadLineErrors() {
  const uint32_t f = ReadErrorFlags();
  TComErrors e;
  if (f & kCeFrame) e.Include(errFrame);
  if ((f & kCeRxParity) && parity_.Check()) e.Include(errRxParity);
  if (f & kCeOverrun) e.Include(errOverrun);
  if (f & kCeRxOver) e.Include(errRxOver);
  if (f & kCeTxFull) e.Include(errTxFull);
  if (f & kCeBreak) e.Include(errBreak);
  if (f & kCeIO) e.Include(errIO);
  if (f & kCeMode) e.Include(errMode);
  return e;
}

TModemSignals TCustomComPort::ReadLineSignals() {
  uint32_t status = 0;
  if (int e = line_.GetModemStatus(status)) throw EComPort(CError_ModemStatFailed, e);
  TModemSignals s;
  if (status & kMsCtsOn) s.Include(msCTS);
  if (status & kMsDsrOn) s.Include(msDSR);
  if (status & kMsRingOn) s.Include(msRing);
  if (status & kMsRlsdOn) s.Include(msRLSD);
  return s;
}

void TCustomComPort::SetDtrLine(bool state) {
  if (int e = line_.Escape(state ? kSetDtr : kClrDtr)) throw EComPort(CError_EscapeComFailed, e);
}

void TCustomComPort::SetRtsLine(bool state) {
  if (int e = line_.Escape(state ? kSetRts : kClrRts)) throw EComPort(CError_EscapeComFailed, e);
}

void TCustomComPort::PurgeQueues(bool input, bool output) {
  uint32_t flags = (input ? kPurgeRxClear : 0) | (output ? kPurgeTxClear : 0);
  if (int e = line_.Purge(flags)) throw EComPort(CError_PurgeFailed, e);
}

// --- events ---

void TCustomComPort::ReportEvent(TComEvent event) {
  switch (event) {
    case evError: {
      TComErrors errors = ReadLineErrors();
      if (!errors.Empty()) NotifyLineError(errors);
      break;
    }
    case evRxChar: {
      int32_t count = PendingInputCount();
      if (count > 0) NotifyRxChar(count);
      break;
    }
    case evTxEmpty: NotifyTxEmpty(); break;
    case evBreak: NotifyBreak(); break;
    case evRing: NotifyRing(); break;
    case evCTS: NotifyCTSChange(ReadLineSignals().Contains(msCTS)); break;
    case evDSR: NotifyDSRChange(ReadLineSignals().Contains(msDSR)); break;
    case evRxFlag: NotifyRxFlag(); break;
    case evRLSD: NotifyRLSDChange(ReadLineSignals().Contains(msRLSD)); break;
    case evRx80Full: NotifyRx80Full(); break;
  }
}

void TCustomComPort::WindowProc(uint32_t message, uint32_t wParam, int32_t) {
  if (message != WM_COMPORT_EVENT) return;
  for (int e = 0; e < kComEventCount; ++e) {
    if (EventMaskBit(TComEvent(e)) == wParam) {
      ReportEvent(TComEvent(e));
      return;
    }
  }
}

// --- event hooks ---

void TCustomComPort::NotifyAfterClose() { if (OnAfterClose) OnAfterClose(*this); }
void TCustomComPort::NotifyAfterOpen() { if (OnAfterOpen) OnAfterOpen(*this); }
void TCustomComPort::NotifyBeforeClose() { if (OnBeforeClose) OnBeforeClose(*this); }
void TCustomComPort::NotifyBeforeOpen() { if (OnBeforeOpen) OnBeforeOpen(*this); }
void TCustomComPort::NotifyRxChar(int32_t count) { if (OnRxChar) OnRxChar(*this, count); }
void TCustomComPort::NotifyTxEmpty() { if (OnTxEmpty) OnTxEmpty(*this); }
void TCustomComPort::NotifyBreak() { if (OnBreak) OnBreak(*this); }
void TCustomComPort::NotifyRing() { if (OnRing) OnRing(*this); }
void TCustomComPort::NotifyRxFlag() { if (OnRxFlag) OnRxFlag(*this); }
void TCustomComPort::NotifyCTSChange(bool state) { if (OnCTSChange) OnCTSChange(*this, state); }
void TCustomComPort::NotifyDSRChange(bool state) { if (OnDSRChange) OnDSRChange(*this, state); }
void TCustomComPort::NotifyLineError(TComErrors errors) { if (OnError) OnError(*this, errors); }
void TCustomComPort::NotifyRLSDChange(bool state) { if (OnRLSDChange) OnRLSDChange(*this, state); }
void TCustomComPort::NotifyRx80Full() { if (OnRx80Full) OnRx80Full(*this); }

}  // namespace serial
