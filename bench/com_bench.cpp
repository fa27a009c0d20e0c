// The OPC transport over its Unix-domain socket, within one process: the round trip of one
// synchronous call, and data changes streamed from server objects to client apartments.
// Run: build/bench/bench_com
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/com/connection_point.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/client.h"
#include "platform/com/rpc/server_endpoint.h"

using namespace platform::com;
using Clock = std::chrono::steady_clock;

namespace {

constexpr CLSID kBenchClsid{0x3C1D0E55, 0x7A21, 0x4B0C, {0x8E, 0x44, 0x10, 0x9F, 0x62, 0x3B, 0x5D, 0x01}};

// A group that only sends: the benchmark calls Send, which calls every advised sink.
class SendingGroup final : public IConnectionPointContainer, public std::enable_shared_from_this<SendingGroup> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IConnectionPointContainer});
  }
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override {
    if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
    *ppCP = point;
    return S_OK;
  }
  void Send(DWORD transaction, size_t items) {
    std::vector<OPCHANDLE> handles(items);
    std::vector<Variant> values(items);
    std::vector<WORD> qualities(items, OPC_QUALITY_GOOD);
    std::vector<FILETIME> stamps(items);
    std::vector<HRESULT> errors(items, S_OK);
    for (size_t i = 0; i < items; ++i) {
      handles[i] = static_cast<OPCHANDLE>(i);
      values[i] = Variant::R8(static_cast<double>(transaction + i));
    }
    for (auto& sink : point->Sinks()) {
      sink->OnDataChange(transaction, 1, S_OK, S_OK, static_cast<DWORD>(items), handles.data(), values.data(),
                         qualities.data(), stamps.data(), errors.data());
    }
  }
  std::shared_ptr<ConnectionPoint<IOPCDataCallback>> point = std::make_shared<ConnectionPoint<IOPCDataCallback>>(1);
};

class BenchServer final : public IOPCServer, public std::enable_shared_from_this<BenchServer> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCServer});
  }
  HRESULT AddGroup(const std::string&, BOOL, DWORD rate, OPCHANDLE, const LONG*, const float*, LCID, OPCHANDLE* h,
                   DWORD* revised, const IID&, std::shared_ptr<IUnknown>* unk) override {
    group = std::make_shared<SendingGroup>();
    *h = 1;
    *revised = rate;
    *unk = std::static_pointer_cast<IConnectionPointContainer>(group);
    return S_OK;
  }
  HRESULT GetErrorString(HRESULT, LCID, std::string*) override { return E_NOTIMPL; }
  HRESULT GetStatus(OPCSERVERSTATUS* s) override {
    s->dwServerState = OPC_STATUS_RUNNING;
    s->szVendorInfo = "bench";
    return S_OK;
  }
  HRESULT RemoveGroup(OPCHANDLE, BOOL) override { return S_OK; }
  std::shared_ptr<SendingGroup> group;
};

// Counts what arrives on the client's apartment and when the last change was sent.
class CountingSink final : public IOPCDataCallback, public std::enable_shared_from_this<CountingSink> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCDataCallback});
  }
  HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD n, const OPCHANDLE*, const Variant*, const WORD*,
                       const FILETIME*, const HRESULT*) override {
    items += n;
    ++changes;
    if (sent_at != Clock::time_point{}) latency.push_back(Clock::now() - sent_at);
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, const OPCHANDLE*, const Variant*, const WORD*,
                         const FILETIME*, const HRESULT*) override {
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, const OPCHANDLE*, const HRESULT*) override { return S_OK; }
  HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
  size_t items = 0;
  size_t changes = 0;
  Clock::time_point sent_at;
  std::vector<Clock::duration> latency;
};

