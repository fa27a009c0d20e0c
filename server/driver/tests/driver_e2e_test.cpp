// The driver thread against the radio-network simulator over a pty, in real time with short
// options: the modem is found, every station's registers turn good, writes are confirmed and
// reach the simulated station, a silent station is counted and visited by auxiliary cycles, a
// lost modem and a vanished port are recovered from.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/driver/config_loader.h"
#include "server/driver/driver_thread.h"
#include "server/driver/fml.h"
#include "server/driver/tests/model_fixture.h"
#include "server/driver/tests/three_stations.h"
#include "support/error_log.h"
#include "tools/testing/simulator_process.h"

namespace driver {
namespace {

using radiosim::testing::SimulatorProcess;
using std::chrono::milliseconds;
using testing::AllGood;
using testing::ClientWrite;
using testing::RegisterQuality;
using testing::RegisterValue;
using testing::ThreeStationChannels;
using testing::kThreeStations;

constexpr int32_t kRsKomOk = 0, kRsKomFail = 2;

// Waits for a condition that the driver thread makes true; polls, returns as soon as it holds.
bool Eventually(const std::function<bool()>& condition, milliseconds limit = milliseconds(15000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

class DriverE2ETest : public testing::ModelTest {
 public:
  void TearDown() override {
    thread.reset();  // before the station list goes
    if (sim) sim->Stop();
    ModelTest::TearDown();
  }

  // Ostrel.INI on the simulator's port, the simulator, the station list and the running thread.
  void Start(int modus, std::vector<std::string> simArgs = {}, const std::string& options = "") {
    WriteIni(kThreeStations, ThreeStationChannels(),
             "MODUS=" + std::to_string(modus) + "\r\nTIMEOUT=100\r\nRS232=" +
                 SimulatorProcess::DefaultPortPath(dir.Path()) + ",9600,None,8,1\r\n" + options);
    std::vector<std::string> args{"--radio-delay", "10", "--analog-period", "0", "--slot", "2000",
                                  "--slot-pause", "200"};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    sim = std::make_unique<SimulatorProcess>(dir.Path(), args);
    ASSERT_TRUE(sim->Start()) << sim->Error();
    ASSERT_EQ(CreateFML(), 0) << LogText();
    thread = tMOP::Create();
    ASSERT_NE(thread, nullptr) << LogText();
    thread->Resume();
  }

  int32_t ZfmStatus() { return RegisterValue(0, kGroupSystem, 0); }

  std::unique_ptr<SimulatorProcess> sim;
  std::unique_ptr<tMOP> thread;
};

class Modes : public DriverE2ETest, public ::testing::WithParamInterface<int> {};

TEST_P(Modes, EveryStationGoodAndAWriteConfirmed) {
  Start(GetParam());
  ASSERT_TRUE(Eventually([&] { return AllGood(); })) << LogText();
  EXPECT_EQ(ZfmStatus(), 1);
  ClientWrite(1, kGroupAA, 0, 777);
  ClientWrite(1, kGroupBA, 3, 1);
  EXPECT_EQ(RegisterQuality(1, kGroupAA, 0), kQualityLastKnown);
  ASSERT_TRUE(Eventually([&] {
    return RegisterQuality(1, kGroupAA, 0) == kQualityGood && RegisterQuality(1, kGroupBA, 3) == kQualityGood;
  }));
  EXPECT_EQ(RegisterValue(1, kGroupAA, 0), 777);
  EXPECT_EQ(RegisterValue(1, kGroupBA, 3), 1);
  // The simulated station's outputs follow: output word with bit 3, the analog output.
  EXPECT_EQ(sim->Registers("1", 2), (std::vector<int>{8, 777}));
}

TEST_P(Modes, LostModemIsSearchedAgainAndFound) {
  Start(GetParam(), {"--slot", "60000"});  // silent inside a slot, which the driver ends at 18 s
  ASSERT_TRUE(Eventually([&] { return AllGood(); })) << LogText();
  ASSERT_EQ(sim->Command("silent"), "ok");
  ASSERT_TRUE(Eventually([&] { return ZfmStatus() == -1; }));
  const int32_t answered = RegisterValue(1, kGroupSystem, kRsKomOk);
  ASSERT_EQ(sim->Command("back"), "ok");
  EXPECT_TRUE(Eventually([&] { return ZfmStatus() == 1 && RegisterValue(1, kGroupSystem, kRsKomOk) > answered; }));
}

INSTANTIATE_TEST_SUITE_P(Driver, Modes, ::testing::Values(1, 2),
                         [](const auto& info) { return "Modus" + std::to_string(info.param); });

TEST_F(DriverE2ETest, SilentStationCountsFailsAndIsVisitedByAuxiliaryCycles) {
  StartLog(3);  // the scheduler's trace lines
  Start(1, {"--silent", "2"}, "HILFSZYKLEN=2\r\nHILFSFAILMAX=99\r\n");
  ASSERT_TRUE(Eventually([&] {
    return RegisterValue(2, kGroupSystem, kRsKomFail) >= 2 && AllGood({1, 3}) &&
           LogText().find(" CF: NextAnfrage FM2(HZy=2)") != std::string::npos;
  })) << LogText();
  const std::string log = LogText();
  EXPECT_NE(log.find(" CF: NextAnfrage FM2(HZy=1)"), std::string::npos);
  for (const char* other : {"FM1(HZy=1)", "FM1(HZy=2)", "FM3(HZy=1)", "FM3(HZy=2)"})
    EXPECT_EQ(log.find(other), std::string::npos) << other;
  EXPECT_EQ(RegisterValue(1, kGroupSystem, kRsKomFail), 0);
  EXPECT_EQ(RegisterQuality(2, kGroupAE, 0), kQualityNotConnected);
}

TEST_F(DriverE2ETest, VanishedPortDoesNotSpinAndIsTakenBack) {
  // Logging is off: the port's lines on the loss and the recovery are written all the same.
  StartQuietLog();
  Start(1);
  ASSERT_TRUE(Eventually([&] { return AllGood(); })) << LogText();
  ASSERT_EQ(sim->Command("close-port"), "ok");
  ASSERT_TRUE(Eventually([&] { return ZfmStatus() == -1; }));
  // Searching a port that is not there: every pass waits out its time-outs. A loop that spun
  // would take a whole core.
  const auto wall0 = std::chrono::steady_clock::now();
  const double cpu0 = ProcessCpuSeconds();
  std::this_thread::sleep_for(milliseconds(1500));
  const double cpu = ProcessCpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  EXPECT_LT(cpu, 0.25 * wall) << cpu << " s of CPU in " << wall << " s";

  const int32_t answered = RegisterValue(1, kGroupSystem, kRsKomOk);
  ASSERT_EQ(sim->Command("open-port").rfind("ok", 0), 0u);
  EXPECT_TRUE(Eventually([&] { return ZfmStatus() == 1 && RegisterValue(1, kGroupSystem, kRsKomOk) > answered; }))
      << LogText();
  const std::string text = LogText();
  for (const char* line : {": device lost (", ": device reopened<"}) {
    const size_t at = text.find(line);
    EXPECT_NE(at, std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find(line, at + 1), std::string::npos) << "more than once: " << line << "\n" << text;
  }
}

}  // namespace
}  // namespace driver
