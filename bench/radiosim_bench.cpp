// CPU cost of the simulator per exchange, so that a benchmark of the server against it can
// tell that the simulator is not what limits the rate: one station request with its
// handshakes in, the answer with its handshakes out, no radio delay.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "tools/radiosim/line_3964r.h"
#include "tools/radiosim/modem.h"

namespace {

using namespace radiosim;

Network MakeNetwork(int stations) {
  Network net;
  net.modus = 2;
  net.central.params = 56;
  for (int i = 1; i <= stations; ++i)
    net.stations.push_back({.name = "S" + std::to_string(i), .index = i, .adr1 = i, .path = {uint8_t(i), 0, 0, 0},
                            .binaryInputs = 32, .analogInputs = 6, .binaryOutputs = 16, .analogOutputs = 2,
                            .params = 36});
  return net;
}

// Inputs read (status word, 2 bit words, 6 analog: 9 registers), outputs written (3 registers).
std::string RequestFrame(int station) {
  const std::string tel{'\x60', char(station), 0, 0, 0, 0, 1, 9, 1, 44, 3, 0, 5, 0, 0, 1, 0};
  return Line3964R::Frame(tel);
}

void BM_StationExchange(benchmark::State& state) {
  const int stations = int(state.range(0));
  platform::ManualClock wall;
  ModemOptions o;
  o.radioDelay = Duration(0);
  Modem modem(MakeNetwork(stations), o, wall, Duration(0));
  std::vector<std::string> frames;
  for (int i = 1; i <= stations; ++i) frames.push_back(RequestFrame(i));
  Duration now{0};
  size_t n = 0, bytes = 0;
  for (auto _ : state) {
    now += std::chrono::milliseconds(1);
    modem.Receive("\x02", now);
    bytes += modem.TakeOutput().size();
    modem.Receive(frames[n++ % frames.size()], now);
    bytes += modem.TakeOutput().size();  // DLE, then the answer's STX
    modem.Receive("\x10", now);
    bytes += modem.TakeOutput().size();  // the answer frame
    modem.Receive("\x10", now);
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_StationExchange)->Arg(10)->Arg(50)->Arg(200);

}  // namespace
