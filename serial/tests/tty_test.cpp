// The tty backend: settings in termios terms, line-error decoding, and the byte path, exclusive
// use, status calls and the recovery of a lost device on a pty.
#include "serial/tty_backend.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <sys/ioctl.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/testing/temp_dir.h"
#include "serial/com_port.h"
#include "serial/com_texts.h"
#include "serial/stop_event.h"
#include "serial/tests/expect_com_error.h"
#include "serial/tests/pty.h"
#include "serial/tty_errors.h"
#include "serial/tty_termios.h"

namespace serial {
namespace {

using testing::Pty;

TDeviceControl State(uint32_t rate = 9600) {
  TDeviceControl d;
  d.Length = 28;
  d.BaudRate = rate;
  d.Flags = kDcbBinary;
  d.ByteSize = 8;
  d.XonChar = 17;
  d.XoffChar = 19;
  return d;
}

TEST(TtyTermios, SettingsMapOntoTheBits) {
  struct Row {
    const char* name;
    std::function<void(TDeviceControl&)> set;
    std::function<void(const TtyLineConfig&)> check;
  } rows[] = {
      {"defaults: raw 8N1, no check",
       [](TDeviceControl&) {},
       [](const TtyLineConfig& c) {
         EXPECT_EQ(c.tio.c_cflag & ~CBAUD, tcflag_t(CREAD | CLOCAL | CS8));
         EXPECT_EQ(c.tio.c_iflag, tcflag_t(IGNBRK));
         EXPECT_EQ(c.tio.c_oflag, 0u);
         EXPECT_EQ(c.tio.c_lflag, 0u);
         EXPECT_EQ(c.tio.c_cc[VMIN], 1);
         EXPECT_EQ(c.tio.c_cc[VTIME], 0);
         EXPECT_EQ(c.tio.c_cc[VSTART], 17);
         EXPECT_EQ(c.tio.c_cc[VSTOP], 19);
         EXPECT_TRUE(c.standardRate);
         EXPECT_EQ(cfgetospeed(&c.tio), speed_t(B9600));
         EXPECT_EQ(cfgetispeed(&c.tio), speed_t(B9600));
         EXPECT_FALSE(c.marked);
         EXPECT_EQ(c.dtr, false);
         EXPECT_EQ(c.rts, false);
       }},
      {"7 bits odd parity",
       [](TDeviceControl& d) { d.ByteSize = 7, d.Parity = 1; },
       [](const TtyLineConfig& c) {
         EXPECT_EQ(c.tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR), tcflag_t(CS7 | PARENB | PARODD));
       }},
      {"6 bits even parity",
       [](TDeviceControl& d) { d.ByteSize = 6, d.Parity = 2; },
       [](const TtyLineConfig& c) { EXPECT_EQ(c.tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR), tcflag_t(CS6 | PARENB)); }},
      {"mark parity",
       [](TDeviceControl& d) { d.Parity = 3; },
       [](const TtyLineConfig& c) {
         EXPECT_EQ(c.tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | PARODD | CMSPAR));
       }},
      {"space parity",
       [](TDeviceControl& d) { d.Parity = 4; },
       [](const TtyLineConfig& c) { EXPECT_EQ(c.tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | CMSPAR)); }},
      {"two stop bits",
       [](TDeviceControl& d) { d.StopBits = 2; },
       [](const TtyLineConfig& c) { EXPECT_TRUE(c.tio.c_cflag & CSTOPB); }},
      {"1.5 stop bits with 5 data bits",
       [](TDeviceControl& d) { d.StopBits = 1, d.ByteSize = 5; },
       [](const TtyLineConfig& c) { EXPECT_EQ(c.tio.c_cflag & (CSIZE | CSTOPB), tcflag_t(CS5 | CSTOPB)); }},
      {"parity check marks errors",
       [](TDeviceControl& d) { d.Flags |= kDcbParity, d.Parity = 2; },
       [](const TtyLineConfig& c) {
         EXPECT_EQ(c.tio.c_iflag & (INPCK | PARMRK | IGNPAR | IGNBRK | BRKINT | ISTRIP), tcflag_t(INPCK | PARMRK));
         EXPECT_TRUE(c.marked);
         EXPECT_FALSE(c.replace);
       }},
      {"check and replace",
       [](TDeviceControl& d) { d.Flags |= kDcbParity | kDcbErrorChar, d.ErrorChar = '?'; },
       [](const TtyLineConfig& c) { EXPECT_TRUE(c.replace); EXPECT_EQ(c.errorChar, '?'); }},
      {"CTS output flow",
       [](TDeviceControl& d) { d.Flags |= kDcbOutxCtsFlow; },
       [](const TtyLineConfig& c) { EXPECT_TRUE(c.tio.c_cflag & CRTSCTS); }},
      {"RTS handshake leaves RTS to the driver",
       [](TDeviceControl& d) { d.Flags |= 2u << kDcbRtsControlShift; },
       [](const TtyLineConfig& c) { EXPECT_TRUE(c.tio.c_cflag & CRTSCTS); EXPECT_FALSE(c.rts.has_value()); }},
      {"RTS and DTR enabled",
       [](TDeviceControl& d) { d.Flags |= (1u << kDcbRtsControlShift) | (1u << kDcbDtrControlShift); },
       [](const TtyLineConfig& c) {
         EXPECT_EQ(c.rts, true); EXPECT_EQ(c.dtr, true); EXPECT_FALSE(c.tio.c_cflag & CRTSCTS);
       }},
      {"Xon/Xoff both ways with own characters",
       [](TDeviceControl& d) { d.Flags |= kDcbOutX | kDcbInX, d.XonChar = 'Q', d.XoffChar = 'S'; },
       [](const TtyLineConfig& c) {
         EXPECT_EQ(c.tio.c_iflag & (IXON | IXOFF | IXANY), tcflag_t(IXON | IXOFF));
         EXPECT_EQ(c.tio.c_cc[VSTART], 'Q'); EXPECT_EQ(c.tio.c_cc[VSTOP], 'S');
       }},
      {"115200 has a B-constant",
       [](TDeviceControl& d) { d.BaudRate = 115200; },
       [](const TtyLineConfig& c) { EXPECT_TRUE(c.standardRate); EXPECT_EQ(cfgetospeed(&c.tio), speed_t(B115200)); }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TDeviceControl d = State();
    r.set(d);
    TtyLineConfig c;
    ASSERT_EQ(TtyConfigFromState(d, c), 0);
    r.check(c);
  }
}

