// Loading a large network: 255 outstations (the most a station list holds) with 12 channels
// each, written as the configurator writes them, from a temporary server folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "server/driver/config_loader.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/station_state.h"
#include "server/driver/utilities.h"

namespace {

std::string Nnn(int adr) {
  std::string s = std::to_string(adr);
  return std::string(3 - s.size(), '0') + s;
}

std::string NetworkIni(int stations, bool permanent) {
  std::string ini = "[Zentralfunkmodem]\r\nTyp=ZFM1,ZFM-T\r\nMODUS=2\r\nRS232=COM1,19200,8,N,1\r\n";
  if (permanent) ini += "PERMANENTDATEN=1\r\n";
  ini += "\r\n[Unterstationen]\r\n";
  for (int i = 1; i <= stations; ++i)
    ini += "TYP=Station" + std::to_string(i) + ",RM-T,1," + std::to_string(i) + "," + (i > 200 ? "3" : "0") + ",0\r\n";
  for (int i = 1; i <= stations; ++i) {
    ini += "\r\n[ADR" + Nnn(i) + "+]\r\nINFO=" + (i % 2 ? "8" : "0") + ",0,0,0,0,0\r\nOPTION=0,100\r\n";
    ini += "\r\n[ADR" + Nnn(i) + "]\r\n";
    for (int k = 0; k < 4; ++k) ini += "KANAL=AE,Druck" + std::to_string(k) + ",bar,0.1,0,1\r\n";
    for (int k = 0; k < 4; ++k) ini += "KANAL=BE,Tuer" + std::to_string(k) + ",,1,0,0\r\n";
    for (int k = 0; k < 2; ++k) ini += "KANAL=AA,Soll" + std::to_string(k) + ",%,1,0,0\r\n";
    for (int k = 0; k < 2; ++k) ini += "KANAL=BA,&Pumpe" + std::to_string(k) + ",,1,0,0\r\n";
  }
  return ini;
}

class ServerFolder {
 public:
  ServerFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qar-bench-XXXXXX").string();
    path_ = std::string(mkdtemp(tmpl.data())) + "/";
  }
  ~ServerFolder() { std::filesystem::remove_all(path_); }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ + name, std::ios::binary) << bytes;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

void Load(benchmark::State& state, bool permanent) {
  ServerFolder folder;
  folder.Write("Ostrel.INI", NetworkIni(driver::kMaxOutstations, permanent));
  driver::ServerDir = folder.Path();
  if (permanent) {
    // A state file with a record for every station, so the load restores them all.
    driver::ResetOptions();
    if (driver::CreateFML() != 0) state.SkipWithError("configuration not loaded");
    for (int32_t i = 1; i < driver::FML->Count(); ++i) driver::FML->Items(i).bStateDirty = true;
    driver::StationStates(true);
  }
  int32_t channels = 0;
  for (auto _ : state) {
    driver::FML.reset();
    driver::ResetOptions();
    if (driver::CreateFML() != 0) state.SkipWithError("configuration not loaded");
    benchmark::DoNotOptimize(driver::FML.get());
  }
  for (int32_t i = 1; i < driver::FML->Count(); ++i)
    for (int32_t g = 1; g <= 4; ++g) channels += driver::FML->Items(i).RegCount(g);
  state.counters["stations"] = double(driver::FML->Count() - 1);
  state.counters["channels"] = double(channels);
  driver::FML.reset();
  driver::ServerDir.clear();
}

void BM_CreateFML(benchmark::State& state) { Load(state, false); }
void BM_CreateFMLWithStationStates(benchmark::State& state) { Load(state, true); }

BENCHMARK(BM_CreateFML)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateFMLWithStationStates)->Unit(benchmark::kMillisecond);

}  // namespace
