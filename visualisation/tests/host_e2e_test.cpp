// The visualisation client against the real server: ostrel-host with the server library in a
// server folder of the test's own, polling the simulated radio network over a pty. The client's
// logic finds the server by its ProgID (activation starts the host), reads Ostrel.INI of that
// folder, and runs in logging mode so the CSV log takes part too. Waits are for another
// process and are bounded; the client's own waits (connect delay, log throttle) use a clock the
// test moves.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <algorithm>

#include "host/tests/installed_host.h"
#include "opcclient/kopl.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"
#include "tools/testing/simulator_process.h"
#include "visualisation/main_core.h"

namespace lumaro::testing {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;

class StationWindow final : public IStationWindow {
 public:
  StationWindow(const Context& c, const TMemIni& ini, const StationParams& p, bool logging) : core(c, ini, p, logging) {}
  void ShowWindow() override {}
  TStationCore core;
};

class LumaroWithOstrelHost : public ::testing::Test {
 protected:
  host::testing::InstalledHost in;
  std::unique_ptr<radiosim::testing::SimulatorProcess> sim;
  platform::testing::TempDir current;
  platform::testing::RecordingMessages messages;
  platform::ManualClock clock;
  com::Apartment apartment;
  Context context;
  std::vector<std::unique_ptr<StationWindow>> windows;
  std::unique_ptr<TOVMainCore> main;

