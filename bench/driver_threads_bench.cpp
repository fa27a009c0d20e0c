// The driver thread against the simulator over a pty, one run per network size: exchanges per
// second and CPU time per exchange of this process, with the simulator answering at once and
// with it pacing the bytes as a 9600 baud 8E1 line carries them; the bound that the line and
// the procedure's own waits set; the same with one station of 130 analog inputs among ten
// (its inputs need two answer frames, read at two turns); the CPU use while the modem is lost
// and while the port is gone; and how long a stop takes while the driver waits 10 s for an
// answer.
//
// Every normal station has 16 binary and 4 analog inputs, 8 binary and 2 analog outputs, so in
// steady state every exchange is the same input poll that writes the outputs back.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "server/driver/config_loader.h"
#include "server/driver/driver_thread.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"
#include "tools/testing/simulator_process.h"

namespace {

using radiosim::testing::SimulatorProcess;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr double kCharsPerSecond = 9600.0 / 11.0;  // 8E1: start, 8 data, parity, stop
constexpr double kPreReadSeconds = 0.006;
// The exchange in steady state, in characters on the line: STX, DLE, the request of 11 bytes
// and 3 output registers, DLE ETX BCC, DLE; then STX, DLE, the answer of 8 bytes and 6 input
// registers, DLE ETX BCC, DLE. No byte of either is a DLE (addresses skip 16, fixed values).
constexpr int kAnalogValue = 1000;

// Characters of one exchange on the line: STX, DLE, the request with its Put words, DLE ETX
// BCC, DLE; then STX, DLE, the answer with its Get words, DLE ETX BCC, DLE.
constexpr double ExchangeChars(double putWords, double getWords) {
  return (1 + 1 + (11 + 2 * putWords) + 3 + 1) + (1 + 1 + (8 + 2 * getWords) + 3 + 1);
}
// The normal station's input poll: 3 output words out, the status word, 1 word and 4 analog
// inputs back.
constexpr double kNormalChars = ExchangeChars(3, 6);
// The big station's: no outputs, half of its 131 input registers back.
constexpr double kBigChars = ExchangeChars(0, 131 / 2.0);

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

bool WaitFor(const std::function<bool()>& condition, seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

std::string Nnn(int adr) {
  std::string s = std::to_string(adr);
  return std::string(3 - s.size(), '0') + s;
}

struct RigOptions {
  int stations = 10;          // normal ones
  bool paced = false;         // the simulator paces a 9600 baud 8E1 line
  int bigAnalogInputs = 0;    // > 0: one more station with only these analog inputs
  int extraWaitMs = 0;        // OPTION extra wait of every station
  bool silent = false;        // the stations never answer
  int slotMs = 0;             // > 0: MODUS 2 with slots of this length
};

// A server folder with the network, the simulator on it and the running driver thread.
class Rig {
 public:
  explicit Rig(const RigOptions& o) {
    std::string ini = "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nMODUS=" + std::string(o.slotMs > 0 ? "2" : "1") +
                      "\r\nRS232=" + SimulatorProcess::DefaultPortPath(dir_.Path()) +
                      ",9600,Even,8,1\r\n\r\n[Unterstationen]\r\n";
    const int all = o.stations + (o.bigAnalogInputs > 0 ? 1 : 0);
    std::vector<int> addresses;
    for (int adr = 1; int(addresses.size()) < all; ++adr)
      if (adr != 0x10) addresses.push_back(adr);
    for (size_t i = 0; i < addresses.size(); ++i)
      ini += "TYP=S" + std::to_string(i + 1) + ",RM3,1," + std::to_string(addresses[i]) + ",0,0\r\n";
    for (size_t i = 0; i < addresses.size(); ++i) {
      const int adr = addresses[i];
      if (o.extraWaitMs > 0) ini += "\r\n[ADR" + Nnn(adr) + "+]\r\nOPTION=0," + std::to_string(o.extraWaitMs) + "\r\n";
      ini += "\r\n[ADR" + Nnn(adr) + "]\r\n";
      if (int(i) == o.stations) {
        for (int k = 0; k < o.bigAnalogInputs; ++k) ini += "KANAL=AE,G" + std::to_string(k) + ",,1,0,0\r\n";
        continue;
      }
      for (int k = 0; k < 4; ++k) ini += "KANAL=AE,E" + std::to_string(k) + ",,1,0,0\r\n";
      for (int k = 0; k < 16; ++k) ini += "KANAL=BE,B" + std::to_string(k) + ",,1,0,0\r\n";
      for (int k = 0; k < 2; ++k) ini += "KANAL=AA,S" + std::to_string(k) + ",,1,0,0\r\n";
      for (int k = 0; k < 8; ++k) ini += "KANAL=BA,A" + std::to_string(k) + ",,1,0,0\r\n";
    }
    dir_.Write("Ostrel.INI", ini + "\r\n");

    std::vector<std::string> args{"--radio-delay", "0", "--analog-period", "0"};
    if (o.paced) args.insert(args.end(), {"--line", "9600,8E1"});
    if (o.slotMs > 0) args.insert(args.end(), {"--slot", std::to_string(o.slotMs), "--slot-pause", "200"});
    for (int s = 1; o.silent && s <= all; ++s) args.insert(args.end(), {"--silent", std::to_string(s)});
    sim_ = std::make_unique<SimulatorProcess>(dir_.Path(), args);
    if (!sim_->Start()) throw std::runtime_error("simulator: " + sim_->Error());
    // Fixed input values with no DLE byte among them: the binary input word 0, then the analog
    // inputs.
    for (int s = 1; s <= o.stations; ++s)
      for (int reg = 0; reg <= 4; ++reg)
        sim_->Command("set " + std::to_string(s) + " 1 " + std::to_string(reg) + " " +
                      std::to_string(reg == 0 ? 0 : kAnalogValue));
    for (int reg = 0; reg < o.bigAnalogInputs; ++reg)
      sim_->Command("set " + std::to_string(all) + " 1 " + std::to_string(reg) + " " + std::to_string(kAnalogValue));

    driver::ServerDir = dir_.Path();
    driver::ResetOptions();
    if (driver::CreateFML() != 0) throw std::runtime_error("configuration not loaded");
    thread_ = driver::tMOP::Create();
    if (!thread_) throw std::runtime_error("driver thread not created");
    thread_->Resume();
  }
  ~Rig() {
    thread_.reset();
    driver::FML.reset();
    driver::ServerDir.clear();
  }

  SimulatorProcess& Sim() { return *sim_; }
  driver::tMOP& Thread() { return *thread_; }
  int32_t ZfmStatus() { return Sum(0, 0, 0); }
  // Sum of a group-0 register over the stations first..last.
  int32_t Sum(int32_t first, int32_t last, int32_t reg) {
    std::shared_lock lock(driver::RegisterLock);
    int32_t n = 0;
    for (int32_t s = first; s <= last; ++s) n += driver::FML->Items(s).GetWert(driver::kGroupSystem, reg).WertInt;
    return n;
  }
  int32_t Stations() { return driver::FML->Count() - 1; }
  int32_t Answered() { return Sum(1, Stations(), 0); }
  int32_t Failed() { return Sum(1, Stations(), 2); }
  // Every input and output register of the station answered.
  bool AllGood(int32_t station) {
    std::shared_lock lock(driver::RegisterLock);
    for (int32_t g = driver::kGroupAE; g <= driver::kGroupBA; ++g)
      for (const driver::TWert& w : driver::FML->Items(station).Groups[size_t(g)])
        if (w.Quality != driver::kQualityGood) return false;
    return true;
  }
  // Every station's inputs answered at least once.
  bool Warm() {
    std::shared_lock lock(driver::RegisterLock);
    for (int32_t s = 1; s <= Stations(); ++s)
      if (!driver::FML->Items(s).bDoneRd[1]) return false;
    return true;
  }

 private:
  platform::testing::TempDir dir_;
  std::unique_ptr<SimulatorProcess> sim_;
  std::unique_ptr<driver::tMOP> thread_;
};

void Exchanges(benchmark::State& state) {
  const int stations = int(state.range(0));
  const bool paced = state.range(1) != 0;
  const int big = int(state.range(2));
  for (auto _ : state) {
    Rig rig({.stations = stations, .paced = paced, .bigAnalogInputs = big});
    if (!WaitFor([&] { return rig.Warm(); }, seconds(120))) {
      state.SkipWithError("stations not answered");
      return;
    }
    // A window inside one slot: MODUS 1 asks the modem again every 30 s.
    const int64_t queries = rig.Sim().Stats()["central-queries"];
    if (!WaitFor([&] { return rig.Sim().Stats()["central-queries"] > queries; }, seconds(40))) {
      state.SkipWithError("no new slot");
      return;
    }
    const int32_t answered0 = rig.Answered(), failed0 = rig.Failed();
    const int32_t firstNormal0 = rig.Sum(1, 1, 0), big0 = big > 0 ? rig.Sum(stations + 1, stations + 1, 0) : 0;
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(paced ? seconds(20) : seconds(10));
    const double cpu = CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double exchanges = rig.Answered() - answered0;

    // One round: every normal station once, the big one once.
    const double roundChars = stations * kNormalChars + (big > 0 ? kBigChars : 0.0);
    const double perExchange = roundChars / (stations + (big > 0 ? 1 : 0));
    const double line = paced ? perExchange / kCharsPerSecond : 0.0;
    const double bound = 1.0 / (line + kPreReadSeconds);
    if (big > 0) {
      // Turns of the big station per turn of a normal one: 1 when it keeps to the round.
      const double normalTurns = rig.Sum(1, 1, 0) - firstNormal0;
      state.counters["big_turns_per_round"] = normalTurns > 0 ? (rig.Sum(stations + 1, stations + 1, 0) - big0) / normalTurns : 0;
      state.counters["big_good"] = rig.AllGood(stations + 1) ? 1 : 0;
    }
    state.counters["exch_per_s"] = exchanges / wall;
    state.counters["bound_per_s"] = bound;
    state.counters["ratio"] = exchanges / wall / bound;
    state.counters["cpu_us_per_exch"] = exchanges > 0 ? cpu / exchanges * 1e6 : 0.0;
    state.counters["cpu_percent"] = cpu / wall * 100.0;
    state.counters["missed"] = rig.Failed() - failed0;
  }
}
BENCHMARK(Exchanges)
    ->ArgsProduct({{10, 50, 200}, {0, 1}, {0}})
    ->ArgsProduct({{10}, {0, 1}, {130}})
    ->ArgNames({"stations", "paced", "big_ae"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// CPU use of the process while the driver searches a modem that is silent (0) or a port that
// is gone (1).
void Searching(benchmark::State& state) {
  const bool portGone = state.range(0) != 0;
  for (auto _ : state) {
    Rig rig({});
    if (!WaitFor([&] { return rig.Warm(); }, seconds(60))) {
      state.SkipWithError("stations not answered");
      return;
    }
    rig.Sim().Command(portGone ? "close-port" : "silent");
    if (!WaitFor([&] { return rig.ZfmStatus() == -1; }, seconds(30))) {
      state.SkipWithError("loss not noticed");
      return;
    }
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(seconds(10));
    const double cpu = CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    state.counters["cpu_percent"] = cpu / wall * 100.0;
    state.counters["cpu_ms_per_s"] = cpu / wall * 1000.0;
    rig.Sim().Command(portGone ? "open-port" : "back");
  }
}
BENCHMARK(Searching)->Arg(0)->Arg(1)->ArgName("port_gone")->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Time from the stop (what the stop export does: terminate, then wait for the thread) to the
// driver thread's end while it waits for the answer of a silent station whose extra wait makes
// the answer time-out more than 10 s. Each iteration is one stop, a second into that wait.
void StopDuringAnswerWait(benchmark::State& state) {
  const bool slots = state.range(0) != 0;
  double worst = 0, answerWait = 0;
  for (auto _ : state) {
    Rig rig({.stations = 1, .extraWaitMs = 9999, .silent = true, .slotMs = slots ? 60'000 : 0});
    // The station request is out; the driver now waits for its answer.
    if (!WaitFor([&] { auto st = rig.Sim().Stats(); return st["requests"] > st["central-queries"]; }, seconds(30))) {
      state.SkipWithError("no station request");
      return;
    }
    std::this_thread::sleep_for(seconds(1));
    answerWait = rig.Thread().Funk()->View().TO;
    const auto t0 = std::chrono::steady_clock::now();
    rig.Thread().Terminate();
    rig.Thread().WaitFor();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(s);
    worst = std::max(worst, s * 1000);
  }
  state.counters["answer_wait_ms"] = answerWait;
  state.counters["worst_stop_ms"] = worst;
}
BENCHMARK(StopDuringAnswerWait)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("modus2")
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
