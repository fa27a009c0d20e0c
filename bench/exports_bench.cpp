// Read batches through SOXpSHandleDARequests against 10 stations of 1000 analogue inputs each,
// alone and beside a thread that stores answers under RegisterLock at full speed, as the
// driver does; and how long that thread waits for the lock while 10 000-record batches run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/raw_variant.h"
#include "server/driver/fml.h"
#include "server/opc/exports.h"
#include "server/opc/item_handle.h"

namespace {

namespace tk = platform::toolkit;
using Clock = std::chrono::steady_clock;

constexpr int32_t kStations = 10;
constexpr int32_t kRegisters = 1000;
constexpr int32_t kAnswerRegisters = 9;  // one answer telegram's worth

void BuildModel() {
  if (driver::FML) return;
  driver::FML = std::make_unique<driver::TFML>();
  for (int32_t s = 0; s <= kStations; ++s) {
    auto st = std::make_unique<driver::TFuMo>();
    st->StationName = "S" + std::to_string(s);
    for (int32_t r = 0; s > 0 && r < kRegisters; ++r) {
      driver::TWert w;
      driver::InitWert(w);
      w.Name = "AE" + std::to_string(r);
      w.bCalc = w.bFloat = (r % 2) == 0;
      w.Faktor = 0.1;
      st->AddWert(driver::kGroupAE, w);
    }
    driver::TFuMo* raw = st.get();
    raw->StationIndex = driver::FML->Add(std::move(st));
  }
}

std::vector<tk::TDARequest> Batch(int32_t size) {
  std::vector<tk::TDARequest> records(size_t(size), tk::TDARequest{});
  for (int32_t i = 0; i < size; ++i) {
    platform::com::RawVariant empty;
    platform::com::RawVariantInit(&empty);
    tk::SetRequestValue(records[size_t(i)], empty);
    records[size_t(i)].ItemHandle = opc::ItemHandle{0, driver::kGroupAE, 1 + i % kStations, (i / kStations) % kRegisters}.Encode();
  }
  return records;
}

// The driver's side: one answer stored per pass, each under the write lock.
class AnswerWriter {
 public:
  void Start() {
    thread_ = std::thread([this] {
      for (uint32_t k = 0; !stop_; ++k) Store(k);
    });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Stores one answer; returns how long it waited for the lock.
  Clock::duration Store(uint32_t k) {
    const auto asked = Clock::now();
    std::unique_lock lock(driver::RegisterLock);
    const auto waited = Clock::now() - asked;
    max_wait_ = std::max(max_wait_, waited);
    driver::TFuMo& st = driver::FML->Items(1 + int32_t(k % kStations));
    const int32_t first = int32_t(k * kAnswerRegisters % (kRegisters - kAnswerRegisters));
    for (int32_t r = first; r < first + kAnswerRegisters; ++r) st.SetWertInt(driver::kGroupAE, r, int32_t(k & 0xFFF), 0xC0);
    ++answers_;
    return waited;
  }
  double MaxWaitUs() const { return std::chrono::duration<double, std::micro>(max_wait_).count(); }
  uint64_t Answers() const { return answers_; }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  Clock::duration max_wait_{};
  uint64_t answers_ = 0;
};

// Records per second for one batch size (range 0), with the driver storing answers (range 1).
void BM_ReadBatch(benchmark::State& state) {
  BuildModel();
  auto records = Batch(int32_t(state.range(0)));
  AnswerWriter writer;
  if (state.range(1)) writer.Start();
  for (auto _ : state) SOXpSHandleDARequests(tk::kRequestRead, int32_t(records.size()), records.data());
  writer.Stop();
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
  if (state.range(1)) {
    state.counters["driver_answers_per_s"] = benchmark::Counter(double(writer.Answers()), benchmark::Counter::kIsRate);
    state.counters["driver_max_wait_us"] = writer.MaxWaitUs();
  }
}
BENCHMARK(BM_ReadBatch)->ArgsProduct({{1, 100, 10000}, {0, 1}})->ArgNames({"batch", "driver"})->UseRealTime();

// The driver's longest wait for the lock while host threads (range 0) send 10 000-record read
// batches without pause. Each iteration is one stored answer. With no host thread the waits
// show what the machine alone costs (a thread that loses its processor in the middle).
void BM_DriverWaitDuringBatches(benchmark::State& state) {
  BuildModel();
  std::atomic<bool> stop{false};
  std::atomic<int64_t> records{0};
  std::vector<std::thread> hosts;
  for (int64_t t = 0; t < state.range(0); ++t)
    hosts.emplace_back([&] {
      auto batch = Batch(10000);
      while (!stop) {
        SOXpSHandleDARequests(tk::kRequestRead, int32_t(batch.size()), batch.data());
        records += int64_t(batch.size());
      }
    });
  AnswerWriter driver;
  std::vector<double> waits;
  const auto begin = Clock::now();
  uint32_t k = 0;
  for (auto _ : state) waits.push_back(std::chrono::duration<double, std::micro>(driver.Store(k++)).count());
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  stop = true;
  for (auto& t : hosts) t.join();
  std::sort(waits.begin(), waits.end());
  state.counters["max_wait_us"] = waits.back();
  state.counters["p99_wait_us"] = waits[waits.size() * 99 / 100];
  state.counters["p999_wait_us"] = waits[waits.size() * 999 / 1000];
  state.counters["waits_over_1ms"] = double(waits.end() - std::upper_bound(waits.begin(), waits.end(), 1000.0));
  state.counters["host_records_per_s"] = double(records) / seconds;
}
BENCHMARK(BM_DriverWaitDuringBatches)->Arg(0)->Arg(1)->Arg(4)->ArgName("host_threads")->UseRealTime()->MinTime(2.0);

}  // namespace
