// The host at work:
// - the round trip of one synchronous call from a client to ostrel-host (a process of its own,
//   serving the real server library in DEMO mode) and back: GetStatus answered by the host, a
//   device read that goes through the library's request export;
// - data changes delivered per second to 1 and to 10 clients, 10 000 items each at a 100 ms
//   update rate, the library played by this program with a "driver" that changes every value
//   every 20 ms (so every poll finds all items changed);
// - the time from a value stored by that driver to the client's OnDataChange at a 100 ms rate.
// Clients and host talk over the transport's Unix-domain socket.
// Run: build/bench/bench_host
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "host/host_server.h"
#include "host/library_backend.h"
#include "host/name_space.h"
#include "host/tests/fake_library.h"
#include "host/tests/installed_host.h"
#include "platform/com/connection_point.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/client.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace com = platform::com;
using Steady = std::chrono::steady_clock;
using host::testing::FakeLibrary;

double Percentile(std::vector<Steady::duration> v, double p, double unit_per_second) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  return std::chrono::duration<double>(v[i]).count() * unit_per_second;
}

// A registry of the benchmark's own, never the user's.
struct PrivateRegistry {
  platform::testing::TempDir dir;
  PrivateRegistry() { setenv("QAR_REGISTRY", (dir / "registry").c_str(), 1); }
};

// ---- round trip through ostrel-host ----

void BM_SyncCallRoundTrip(benchmark::State& state) {
  const bool through_library = state.range(0) != 0;
  PrivateRegistry registry;
  host::testing::InstalledHost in;
  in.WriteIni();
  in.Write("DEMO", "");
  if (in.Run({"-REGSERVER"}).exit_code != 0 || !in.Spawn({})) {
    state.SkipWithError("ostrel-host did not start");
    return;
  }
  com::Apartment apartment;
  com::rpc::ActivationOptions o;
  o.apartment = &apartment;
  std::shared_ptr<com::IUnknown> unk;
  if (com::FAILED(com::rpc::CreateServerByName(host::testing::kOstrelProgId, o, &unk))) {
    state.SkipWithError("no connection");
    return;
  }
  auto server = com::Query<com::IOPCServer>(unk);
  com::OPCHANDLE handle;
  com::DWORD rate;
  std::shared_ptr<com::IUnknown> group;
  server->AddGroup("bench", com::TRUE, 1000, 1, nullptr, nullptr, 0, &handle, &rate, com::IID_IOPCSyncIO, &group);
  com::OPCITEMDEF def;
  def.szItemID = "ZFM1.Pumpe.Druck";
  std::vector<com::OPCITEMRESULT> results;
  std::vector<com::HRESULT> errors;
  com::Query<com::IOPCItemMgt>(group)->AddItems(1, &def, &results, &errors);
  auto io = com::Query<com::IOPCSyncIO>(group);

  std::vector<Steady::duration> times;
  com::OPCSERVERSTATUS status;
  std::vector<com::OPCITEMSTATE> states;
  for (auto _ : state) {
    auto t0 = Steady::now();
    com::HRESULT hr = through_library ? io->Read(com::OPC_DS_DEVICE, 1, &results[0].hServer, &states, &errors)
                                      : server->GetStatus(&status);
    times.push_back(Steady::now() - t0);
    if (hr != com::S_OK) state.SkipWithError("the call failed");
  }
  state.counters["median_us"] = Percentile(times, 0.5, 1e6);
  state.counters["p99_us"] = Percentile(times, 0.99, 1e6);
  in.Terminate();
}
BENCHMARK(BM_SyncCallRoundTrip)->ArgName("device_read")->Arg(0)->Arg(1)->Iterations(20000)->UseRealTime()->Unit(
    benchmark::kMicrosecond);

// ---- the host in this process, over a library with a driver of the benchmark's ----

