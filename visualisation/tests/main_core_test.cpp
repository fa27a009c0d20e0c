// The main window's decisions without a window: start-up from the configuration file, the
// connection, the station list, the central modem's status and the station windows.
#include "visualisation/main_core.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "visualisation/tests/lumaro_fixture.h"

namespace lumaro::testing {
namespace {

using com::Variant;

class FakeWindow final : public IStationWindow {
 public:
  void ShowWindow() override { ++shown; }
  int shown = 0;
};

class MainCoreTest : public LumaroTest {
 protected:
  std::unique_ptr<TOVMainCore> core;
  std::vector<std::unique_ptr<FakeWindow>> windows;
  std::vector<StationParams> made;

  void SetUp() override {
    LumaroTest::SetUp();
    core = std::make_unique<TOVMainCore>(context);
    core->CreateStationWindow = [this](RStation&, const StationParams& p) -> IStationWindow* {
      made.push_back(p);
      windows.push_back(std::make_unique<FakeWindow>());
      return windows.back().get();
    };
  }
  kopl::testing::ScriptedGroup& Status() { return *servers.front()->Group("STATUS"); }
  void Send(const std::string& id, Variant v, com::WORD quality = com::OPC_QUALITY_GOOD) {
    Status().SendData(0, {id}, {v}, quality);
    Run();
  }
};

TEST_F(MainCoreTest, StartsWithTheStationsOfTheFile) {
  WriteIni(kTwoStations);
  Know(TwoStationItems());
  ASSERT_TRUE(core->Start());
  EXPECT_EQ(core->Caption(), "Lumaro");
  EXPECT_EQ(core->Panel(1), "Aktiv");
  EXPECT_EQ(core->Version(), "V 061121");
  EXPECT_EQ(core->ZentraleName(), "Zentrale");
  EXPECT_EQ(core->ZentraleType(), "ZFM-100");
  EXPECT_EQ(core->Server().ServerName(), "Qar.OPC_DA_Server_RM");
  EXPECT_TRUE(core->ButtonEnabled());
  ASSERT_EQ(core->StationCount(), 2u);
  EXPECT_EQ(core->Station(1).name, "Brunnen");
  EXPECT_EQ(core->Station(1).type_name, "PT200");
  EXPECT_EQ(core->Station(1).address, 12);
  EXPECT_EQ(core->Selected(), 0);
  EXPECT_TRUE(made.empty());  // windows come when asked for
  EXPECT_EQ(Status().items.size(), 3u);
  EXPECT_EQ(core->Label(ZLStatus).text, "unbekannt");
  EXPECT_EQ(core->Panel(2), "verbunden");
  EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(MainCoreTest, FatalStarts) {
  struct Case {
    const char* name;
    const char* ini;  // nullptr: no file
    bool registered;
    const char* text;
  } cases[] = {
      {"no file", nullptr, true, "Die INI-Datei (ostrel.ini) des OPC-Servers konnte nicht gelesen werden!"},
      {"no TYP key", "[ZENTRALFUNKMODEM]\r\nMODUS=1\r\n", true,
       "Die INI-Datei (ostrel.ini) des OPC-Servers konnte nicht gelesen werden!"},
      {"no OPC server registered", kTwoStations, false, "Es konnte kein Zentralfunkmodem gefunden werden!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.boxes.clear();
    servers.clear();
    platform::Registry reg;
    if (!c.registered) com::UnregisterServer(ServerRegistrationForTests(), reg);
    std::filesystem::remove(program / "Ostrel.INI");
    if (c.ini) WriteIni(c.ini);
    core = std::make_unique<TOVMainCore>(context);
    EXPECT_FALSE(core->Start());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{c.text});
    EXPECT_TRUE(servers.empty());  // never connected
    if (!c.registered) {
      ASSERT_TRUE(com::RegisterServer(ServerRegistrationForTests(), reg));
    }
  }
}

TEST_F(MainCoreTest, AServerThatCannotBeReachedLeavesTheWindowInactive) {
  WriteIni(kTwoStations);
  activation_result = com::E_FAIL;
  ASSERT_TRUE(core->Start());
  EXPECT_EQ(
      messages.Texts(),
      (std::vector<std::string>{"Es kann keine Verbindung zum OPC-Server \"Qar.OPC_DA_Server_RM\" hergestellt werden!",
                                "Die Zentralfunkmodem-Anzeige wird wegen eines Fehlers deaktiviert!"}));
  EXPECT_FALSE(core->ButtonEnabled());
  EXPECT_EQ(core->StationCount(), 0u);
  EXPECT_EQ(core->Panel(1), "Inaktiv");
  EXPECT_EQ(core->Panel(2), "nicht verbunden");
  EXPECT_EQ(core->Label(ZLStatus).text, "");
}

TEST_F(MainCoreTest, EmptyStationSectionKeepsTheButton) {
  WriteIni("[ZENTRALFUNKMODEM]\r\nTYP=Zentrale,Z,1\r\n\r\n[UNTERSTATIONEN]\r\n");
  ASSERT_TRUE(core->Start());
  EXPECT_EQ(core->StationCount(), 0u);
  EXPECT_EQ(core->Selected(), -1);
  EXPECT_TRUE(core->ButtonEnabled());
  core->ShowStation();  // nothing selected: nothing happens
  EXPECT_TRUE(made.empty());
}

TEST_F(MainCoreTest, AStationLineWithoutADecimalAddressEndsTheLoading) {
  WriteIni(
      "[ZENTRALFUNKMODEM]\r\nTYP=Zentrale,Z,1\r\n[UNTERSTATIONEN]\r\n"
      "TYP=Pumpe,PT100,0,7,0,0\r\nTYP=Kaputt,PT100,0,x7,0,0\r\nTYP=Brunnen,PT200,0,12,0,0\r\n");
  Know(TwoStationItems());
  ASSERT_TRUE(core->Start());
  EXPECT_EQ(core->StationCount(), 1u);
  EXPECT_EQ(messages.Texts(),
            std::vector<std::string>{"Die Stationsadresse \"x7\" der Station \"Kaputt\" ist keine Zahl!"});
  EXPECT_EQ(Status().items.size(), 3u);  // the rest of the start goes on
}

TEST_F(MainCoreTest, LoggingModeMakesEveryStationWindowAtOnce) {
  WriteIni(kTwoStations);
  current.Write("DatenLoggen", "");
  ASSERT_TRUE(core->Start());
  EXPECT_TRUE(core->Logging());
  EXPECT_EQ(core->Caption(), "Lumaro - Loggend");
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[1].station_name, "Brunnen");
  EXPECT_EQ(made[1].address, 12);
  EXPECT_EQ(made[1].zentrale_name, "Zentrale");
  EXPECT_EQ(made[1].prog_id, "Qar.OPC_DA_Server_RM");
  EXPECT_EQ(windows[0]->shown, 0);  // made, not shown
}

TEST_F(MainCoreTest, ShowStationMakesItsWindowOnceAndShowsIt) {
  WriteIni(kTwoStations);
  ASSERT_TRUE(core->Start());
  core->Select(1);
  core->ShowStation();
  core->ShowStation();
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].station_name, "Brunnen");
  EXPECT_EQ(made[0].type_name, "PT200");
  EXPECT_EQ(windows[0]->shown, 2);
  core->Station(1).window = nullptr;  // the window went
  core->ShowStation();
  EXPECT_EQ(made.size(), 2u);
}