struct Bench {
  Bench() {
    dir = std::filesystem::temp_directory_path() / ("qar-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    rpc::ServeOptions o;
    o.socket_dir = dir;
    o.record_in_registry = false;
    std::string error;
    if (FAILED(rpc::ServerEndpoint::Start(kBenchClsid, [this] { return NewServer(); }, o, &endpoint, &error))) {
      std::fprintf(stderr, "bench: %s\n", error.c_str());
      std::abort();
    }
  }
  ~Bench() {
    endpoint->Stop();
    std::filesystem::remove_all(dir);
  }
  std::shared_ptr<IUnknown> NewServer() {
    auto s = std::make_shared<BenchServer>();
    std::lock_guard lock(mutex);
    servers.push_back(s);
    return std::static_pointer_cast<IOPCServer>(s);
  }
  struct Client {
    Apartment apartment;
    std::shared_ptr<IOPCServer> server;
    std::shared_ptr<IUnknown> group;
    std::shared_ptr<CountingSink> sink = std::make_shared<CountingSink>();
  };
  std::unique_ptr<Client> Connect() {
    auto c = std::make_unique<Client>();
    rpc::ActivationOptions o;
    o.apartment = &c->apartment;
    std::shared_ptr<IUnknown> unk;
    rpc::ConnectServer(endpoint->Target(), kBenchClsid, o, &unk);
    c->server = Query<IOPCServer>(unk);
    OPCHANDLE h;
    DWORD rate;
    c->server->AddGroup("bench", TRUE, 100, 1, nullptr, nullptr, 0, &h, &rate, IID_IUnknown, &c->group);
    std::shared_ptr<IConnectionPoint> point;
    Query<IConnectionPointContainer>(c->group)->FindConnectionPoint(IID_IOPCDataCallback, &point);
    DWORD cookie;
    point->Advise(std::static_pointer_cast<IOPCDataCallback>(c->sink), &cookie);
    return c;
  }
  std::filesystem::path dir;
  std::unique_ptr<rpc::ServerEndpoint> endpoint;
  std::mutex mutex;
  std::vector<std::shared_ptr<BenchServer>> servers;
};

double Percentile(std::vector<Clock::duration> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  return std::chrono::duration<double, std::micro>(v[i]).count();
}

void BM_SyncCallRoundTrip(benchmark::State& state) {
  Bench bench;
  auto client = bench.Connect();
  std::vector<Clock::duration> times;
  OPCSERVERSTATUS status;
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (client->server->GetStatus(&status) != S_OK) state.SkipWithError("GetStatus failed");
    times.push_back(Clock::now() - t0);
  }
  state.counters["median_us"] = Percentile(times, 0.5);
  state.counters["p99_us"] = Percentile(times, 0.99);
}
BENCHMARK(BM_SyncCallRoundTrip)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// Data changes of `items` items each, sent to `clients` clients as fast as they are taken.
void BM_StreamedItems(benchmark::State& state) {
  const size_t items = static_cast<size_t>(state.range(0));
  const size_t clients = static_cast<size_t>(state.range(1));
  Bench bench;
  std::vector<std::unique_ptr<Bench::Client>> cs;
  for (size_t i = 0; i < clients; ++i) cs.push_back(bench.Connect());
  DWORD tick = 0;
  size_t sent = 0;
  for (auto _ : state) {
    ++tick;
    for (auto& s : bench.servers) s->group->Send(tick, items);
    ++sent;
    // Keep at most a few ticks in flight, as a polling host would.
    if (sent % 8 == 0) {
      for (auto& c : cs) {
        c->apartment.RunUntil([&] { return c->sink->changes >= sent; }, std::chrono::seconds(30));
      }
    }
  }
  for (auto& c : cs) c->apartment.RunUntil([&] { return c->sink->changes >= sent; }, std::chrono::seconds(30));
  size_t delivered = 0;
  for (auto& c : cs) delivered += c->sink->items;
  state.counters["items_per_s"] = benchmark::Counter(static_cast<double>(delivered), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StreamedItems)->Args({100, 1})->Args({10000, 1})->Args({10000, 10})->UseRealTime()->Unit(benchmark::kMillisecond);

// From a server object's OnDataChange call to the client's callback on its apartment, one
// change at a time (the host's update rate adds at most one period before this).
void BM_ChangeToCallbackLatency(benchmark::State& state) {
  Bench bench;
  auto client = bench.Connect();
  size_t expected = 0;
  for (auto _ : state) {
    client->sink->sent_at = Clock::now();
    bench.servers[0]->group->Send(static_cast<DWORD>(expected), static_cast<size_t>(state.range(0)));
    ++expected;
    client->apartment.RunUntil([&] { return client->sink->changes >= expected; }, std::chrono::seconds(30));
  }
  state.counters["median_us"] = Percentile(client->sink->latency, 0.5);
  state.counters["p99_us"] = Percentile(client->sink->latency, 0.99);
}
BENCHMARK(BM_ChangeToCallbackLatency)->Arg(1)->Arg(10000)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