// Counts the items of each data change; remembers when the first item took each value.
class CountingSink final : public com::IOPCDataCallback, public std::enable_shared_from_this<CountingSink> {
 public:
  com::HRESULT QueryInterface(const com::IID& riid, std::shared_ptr<com::IUnknown>* ppv) override {
    return com::AnswerQuery(this, riid, ppv, {com::IID_IOPCDataCallback});
  }
  com::HRESULT OnDataChange(com::DWORD, com::OPCHANDLE, com::HRESULT, com::HRESULT, com::DWORD n, const com::OPCHANDLE* h,
                       const com::Variant* v, const com::WORD*, const platform::FILETIME*, const com::HRESULT*) override {
    items += n;
    ++changes;
    for (com::DWORD i = 0; i < n; ++i) {
      if (h[i] == 0) {
        std::lock_guard lock(mutex);
        arrivals.emplace_back(static_cast<int32_t>(v[i].Int()), Steady::now());
      }
    }
    return com::S_OK;
  }
  com::HRESULT OnReadComplete(com::DWORD, com::OPCHANDLE, com::HRESULT, com::HRESULT, com::DWORD, const com::OPCHANDLE*,
                         const com::Variant*, const com::WORD*, const platform::FILETIME*, const com::HRESULT*) override {
    return com::S_OK;
  }
  com::HRESULT OnWriteComplete(com::DWORD, com::OPCHANDLE, com::HRESULT, com::DWORD, const com::OPCHANDLE*,
                          const com::HRESULT*) override {
    return com::S_OK;
  }
  com::HRESULT OnCancelComplete(com::DWORD, com::OPCHANDLE) override { return com::S_OK; }

  std::atomic<uint64_t> items{0}, changes{0};
  std::mutex mutex;
  std::vector<std::pair<int32_t, Steady::time_point>> arrivals;  // value of item 0, when it came
};

struct InProcessHost {
  explicit InProcessHost(int items) {
    FakeLibrary& lib = FakeLibrary::Get();
    lib.Reset();
    for (int i = 0; i < items; ++i) {
      lib.tags.push_back({"S" + std::to_string(i / 100), "R" + std::to_string(i % 100), com::VT_I4, 1, i * 16, {}});
      handles.push_back(i * 16);
    }
    record = exports.initialize();
    ns.Build(exports.build_name_space);
    exports.start();
    host::ServeSettings s;
    s.endpoint.socket_dir = dir.Path();
    s.endpoint.record_in_registry = false;
    std::string error;
    if (com::FAILED(host::HostServer::Start(*record, ns, backend, s, &server, &error))) std::abort();
  }
  ~InProcessHost() {
    for (auto& c : clients) c->Stop();
    clients.clear();
    server.reset();
    exports.stop();
  }
  // The driver stores value k in every register.
  void Store(int32_t k) {
    const platform::FILETIME now = platform::ToFileTime(std::chrono::system_clock::now());
    for (int32_t h : handles) FakeLibrary::Get().Set(h, com::Variant::I4(k), 0xC0, now);
  }

  struct Client {
    com::Apartment apartment;
    std::shared_ptr<com::IUnknown> unk, group;
    std::shared_ptr<CountingSink> sink = std::make_shared<CountingSink>();
    std::atomic<bool> running{true};
    std::thread loop;
    void Stop() {
      running = false;
      if (loop.joinable()) loop.join();
      group.reset();
      unk.reset();
    }
  };
  // A client with one group of every item (client handle = item index) at 100 ms.
  Client& Connect() {
    auto c = std::make_unique<Client>();
    com::rpc::ActivationOptions o;
    o.apartment = &c->apartment;
    const com::CLSID clsid = record->ClassId;
    if (com::FAILED(com::rpc::ConnectServer(server->Target(), clsid, o, &c->unk))) std::abort();
    com::OPCHANDLE h;
    com::DWORD rate;
    com::Query<com::IOPCServer>(c->unk)->AddGroup("bench", com::TRUE, 100, 1, nullptr, nullptr, 0, &h, &rate,
                                                    com::IID_IOPCItemMgt, &c->group);
    std::vector<com::OPCITEMDEF> defs(handles.size());
    for (size_t i = 0; i < defs.size(); ++i) {
      defs[i].szItemID = ns.Space().Items()[i]->item_id;
      defs[i].hClient = static_cast<com::OPCHANDLE>(i);
    }
    std::vector<com::OPCITEMRESULT> results;
    std::vector<com::HRESULT> errors;
    com::Query<com::IOPCItemMgt>(c->group)->AddItems(static_cast<com::DWORD>(defs.size()), defs.data(), &results,
                                                     &errors);
    std::shared_ptr<com::IConnectionPoint> point;
    com::Query<com::IConnectionPointContainer>(c->group)->FindConnectionPoint(com::IID_IOPCDataCallback, &point);
    com::DWORD cookie;
    point->Advise(std::static_pointer_cast<com::IOPCDataCallback>(c->sink), &cookie);
    c->loop = std::thread([p = c.get()] {
      while (p->running) p->apartment.WaitAndRun(std::chrono::milliseconds(20));
    });
    clients.push_back(std::move(c));
    return *clients.back();
  }

