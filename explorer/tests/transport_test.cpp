// The explorer's logic against a test OPC server over the real transport: found through the
// registry, browsed, watched, written and saved as a program user would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "explorer/main_model.h"
#include "explorer/tests/explorer_fixture.h"
#include "platform/com/class_registry.h"
#include "platform/com/rpc/server_endpoint.h"
#include "platform/com/testing/fake_opc_server.h"
#include "platform/com/testing/serve_fake.h"

namespace explorer::testing {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;
namespace com = platform::com;

constexpr const char* kProgId = "Test.Explorer.Transport.1";

class ExplorerTransportTest : public ::testing::Test {
 protected:
  platform::testing::TempDir dir;
  com::Apartment apartment;
  platform::ManualClock clock;
  ScriptedDialogs dialogs;
  platform::testing::RecordingMessages messages;
  std::shared_ptr<com::testing::FakeDevice> device = std::make_shared<com::testing::FakeDevice>();
  std::unique_ptr<com::rpc::ServerEndpoint> endpoint;
  std::unique_ptr<TMainModel> main;
  std::string old_cwd;

  void SetUp() override {
    kopl::SetServices({});  // the transport's own activation
    char buf[4096];
    old_cwd = getcwd(buf, sizeof buf) ? buf : "/";
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    com::ServerRegistration r;
    r.prog_id = kProgId;
    std::string error;
    ASSERT_EQ(com::testing::ServeFakeDevice(device, r, dir.Path(), &endpoint, &error), com::S_OK) << error;
    StartExplorer();
  }
  // The program as it starts: its window shown.
  void StartExplorer() {
    TMainModel::Options o;
    o.settings_path = dir / "Feddra.ini";
    o.apartment = &apartment;
    o.clock = &clock;
    main = std::make_unique<TMainModel>(dialogs, messages, o);
    main->FormShow();
  }
  void TearDown() override {
    main.reset();
    endpoint.reset();
    EXPECT_EQ(chdir(old_cwd.c_str()), 0);
  }
  // Runs the loop until cond holds (bounded: a lost callback fails instead of hanging).
  bool Await(const std::function<bool()>& cond) { return apartment.RunUntil(cond, 10s); }
  TInspecModel& Inspector() { return main->Inspector(); }
  const TBranchNode* Top(const std::string& name) {
    for (const auto& n : main->Explorer().Tree().Top()) {
      if (n->Text == name) return n.get();
    }
    return nullptr;
  }
};

TEST_F(ExplorerTransportTest, BrowseWatchWriteAndShutDown) {
  main->SetServerText(kProgId);
  main->Connect();
  ASSERT_TRUE(main->OPCServer().Active());
  const TBranchNode* zentrale = Top("Zentrale");
  ASSERT_NE(zentrale, nullptr);
  ASSERT_EQ(zentrale->Children.size(), 2u);

  // Station1's leaves to the inspector's group.
  main->Explorer().SelectNode(zentrale->Children[0].get());
  EXPECT_EQ(main->Explorer().Leafs(), (Names{"AE1", "BA1", "Name"}));
  dialogs.select_group = [](const Names& names) { return names.front(); };
  main->AddItemsToInspector(main->Explorer().GetSelectedItemIDs({0, 1}));
  ASSERT_EQ(Inspector().RowCount(), 2);

  device->Tick();
  ASSERT_TRUE(Await([&] { return Inspector().Row(0).Value == "12.5"; }));
  device->Set("Zentrale.Station1.BA1", kopl::Variant::I4(255));
  device->Tick();
  ASSERT_TRUE(Await([&] { return Inspector().Row(1).HexVal == "$ FF"; }));
  EXPECT_EQ(Inspector().Row(1).Quality, "good");

  dialogs.input_query = [](const std::string&, const std::string&, std::string& v) {
    v = "7";
    return true;
  };
  Inspector().WriteValue(1, false);
  EXPECT_EQ(device->Value("Zentrale.Station1.BA1"), kopl::Variant::I4(7));
  dialogs.input_query = [](const std::string&, const std::string&, std::string& v) {
    v = "9";
    return true;
  };
  Inspector().WriteValue(1, true);
  device->Tick();
  ASSERT_TRUE(Await([&] { return main->ErrorInfo() == "Async write values OK"; }));

  main->TimerTick();
  EXPECT_EQ(main->Status().State, "running");

  device->Shutdown("server stopped");
  ASSERT_TRUE(Await([&] { return !main->OPCServer().Active(); }));
  EXPECT_EQ(main->ErrorInfo(), "Disconnect from Server");
  EXPECT_TRUE(main->Explorer().Tree().Empty());
}

TEST_F(ExplorerTransportTest, LastConfigurationReconnects) {
  main->SetServerText(kProgId);
  main->Connect();
  Inspector().AddItemsToGroup("Default", {"Zentrale.Station2.AE1"});
  main->Close();
  main.reset();

  StartExplorer();
  EXPECT_EQ(main->ServerText(), kProgId);
  main->LoadLastConfig();
  ASSERT_TRUE(main->OPCServer().Active());
  ASSERT_EQ(Inspector().RowCount(), 1);
  device->Tick();
  ASSERT_TRUE(Await([&] { return Inspector().Row(0).Quality == "bad"; }));  // not connected at the station
}

}  // namespace
}  // namespace explorer::testing