TEST(TtyTermios, RatesWithoutBConstantGoThroughTermios2) {
  for (uint32_t rate : {14400u, 56000u, 128000u, 256000u, 250000u, 31250u}) {
    TtyLineConfig c;
    ASSERT_EQ(TtyConfigFromState(State(rate), c), 0);
    EXPECT_FALSE(c.standardRate) << rate;
    EXPECT_EQ(c.rate, rate);
  }
}

TEST(TtyTermios, WhatATtyCannotDoIsRefused) {
  struct Row {
    const char* name;
    std::function<void(TDeviceControl&)> set;
  } rows[] = {
      {"rate 0", [](TDeviceControl& d) { d.BaudRate = 0; }},
      {"1.5 stop bits with 8 data bits", [](TDeviceControl& d) { d.StopBits = 1; }},
      {"2 stop bits with 5 data bits", [](TDeviceControl& d) { d.StopBits = 2, d.ByteSize = 5; }},
      {"9 data bits", [](TDeviceControl& d) { d.ByteSize = 9; }},
      {"4 data bits", [](TDeviceControl& d) { d.ByteSize = 4; }},
      {"parity 5", [](TDeviceControl& d) { d.Parity = 5; }},
      {"stop bits 3", [](TDeviceControl& d) { d.StopBits = 3; }},
  };
  for (const auto& r : rows) {
    TDeviceControl d = State();
    r.set(d);
    TtyLineConfig c;
    EXPECT_EQ(TtyConfigFromState(d, c), EINVAL) << r.name;
  }
}