TEST_F(MainCoreTest, AWindowThatClosedItselfIsNotShown) {
  WriteIni(kTwoStations);
  ASSERT_TRUE(core->Start());
  core->CreateStationWindow = [](RStation&, const StationParams&) -> IStationWindow* { return nullptr; };
  core->ShowStation();
  EXPECT_EQ(core->Station(0).window, nullptr);
}

TEST_F(MainCoreTest, CentralModemStatusLabels) {
  struct Case {
    const char* name;
    const char* reg;
    Variant value;
    com::WORD quality;
    int label;
    const char* text;
    LabelColour colour;
  } cases[] = {
      {"status ok", "RS_STATUS", Variant::I4(1), com::OPC_QUALITY_GOOD, ZLStatus, "Ok", LabelColour::Good},
      {"status 7 is unknown, still good", "RS_STATUS", Variant::I4(7), com::OPC_QUALITY_GOOD, ZLStatus, "unbekannt",
       LabelColour::Good},
      {"status as a real", "RS_STATUS", Variant::R8(-4), com::OPC_QUALITY_GOOD, ZLStatus, "Simulationsmodus",
       LabelColour::Good},
      {"bad quality is red", "RS_STATUS", Variant::I4(-1), com::OPC_QUALITY_NOT_CONNECTED, ZLStatus, "Keine Verbindung",
       LabelColour::Bad},
      {"DCF state", "RS_DCF_TIME", Variant::I4(3), com::OPC_QUALITY_GOOD, ZLDCFStatus, "Asynchron", LabelColour::Good},
      {"DCF without a value", "RS_DCF_TIME", Variant(), com::OPC_QUALITY_BAD, ZLDCFStatus, "Sucht", LabelColour::Bad},
      {"receive power", "RM_RECPOWER", Variant::R8(17.5), com::OPC_QUALITY_GOOD, ZLRecPower, "17.5", LabelColour::Good},
  };
  WriteIni(kTwoStations);
  Know(TwoStationItems());
  ASSERT_TRUE(core->Start());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Send(std::string("Zentrale.") + c.reg, c.value, c.quality);
    EXPECT_EQ(core->Label(c.label).text, c.text);
    EXPECT_EQ(core->Label(c.label).colour, c.colour);
  }
}

TEST_F(MainCoreTest, StatusItemsTheServerLacksShowNotAvailable) {
  WriteIni(kTwoStations);
  Know({"Zentrale.RS_STATUS"});
  ASSERT_TRUE(core->Start());
  EXPECT_EQ(core->Label(ZLStatus).text, "unbekannt");
  EXPECT_EQ(core->Label(ZLDCFStatus).text, "n/v");
  EXPECT_EQ(core->Label(ZLRecPower).text, "n/v");
  EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(MainCoreTest, StatusTimerFollowsTheServer) {
  WriteIni(kTwoStations);
  ASSERT_TRUE(core->Start());
  ScriptedServer& s = *servers.front();
  struct Step {
    const char* name;
    std::function<void()> act;
    const char* text;
  } steps[] = {
      {"test mode", [&] { s.status.dwServerState = com::OPC_STATUS_TEST; }, "Testmodus"},
      {"no config", [&] { s.status.dwServerState = com::OPC_STATUS_NOCONFIG; }, "nicht konfiguriert"},
      {"status query fails", [&] { s.fail["GetStatus"] = com::E_FAIL; }, "nicht verbunden"},
      {"shut down",
       [&] {
         s.fail.clear();
         s.ShutdownSink()->ShutdownRequest("stop");
         Run();
       },
       "nicht verbunden"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    core->StatusTimer();
    EXPECT_EQ(core->Panel(2), step.text);
  }
  EXPECT_TRUE(messages.boxes.empty());
}

}  // namespace
}  // namespace lumaro::testing
