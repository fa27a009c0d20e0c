// The client library against ostrel-host and the radio-network simulator, where the host's own
// ways matter: the OPC DA 1.0 road of a host that offers no connection points, and a host that
// stops answering. Waits are for other processes and bounded; the library's own waits (the
// connect delay) use a clock the test moves.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "host/tests/installed_host.h"
#include "opcclient/kopl.h"
#include "platform/clock.h"
#include "tools/testing/simulator_process.h"

namespace kopl::testing {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;
using host::testing::InstalledHost;
using radiosim::testing::SimulatorProcess;

// Whether every thread of the process has stopped: kill returns before they all have, and a
// thread still running may answer a call meanwhile.
bool WhollyStopped(pid_t pid) {
  std::error_code ec;
  int threads = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos || name_end + 2 >= stat.size() || stat[name_end + 2] != 'T') return false;
    ++threads;
  }
  return !ec && threads > 0;
}

class HostTest : public ::testing::Test {
 protected:
  InstalledHost in;
  std::unique_ptr<SimulatorProcess> sim;
  com::Apartment apartment;
  platform::ManualClock clock;
  std::unique_ptr<TKoplServer> s;
  std::map<std::string, std::pair<std::string, int32_t>> seen;  // item ID -> value, quality
  int disconnects = 0;

  // The host serving the small network, found by the library through the transport.
  void Start(KoplServices services, const std::vector<std::string>& host_args) {
    in.WriteIni();
    ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
    sim = std::make_unique<SimulatorProcess>(in.Folder(), std::vector<std::string>{"--radio-delay", "0"});
    ASSERT_TRUE(sim->Start()) << sim->Error();
    if (!host_args.empty()) {
      ASSERT_TRUE(in.Spawn(host_args));
    }
    SetServices(std::move(services));
    s = std::make_unique<TKoplServer>(KoplBuild::Explorer);
    s->SetApartment(apartment);
    s->SetClock(&clock);
    s->SetServerName(host::testing::kOstrelProgId);
    s->OnDatachange = [this](TKoplServer*, TKoplItemList& l) {
      for (TKoplItem* i : l) seen[i->ItemID()] = {i->GetValueStr(), i->Quality()};
    };
    s->OnDisconnect = [this](TKoplServer*) { ++disconnects; };
  }
  void TearDown() override {
    s.reset();
    SetServices({});
  }
  bool Await(const std::function<bool()>& done) { return apartment.RunUntil(done, 30s); }
  bool Seen(const std::string& id, const std::string& value) {
    return seen.count(id) && seen[id].first == value && seen[id].second == 0xC0;
  }
  // A binary output of Pumpe as the simulated station holds it; -1 while it cannot say.
  int Output(int bit) {
    const std::vector<int> outputs = sim->Registers("Pumpe", 2);
    return outputs.empty() ? -1 : (outputs[0] >> bit) & 1;
  }
};

TEST_F(HostTest, OpcDa10OnlyHostTakesAsynchronousWrites) {
  ASSERT_NO_FATAL_FAILURE(Start({}, {"--da10-only"}));
  TKoplGroup& g = s->OPCGroups().Add("Pumpe");
  TKoplItem& output = g.OPCItems().Add("ZFM1.Pumpe.A3");
  s->SetActive(true);
  ASSERT_TRUE(s->Active());
  ASSERT_TRUE(g.HasAdviseSink());  // the data-object road
  ASSERT_TRUE(Await([&] { return Seen("ZFM1.Pumpe.A3", "0"); })) << "no good value of the output";

  output.WriteSync(com::Variant::I4(1));
  ASSERT_TRUE(Await([&] { return Output(3) == 1 && Seen("ZFM1.Pumpe.A3", "1"); }));
  output.WriteAsync(com::Variant::I4(0));
  ASSERT_TRUE(Await([&] { return Output(3) == 0 && Seen("ZFM1.Pumpe.A3", "0"); }))
      << "the asynchronous write never reached the station";
}

TEST_F(HostTest, AHostThatStopsAnsweringCountsAsGoneAfterOneCallRanOutOfTime) {
  KoplServices services;
  services.call_timeout_ms = 3000;  // a call to a live host takes milliseconds
  ASSERT_NO_FATAL_FAILURE(Start(std::move(services), {}));
  for (const char* group : {"Pumpe", "Turm"}) s->OPCGroups().Add(group);
  s->OPCGroups()[0].OPCItems().Add("ZFM1.Pumpe.Druck");
  s->OPCGroups()[1].OPCItems().Add("ZFM1.Turm.Temp");
  s->SetActive(true);
  ASSERT_TRUE(s->Active());
  ASSERT_TRUE(Await([&] { return seen.count("ZFM1.Pumpe.Druck") && seen["ZFM1.Pumpe.Druck"].second == 0xC0; }));
  const auto pid = in.RunningPid();
  ASSERT_TRUE(pid);

  ASSERT_EQ(kill(pid_t(*pid), SIGSTOP), 0);
  for (auto end = std::chrono::steady_clock::now() + 30s; !WhollyStopped(pid_t(*pid));) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << "the host does not stop";
    std::this_thread::sleep_for(1ms);
  }
  auto status_code = [&] {
    try {
      s->GetServerStatus();
    } catch (const EOleSysError& e) {
      return e.ErrorCode();
    }
    return com::S_OK;
  };
  EXPECT_EQ(status_code(), com::RPC_E_TIMEOUT);
  // The next call fails without asking the server: asking would wait out the time once more.
  EXPECT_EQ(status_code(), com::RPC_E_DISCONNECTED);
  // The component lets the connection go as any lost one, its groups' teardown included.
  EXPECT_TRUE(Await([&] { return disconnects == 1; }));
  EXPECT_FALSE(s->Active());
  EXPECT_EQ(s->OPCGroups().Count(), 2);
  kill(pid_t(*pid), SIGCONT);
}

}  // namespace
}  // namespace kopl::testing