// What a device kept of the line it was asked for. A pty carries bytes, not bits: it drops
// parity and the byte size, and is used as it is with the dropped settings named. A real
// device that drops a setting would run the line otherwise than asked, and is refused.
TEST(TtyTermios, WhatTheDeviceKept) {
  struct Row {
    const char* name;
    tcflag_t asked, kept;
    bool pty;
    int error;
    const char* dropped;
  } rows[] = {
      {"all kept", CS8 | PARENB, CS8 | PARENB, false, 0, ""},
      {"pty: no parity", CS8 | PARENB, CS8, true, 0, "even parity"},
      {"pty: no parity, no byte size", CS7 | PARENB | PARODD, CS8 | PARODD, true, 0, "odd parity, 7 data bits"},
      {"pty: mark parity", CS8 | PARENB | PARODD | CMSPAR, CS8 | PARODD | CMSPAR, true, 0, "mark parity"},
      {"pty keeping all", CS8 | CSTOPB, CS8 | CSTOPB, true, 0, ""},
      {"device without parity", CS8 | PARENB, CS8, false, EINVAL, ""},
      {"device without space parity", CS8 | PARENB | CMSPAR, CS8 | PARENB, false, EINVAL, ""},
      {"device without 5 data bits", CS5, CS8, false, EINVAL, ""},
      {"device without 2 stop bits", CS8 | CSTOPB, CS8, false, EINVAL, ""},
      {"odd flag without parity counts for nothing", CS8 | PARODD, CS8, false, 0, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const TtyKept k = CheckKept(r.asked, r.kept, r.pty);
    EXPECT_EQ(k.error, r.error);
    EXPECT_EQ(k.dropped, r.dropped);
  }
}

TEST(TtyErrors, CounterDeltas) {
  struct Row {
    const char* name;
    LineCounters after;
    uint32_t flags;
  } rows[] = {
      {"nothing new", {1, 2, 3, 4, 5}, 0},
      {"frame", {2, 2, 3, 4, 5}, kCeFrame},
      {"parity", {1, 3, 3, 4, 5}, kCeRxParity},
      {"overrun", {1, 2, 9, 4, 5}, kCeOverrun},
      {"buffer overrun", {1, 2, 3, 5, 5}, kCeRxOver},
      {"break", {1, 2, 3, 4, 6}, kCeBreak},
      {"frame and break", {7, 2, 3, 4, 6}, kCeFrame | kCeBreak},
  };
  const LineCounters before{1, 2, 3, 4, 5};
  for (const auto& r : rows) EXPECT_EQ(CounterFlags(before, r.after), r.flags) << r.name;
  LineCounters high{0xFFFFFFFF, 0, 0, 0, 0}, wrapped{0, 0, 0, 0, 0};
  EXPECT_EQ(CounterFlags(high, wrapped), kCeFrame) << "a counter that wrapped rose";
}

TEST(TtyErrors, MarkedStreamsDecode) {
  struct Row {
    const char* name;
    std::string raw;
    bool replace;
    std::string data;
    uint32_t flags;
  } rows[] = {
      {"plain", "abc", false, "abc", 0},
      {"doubled FF is one FF", "a\xFF\xFF" "b", false, "a\xFF" "b", 0},
      {"bad byte kept", std::string("a\xFF\0x", 4), false, "ax", kCeRxParity},
      {"bad byte replaced", std::string("a\xFF\0x", 4), true, "a?", kCeRxParity},
      {"break gives no data", std::string("a\xFF\0\0" "b", 5), true, "ab", kCeBreak},
      {"bad FF byte", std::string("\xFF\0\xFF", 3), false, "\xFF", kCeRxParity},
      {"two breaks and FF", std::string("\xFF\0\0\xFF\0\0\xFF\xFF", 8), false, "\xFF", kCeBreak},
      {"zero byte passes", std::string("\0", 1), false, std::string("\0", 1), 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    MarkDecoder whole;
    whole.Reset(r.replace, '?');
    std::string out;
    EXPECT_EQ(whole.Decode(reinterpret_cast<const uint8_t*>(r.raw.data()), r.raw.size(), out), r.flags);
    EXPECT_EQ(out, r.data);
    EXPECT_EQ(whole.Held(), 0u);
    // Split at every byte: a marker cut between two reads comes out the same.
    MarkDecoder split;
    split.Reset(r.replace, '?');
    std::string pieces;
    uint32_t flags = 0;
    for (char c : r.raw) flags |= split.Decode(reinterpret_cast<const uint8_t*>(&c), 1, pieces);
    EXPECT_EQ(pieces, r.data);
    EXPECT_EQ(flags, r.flags);
  }
}

// --- on a pty ---

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty.Ok()); }
  std::string ReadText(TComPort& port, int32_t count) {
    std::string buffer(size_t(count), '\0');
    buffer.resize(size_t(port.Read(buffer.data(), count)));
    return buffer;
  }
  Pty pty;
};

