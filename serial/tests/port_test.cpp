#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/fake_backend.h"
#include "serial/main_thread.h"
#include "serial/tests/expect_com_error.h"
#include "serial/tests/fake_port.h"

namespace serial {
namespace {

using testing::ExpectComError;
using testing::FakePortTest;

TDeviceControl DefaultState() {
  TDeviceControl d;
  d.Length = 28;
  d.BaudRate = 9600;
  d.Flags = kDcbBinary;
  d.XonLim = d.XoffLim = 256;
  d.ByteSize = 8;
  d.XonChar = 17;
  d.XoffChar = 19;
  return d;
}

TEST_F(FakePortTest, OpenAndCloseRunTheirStepsInOrder) {
  std::vector<std::string> steps;
  port.OnBeforeOpen = [&](TCustomComPort&) { steps.push_back("before open, device " + std::to_string(dev->IsOpen())); };
  port.OnAfterOpen = [&](TCustomComPort& p) {
    steps.push_back("after open, state set " + std::to_string(dev->StateCount()) + ", connected " +
                    std::to_string(p.Connected()));
  };
  port.OnCTSChange = [&](TCustomComPort&, bool on) { steps.push_back("cts " + std::to_string(on)); };
  port.OnDSRChange = [&](TCustomComPort&, bool on) { steps.push_back("dsr " + std::to_string(on)); };
  port.OnRLSDChange = [&](TCustomComPort&, bool on) { steps.push_back("rlsd " + std::to_string(on)); };
  port.OnBeforeClose = [&](TCustomComPort&) {
    steps.push_back("before close, purges " + std::to_string(dev->Purges().size()));
  };
  port.OnAfterClose = [&](TCustomComPort& p) {
    steps.push_back("after close, device " + std::to_string(dev->IsOpen()) + ", connected " +
                    std::to_string(p.Connected()));
  };
  dev->SetModemStatus(kMsCtsOn | kMsRlsdOn);
  port.SetPort("ttyUSB3");

  port.Open();
  EXPECT_TRUE(port.Events().Empty()) << "the server build clears Events";
  EXPECT_FALSE(port.HasEventThread());
  EXPECT_EQ(dev->OpenedPath(), "/dev/ttyUSB3");
  EXPECT_GE(port.DeviceHandle(), 0);
  port.Open();  // already open: nothing
  EXPECT_EQ(dev->OpenCount(), 1);
  port.Close();
  EXPECT_EQ(port.DeviceHandle(), -1);
  EXPECT_EQ(dev->Purges(), std::vector<uint32_t>{kPurgeTxAbort | kPurgeRxAbort});

  const std::vector<std::string> want = {
      "before open, device 0", "after open, state set 1, connected 1", "cts 1", "dsr 0", "rlsd 1",
      "cts 0",                 "dsr 0",                                 "rlsd 0", "before close, purges 0",
      "after close, device 0, connected 0"};
  EXPECT_EQ(steps, want);
  port.Close();  // already closed: nothing
  EXPECT_EQ(steps.size(), want.size());
}

TEST_F(FakePortTest, SettingsBecomeTheDeviceControlRecord) {
  struct Row {
    const char* name;
    std::function<void(TComPort&)> set;
    std::function<void(TDeviceControl&)> want;
  } rows[] = {
      {"defaults", [](TComPort&) {}, [](TDeviceControl&) {}},
      {"custom rate 9600",
       [](TComPort& p) { p.SetBaudRate(brCustom); },
       [](TDeviceControl&) {}},
      {"custom rate 250000",
       [](TComPort& p) { p.SetBaudRate(brCustom), p.SetCustomBaudRate(250000); },
       [](TDeviceControl& d) { d.BaudRate = 250000; }},
      {"custom rate ignored for a listed rate",
       [](TComPort& p) { p.SetCustomBaudRate(250000), p.SetBaudRate(br14400); },
       [](TDeviceControl& d) { d.BaudRate = 14400; }},
      {"256000", [](TComPort& p) { p.SetBaudRate(br256000); }, [](TDeviceControl& d) { d.BaudRate = 256000; }},
      {"110", [](TComPort& p) { p.SetBaudRate(br110); }, [](TDeviceControl& d) { d.BaudRate = 110; }},
      {"7 data bits, mark parity, 2 stop bits",
       [](TComPort& p) { p.SetDataBits(dbSeven), p.Parity().SetBits(prMark), p.SetStopBits(sbTwoStopBits); },
       [](TDeviceControl& d) { d.ByteSize = 7, d.Parity = 3, d.StopBits = 2; }},
      {"5 data bits, space parity, 1.5 stop bits",
       [](TComPort& p) { p.SetDataBits(dbFive), p.Parity().SetBits(prSpace), p.SetStopBits(sbOne5StopBits); },
       [](TDeviceControl& d) { d.ByteSize = 5, d.Parity = 4, d.StopBits = 1; }},
      {"parity check without replace",
       [](TComPort& p) { p.Parity().SetCheck(true), p.Parity().SetReplaceChar('?'); },
       [](TDeviceControl& d) { d.Flags |= kDcbParity; }},
      {"replace without check does nothing",
       [](TComPort& p) { p.Parity().SetReplace(true), p.Parity().SetReplaceChar('?'); },
       [](TDeviceControl&) {}},
      {"check and replace",
       [](TComPort& p) { p.Parity().SetCheck(true), p.Parity().SetReplace(true), p.Parity().SetReplaceChar('?'); },
       [](TDeviceControl& d) { d.Flags |= kDcbParity | kDcbErrorChar, d.ErrorChar = '?'; }},
      {"hardware flow",
       [](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); },
       [](TDeviceControl& d) { d.Flags |= kDcbOutxCtsFlow | (2u << kDcbRtsControlShift); }},
      {"software flow",
       [](TComPort& p) { p.FlowControl().SetFlowControl(fcSoftware); },
       [](TDeviceControl& d) { d.Flags |= kDcbOutX | kDcbInX; }},
      {"DTR enable, DSR flow and sensitivity, continue on Xoff",
       [](TComPort& p) {
         p.FlowControl().SetControlDTR(dtrEnable), p.FlowControl().SetOutDSRFlow(true);
         p.FlowControl().SetDSRSensitivity(true), p.FlowControl().SetTxContinueOnXoff(true);
       },
       [](TDeviceControl& d) {
         d.Flags |= (1u << kDcbDtrControlShift) | kDcbOutxDsrFlow | kDcbDsrSensitivity | kDcbTxContinueOnXoff;
       }},
      {"DTR handshake, RTS toggle",
       [](TComPort& p) { p.FlowControl().SetControlDTR(dtrHandshake), p.FlowControl().SetControlRTS(rtsToggle); },
       [](TDeviceControl& d) { d.Flags |= (2u << kDcbDtrControlShift) | (3u << kDcbRtsControlShift); }},
      {"discard null, event and Xon/Xoff characters",
       [](TComPort& p) {
         p.SetDiscardNull(true), p.SetEventChar(13), p.FlowControl().SetXonChar('Q'), p.FlowControl().SetXoffChar('S');
       },
       [](TDeviceControl& d) { d.Flags |= kDcbNull, d.EvtChar = 13, d.XonChar = 'Q', d.XoffChar = 'S'; }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    for (bool before_open : {true, false}) {
      auto device = std::make_shared<FakeComBackend>();
      TComPort p(device);
      if (before_open) r.set(p);
      p.Open();
      if (!before_open) r.set(p);
      TDeviceControl want = DefaultState();
      r.want(want);
      EXPECT_EQ(device->State(), want) << (before_open ? "set before Open" : "set while open");
    }
  }
}

TEST_F(FakePortTest, SettersReapplyOnlyWhatChangedWhileConnected) {
  struct Row {
    const char* name;
    std::function<void(TComPort&)> set;
    int state_sets;  // line settings applied
  } rows[] = {
      {"equal baud rate", [](TComPort& p) { p.SetBaudRate(br9600); }, 0},
      {"other baud rate", [](TComPort& p) { p.SetBaudRate(br19200); }, 1},
      {"equal parity bits", [](TComPort& p) { p.Parity().SetBits(prNone); }, 0},
      {"parity check", [](TComPort& p) { p.Parity().SetCheck(true); }, 1},
      {"flow control fcCustom changes nothing but re-applies", [](TComPort& p) { p.FlowControl().SetFlowControl(fcCustom); }, 1},
      {"flow control fcNone on fcNone still re-applies", [](TComPort& p) { p.FlowControl().SetFlowControl(fcNone); }, 1},
      {"equal Xon character", [](TComPort& p) { p.FlowControl().SetXonChar(17); }, 0},
      {"time-outs are no line settings", [](TComPort& p) { p.Timeouts().SetReadTotalConstant(50); }, 0},
      {"assigning parity re-applies once", [](TComPort& p) { TComParity par; p.SetParity(par); }, 1},
      {"equal custom rate", [](TComPort& p) { p.SetCustomBaudRate(9600); }, 0},
      {"events are only stored", [](TComPort& p) { p.SetEvents({evRxChar}); }, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto device = std::make_shared<FakeComBackend>();
    TComPort p(device);
    p.Open();
    const int before = device->StateCount();
    r.set(p);
    EXPECT_EQ(device->StateCount() - before, r.state_sets);
  }
}

TEST_F(FakePortTest, SettersWhileClosedOnlyStore) {
  port.SetBaudRate(br115200);
  port.Parity().SetCheck(true);
  port.Buffer().SetInputSize(2048);
  EXPECT_EQ(dev->StateCount(), 0);
  port.Open();
  EXPECT_EQ(dev->StateCount(), 1);
  EXPECT_EQ(dev->State().BaudRate, 115200u);
  EXPECT_EQ(dev->State().XonLim, 512) << "the Xon/Xoff limits follow the input size";
  EXPECT_EQ(dev->State().XoffLim, 512);
  EXPECT_EQ(dev->InputQueueSize(), 2048u);
}

TEST_F(FakePortTest, BufferSizesRoundDownOddValues) {
  struct Row {
    int32_t set, stored;
  } rows[] = {{1025, 1024}, {1024, 1024}, {7, 6}, {1, 0}, {2, 2}, {0, 0}, {-3, -3}, {-4, -4}};
  for (const auto& r : rows) {
    port.Buffer().SetInputSize(r.set);
    port.Buffer().SetOutputSize(r.set);
    EXPECT_EQ(port.Buffer().InputSize(), r.stored) << r.set;
    EXPECT_EQ(port.Buffer().OutputSize(), r.stored) << r.set;
  }
}

TEST_F(FakePortTest, NegativeQueueSizeFailsWithCode9AndIsKept) {
  port.Open();
  ExpectComError([&] { port.Buffer().SetInputSize(-2); }, CError_SetupComFailed, EINVAL);
  EXPECT_EQ(port.Buffer().InputSize(), -2) << "the new value stays stored";
}

TEST(FlowControl, DerivedValueFromTheFourFields) {
  struct Row {
    TRTSFlowControl rts;
    bool cts, xin, xout;
    TFlowControl want;
  } rows[] = {
      {rtsHandshake, true, false, false, fcHardware}, {rtsDisable, false, true, true, fcSoftware},
      {rtsDisable, false, false, false, fcNone},      {rtsEnable, false, false, false, fcCustom},
      {rtsHandshake, false, false, false, fcCustom},  {rtsHandshake, true, true, false, fcCustom},
      {rtsDisable, false, true, false, fcCustom},     {rtsDisable, true, false, false, fcCustom},
      {rtsToggle, false, true, true, fcCustom},
  };
  for (const auto& r : rows) {
    TComFlowControl f;
    f.SetControlRTS(r.rts);
    f.SetOutCTSFlow(r.cts);
    f.SetXonXoffIn(r.xin);
    f.SetXonXoffOut(r.xout);
    EXPECT_EQ(f.FlowControl(), r.want) << int(r.rts) << r.cts << r.xin << r.xout;
  }
}

TEST(FlowControl, WritingTheDerivedValueKeepsTheOtherFields) {
  for (TFlowControl v : {fcHardware, fcSoftware, fcNone}) {
    TComFlowControl f;
    f.SetControlRTS(rtsToggle);
    f.SetOutCTSFlow(true);
    f.SetXonXoffIn(true);
    f.SetControlDTR(dtrHandshake);
    f.SetOutDSRFlow(true);
    f.SetDSRSensitivity(true);
    f.SetTxContinueOnXoff(true);
    f.SetXonChar(1);
    f.SetXoffChar(2);
    f.SetFlowControl(v);
    EXPECT_EQ(f.FlowControl(), v);
    EXPECT_EQ(f.ControlDTR(), dtrHandshake);
    EXPECT_TRUE(f.OutDSRFlow() && f.DSRSensitivity() && f.TxContinueOnXoff());
    EXPECT_EQ(f.XonChar(), 1);
    EXPECT_EQ(f.XoffChar(), 2);
  }
  TComFlowControl custom;
  custom.SetControlRTS(rtsEnable);
  custom.SetFlowControl(fcCustom);
  EXPECT_EQ(custom.ControlRTS(), rtsEnable) << "fcCustom touches nothing";
  EXPECT_EQ(TComFlowControl().FlowControl(), fcNone);
}

// One failing device call per row, and the code the port raises for it.
TEST_F(FakePortTest, FailingDeviceCallsRaiseTheirCodes) {
  struct Row {
    const char* name;
    FakeOp op;
    bool open_first;  // the failure comes after a good Open
    std::function<void(TComPort&)> call;
    int32_t code;
    bool connected_after;
  } rows[] = {
      {"open", FakeOp::Open, false, [](TComPort& p) { p.Open(); }, CError_OpenFailed, false},
      {"state at open", FakeOp::SetState, false, [](TComPort& p) { p.Open(); }, CError_SetStateFailed, false},
      {"queues at open", FakeOp::SetupQueues, false, [](TComPort& p) { p.Open(); }, CError_SetupComFailed, false},
      {"signals at open", FakeOp::GetModemStatus, false, [](TComPort& p) { p.Open(); }, CError_ModemStatFailed, true},
      {"state while open", FakeOp::SetState, true, [](TComPort& p) { p.SetBaudRate(br1200); }, CError_SetStateFailed, true},
      {"pending input", FakeOp::ClearError, true, [](TComPort& p) { p.PendingInputCount(); }, CError_ClearComFailed, true},
      {"error flags", FakeOp::ClearError, true, [](TComPort& p) { p.ReadErrorFlags(); }, CError_ClearComFailed, true},
      {"line errors", FakeOp::ClearError, true, [](TComPort& p) { p.ReadLineErrors(); }, CError_ClearComFailed, true},
      {"signals", FakeOp::GetModemStatus, true, [](TComPort& p) { p.ReadLineSignals(); }, CError_ModemStatFailed, true},
      {"DTR", FakeOp::Escape, true, [](TComPort& p) { p.SetDtrLine(true); }, CError_EscapeComFailed, true},
      {"RTS", FakeOp::Escape, true, [](TComPort& p) { p.SetRtsLine(false); }, CError_EscapeComFailed, true},
      {"purge", FakeOp::Purge, true, [](TComPort& p) { p.PurgeQueues(true, false); }, CError_PurgeFailed, true},
      {"abort at close", FakeOp::Purge, true, [](TComPort& p) { p.Close(); }, CError_PurgeFailed, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto device = std::make_shared<FakeComBackend>();
    TComPort p(device);
    if (r.open_first) p.Open();
    device->FailWith(r.op, EACCES);
    try {
      r.call(p);
      ADD_FAILURE() << "no exception";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.Code, r.code);
      EXPECT_EQ(e.OsErrorCode, EACCES);
      EXPECT_EQ(std::string(e.what()), std::string(ComErrorText(r.code)) + " (win error code: 13)");
    }
    EXPECT_EQ(p.Connected(), r.connected_after);
    EXPECT_EQ(device->IsOpen(), r.connected_after);
    EXPECT_EQ(p.DeviceHandle() != -1, r.connected_after);
    device->FailWith(r.op, 0);
  }
}

TEST_F(FakePortTest, StatusCallsOnAClosedPortFailAndTransfersReturnNothing) {
  EXPECT_THROW(port.PendingInputCount(), EComPort);
  EXPECT_THROW(port.ReadLineSignals(), EComPort);
  EXPECT_THROW(port.SetDtrLine(true), EComPort);
  EXPECT_THROW(port.PurgeQueues(true, true), EComPort);
  char b[4] = {};
  EXPECT_EQ(port.Write("abc", 3), 0);
  EXPECT_EQ(port.Read(b, 4), 0);
}

TEST_F(FakePortTest, SyncMethodCannotChangeWhileConnected) {
  port.SetSyncMethod(smNone);
  EXPECT_EQ(port.SyncMethod(), smNone);
  port.Open();
  EXPECT_NO_THROW(port.SetSyncMethod(smNone));
  ExpectComError([&] { port.SetSyncMethod(smWindowSync); }, CError_SyncMeth, -1);
  EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(FakePortTest, ChangingThePortNameReopens) {
  port.SetPort("COM2");
  port.Open();
  EXPECT_EQ(dev->OpenedPath(), "/dev/ttyS1");
  port.SetPort("COM2");
  EXPECT_EQ(dev->OpenCount(), 1);
  port.SetPort("com2");  // letter case counts
  EXPECT_EQ(dev->OpenCount(), 2);
  EXPECT_EQ(dev->OpenedPath(), "/dev/ttyS1");
  port.SetPort("/dev/pts/4");
  EXPECT_EQ(dev->OpenCount(), 3);
  EXPECT_EQ(dev->OpenedPath(), "/dev/pts/4");
  EXPECT_TRUE(port.Connected());
}

TEST_F(FakePortTest, SecondPortOnTheSameDeviceFailsWithCode1) {
  port.Open();
  TComPort second(dev);
  ExpectComError([&] { second.Open(); }, CError_OpenFailed, EBUSY);
  EXPECT_FALSE(second.Connected());
  EXPECT_TRUE(port.Connected());
}

TEST(Port, MissingDeviceRaisesCode1WithFileNotFound) {
  TComPort port;  // the tty backend
  port.SetPort("/dev/qar-no-such-port");
  ExpectComError([&] { port.Open(); }, CError_OpenFailed, ENOENT);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), -1);
}

TEST_F(FakePortTest, LineErrorsMapFlagsAndParityNeedsTheCheck) {
  struct Row {
    uint32_t flags;
    bool check;
    TComErrors want;
  } rows[] = {
      {kCeFrame, false, {errFrame}},
      {kCeRxParity, false, {}},
      {kCeRxParity, true, {errRxParity}},
      {kCeOverrun | kCeRxOver, false, {errOverrun, errRxOver}},
      {kCeBreak | kCeTxFull, false, {errBreak, errTxFull}},
      {kCeIO | kCeMode, true, {errIO, errMode}},
      {0, true, {}},
  };
  port.Open();
  for (const auto& r : rows) {
    port.Parity().SetCheck(r.check);
    dev->RaiseErrors(r.flags);
    EXPECT_EQ(port.ReadLineErrors(), r.want) << r.flags << ' ' << r.check;
    EXPECT_EQ(port.ReadErrorFlags(), 0u) << "the flags are cleared by reading";
  }
  dev->RaiseErrors(kCeRxParity | kCeFrame);
  EXPECT_EQ(port.ReadErrorFlags(), kCeRxParity | kCeFrame);
}

TEST_F(FakePortTest, ModemSignalsAndLines) {
  struct Row {
    uint32_t status;
    TModemSignals want;
  } rows[] = {{0, {}}, {kMsCtsOn, {msCTS}}, {kMsDsrOn | kMsRingOn, {msDSR, msRing}}, {kMsRlsdOn, {msRLSD}}};
  port.Open();
  for (const auto& r : rows) {
    dev->SetModemStatus(r.status);
    EXPECT_EQ(port.ReadLineSignals(), r.want) << r.status;
  }
  port.SetDtrLine(true);
  port.SetRtsLine(true);
  EXPECT_TRUE(dev->Dtr() && dev->Rts());
  port.SetDtrLine(false);
  EXPECT_FALSE(dev->Dtr());
  EXPECT_TRUE(dev->Rts());
}

TEST_F(FakePortTest, PurgeFlagsAndPendingInput) {
  port.Open();
  dev->Receive("abcd");
  EXPECT_EQ(port.PendingInputCount(), 4);
  port.PurgeQueues(false, true);
  EXPECT_EQ(port.PendingInputCount(), 4);
  port.PurgeQueues(true, false);
  EXPECT_EQ(port.PendingInputCount(), 0);
  port.PurgeQueues(true, true);
  port.PurgeQueues(false, false);
  EXPECT_EQ(dev->Purges(), (std::vector<uint32_t>{kPurgeTxClear, kPurgeRxClear, kPurgeRxClear | kPurgeTxClear, 0}));
}

TEST_F(FakePortTest, DestroyingAnOpenPortClosesTheDevice) {
  {
    TComPort p(dev);
    p.Open();
    EXPECT_TRUE(dev->IsOpen());
  }
  EXPECT_FALSE(dev->IsOpen());
  // Even when the close step itself fails.
  {
    TComPort p(dev);
    p.SetLog([](std::string_view) {});  // the failing purge takes the device for lost
    p.Open();
    dev->FailWith(FakeOp::Purge, EIO);
  }
  EXPECT_FALSE(dev->IsOpen());
}

TEST_F(FakePortTest, LoadedOpensAPortReadAsConnected) {
  port.SetLoading(true);
  port.SetConnected(true);
  EXPECT_FALSE(dev->IsOpen()) << "while loading only the flag is stored";
  port.Loaded();
  EXPECT_TRUE(dev->IsOpen());
  EXPECT_TRUE(port.Connected());

  // A failure goes to the application's handler, not to the caller.
  TQueueDispatcher dispatcher;
  auto other = std::make_shared<FakeComBackend>();
  other->FailWith(FakeOp::Open, ENOENT);
  TComPort failing(other);
  failing.SetDispatcher(&dispatcher);
  failing.SetLoading(true);
  failing.SetConnected(true);
  EXPECT_NO_THROW(failing.Loaded());
  EXPECT_FALSE(failing.Connected());
  auto errors = dispatcher.TakeExceptions();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THROW(std::rethrow_exception(errors[0]), EComPort);
}

TEST_F(FakePortTest, DesigningPortNeverOpens) {
  port.SetDesigning(true);
  port.SetConnected(true);
  port.Open();
  EXPECT_FALSE(dev->IsOpen());
}

TEST_F(FakePortTest, ObserversHearOfTheRemoval) {
  struct Observer : TComPortObserver {
    int calls = 0;
    void PortRemoved(TCustomComPort&) override { ++calls; }
  } kept, removed;
  {
    TComPort p(dev);
    p.FreeNotification(&kept);
    p.FreeNotification(&kept);
    p.FreeNotification(&removed);
    p.RemoveFreeNotification(&removed);
  }
  EXPECT_EQ(kept.calls, 1);
  EXPECT_EQ(removed.calls, 0);
}

}  // namespace
}  // namespace serial
