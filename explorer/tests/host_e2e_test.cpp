// The explorer against ostrel-host and the radio-network simulator, where only a real host
// shows the fault: a host that stops answering while the explorer watches its items.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "explorer/main_model.h"
#include "explorer/tests/explorer_fixture.h"
#include "host/tests/installed_host.h"
#include "tools/testing/simulator_process.h"

namespace explorer::testing {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;

TEST(FeddraWithOstrelHost, AStoppedHostShowsAsLostWithoutAStatusPoll) {
  host::testing::InstalledHost in;
  in.WriteIni();
  ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
  radiosim::testing::SimulatorProcess sim(in.Folder(), {"--radio-delay", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();
  kopl::SetServices({});  // the transport's own activation

  platform::testing::TempDir dir;
  com::Apartment apartment;
  platform::ManualClock clock;
  ScriptedDialogs dialogs;
  platform::testing::RecordingMessages messages;
  TMainModel::Options o;
  o.settings_path = dir / "Feddra.ini";
  o.last_config = dir / "Feddra_LastConfig.opc";
  o.apartment = &apartment;
  o.clock = &clock;
  auto main = std::make_unique<TMainModel>(dialogs, messages, o);
  main->FormShow();
  main->SetServerText(host::testing::kOstrelProgId);
  main->Connect();
  ASSERT_TRUE(main->OPCServer().Active());
  ASSERT_FALSE(main->Explorer().Tree().Empty());
  main->Inspector().AddItemsToGroup("Default", {"ZFM1.Pumpe.Druck"});
  ASSERT_EQ(main->Inspector().RowCount(), 1);
  ASSERT_TRUE(apartment.RunUntil([&] { return main->Inspector().Row(0).Quality == "good"; }, 30s));
  main->TimerTick();
  ASSERT_EQ(main->Status().State, "running");

  const auto pid = in.RunningPid();
  ASSERT_TRUE(pid);
  const host::testing::ScopedStop stop(*pid);
  ASSERT_TRUE(stop.Stopped()) << "the host does not stop";
  // Only the callback loop runs, no status poll: the connection must find out by itself.
  ASSERT_TRUE(apartment.RunUntil([&] { return !main->OPCServer().Active(); }, 60s))
      << "a stopped host still counts as connected";
  EXPECT_TRUE(main->Explorer().Tree().Empty());
  main->TimerTick();
  EXPECT_EQ(main->Status().Server, "not connected");
  main.reset();
}

}  // namespace
}  // namespace explorer::testing
