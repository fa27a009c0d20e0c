// Creating the two driver threads (their start-up error codes and log lines), and running and
// stopping them on a pty.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "serial/com_port.h"
#include "serial/fake_backend.h"
#include "serial/tests/pty.h"
#include "server/driver/config_loader.h"
#include "server/driver/driver_thread.h"
#include "server/driver/error_codes.h"
#include "server/driver/options.h"
#include "server/driver/tests/model_fixture.h"

namespace driver {
namespace {

class DriverThreadTest : public testing::ModelTest {
 public:
  void Configure(int modus, const std::string& rs232) {
    WriteIni("TYP=Pumpe,RM3,1,5,0,0\r\n", "[ADR005]\r\nKANAL=AE,Druck,bar,1,0,0\r\n\r\n",
             "MODUS=" + std::to_string(modus) + "\r\nRS232=" + rs232 + "\r\n");
    ASSERT_EQ(CreateFML(), 0);
  }
  bool Logged(const std::string& text) const { return LogText().find(">" + text) != std::string::npos; }

  platform::ManualClock clock;
};

enum class Kind { Mop, Modbus };

struct CreateRow {
  const char* name;
  Kind kind;
  int modus;
  const char* rs232;
  std::function<std::unique_ptr<serial::TComPort>()> port;  // nullptr: a fake device that opens
  int32_t fatal;
  const char* line;  // logged, from the beginning of the text
};

class Create : public DriverThreadTest, public ::testing::WithParamInterface<CreateRow> {};

TEST_P(Create, FailureSetsFatalErrorCodeAndLeavesNoThread) {
  const CreateRow& r = GetParam();
  StartLog(128 | 4);
  Configure(r.modus, r.rs232);
  TCustomFunk::PortFactory factory = r.port;
  if (!factory) factory = [] { return std::make_unique<serial::TComPort>(std::make_shared<serial::FakeComBackend>()); };
  std::unique_ptr<TDriverThread> t;
  if (r.kind == Kind::Mop)
    t = tMOP::Create(factory, clock);
  else
    t = TModbus::Create(factory, clock);
  EXPECT_EQ(FatalErrorCode, r.fatal);
  EXPECT_EQ(t == nullptr, r.fatal != 0);
  EXPECT_TRUE(Logged(r.line)) << LogText();
  if (t) {
    ASSERT_NE(t->Funk(), nullptr);
    EXPECT_EQ(t->Funk()->Is3964r, r.modus == 2);
    EXPECT_EQ(t->Funk()->DOfs, 9);
  }
}

std::unique_ptr<serial::TComPort> NoPort() { return nullptr; }
std::unique_ptr<serial::TComPort> Throws() { throw std::runtime_error("no memory for the port"); }
std::unique_ptr<serial::TComPort> DoesNotOpen() {
  auto device = std::make_shared<serial::FakeComBackend>();
  device->FailWith(serial::FakeOp::Open, ENOENT);
  return std::make_unique<serial::TComPort>(device);
}

INSTANTIATE_TEST_SUITE_P(
    DriverThread, Create,
    ::testing::Values(
        CreateRow{"MopTimeSlotMode", Kind::Mop, 2, "COM1,9600,None,8,1", nullptr, 0, "3964R: Create ENDE"},
        CreateRow{"MopModus1", Kind::Mop, 1, "COM1,9600,None,8,1", nullptr, 0, "3964R: Create ENDE"},
        CreateRow{"MopNoPortObject", Kind::Mop, 1, "COM1,9600,None,8,1", NoPort, -30,
                  "3964R: Create, Exception=-$1E, Error creating RS232 port!"},
        CreateRow{"MopPortDoesNotOpen", Kind::Mop, 1, "COM1,9600,None,8,1", DoesNotOpen, -33,
                  "3964R: Create, Exception=-$21, Open of RS232 port failed!"},
        CreateRow{"MopOtherException", Kind::Mop, 1, "COM1,9600,None,8,1", Throws, -41,
                  "3964R: Create, Exception=no memory for the port"},
        CreateRow{"ModbusStarts", Kind::Modbus, 0, "COM1,9600,None,8,1", nullptr, 0, "Modbus: Create ENDE"},
        CreateRow{"ModbusPortDoesNotOpen", Kind::Modbus, 0, "COM1,9600,None,8,1", DoesNotOpen, -33,
                  "Modbus: Create, Exception=-$21, Open of RS232 port failed!"},
        CreateRow{"ModbusOtherException", Kind::Modbus, 0, "COM1,9600,None,8,1", Throws, -40,
                  "Modbus: Create, Exception=no memory for the port"}),
    [](const auto& info) { return std::string(info.param.name); });

// Waits for a condition that another thread makes true; the minute only bounds a failure, so a
// loaded machine has room.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 6000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

TEST_F(DriverThreadTest, MopSearchesTheModemOnItsPortAndStops) {
  serial::testing::Pty pty;
  ASSERT_TRUE(pty.Ok());
  StartLog(128);
  Configure(2, pty.SlavePath() + ",9600,None,8,1");
  std::unique_ptr<tMOP> t = tMOP::Create();
  ASSERT_NE(t, nullptr) << LogText();
  t->Resume();
  // The central-modem query begins with STX.
  EXPECT_EQ(pty.Receive(1), std::string(1, '\x02'));
  t->Terminate();
  t->WaitFor();
  t.reset();
  EXPECT_TRUE(Logged("3964R: Destroy")) << LogText();
  EXPECT_EQ(FatalErrorCode, 0);
}

// A stop ends the driver thread inside the wait it is in, here a read of the line that does
// not end by itself (the device holds it), and nothing more goes on the line.
TEST_F(DriverThreadTest, TerminateEndsTheWaitUnderWay) {
  auto device = std::make_shared<serial::FakeComBackend>(&clock);
  Configure(1, "COM1,9600,None,8,1");
  std::unique_ptr<tMOP> t = tMOP::Create([&] { return std::make_unique<serial::TComPort>(device); }, clock);
  ASSERT_NE(t, nullptr);
  device->HoldReads(true);
  t->Resume();
  ASSERT_TRUE(Eventually([&] { return device->WaitingReads() == 1; }));
  const uint32_t tick = clock.TickMs();
  const std::string written = device->Written();
  t->Terminate();
  std::future<void> end = std::async(std::launch::async, [&] { t->WaitFor(); });
  const bool ended = end.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  device->HoldReads(false);  // lets a thread that was not woken end
  end.wait();
  EXPECT_TRUE(ended) << "the stop did not end the wait";
  EXPECT_EQ(clock.TickMs(), tick) << "a wait ran on after the stop";
  EXPECT_EQ(device->Written(), written) << "the line was written after the stop";
}

TEST_F(DriverThreadTest, ModbusListensWithoutLineTrafficUntilStopped) {
  serial::testing::Pty pty;
  ASSERT_TRUE(pty.Ok());
  StartLog(4);
  Configure(0, pty.SlavePath() + ",9600,None,8,1");
  std::unique_ptr<TModbus> t = TModbus::Create();
  ASSERT_NE(t, nullptr) << LogText();
  t->Resume();
  EXPECT_TRUE(Eventually([&] { return Logged("Modbus: ListenToRS232 ENDE"); })) << LogText();
  t->Terminate();
  t->WaitFor();
  pollfd p{pty.Master(), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0) << "bytes on the line";
}

}  // namespace
}  // namespace driver
