// The client library against ostrel-host and the simulator: the road of one read, from the
// item ID to the data change, and one write back, as the station window of the visualisation
// client takes it.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "host/tests/installed_host.h"
#include "opcclient/kopl.h"
#include "platform/clock.h"
#include "tools/testing/simulator_process.h"

namespace host::testing {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;
using kopl::TKoplGroup;
using kopl::TKoplItemList;
using kopl::TKoplServer;

TEST(OstrelHostWithClientLibrary, OneReadFromItemIdToDataChangeAndOneWriteBack) {
  InstalledHost in;
  in.WriteIni();
  ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
  radiosim::testing::SimulatorProcess sim(in.Folder(), {"--radio-delay", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();

  kopl::SetServices({});  // the transport's own activation
  com::Apartment apartment;
  platform::ManualClock clock;  // the connect delay passes without sleeping
  TKoplServer s(kopl::KoplBuild::Visualisation);
  s.SetApartment(apartment);
  s.SetClock(&clock);
  s.SetServerName(kOstrelProgId);
  struct Seen {
    std::string value;
    int32_t quality;
  };
  std::map<std::string, Seen> seen;
  std::vector<std::string> events;
  s.OnDatachange = [&](TKoplServer*, TKoplItemList& l) {
    for (kopl::TKoplItem* i : l) seen[i->ItemID()] = {i->GetValueStr(), i->Quality()};
  };
  s.OnWriteComplete = [&](TKoplServer*, TKoplItemList& l) { events.push_back("written " + l[0].ItemID()); };
  // The library passes no reason on.
  s.OnServerShutdown = [&](TKoplServer*, const std::string& reason) { events.push_back("shutdown " + reason); };
  auto await = [&](const std::function<bool()>& done) { return apartment.RunUntil(done, 30s); };
  auto has = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) != events.end(); };

  // The item IDs as the client builds them from Ostrel.INI: central modem, station, register.
  TKoplGroup& g = s.OPCGroups().Add("Pumpe");
  g.OPCItems().Add("ZFM1.Pumpe.Druck");
  kopl::TKoplItem& output = g.OPCItems().Add("ZFM1.Pumpe.A3");
  s.SetActive(true);
  ASSERT_TRUE(s.Active());
  ASSERT_TRUE(g.HasDataCallback());
  ASSERT_TRUE(await([&] { return seen["ZFM1.Pumpe.Druck"].quality == 0xC0; })) << "no good pressure value";

  output.WriteAsync(com::Variant::I4(1));
  ASSERT_TRUE(await([&] { return has("written ZFM1.Pumpe.A3"); }));
  ASSERT_TRUE(await([&] {
    const Seen& a = seen["ZFM1.Pumpe.A3"];
    return a.value == "1" && a.quality == 0xC0;
  })) << "the station never confirmed the output";
  EXPECT_EQ(sim.Registers("Pumpe", 2).at(0) & 8, 8);

  auto pid = in.RunningPid();
  ASSERT_TRUE(pid);
  kill(pid_t(*pid), SIGTERM);
  ASSERT_TRUE(await([&] { return has("shutdown "); }));
  EXPECT_TRUE(AwaitExit(*pid));
}

}  // namespace
}  // namespace host::testing
