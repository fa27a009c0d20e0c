// Reads and writes under the time-out rules, and the recovery of a lost device, on the fake
// device's virtual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "serial/com_port.h"
#include "serial/fake_backend.h"
#include "serial/stop_event.h"
#include "serial/tests/expect_com_error.h"
#include "serial/tests/fake_port.h"
#include "support/error_log.h"

namespace serial {
namespace {

using testing::FakePortTest;

struct Arrival {
  std::string bytes;
  uint32_t at;
};

TEST_F(FakePortTest, ReadFollowsTheTimeoutRules) {
  struct Row {
    const char* name;
    int32_t interval, multiplier, constant;
    std::vector<Arrival> script;
    int32_t count;
    std::string want;
    uint32_t elapsed;
  } rows[] = {
      {"defaults, nothing there: at once", -1, 0, 0, {}, 5, "", 0},
      {"defaults take what is there", -1, 0, 0, {{"abc", 0}, {"d", 10}}, 5, "abc", 0},
      {"defaults take no more than asked", -1, 0, 0, {{"abcdef", 0}}, 4, "abcd", 0},
      {"constant T waits T", -1, 0, 200, {}, 5, "", 200},
      {"constant returns when all came", -1, 0, 200, {{"ab", 20}, {"cde", 50}}, 5, "abcde", 50},
      {"constant stops at T with a part", -1, 0, 200, {{"ab", 50}, {"cde", 250}}, 5, "ab", 200},
      {"byte exactly at T still counts", -1, 0, 200, {{"a", 200}}, 1, "a", 200},
      {"multiplier per byte", -1, 10, 100, {}, 5, "", 150},
      {"interval ends a pause between bytes", 20, 0, 0, {{"a", 100}, {"b", 110}, {"c", 140}}, 5, "ab", 130},
      {"interval with a total as the limit", 20, 0, 60, {{"a", 10}, {"b", 25}, {"c", 40}, {"d", 55}}, 9, "abcd", 60},
      {"first byte only: returns with it", -1, -1, 300, {{"a", 120}, {"b", 150}}, 5, "a", 120},
      {"first byte only: waits the constant", -1, -1, 300, {}, 5, "", 300},
      {"first byte only: more already there", -1, -1, 300, {{"abc", 40}}, 5, "abc", 40},
      {"no time-outs: waits for all", 0, 0, 0, {{"a", 500}, {"bc", 1000}}, 3, "abc", 1000},
  };
  port.Open();
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    port.PurgeQueues(true, true);
    port.Timeouts().SetReadInterval(r.interval);
    port.Timeouts().SetReadTotalMultiplier(r.multiplier);
    port.Timeouts().SetReadTotalConstant(r.constant);
    for (const auto& a : r.script) dev->Receive(a.bytes, a.at);
    const uint32_t start = Now();
    EXPECT_EQ(ReadText(r.count), r.want);
    EXPECT_EQ(Now() - start, r.elapsed);
    dev->VirtualClock().Advance(std::chrono::seconds(10));  // let the rest arrive, then drop it
  }
}

TEST_F(FakePortTest, DiscardNullDropsZeroBytesAndKeepsReading) {
  port.SetDiscardNull(true);
  port.Timeouts().SetReadTotalConstant(100);
  port.Open();
  dev->Receive(std::string("a\0b", 3));
  dev->Receive(std::string("\0c", 2), 30);
  EXPECT_EQ(ReadText(3), "abc");
  EXPECT_EQ(Now(), 30u);
}

TEST_F(FakePortTest, ErrorCharacterReplacesBadBytesWhenAsked) {
  port.Parity().SetCheck(true);
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  port.Open();
  dev->Receive("a");
  dev->ReceiveWithError('x', kCeRxParity);
  dev->Receive("b");
  EXPECT_EQ(ReadText(5), "a?b");
  EXPECT_EQ(port.ReadLineErrors(), TComErrors{errRxParity});
}

TEST_F(FakePortTest, WriteWaitsItsTimeoutAndReturnsWhatWasWritten) {
  port.Open();
  EXPECT_EQ(port.Write("hello", 5), 5);
  EXPECT_EQ(dev->TakeWritten(), "hello");
  EXPECT_EQ(Now(), 0u);

  dev->BlockOutput(true);
  EXPECT_EQ(port.Write("hello", 5), 0);
  EXPECT_EQ(Now(), 100u * 5 + 1000) << "default multiplier 100 and constant 1000";
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(40);
  const uint32_t start = Now();
  EXPECT_EQ(port.Write("x", 1), 0);
  EXPECT_EQ(Now() - start, 40u);
  EXPECT_EQ(dev->Written(), "");
}

TEST_F(FakePortTest, ScriptedAnswerToAWrite) {
  dev->SetWriteHandler([](FakeComBackend& d, std::string_view bytes) {
    if (bytes == "\x02") d.Receive("\x10", 15);
  });
  port.Timeouts().SetReadTotalConstant(100);
  port.Open();
  ASSERT_EQ(port.Write("\x02", 1), 1);
  EXPECT_EQ(ReadText(1), "\x10");
  EXPECT_EQ(Now(), 15u);
}

// A pulled adapter: reads keep their time-out instead of returning at once, one reopen is
// tried per read, and a re-plugged device works with its settings and lines restored.
TEST_F(FakePortTest, LostDeviceWaitsOutReadsAndRecovers) {
  port.SetBaudRate(br19200);
  port.Timeouts().SetReadTotalConstant(500);
  port.Open();
  port.SetDtrLine(true);
  port.SetRtsLine(true);
  TDeviceControl state = dev->State();

  dev->Unplug();
  // Calls before any read noticed the loss: none fails, the new rate waits for the device.
  EXPECT_NO_THROW(port.PurgeQueues(true, true));
  EXPECT_NO_THROW(port.SetBaudRate(br38400));
  state.BaudRate = 38400;
  EXPECT_EQ(port.ReadLineSignals(), TModemSignals{});
  for (int i = 1; i <= 3; ++i) {
    const uint32_t start = Now();
    EXPECT_EQ(ReadText(4), "");
    EXPECT_EQ(Now() - start, 500u) << "read " << i;
  }
  EXPECT_EQ(port.Write("abc", 3), 0);
  EXPECT_EQ(port.ReadLineErrors(), TComErrors{errIO});
  EXPECT_EQ(port.ReadLineErrors(), TComErrors{}) << "reported once";
  EXPECT_NO_THROW(port.SetDtrLine(true)) << "status calls keep working while the device is away";
  EXPECT_EQ(port.ReadLineSignals(), TModemSignals{});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "ComPort /dev/ttyS0: device lost (Input/output error)");
  EXPECT_EQ(dev->OpenCount(), 1);
  EXPECT_EQ(port.DeviceHandle(), -1) << "no device is open";

