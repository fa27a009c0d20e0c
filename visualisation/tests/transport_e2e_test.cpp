// The visualisation client over the real transport: a test OPC server served from this process
// on a Unix-domain socket and found through the registry by the radio-modem server's ProgID,
// as the program finds it. Callbacks arrive on the transport's threads and reach the windows'
// logic through the callback loop, which the test runs until the awaited change shows.
#include <gtest/gtest.h>

#include <chrono>

#include "opcclient/kopl.h"
#include "platform/com/class_registry.h"
#include "platform/com/rpc/server_endpoint.h"
#include "platform/com/testing/fake_opc_server.h"
#include "platform/com/testing/serve_fake.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"
#include "visualisation/main_core.h"

namespace lumaro::testing {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;

// The test server's address space: central modem "Zentrale", station "Station1" with an
// analog input AE1 and a writable output BA1.
constexpr const char* kIni =
    "[ZENTRALFUNKMODEM]\r\nTYP=Zentrale,ZFM,1\r\n\r\n"
    "[UNTERSTATIONEN]\r\nTYP=Station1,PT100,0,1,0,0\r\n\r\n"
    "[ADR001]\r\nKANAL=AE,AE1,mA, 1.00000000000000E-0002,0,1\r\nKANAL=BA,BA1,,0,0,0\r\n";

class StationWindow final : public IStationWindow {
 public:
  StationWindow(const Context& c, const TMemIni& ini, const StationParams& p) : core(c, ini, p, false) {}
  void ShowWindow() override {}
  TStationCore core;
};

class TransportE2E : public ::testing::Test {
 protected:
  platform::testing::TempDir dir;
  platform::testing::RecordingMessages messages;
  platform::ManualClock clock;
  com::Apartment apartment;
  Context context;
  std::shared_ptr<com::testing::FakeDevice> device = std::make_shared<com::testing::FakeDevice>();
  std::unique_ptr<com::rpc::ServerEndpoint> endpoint;
  std::unique_ptr<TOVMainCore> main;
  std::vector<std::unique_ptr<StationWindow>> windows;

  void SetUp() override {
    kopl::KoplServices s;  // the transport's own activation
    s.build = kopl::KoplBuild::Visualisation;
    kopl::SetServices(std::move(s));
    com::ServerRegistration r;
    r.prog_id = "Qar.OPC_DA_Server_RM.1";
    r.version_independent_prog_id = kServerProgId;
    std::string error;
    ASSERT_EQ(com::testing::ServeFakeDevice(device, r, dir.Path(), &endpoint, &error), com::S_OK) << error;

    dir.Write("Ostrel.INI", kIni);
    context.messages = &messages;
    context.clock = &clock;
    context.apartment = &apartment;
    context.program_dir = dir.Path();
    context.current_dir = dir.Path();
    main = std::make_unique<TOVMainCore>(context);
    main->CreateStationWindow = [this](RStation&, const StationParams& p) -> IStationWindow* {
      windows.push_back(std::make_unique<StationWindow>(context, main->Ini(), p));
      windows.back()->core.Init();
      return windows.back().get();
    };
  }
  void TearDown() override {
    windows.clear();
    main.reset();
    endpoint.reset();
    kopl::SetServices({});
  }
  bool Await(const std::function<bool()>& done) { return apartment.RunUntil(done, 10s); }
};

TEST_F(TransportE2E, StationShowsValuesAndSwitchesAnOutput) {
  ASSERT_TRUE(main->Start());
  ASSERT_EQ(main->StationCount(), 1u);
  main->ShowStation();
  ASSERT_EQ(windows.size(), 1u);
  TStationCore& station = windows[0]->core;
  ASSERT_TRUE(station.Active());
  ASSERT_TRUE(station.Connected());
  EXPECT_EQ(device->ServerCount(), 2u);  // the main window's connection and the station's

  device->Set("Zentrale.Station1.AE1", com::Variant::R8(12.5));
  device->Tick();
  ASSERT_TRUE(Await([&] { return station.Analog(1).panel == "12.5"; }));
  EXPECT_EQ(station.Analog(1).gauge, 1250);

  station.Click(37, 204);  // output 1
  device->Tick();          // the server performs the write and reports the new value
  ASSERT_TRUE(Await([&] { return device->Value("Zentrale.Station1.BA1") == com::Variant::I4(1); }));
  ASSERT_TRUE(Await([&] { return station.LogValues()[5] == com::Variant::I4(1); }));
  EXPECT_EQ(station.LedColours()[16], 7);

  device->Shutdown("stopping");
  ASSERT_TRUE(Await([&] { return !station.Connected() && !main->Server().Active(); }));
  EXPECT_EQ(station.ConnectionText(), "nicht verbunden");
  main->StatusTimer();
  EXPECT_EQ(main->Panel(2), "nicht verbunden");
}

}  // namespace
}  // namespace lumaro::testing
