// The event thread on the fake device: one wake-up's events in their fixed order, and the
// three ways of handing them to the handlers.
#include "serial/com_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/com_port.h"
#include "serial/fake_backend.h"
#include "serial/main_thread.h"

namespace serial {
namespace {

using namespace std::chrono_literals;

// What the handlers saw, from whichever thread they ran in.
class Journal {
 public:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    threads_.push_back(std::this_thread::get_id());
    cv_.notify_all();
  }
  // Waits until n entries are there (a thread's progress, not a protocol time-out).
  bool WaitFor(size_t n) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, 10s, [&] { return entries_.size() >= n; });
  }
  std::vector<std::string> Entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> entries_;
  std::vector<std::thread::id> threads_;
};

std::string ErrorsText(TComErrors e) {
  std::string s;
  const char* names[] = {"frame", "parity", "overrun", "break", "io", "mode", "rxover", "txfull"};
  for (int i = 0; i < 8; ++i)
    if (e.Contains(TComError(i))) s += std::string(s.empty() ? "" : ",") + names[i];
  return s;
}

void Record(TCustomComPort& port, Journal& j) {
  port.OnError = [&j](TCustomComPort&, TComErrors e) { j.Add("error " + ErrorsText(e)); };
  port.OnRxChar = [&j](TCustomComPort&, int32_t n) { j.Add("rx " + std::to_string(n)); };
  port.OnTxEmpty = [&j](TCustomComPort&) { j.Add("tx empty"); };
  port.OnBreak = [&j](TCustomComPort&) { j.Add("break"); };
  port.OnRing = [&j](TCustomComPort&) { j.Add("ring"); };
  port.OnCTSChange = [&j](TCustomComPort&, bool on) { j.Add("cts " + std::to_string(on)); };
  port.OnDSRChange = [&j](TCustomComPort&, bool on) { j.Add("dsr " + std::to_string(on)); };
  port.OnRxFlag = [&j](TCustomComPort&) { j.Add("rx flag"); };
  port.OnRLSDChange = [&j](TCustomComPort&, bool on) { j.Add("rlsd " + std::to_string(on)); };
  port.OnRx80Full = [&j](TCustomComPort&) { j.Add("rx 80% full"); };
}

class EventThreadTest : public ::testing::Test {
 protected:
  // The configurator's build keeps Events at Open.
  void OpenWith(TSyncMethod method) {
    port.SetSyncMethod(method);
    port.SetDispatcher(&dispatcher);
    port.Open();
    Record(port, journal);  // after Open: its own signal reports are not the subject here
  }
  // Runs main-thread calls until n handler entries are there.
  void Pump(size_t n) {
    for (int i = 0; i < 1000 && journal.Entries().size() < n; ++i) dispatcher.ProcessFor(10ms);
  }

  std::shared_ptr<FakeComBackend> dev = std::make_shared<FakeComBackend>();
  TQueueDispatcher dispatcher;
  Journal journal;
  TComPort port{dev, TComPortBuild::Configurator};
};

TEST_F(EventThreadTest, NoEventsNoThread) {
  port.SetEvents({});
  port.SetSyncMethod(smWindowSync);
  port.Open();
  EXPECT_FALSE(port.HasEventThread());
  EXPECT_FALSE(port.HasWindow());
  EXPECT_EQ(dev->EventMask(), 0u);
  port.Close();
  EXPECT_EQ(dev->Purges(), std::vector<uint32_t>{kPurgeTxAbort | kPurgeRxAbort});
}

TEST_F(EventThreadTest, OneWakeUpReportsInTheFixedOrder) {
  port.SetEventChar('!');
  port.Buffer().SetInputSize(4);
  OpenWith(smNone);
  ASSERT_TRUE(port.HasEventThread());
  EXPECT_EQ(dev->EventMask(), 0x5FFu);

  dev->HoldEvents(true);
  dev->SetModemStatus(kMsRingOn);
  dev->SetModemStatus(kMsCtsOn | kMsDsrOn | kMsRlsdOn);  // ring ended, three lines rose
  dev->ReceiveBreak();
  ASSERT_EQ(port.Write("w", 1), 1);
  dev->Receive("ab!");
  dev->ReceiveWithError('x', kCeFrame);
  dev->HoldEvents(false);

  ASSERT_TRUE(journal.WaitFor(10));
  const std::vector<std::string> want = {"error frame,break", "rx 4",  "tx empty", "break",  "ring",
                                         "cts 1",             "dsr 1", "rx flag",  "rlsd 1", "rx 80% full"};
  EXPECT_EQ(journal.Entries(), want);
  for (auto id : journal.Threads()) EXPECT_NE(id, std::this_thread::get_id()) << "smNone runs in the event thread";
}

TEST_F(EventThreadTest, ThreadSyncRunsTheHandlersOnTheMainThread) {
  OpenWith(smThreadSync);
  dev->HoldEvents(true);
  dev->Receive("abc");
  dev->SetModemStatus(kMsDsrOn);
  dev->HoldEvents(false);
  Pump(2);
  EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"rx 3", "dsr 1"}));
  for (auto id : journal.Threads()) EXPECT_EQ(id, std::this_thread::get_id());
}

// Records the window messages it gets.
class WindowPort : public TComPort {
 public:
  using TComPort::TComPort;
  void WindowProc(uint32_t message, uint32_t wParam, int32_t lParam) override {
    {
      std::lock_guard lock(mutex);
      messages.emplace_back(message, wParam);
    }
    TComPort::WindowProc(message, wParam, lParam);
  }
  std::mutex mutex;
  std::vector<std::pair<uint32_t, uint32_t>> messages;
};