  dev->Plug();
  dev->SetWriteHandler([](FakeComBackend& d, std::string_view) { d.Receive("ok", 5); });
  const uint32_t start = Now();
  EXPECT_EQ(ReadText(4), "") << "the reopen happens inside this read";
  EXPECT_EQ(Now() - start, 500u);
  EXPECT_EQ(dev->OpenCount(), 2);
  EXPECT_EQ(dev->State(), state);
  EXPECT_TRUE(dev->Dtr() && dev->Rts());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "ComPort /dev/ttyS0: device reopened");
  EXPECT_EQ(port.DeviceHandle(), dev->Handle()) << "the descriptor of the reopened device";

  ASSERT_EQ(port.Write("?", 1), 1);
  EXPECT_EQ(ReadText(2), "ok");
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(FakePortTest, LostDeviceWithImmediateReadsDoesNotWait) {
  port.Open();
  dev->Unplug();
  EXPECT_EQ(ReadText(4), "");
  EXPECT_EQ(Now(), 0u);
  dev->Plug();
  dev->Receive("z", 0);  // arrives on nothing: the device was away
  EXPECT_EQ(ReadText(4), "");
  dev->Receive("y");
  EXPECT_EQ(ReadText(4), "y");
  EXPECT_EQ(log.size(), 2u);
}