TEST_F(PtyTest, EveryByteValuePassesBothWays) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(char(i));
  for (bool check : {false, true}) {
    SCOPED_TRACE(check ? "with parity check (marked input)" : "plain");
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Parity().SetCheck(check);
    port.Timeouts().SetReadTotalConstant(5000);  // returns as soon as all bytes are there
    port.Open();
    ASSERT_TRUE(pty.Send(all + all));
    EXPECT_EQ(ReadText(port, 512), all + all);
    ASSERT_EQ(port.Write(all.data(), 256), 256);
    EXPECT_EQ(pty.Receive(256), all);
  }
}

TEST_F(PtyTest, SecondOpenOfTheSameDeviceFails) {
  TComPort first, second;
  first.SetPort(pty.SlavePath());
  second.SetPort(pty.SlavePath());
  first.Open();
  testing::ExpectComError([&] { second.Open(); }, CError_OpenFailed, EBUSY);
  EXPECT_FALSE(second.Connected());
  first.Close();
  EXPECT_NO_THROW(second.Open()) << "free again once the first closed it";
}

TEST_F(PtyTest, StatusCallsSucceedWithoutModemLines) {
  TComPort port;
  std::vector<std::string> log;
  port.SetLog([&](std::string_view t) { log.emplace_back(t); });
  port.SetPort(pty.SlavePath());
  port.Open();  // reads the signals after opening: must not fail on a pty
  EXPECT_NO_THROW(port.SetDtrLine(true));
  EXPECT_NO_THROW(port.SetRtsLine(true));
  EXPECT_EQ(port.ReadLineSignals(), TModemSignals{});
  EXPECT_EQ(port.ReadLineErrors(), TComErrors{});
  EXPECT_NO_THROW(port.SetBaudRate(br14400)) << "a rate without a B-constant";
  EXPECT_NO_THROW(port.FlowControl().SetFlowControl(fcHardware));
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(testing::WaitReadable(port.DeviceHandle()));
  EXPECT_EQ(port.PendingInputCount(), 3);
  port.PurgeQueues(true, true);
  EXPECT_EQ(port.PendingInputCount(), 0);
  EXPECT_EQ(ReadText(port, 3), "");
  EXPECT_TRUE(log.empty()) << "an empty queue is no hang-up: " << log.front();
}

TEST_F(PtyTest, WriteThatTimesOutReturnsWhatWasWritten) {
  platform::ManualClock clock;
  TComPort port(std::make_shared<TtyBackend>(&clock));
  port.SetPort(pty.SlavePath());
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(100);
  port.Open();
  const std::string block(1 << 20, 'x');  // more than a pty holds: nobody reads the master
  const int32_t written = port.Write(block.data(), int32_t(block.size()));
  EXPECT_GT(written, 0);
  EXPECT_LT(written, int32_t(block.size()));
  EXPECT_EQ(clock.TickMs(), 100u);
}

