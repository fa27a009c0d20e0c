// The client library against ostrel-host and the radio-network simulator, where the host's own
// ways matter: the OPC DA 1.0 road of a host that offers no connection points, and a host that
// stops answering. Waits are for other processes and bounded; the library's own waits (the
// connect delay) use a clock the test moves.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

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

class HostTest : public ::testing::Test {
 protected:
  InstalledHost in;
  std::unique_ptr<SimulatorProcess> sim;
  com::Apartment apartment;
  platform::ManualClock clock;
  std::unique_ptr<TKoplServer> s;
  std::map<std::string, std::pair<std::string, int32_t>> seen;  // item ID -> value, quality
  int disconnects = 0;
  std::optional<host::testing::ScopedStop> stopped;

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
    stopped.reset();  // the client's teardown must not wait for a stopped host
    s.reset();
    SetServices({});
  }
  // Once a good value of Druck came in, the host stopped wholly until the test ends.
  void StopHostOnceServing() {
    ASSERT_TRUE(Await([&] { return seen.count("ZFM1.Pumpe.Druck") && seen["ZFM1.Pumpe.Druck"].second == 0xC0; }));
    const auto pid = in.RunningPid();
    ASSERT_TRUE(pid);
    stopped.emplace(*pid);
    ASSERT_TRUE(stopped->Stopped()) << "the host does not stop";
  }
  bool Await(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    return apartment.RunUntil(done, limit);
  }
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
  ASSERT_NO_FATAL_FAILURE(StopHostOnceServing());
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
}

TEST_F(HostTest, AHostThatStopsAnsweringIsFoundGoneWithoutACallOfTheClients) {
  ASSERT_NO_FATAL_FAILURE(Start({}, {}));
  s->OPCGroups().Add("Pumpe").OPCItems().Add("ZFM1.Pumpe.Druck");
  s->SetActive(true);
  ASSERT_TRUE(s->Active());
  ASSERT_NO_FATAL_FAILURE(StopHostOnceServing());
  // Nothing but the callback loop runs: the connection itself must find out.
  ASSERT_TRUE(Await([&] { return disconnects == 1; }, 60s)) << "a stopped host still counts as connected";
  EXPECT_FALSE(s->Active());
  EXPECT_THROW(s->GetServerStatus(), EOPCException);  // known gone: no call waits for the host
}

}  // namespace
}  // namespace kopl::testing