  void SetUp() override {
    in.WriteIni();  // central modem ZFM1; Pumpe (12) with AE Druck (0.1), BE E0..E19, BA A0..A9; Turm (40)
    ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
    sim = std::make_unique<radiosim::testing::SimulatorProcess>(in.Folder(),
                                                                std::vector<std::string>{"--radio-delay", "0"});
    ASSERT_TRUE(sim->Start()) << sim->Error();
    kopl::KoplServices services;  // the transport's own activation
    services.build = kopl::KoplBuild::Visualisation;
    kopl::SetServices(std::move(services));
    context.messages = &messages;
    context.clock = &clock;
    context.apartment = &apartment;
    context.program_dir = in.Folder();
    context.current_dir = current.Path();
    context.format = NumberFormat{'.', ','};
  }
  void TearDown() override {
    windows.clear();  // the station windows go before the main window, as the program has it
    main.reset();
    kopl::SetServices({});
  }
  // The main window as the program starts it; its station windows are made on demand.
  void StartMain() {
    main = std::make_unique<TOVMainCore>(context);
    main->CreateStationWindow = [this](RStation&, const StationParams& p) -> IStationWindow* {
      windows.push_back(std::make_unique<StationWindow>(context, main->Ini(), p, main->Logging()));
      windows.back()->core.Init();
      return windows.back().get();
    };
    ASSERT_TRUE(main->Start());
  }
  bool Await(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    return apartment.RunUntil(done, limit);
  }
};

TEST_F(LumaroWithOstrelHost, StationsOfTheSimulatedNetworkShowLogAndSwitch) {
  current.Write("datenloggen", "");
  ASSERT_NO_FATAL_FAILURE(StartMain());
  {
    TOVMainCore& main = *this->main;
    EXPECT_EQ(main.Caption(), "Lumaro - Loggend");
    ASSERT_EQ(main.StationCount(), 2u);
    ASSERT_EQ(windows.size(), 2u);  // logging: every station's window from the start
    EXPECT_TRUE(messages.boxes.empty()) << messages.Texts()[0];
    TStationCore& pumpe = windows[0]->core;
    ASSERT_TRUE(pumpe.Active());
    EXPECT_EQ(pumpe.AnalogCount(), 3u);  // Druck, Pegel, Frei; "#" and "&" have no item
    EXPECT_EQ(pumpe.InputCount(), 20u);
    EXPECT_EQ(pumpe.OutputCount(), 10u);
    EXPECT_TRUE(pumpe.OutputBlockCopied());

    // The central modem, found by the server through the simulator.
    ASSERT_TRUE(Await([&] { return main.Label(ZLStatus).colour == LabelColour::Good; }));
    EXPECT_EQ(main.Label(ZLStatus).text, "Ok");
    main.StatusTimer();
    EXPECT_EQ(main.Panel(2), "verbunden");

    // An analog input of the station, scaled by the server and shown with its decimals.
    ASSERT_EQ(sim->Command("jump Pumpe 0 1234").rfind("ok", 0), 0u);
    ASSERT_TRUE(Await([&] { return pumpe.Analog(1).panel == "123.4"; })) << pumpe.Analog(1).panel;
    EXPECT_EQ(pumpe.Analog(1).gauge, 1234);
    EXPECT_EQ(pumpe.Analog(1).panel_colour, LabelColour::Good);
    ASSERT_TRUE(Await([&] { return pumpe.Label(SLKomOK).colour == LabelColour::Good; }));

    // A click on output 1 reaches the station, which confirms it.
    pumpe.Click(37, 204);
    ASSERT_TRUE(Await([&] {
      const std::vector<int> outputs = sim->Registers("Pumpe", 2);
      return !outputs.empty() && (outputs[0] & 1) == 1;
    })) << "the station never got the output";
    ASSERT_TRUE(Await([&] {
      const com::Variant& logged = pumpe.LogValues()[size_t(pumpe.Output(0).LogColumn())];
      return logged == com::Variant::I4(1);
    })) << "the confirmed output never came back good";
    EXPECT_EQ(pumpe.LedColours()[16], 7);

    // A second later the next data change writes a line with what the window holds now.
    const std::string file = "Log/Stationslog-Pumpe-231114.csv";  // the test clock's day
    auto lines = [&] {
      const std::string text = in.Read(file);
      return std::count(text.begin(), text.end(), '\n');
    };
    const auto before = lines();
    EXPECT_GE(before, 2);  // header and the first change's line
    clock.Advance(1s);
    ASSERT_TRUE(Await([&] { return lines() > before; }));
    const std::string log = in.Read(file);
    EXPECT_EQ(log.rfind("Zeitstempel,RS_STATUS,RS_KOM_OK,RS_KOM_FAIL,RM_RECPOWER,Druck,Pegel,Frei,,,E0,", 0), 0u)
        << log;
    ASSERT_EQ(log.substr(log.size() - 2), "\r\n");
    const size_t start = log.rfind('\n', log.size() - 3) + 1;
    const std::string last = log.substr(start, log.size() - 2 - start);
    std::vector<std::string> fields{""};
    for (char c : last) {
      if (c == ',') {
        fields.emplace_back();
      } else {
        fields.back() += c;
      }
    }
    ASSERT_EQ(fields.size(), 1 + pumpe.LogColumns().size()) << log;
    EXPECT_EQ(fields[1 + 4], "123.4");                                  // Druck
    EXPECT_EQ(fields[1 + size_t(pumpe.Output(0).LogColumn())], "1");  // A0, as confirmed

    // The host stops: both connections go.
    const auto pid = in.RunningPid();
    ASSERT_TRUE(pid);
    kill(pid_t(*pid), SIGTERM);
    ASSERT_TRUE(Await([&] { return !pumpe.Connected() && !main.Server().Active(); }));
    EXPECT_TRUE(host::testing::AwaitExit(*pid));
    main.StatusTimer();
    EXPECT_EQ(main.Panel(2), "nicht verbunden");
    // What the windows still show is no longer vouched for.
    EXPECT_EQ(main.Label(ZLStatus).colour, LabelColour::Bad);
    EXPECT_EQ(pumpe.Label(SLKomOK).colour, LabelColour::Bad);
    EXPECT_EQ(pumpe.Analog(1).panel, "123.4");
  }
}

TEST_F(LumaroWithOstrelHost, AStoppedHostShowsAsLostInTheMainWindowAndAnOpenStationWindow) {
  ASSERT_NO_FATAL_FAILURE(StartMain());
  main->ShowStation();  // Pumpe, the first station
  ASSERT_EQ(windows.size(), 1u);
  TStationCore& pumpe = windows[0]->core;
  ASSERT_TRUE(pumpe.Active());
  ASSERT_TRUE(Await([&] {
    return main->Label(ZLStatus).colour == LabelColour::Good && pumpe.Label(SLKomOK).colour == LabelColour::Good;
  }));
  main->StatusTimer();
  ASSERT_EQ(main->Panel(2), "verbunden");
  ASSERT_EQ(pumpe.ConnectionText(), "verbunden");
  const auto pid = in.RunningPid();
  ASSERT_TRUE(pid);

  const host::testing::ScopedStop stop(*pid);
  ASSERT_TRUE(stop.Stopped()) << "the host does not stop";
  // Only the callback loop runs, no call of either window: their connections must find out.
  ASSERT_TRUE(Await([&] { return !main->Server().Active() && !pumpe.Connected(); }, 60s))
      << "main window " << (main->Server().Active() ? "connected" : "lost") << ", station window "
      << pumpe.ConnectionText();
  EXPECT_EQ(pumpe.ConnectionText(), "nicht verbunden");
  main->StatusTimer();
  EXPECT_EQ(main->Panel(2), "nicht verbunden");
  EXPECT_EQ(main->Label(ZLStatus).colour, LabelColour::Bad);
  EXPECT_EQ(pumpe.Label(SLKomOK).colour, LabelColour::Bad);
  pumpe.TimerTick();  // a second later the output shows its value as no longer known
  EXPECT_EQ(pumpe.LedColours()[kFirstOutputLed], 0);

  // A click on an output of the lost server writes nothing and asks nobody.
  pumpe.Click(37, 204);
  EXPECT_TRUE(messages.boxes.empty()) << messages.Texts()[0];
  EXPECT_EQ(pumpe.LedColours()[kFirstOutputLed], 0);
}

}  // namespace
}  // namespace lumaro::testing