// A pty keeps no parity and no byte size. Opened with them it is opened the same way every
// time (a second open must not find the line "unchanged but refused"), and the log names what
// it drops, once per open.
TEST_F(PtyTest, ParityOnAPtyOpensTheSameWayEveryTime) {
  for (TParityBits parity : {prEven, prOdd}) {
    SCOPED_TRACE(ParityText(parity));
    for (int open = 1; open <= 3; ++open) {
      SCOPED_TRACE(open);
      std::vector<std::string> log;
      TComPort port;
      port.SetLog([&](std::string_view t) { log.emplace_back(t); });
      port.SetPort(pty.SlavePath());
      port.Parity().SetBits(parity);
      port.SetDataBits(dbSeven);
      EXPECT_NO_THROW(port.Open());
      // A setter while open applies the same line again, and it drops the same.
      EXPECT_NO_THROW(port.SetDiscardNull(true));
      const std::string dropped = "ComPort " + pty.SlavePath() + ": device does not keep " +
                                  (parity == prEven ? "even" : "odd") + " parity, 7 data bits";
      EXPECT_EQ(log, std::vector<std::string>{dropped});
      ASSERT_TRUE(pty.Send("ok"));
      ASSERT_TRUE(testing::WaitReadable(port.DeviceHandle()));
      port.Timeouts().SetReadTotalConstant(1000);
      EXPECT_EQ(ReadText(port, 2), "ok");
    }
  }
}

// The event character raises its event on a tty as well, reported after the byte count of
// the same wake-up; bytes without it raise none.
TEST_F(PtyTest, EventCharacterRaisesItsEvent) {
  TComPort port(nullptr, TComPortBuild::Configurator);  // keeps its events at Open
  port.SetPort(pty.SlavePath());
  port.SetEventChar('!');
  port.SetSyncMethod(smNone);
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> seen;
  auto add = [&](std::string entry) {
    std::lock_guard lock(mutex);
    seen.push_back(std::move(entry));
    changed.notify_all();
  };
  auto await = [&](size_t n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return seen.size() >= n; });
  };
  port.OnRxChar = [&](TCustomComPort&, int32_t n) { add("rx " + std::to_string(n)); };
  port.OnRxFlag = [&](TCustomComPort&) { add("rx flag"); };
  port.Open();
  ASSERT_TRUE(pty.Send("ab!"));
  EXPECT_TRUE(await(2));
  ASSERT_TRUE(pty.Send("cd"));
  EXPECT_TRUE(await(3));
  ASSERT_TRUE(pty.Send("!"));
  EXPECT_TRUE(await(5));
  port.Close();
  std::lock_guard lock(mutex);
  EXPECT_EQ(seen, (std::vector<std::string>{"rx 3", "rx flag", "rx 5", "rx 6", "rx flag"}));
}

// While the event character is watched, the event wait takes received bytes out of the device
// to look for it, but no more than the input queue holds: what nobody reads stays in the
// device, which then holds the sender back, and the port's memory does not grow with it.
TEST_F(PtyTest, WatchingTheEventCharacterTakesNoMoreThanTheInputQueue) {
  constexpr uint32_t kInput = 1024;
  constexpr uint32_t kKernelQueue = 4096;  // what the tty's own input queue holds at most
  TtyBackend tty;
  ASSERT_EQ(tty.Open(pty.SlavePath()), 0);
  TDeviceControl d = State();
  d.EvtChar = '!';
  ASSERT_EQ(tty.SetState(d), 0);
  ASSERT_EQ(tty.SetupQueues(kInput, kInput), 0);
  ASSERT_EQ(tty.SetEventMask(kEvRxFlag), 0);
  ASSERT_EQ(fcntl(pty.Master(), F_SETFL, fcntl(pty.Master(), F_GETFL) | O_NONBLOCK), 0);
  TStopEvent stopped;  // set: each event wait takes one look and returns
  stopped.Set();
  const std::string chunk(4096, 'x');  // never the event character
  uint32_t errors = 0, in = 0, out = 0;
  for (int round = 0; round < 32; ++round) {
    SCOPED_TRACE(round);
    while (write(pty.Master(), chunk.data(), chunk.size()) > 0) {
    }
    ASSERT_TRUE(testing::WaitReadable(tty.Handle()));
    uint32_t events = 0;
    EXPECT_EQ(tty.WaitEvent(stopped, events), WaitEventResult::Stopped);
    ASSERT_EQ(tty.ClearError(errors, in, out), 0);
    ASSERT_LE(in, kInput + kKernelQueue) << "the port holds more than its input queue";
  }
}