TEST_F(EventThreadTest, WindowSyncSendsOneMessagePerEvent) {
  WindowPort wport(dev, TComPortBuild::Configurator);
  wport.SetSyncMethod(smWindowSync);
  wport.SetDispatcher(&dispatcher);
  wport.Open();
  EXPECT_TRUE(wport.HasWindow());
  Record(wport, journal);

  dev->SetModemStatus(kMsRlsdOn);
  Pump(1);
  dev->SetModemStatus(kMsRlsdOn | kMsRingOn);  // RI rising: nothing yet
  dev->SetModemStatus(kMsRlsdOn);              // RI falling: a ring
  Pump(2);
  EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"rlsd 1", "ring"}));
  {
    std::lock_guard lock(wport.mutex);
    const std::vector<std::pair<uint32_t, uint32_t>> want = {{WM_COMPORT_EVENT, 32}, {WM_COMPORT_EVENT, 256}};
    EXPECT_EQ(wport.messages, want);
  }
  for (auto id : journal.Threads()) EXPECT_EQ(id, std::this_thread::get_id());
  wport.Close();
  EXPECT_FALSE(wport.HasWindow());
}

TEST_F(EventThreadTest, WindowSyncSendsHandlerExceptionsToTheApplication) {
  port.SetSyncMethod(smWindowSync);
  port.SetDispatcher(&dispatcher);
  port.Open();
  Record(port, journal);
  port.OnRing = [](TCustomComPort&) { throw std::runtime_error("handler failed"); };
  dev->HoldEvents(true);
  dev->SetModemStatus(kMsRingOn);
  dev->SetModemStatus(kMsCtsOn);
  dev->HoldEvents(false);
  Pump(1);
  EXPECT_EQ(journal.Entries(), std::vector<std::string>{"cts 1"}) << "the next message still comes";
  auto errors = dispatcher.TakeExceptions();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THROW(std::rethrow_exception(errors[0]), std::runtime_error);
}

TEST_F(EventThreadTest, ReceiveEventWithAnEmptyQueueCallsNoHandler) {
  OpenWith(smNone);
  dev->HoldEvents(true);
  dev->Receive("abc");
  port.PurgeQueues(true, false);
  dev->SetModemStatus(kMsRingOn);
  dev->SetModemStatus(0);
  dev->HoldEvents(false);
  ASSERT_TRUE(journal.WaitFor(1));
  EXPECT_EQ(journal.Entries(), std::vector<std::string>{"ring"});
}

TEST_F(EventThreadTest, CloseStopsTheWaitingThreadBeforeTheDeviceCloses) {
  OpenWith(smThreadSync);
  port.Close();
  EXPECT_FALSE(port.HasEventThread());
  EXPECT_FALSE(dev->IsOpen());
  EXPECT_EQ(dev->EventMask(), 0u);
  EXPECT_EQ(dev->Purges(), (std::vector<uint32_t>{kPurgeTxAbort | kPurgeRxAbort, kPurgeTxClear | kPurgeRxClear}));
}

TEST_F(EventThreadTest, CloseWhileAHandOverWaitsForTheMainThread) {
  OpenWith(smThreadSync);
  dev->Receive("a");
  // The thread now waits for the main thread, which closes the port instead of serving it.
  ASSERT_TRUE(dispatcher.WaitPending(10s));
  port.Close();
  EXPECT_FALSE(port.HasEventThread());
  dispatcher.ProcessPending();  // the dropped hand-over runs nothing
  EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"cts 0", "dsr 0", "rlsd 0"})) << "only Close's own reports";
}

// A handler that closes its own port, in every sync mode: the port closes, its thread ends
// and is freed once the handler has returned, and the port opens again. The thread cannot be
// waited for inside its own report (it would wait for itself), nor while a hand-over to the
// main thread is running the handler.
struct CloseRow {
  const char* name;
  TSyncMethod method;
  bool dispatcher;  // handlers run on this thread, through a queue it serves
};

class CloseFromHandler : public EventThreadTest, public ::testing::WithParamInterface<CloseRow> {};

TEST_P(CloseFromHandler, StopsAndFreesTheThreadOnceTheHandlerReturns) {
  const CloseRow& r = GetParam();
  port.SetSyncMethod(r.method);
  if (r.dispatcher) port.SetDispatcher(&dispatcher);
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    port.Open();
    std::promise<void> closed;
    int calls = 0;
    port.OnRxChar = [&](TCustomComPort& p, int32_t) {
      ++calls;
      p.Close();
      closed.set_value();
    };
    port.OnRxFlag = [&](TCustomComPort&) { ++calls; };  // a later event of the same wake-up
    port.SetEventChar('!');
    dev->Receive("a!");
    std::future<void> done = closed.get_future();
    for (int i = 0; i < 1000 && done.wait_for(0ms) != std::future_status::ready; ++i)
      if (r.dispatcher) dispatcher.ProcessFor(10ms); else done.wait_for(10ms);
    ASSERT_EQ(done.wait_for(0ms), std::future_status::ready) << "the handler never returned from Close";
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.HasEventThread());
    EXPECT_FALSE(dev->IsOpen());
    for (int i = 0; i < 1000 && TComThread::Alive() > 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(TComThread::Alive(), 0) << "the thread did not end";
    if (r.dispatcher) dispatcher.ProcessPending();
    EXPECT_EQ(calls, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EventThread, CloseFromHandler,
    ::testing::Values(CloseRow{"NoSync", smNone, false}, CloseRow{"ThreadSyncWithoutMainThread", smThreadSync, false},
                      CloseRow{"ThreadSync", smThreadSync, true}, CloseRow{"WindowSync", smWindowSync, true},
                      CloseRow{"WindowSyncWithoutMainThread", smWindowSync, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace serial