  platform::testing::TempDir dir;
  host::Exports exports = FakeLibrary::TheExports();
  const platform::toolkit::TServerInitData* record = nullptr;
  host::NameSpace ns;
  host::LibraryBackend backend{exports.handle_requests};
  std::unique_ptr<host::HostServer> server;
  std::vector<int32_t> handles;
  std::vector<std::unique_ptr<Client>> clients;
};

void BM_DataChangesPerSecond(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  const int clients = static_cast<int>(state.range(1));
  InProcessHost h(items);
  for (int i = 0; i < clients; ++i) h.Connect();
  std::atomic<bool> driving{true};
  std::thread driver([&] {
    for (int32_t k = 1; driving; ++k) {
      h.Store(k);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(1));  // first full callbacks out of the way
  uint64_t items0 = 0, changes0 = 0;
  for (auto& c : h.clients) items0 += c->sink->items, changes0 += c->sink->changes;
  const auto t0 = Steady::now();
  for (auto _ : state) std::this_thread::sleep_for(std::chrono::seconds(5));
  const double seconds = std::chrono::duration<double>(Steady::now() - t0).count();
  uint64_t items1 = 0, changes1 = 0;
  for (auto& c : h.clients) items1 += c->sink->items, changes1 += c->sink->changes;
  driving = false;
  driver.join();
  state.counters["item_changes_per_s"] = static_cast<double>(items1 - items0) / seconds;
  state.counters["per_client_per_s"] = static_cast<double>(items1 - items0) / seconds / clients;
  state.counters["callbacks_per_s"] = static_cast<double>(changes1 - changes0) / seconds;
}
BENCHMARK(BM_DataChangesPerSecond)
    ->ArgNames({"items", "clients"})
    ->Args({10000, 1})
    ->Args({10000, 10})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// The driver stores a new value at a random moment of the 100 ms period; the time until the
// client's OnDataChange carries it is at most one period plus the way through the transport.
void BM_StoreToDataChange(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  InProcessHost h(items);
  CountingSink& sink = *h.Connect().sink;
  std::mt19937 random(42);
  std::uniform_int_distribution<int> phase(0, 99);
  std::vector<Steady::duration> latency;
  int32_t k = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the first full callback
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
    ++k;
    const auto stored = Steady::now();
    h.Store(k);
    for (;;) {
      {
        std::lock_guard lock(sink.mutex);
        auto it = std::find_if(sink.arrivals.begin(), sink.arrivals.end(), [&](const auto& a) { return a.first == k; });
        if (it != sink.arrivals.end()) {
          latency.push_back(it->second - stored);
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  state.counters["median_ms"] = Percentile(latency, 0.5, 1e3);
  state.counters["p99_ms"] = Percentile(latency, 0.99, 1e3);
  state.counters["max_ms"] = Percentile(latency, 1.0, 1e3);
}
BENCHMARK(BM_StoreToDataChange)
    ->ArgName("items")
    ->Arg(1)
    ->Arg(10000)
    ->Iterations(200)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