// A read that waits on the tty (an hour for its second byte) ends as soon as the abort event is
// set from another thread, with what it had.
TEST_F(PtyTest, AbortEndsAReadWaitingOnTheDevice) {
  TStopEvent abort;
  TComPort port;
  port.SetPort(pty.SlavePath());
  port.SetAbortEvent(&abort);
  port.Timeouts().SetReadTotalConstant(3'600'000);
  port.Open();
  ASSERT_TRUE(pty.Send("a"));
  ASSERT_TRUE(testing::WaitReadable(port.DeviceHandle()));
  std::future<std::string> read = std::async(std::launch::async, [&] { return ReadText(port, 2); });
  // Once the reader took the first byte, it waits in poll() for the second.
  for (int i = 0; i < 5000; ++i) {
    int queued = -1;
    if (ioctl(port.DeviceHandle(), FIONREAD, &queued) == 0 && queued == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  abort.Set();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the read waits on";
  EXPECT_EQ(read.get(), "a");
}

// The other side goes away (as a pulled adapter) and comes back under the same name.
TEST_F(PtyTest, HangUpWaitsOutReadsAndReopensTheSameName) {
  platform::testing::TempDir dir;
  const std::string link = dir / "ttyRADIO";
  std::filesystem::create_symlink(pty.SlavePath(), link);
  platform::ManualClock clock;
  std::vector<std::string> log;
  TComPort port(std::make_shared<TtyBackend>(&clock));
  port.SetLog([&](std::string_view t) { log.emplace_back(t); });
  port.SetPort(link);
  port.Timeouts().SetReadTotalConstant(500);
  port.Open();
  ASSERT_TRUE(pty.Send("a"));
  ASSERT_TRUE(testing::WaitReadable(port.DeviceHandle()));
  EXPECT_EQ(ReadText(port, 1), "a");

  pty.CloseMaster();
  std::filesystem::remove(link);  // the device node goes with the adapter
  EXPECT_NO_THROW(port.PurgeQueues(true, true));
  EXPECT_NO_THROW(port.SetBaudRate(br19200));
  EXPECT_NO_THROW(port.ReadLineSignals());
  for (int i = 0; i < 3; ++i) {
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(ReadText(port, 4), "");
    EXPECT_EQ(clock.TickMs() - start, 500u) << "read " << i << " returned early";
  }
  EXPECT_EQ(port.Write("x", 1), 0);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("ComPort " + link + ": device lost (", 0), 0u) << log[0];

  Pty replugged;
  ASSERT_TRUE(replugged.Ok());
  std::filesystem::create_symlink(replugged.SlavePath(), link);
  EXPECT_EQ(ReadText(port, 4), "");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "ComPort " + link + ": device reopened");
  termios t{};
  ASSERT_EQ(tcgetattr(port.DeviceHandle(), &t), 0);
  EXPECT_EQ(t.c_lflag, 0u) << "the new device got the raw settings again";

  ASSERT_TRUE(replugged.Send("hello"));
  ASSERT_TRUE(testing::WaitReadable(port.DeviceHandle()));
  EXPECT_EQ(ReadText(port, 5), "hello");
  ASSERT_EQ(port.Write("ok", 2), 2);
  EXPECT_EQ(replugged.Receive(2), "ok");
  EXPECT_EQ(port.ReadLineErrors(), TComErrors{errIO}) << "the loss shows once as an I/O error";
  EXPECT_EQ(log.size(), 2u);
}

}  // namespace
}  // namespace serial
