// Cost of the support library's hot calls: a single INI lookup (which rescans the file from its
// start) and one log entry written to Problem2.TXT.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "platform/testing/temp_dir.h"
#include "support/error_log.h"
#include "support/ini_reader.h"

namespace {

void BM_ReadParameterLastSection(benchmark::State& state) {
  platform::testing::TempDir dir;
  std::ofstream ini(dir / "Ostrel.INI", std::ios::binary);
  for (int s = 0; s < 200; ++s) {
    ini << "[ADR" << s << "]\r\nTYP=1\r\nNAME=Station " << s << "\r\nAE=AE,Druck,bar,0.1,0,1\r\n";
  }
  ini.close();
  support::IniReader reader;
  reader.Set_INI_File(dir / "Ostrel.INI");
  reader.Set_INI_Section("ADR199");
  for (auto _ : state) benchmark::DoNotOptimize(reader.Read_Parameter("NAME"));
}
BENCHMARK(BM_ReadParameterLastSection);

void BM_LogMessage(benchmark::State& state) {
  platform::testing::TempDir dir;
  dir.Write("SAVE_ERR", "");
  support::ErrorLog log;
  log.Startup(dir.Path());
  log.SetMaxProblemSize(1 << 30);
  int64_t n = 0;
  for (auto _ : state) log.Message("MoP: station " + std::to_string(n++) + " no answer");
}
BENCHMARK(BM_LogMessage);

void BM_LogMessageRepeated(benchmark::State& state) {
  platform::testing::TempDir dir;
  dir.Write("SAVE_ERR", "");
  support::ErrorLog log;
  log.Startup(dir.Path());
  for (auto _ : state) log.Message("MoP: central modem no answer");
}
BENCHMARK(BM_LogMessageRepeated);

}  // namespace