// A set abort event makes reads and writes return at once with nothing, also where they would
// wait out a time-out (a lost device) or wait without one (the device holds the reader).
TEST_F(FakePortTest, AbortEndsReadsAndWritesAtOnce) {
  TStopEvent abort;
  port.SetAbortEvent(&abort);
  port.Timeouts().SetReadTotalConstant(10'000);
  port.Open();
  dev->HoldReads(true);
  std::future<std::string> held = std::async(std::launch::async, [&] { return ReadText(4); });
  for (int i = 0; i < 5000 && dev->WaitingReads() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(dev->WaitingReads(), 1);
  abort.Set();
  ASSERT_EQ(held.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the held read was not ended";
  EXPECT_EQ(held.get(), "");
  dev->HoldReads(false);

  dev->Receive("late", 100);
  EXPECT_EQ(ReadText(4), "");
  EXPECT_EQ(port.Write("abc", 3), 0);
  EXPECT_EQ(dev->Written(), "");
  dev->Unplug();
  EXPECT_EQ(ReadText(4), "") << "a lost device";
  EXPECT_EQ(Now(), 0u) << "a wait ran on the virtual clock";
}

TEST(PauseUnlessStopped, EndsWhenStoppedAndOtherwiseWaitsOnTheClock) {
  TStopEvent stop;
  platform::ManualClock manual;
  EXPECT_FALSE(PauseUnlessStopped(manual, 1500, &stop));
  EXPECT_EQ(manual.TickMs(), 1500u);
  EXPECT_FALSE(PauseUnlessStopped(manual, 500, nullptr));
  EXPECT_EQ(manual.TickMs(), 2000u);
  // The real clock's pause of an hour, ended from another thread.
  platform::SystemClock real;
  std::future<bool> pause = std::async(std::launch::async, [&] { return PauseUnlessStopped(real, 3'600'000, &stop); });
  stop.Set();
  ASSERT_EQ(pause.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(pause.get());
  EXPECT_TRUE(PauseUnlessStopped(manual, 1500, &stop));
  EXPECT_EQ(manual.TickMs(), 2000u);
}

// A port's own log goes to the program's error log, where these two lines are written even
// while logging is off.
TEST(PortLog, LossAndRecoveryReachTheErrorLogWhileLoggingIsOff) {
  platform::testing::TempDir dir;
  support::StartErrorLog(support::LogBuild::Server, dir.Path());
  ASSERT_FALSE(support::Log()->LogOn());
  auto dev = std::make_shared<FakeComBackend>();
  {
    TComPort port(dev);
    port.SetPort("ttyLogOff");  // a name of its own: an earlier test's line would count as a repeat
    port.Timeouts().SetReadTotalConstant(10);
    port.Open();
    char b;
    dev->Unplug();
    EXPECT_EQ(port.Read(&b, 1), 0);
    dev->Plug();
    EXPECT_EQ(port.Read(&b, 1), 0);
  }
  support::StopErrorLog();
  const std::string text = dir.Read("Problem2.TXT");
  EXPECT_NE(text.find(">ComPort /dev/ttyLogOff: device lost (Input/output error)<"), std::string::npos) << text;
  EXPECT_NE(text.find(">ComPort /dev/ttyLogOff: device reopened<"), std::string::npos) << text;
}

TEST(ConfiguratorBuild, ReadsThroughTransferRecords) {
  using testing::ExpectComError;
  auto dev = std::make_shared<FakeComBackend>();
  TComPort port(dev, TComPortBuild::Configurator);
  port.SetEvents({});
  port.Timeouts().SetReadTotalConstant(100);
  port.Open();
  char b[4] = {};
  dev->Receive("abc", 30);
  EXPECT_EQ(port.Read(b, 3), 3);
  EXPECT_EQ(std::string(b, 3), "abc");

  ExpectComError([&] { port.StartRead(b, 1, nullptr); }, CError_InvalidAsync, -1);
  ExpectComError([&] { port.WaitForTransfer(nullptr); }, CError_InvalidAsync, -1);
  PAsync record;
  CreateAsyncRecord(record);
  dev->Receive("xy", 10);
  EXPECT_EQ(port.StartRead(b, 2, record.get()), 0) << "under way";
  EXPECT_EQ(port.WaitForTransfer(record.get()), 2);
  EXPECT_EQ(std::string(b, 2), "xy");

  dev->FailWith(FakeOp::Read, EPROTO);
  port.StartRead(b, 2, record.get());
  ExpectComError([&] { port.WaitForTransfer(record.get()); }, CError_ReadFailed, EPROTO);
  ExpectComError([&] { port.Read(b, 2); }, CError_ReadFailed, EPROTO);
  FreeAsyncRecord(record);
  EXPECT_EQ(record, nullptr);
}

}  // namespace
}  // namespace serial
