// How long each client program takes to show that its server hangs: ostrel-host serves the
// simulated network, then gets SIGSTOP while Lumaro's main window with the station window of
// Pumpe, and then Feddra with an item in its inspector, are connected. Each program's timers
// run as in the program (status poll once a second, the station window's one-second timer),
// so a status call that waits for the hung host holds up that program's loop, as it does in
// the program. Prints the seconds from the stop until each window shows the loss.
//
//   bench_hung_server [RUNS]   (3 when not given; at most 90 s a window)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/explorer_no_dialogs.h"
#include "explorer/main_model.h"
#include "host/tests/installed_host.h"
#include "opcclient/kopl.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"
#include "tools/testing/simulator_process.h"
#include "visualisation/main_core.h"

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
namespace com = platform::com;

constexpr auto kLimit = 90s;

class StationWindow final : public lumaro::IStationWindow {
 public:
  StationWindow(const lumaro::Context& c, const lumaro::TMemIni& ini, const lumaro::StationParams& p)
      : core(c, ini, p, false) {}
  void ShowWindow() override {}
  lumaro::TStationCore core;
};

using bench::NoDialogs;

// The host of one run, serving the simulated network.
struct Host {
  host::testing::InstalledHost in;
  std::unique_ptr<radiosim::testing::SimulatorProcess> sim;
  std::optional<host::testing::ScopedStop> stopped;

  bool Start() {
    in.WriteIni();
    if (in.Run({"-REGSERVER"}).exit_code != 0) return false;
    sim = std::make_unique<radiosim::testing::SimulatorProcess>(in.Folder(),
                                                                std::vector<std::string>{"--radio-delay", "0"});
    return sim->Start();
  }
  bool Stop() {
    auto pid = in.RunningPid();
    if (!pid) return false;
    stopped.emplace(*pid);
    return stopped->Stopped();
  }
};

// Runs the loop and the program's one-second timer until every condition held (or the
// limit passed); the seconds from start until each one first held, -1 when it never did.
std::vector<double> Watch(com::Apartment& apartment, const std::function<void()>& timer,
                          const std::vector<std::function<bool()>>& shown) {
  const auto start = Steady::now();
  std::vector<double> at(shown.size(), -1);
  auto next_tick = start + 1s;
  for (;;) {
    bool all = true;
    for (size_t i = 0; i < shown.size(); ++i) {
      if (at[i] < 0 && shown[i]()) at[i] = std::chrono::duration<double>(Steady::now() - start).count();
      all = all && at[i] >= 0;
    }
    if (all || Steady::now() - start > kLimit) return at;
    apartment.RunUntil([&] { return Steady::now() >= next_tick; }, 50ms);
    if (Steady::now() >= next_tick) {
      timer();
      next_tick += 1s;
    }
  }
}

std::string Seconds(double s) {
  char buf[32];
  if (s < 0) {
    std::snprintf(buf, sizeof buf, "> %.0f", std::chrono::duration<double>(kLimit).count());
  } else {
    std::snprintf(buf, sizeof buf, "%.1f", s);
  }
  return buf;
}

bool LumaroRun(double* main_window, double* station_window) {
  Host host;
  if (!host.Start()) return false;
  kopl::KoplServices services;
  services.build = kopl::KoplBuild::Visualisation;
  kopl::SetServices(std::move(services));
  platform::testing::TempDir current;
  platform::testing::RecordingMessages messages;
  com::Apartment apartment;
  lumaro::Context context;
  context.messages = &messages;
  context.apartment = &apartment;
  context.program_dir = host.in.Folder();
  context.current_dir = current.Path();
  std::vector<std::unique_ptr<StationWindow>> windows;
  auto main = std::make_unique<lumaro::TOVMainCore>(context);
  main->CreateStationWindow = [&](lumaro::RStation&, const lumaro::StationParams& p) -> lumaro::IStationWindow* {
    windows.push_back(std::make_unique<StationWindow>(context, main->Ini(), p));
    windows.back()->core.Init();
    return windows.back().get();
  };
  bool ok = main->Start();
  main->ShowStation();
  ok = ok && windows.size() == 1;
  if (ok) {
    lumaro::TStationCore& pumpe = windows[0]->core;
    ok = apartment.RunUntil([&] { return pumpe.Label(lumaro::SLKomOK).colour == lumaro::LabelColour::Good; }, 30s) &&
         host.Stop();
    if (ok) {
      auto timer = [&] {
        main->StatusTimer();
        if (pumpe.TimerRunning()) pumpe.TimerTick();
      };
      std::vector<double> at = Watch(apartment, timer,
                                     {[&] { return main->Panel(2) == "nicht verbunden"; },
                                      [&] { return pumpe.ConnectionText() == "nicht verbunden"; }});
      *main_window = at[0];
      *station_window = at[1];
    }
  }
  windows.clear();
  main.reset();
  kopl::SetServices({});
  return ok;
}

bool FeddraRun(double* feddra) {
  Host host;
  if (!host.Start()) return false;
  kopl::SetServices({});
  platform::testing::TempDir dir;
  platform::testing::RecordingMessages messages;
  com::Apartment apartment;
  NoDialogs dialogs;
  explorer::TMainModel::Options o;
  o.settings_path = dir / "Feddra.ini";
  o.last_config = dir / "Feddra_LastConfig.opc";
  o.apartment = &apartment;
  auto main = std::make_unique<explorer::TMainModel>(dialogs, messages, o);
  main->FormShow();
  main->SetServerText(host::testing::kOstrelProgId);
  main->Connect();
  bool ok = main->OPCServer().Active();
  if (ok) {
    main->Inspector().AddItemsToGroup("Default", {"ZFM1.Pumpe.Druck"});
    ok = main->Inspector().RowCount() == 1 &&
         apartment.RunUntil([&] { return main->Inspector().Row(0).Quality == "good"; }, 30s);
    main->TimerTick();  // the status panel names the server
    ok = ok && main->Status().Server != "not connected" && host.Stop();
  }
  if (ok) {
    auto timer = [&] {
      if (main->TimerEnabled()) main->TimerTick();
    };
    *feddra = Watch(apartment, timer, {[&] { return main->Status().Server == "not connected"; }})[0];
  }
  main.reset();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  // The host registers itself in a registry of this run's own, not the user's.
  platform::testing::TempDir registry;
  setenv("QAR_REGISTRY", (registry / "registry").c_str(), 1);
  std::printf("seconds from SIGSTOP of the host until the window shows the loss\n");
  std::printf("%-4s %-22s %-22s %-10s\n", "run", "Lumaro main window", "Lumaro station window", "Feddra");
  std::fflush(stdout);
  for (int run = 1; run <= runs; ++run) {
    double main_window = -1, station_window = -1, feddra = -1;
    try {
      if (!LumaroRun(&main_window, &station_window) || !FeddraRun(&feddra)) {
        std::fprintf(stderr, "run %d: the host or the clients did not come up\n", run);
        return 1;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "run %d: %s\n", run, e.what());
      return 1;
    }
    std::printf("%-4d %-22s %-22s %-10s\n", run, Seconds(main_window).c_str(), Seconds(station_window).c_str(),
                Seconds(feddra).c_str());
    std::fflush(stdout);
  }
  return 0;
}
