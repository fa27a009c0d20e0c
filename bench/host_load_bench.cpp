// The host under load and under clients that misbehave, side by side in one run:
// 1. session set-up (Connect + GetStatus) p50/p99, without other clients and while another
//    client holds two active groups of 200 000 items at 100 ms;
// 2. the host's CPU while that client is there, the time from its SIGKILL until its groups are
//    gone, the host's CPU afterwards, and how long the host takes to stop on SIGTERM;
// 3. the host's RSS with five clients that advise groups of 5000 items at the fastest rate
//    (every value changing at every poll) and never read their events;
// 4. item reports per second to a client of a steady network: 10 000 items at 100 ms, the
//    driver stamping every register at each poll and changing 1 % of them, and how many of
//    the reports repeat the item's value and quality;
// 5. the round trip of a synchronous call (GetStatus, and a device read of one item) against a
//    bare gRPC unary call on the same socket (a method the server does not have);
// 6. another client's Refresh2 of 5 items p50/p99 while a killed client's 1000 Refresh2 (device)
//    of 100 000 items are pending, and SIGTERM in that state;
// 7. the host's CPU with a group at the largest update rate;
// 8. the host's RSS peak above its start during 3000 Refresh2 of 100 000 items from one client;
// 9. SIGTERM until exit beside a client that does not read its events, with an active group of
//    30 000 items at 10 ms and 400 Refresh2 (cache) sent a second before.
// The host is this program again, in a process of its own (--host), serving the server library
// played by the benchmark; the client of 1 and 2 is a process of its own too (--holder).
// Run: build/bench/bench_host_load
#include <grpcpp/grpcpp.h>
#include <grpcpp/impl/client_unary_call.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/host_server.h"
#include "host/library_backend.h"
#include "host/name_space.h"
#include "host/service/tests/program.h"
#include "host/tests/fake_library.h"
#include "platform/com/connection_point.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/client.h"
#include "platform/com/rpc/opc.grpc.pb.h"
#include "platform/com/rpc/wire.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace com = platform::com;
namespace pb = qar::com;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;
using host::testing::FakeLibrary;

std::string self;  // this program's path

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

std::string Item(int i) { return "ZFM.S" + std::to_string(i / 1000) + ".R" + std::to_string(i % 1000); }

com::CLSID Clsid() { return FakeLibrary::TheExports().initialize()->ClassId; }

// ---- the host: this program with --host <socket dir> <items> <changes per mille> ----

int Host(const std::string& dir, int items, int per_mille) {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  FakeLibrary& lib = FakeLibrary::Get();
  lib.Reset();
  for (int i = 0; i < items; ++i) {
    lib.tags.push_back({"S" + std::to_string(i / 1000), "R" + std::to_string(i % 1000), com::VT_I4, 1, i * 16, {}});
  }
  host::Exports exports = FakeLibrary::TheExports();
  const auto* record = exports.initialize();
  host::NameSpace ns;
  ns.Build(exports.build_name_space);
  exports.start();
  host::LibraryBackend backend{exports.handle_requests};
  host::ServeSettings settings;
  settings.endpoint.socket_dir = dir;
  settings.endpoint.record_in_registry = false;
  std::unique_ptr<host::HostServer> server;
  std::string error;
  if (com::FAILED(host::HostServer::Start(*record, ns, backend, settings, &server, &error))) {
    std::fprintf(stderr, "host: %s\n", error.c_str());
    return 1;
  }
  std::printf("ready %s\n", server->Target().c_str());
  std::fflush(stdout);
  std::atomic<bool> running{true};
  // The driver: every 100 ms it stamps every register, and changes some of them.
  std::thread driver([&] {
    const int changed = items * per_mille / 1000;
    std::vector<int32_t> values(static_cast<size_t>(items), 0);
    for (int32_t round = 1; running; ++round) {
      const auto t0 = Steady::now();
      const platform::FILETIME now = platform::ToFileTime(std::chrono::system_clock::now());
      for (int i = 0; i < items; ++i) {
        if ((i + static_cast<int64_t>(round) * changed) % items < changed) values[i] = round;
        lib.Set(i * 16, com::Variant::I4(values[i]), 0xC0, now);
      }
      std::this_thread::sleep_until(t0 + 100ms);
    }
  });
  // What the benchmark watches: the host's group count, whenever it changes.
  std::thread watcher([&] {
    size_t last = SIZE_MAX;
    while (running) {
      size_t n = server->Model().GroupCount();
      if (n != last) {
        std::printf("groups %zu\n", n);
        std::fflush(stdout);
        last = n;
      }
      std::this_thread::sleep_for(10ms);
    }
  });
  int sig;
  sigwait(&stop, &sig);
  running = false;
  watcher.join();
  driver.join();
  server->Stop("stopping");
  server.reset();
  exports.stop();
  return 0;
}

// A data callback for clients that ask for no reads, writes or cancels of their own.
class DataChangeSink : public com::IOPCDataCallback {
 public:
  com::HRESULT OnReadComplete(com::DWORD, com::OPCHANDLE, com::HRESULT, com::HRESULT, com::DWORD,
                              const com::OPCHANDLE*, const com::Variant*, const com::WORD*, const platform::FILETIME*,
                              const com::HRESULT*) override {
    return com::S_OK;
  }
  com::HRESULT OnWriteComplete(com::DWORD, com::OPCHANDLE, com::HRESULT, com::DWORD, const com::OPCHANDLE*,
                               const com::HRESULT*) override {
    return com::S_OK;
  }
  com::HRESULT OnCancelComplete(com::DWORD, com::OPCHANDLE) override { return com::S_OK; }
};

// ---- a client that reads everything ----

class CountingSink final : public DataChangeSink, public std::enable_shared_from_this<CountingSink> {
 public:
  com::HRESULT QueryInterface(const com::IID& riid, std::shared_ptr<com::IUnknown>* ppv) override {
    return com::AnswerQuery(this, riid, ppv, {com::IID_IOPCDataCallback});
  }
  com::HRESULT OnDataChange(com::DWORD, com::OPCHANDLE, com::HRESULT, com::HRESULT, com::DWORD n,
                            const com::OPCHANDLE* h, const com::Variant* v, const com::WORD* q,
                            const platform::FILETIME*, const com::HRESULT*) override {
    std::lock_guard lock(mutex);
    for (com::DWORD i = 0; i < n; ++i) {
      auto [it, fresh] = last.try_emplace(h[i], v[i], q[i]);
      if (!fresh) {
        if (it->second.first == v[i] && it->second.second == q[i]) ++repeated;
        it->second = {v[i], q[i]};
      }
      ++reports;
    }
    return com::S_OK;
  }

  std::mutex mutex;
  std::map<com::OPCHANDLE, std::pair<com::Variant, com::WORD>> last;
  uint64_t reports = 0, repeated = 0;
};

struct Client {
  com::Apartment apartment;
  std::shared_ptr<com::IUnknown> unk;
  std::vector<std::shared_ptr<com::IUnknown>> groups;
  std::vector<com::OPCHANDLE> handles;  // the server handles of the last group's items
  std::shared_ptr<CountingSink> sink = std::make_shared<CountingSink>();

  bool Connect(const std::string& target) {
    com::rpc::ActivationOptions o;
    o.apartment = &apartment;
    o.call_timeout_ms = 600000;
    return com::SUCCEEDED(com::rpc::ConnectServer(target, Clsid(), o, &unk));
  }
  // A group of items 0 .. items-1 at the rate, advised to the sink (or to `to`).
  bool AddGroup(int items, com::DWORD rate, std::shared_ptr<com::IOPCDataCallback> to = nullptr) {
    com::OPCHANDLE h;
    com::DWORD revised;
    std::shared_ptr<com::IUnknown> group;
    const std::string name = "G" + std::to_string(groups.size());
    if (com::FAILED(com::Query<com::IOPCServer>(unk)->AddGroup(name, com::TRUE, rate, 1, nullptr, nullptr, 0, &h,
                                                                &revised, com::IID_IOPCItemMgt, &group))) {
      return false;
    }
    std::vector<com::OPCITEMDEF> defs(static_cast<size_t>(items));
    for (int i = 0; i < items; ++i) {
      defs[i].szItemID = Item(i);
      defs[i].hClient = static_cast<com::OPCHANDLE>(i);
    }
    std::vector<com::OPCITEMRESULT> results;
    std::vector<com::HRESULT> errors;
    if (com::Query<com::IOPCItemMgt>(group)->AddItems(static_cast<com::DWORD>(items), defs.data(), &results,
                                                       &errors) != com::S_OK) {
      return false;
    }
    handles.clear();
    for (const com::OPCITEMRESULT& r : results) handles.push_back(r.hServer);
    std::shared_ptr<com::IConnectionPoint> point;
    com::Query<com::IConnectionPointContainer>(group)->FindConnectionPoint(com::IID_IOPCDataCallback, &point);
    com::DWORD cookie;
    if (!to) to = sink;
    if (!point || com::FAILED(point->Advise(to, &cookie))) {
      return false;
    }
    groups.push_back(group);
    return true;
  }
};

// ---- the holder: this program with --holder <target> <items>: two groups, read, never leave ----

int Holder(const std::string& target, int items) {
  Client c;
  if (!c.Connect(target) || !c.AddGroup(items, 100) || !c.AddGroup(items, 100)) return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) c.apartment.WaitAndRun(1000ms);
}

// ---- the host as the benchmark sees it ----

struct HostProcess {
  platform::testing::TempDir dir;
  std::unique_ptr<host::testing::Program> program;
  std::string target;
  std::mutex mutex;
  size_t groups = 0;
  std::thread lines;

  HostProcess(int items, int per_mille) {
    program = std::make_unique<host::testing::Program>(
        self, std::vector<std::pair<std::string, std::string>>{},
        std::vector<std::string>{"--host", dir.Path(), std::to_string(items), std::to_string(per_mille)});
    std::string ready = program->NextLine(120s);
    if (ready.rfind("ready ", 0) != 0) {
      std::fprintf(stderr, "the host did not start\n");
      std::exit(1);
    }
    target = ready.substr(6);
    lines = std::thread([this] {
      for (std::string l; !(l = program->NextLine(std::chrono::hours(24))).empty();) {
        if (l.rfind("groups ", 0) == 0) {
          std::lock_guard lock(mutex);
          groups = std::stoul(l.substr(7));
        }
      }
    });
  }
  ~HostProcess() {
    if (program) Stop();
  }
  size_t Groups() {
    std::lock_guard lock(mutex);
    return groups;
  }
  bool AwaitGroups(size_t n, std::chrono::milliseconds limit, Steady::duration* took = nullptr) {
    const auto t0 = Steady::now();
    while (Groups() != n) {
      if (Steady::now() - t0 > limit) return false;
      std::this_thread::sleep_for(5ms);
    }
    if (took) *took = Steady::now() - t0;
    return true;
  }
  std::string Proc(const std::string& file) {
    std::ifstream in("/proc/" + std::to_string(program->Pid()) + "/" + file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  double CpuSeconds() {
    std::string stat = Proc("stat");
    std::istringstream in(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  // The host's CPU over the next period, in percent of one core.
  double CpuPercent(std::chrono::milliseconds period) {
    const double c0 = CpuSeconds();
    const auto t0 = Steady::now();
    std::this_thread::sleep_for(period);
    return 100 * (CpuSeconds() - c0) / std::chrono::duration<double>(Steady::now() - t0).count();
  }
  double MemoryMb(const std::string& key) {
    std::istringstream in(Proc("status"));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1)) / 1024;
    }
    return 0;
  }
  // SIGTERM; how long the host took to end.
  double Stop() {
    const auto t0 = Steady::now();
    kill(program->Pid(), SIGTERM);
    program->ExitCode(300s);
    const double took = Ms(Steady::now() - t0);
    if (lines.joinable()) lines.join();
    program.reset();
    return took;
  }
};

// Connect + GetStatus with a fresh connection each time, for at most `budget` in all.
std::vector<double> SessionSetUps(const std::string& target, int n, std::chrono::seconds budget) {
  std::vector<double> ms;
  const auto end = Steady::now() + budget;
  for (int i = 0; i < n && Steady::now() < end; ++i) {
    const auto t0 = Steady::now();
    Client c;
    com::OPCSERVERSTATUS status;
    if (!c.Connect(target) || com::FAILED(com::Query<com::IOPCServer>(c.unk)->GetStatus(&status))) {
      std::printf("    set-up %d failed\n", i);
      continue;
    }
    ms.push_back(Ms(Steady::now() - t0));
  }
  return ms;
}

void PrintSetUps(const char* label, const std::vector<double>& ms) {
  std::printf("  %-44s p50 %8.2f ms   p99 %8.2f ms   (%zu set-ups)\n", label, Percentile(ms, 0.5),
              Percentile(ms, 0.99), ms.size());
}

void LoadAndKilledClient() {
  constexpr int kItems = 200000;
  std::printf("1, 2. Two groups of %d items at 100 ms held by another client\n", kItems);
  HostProcess h(kItems, 10);
  PrintSetUps("session set-up, no other client:", SessionSetUps(h.target, 200, 30s));
  auto holder = std::make_unique<host::testing::Program>(
      self, std::vector<std::pair<std::string, std::string>>{},
      std::vector<std::string>{"--holder", h.target, std::to_string(kItems)});
  if (holder->NextLine(600s) != "ready" || !h.AwaitGroups(2, 60s)) {
    std::printf("  the holding client did not come up\n");
    return;
  }
  std::this_thread::sleep_for(2s);  // its first full callbacks out of the way
  PrintSetUps("session set-up, while the groups are polled:", SessionSetUps(h.target, 200, 60s));
  std::printf("  host CPU while the groups are polled:        %6.0f %%\n", h.CpuPercent(5000ms));
  std::printf("  host RSS while the groups are polled:        %6.0f MB\n", h.MemoryMb("VmRSS"));
  kill(holder->Pid(), SIGKILL);
  Steady::duration gone{};
  if (h.AwaitGroups(0, 120s, &gone)) {
    std::printf("  SIGKILL of the client until its groups are gone: %8.1f ms\n", Ms(gone));
  } else {
    std::printf("  its groups were still there 120 s after the SIGKILL\n");
  }
  holder->ExitCode(10s);
  std::printf("  host CPU afterwards, nobody connected:       %6.1f %%\n", h.CpuPercent(5000ms));
  std::printf("  host RSS afterwards:                         %6.0f MB\n", h.MemoryMb("VmRSS"));
  std::printf("  SIGTERM until the host has ended:            %8.1f ms\n", h.Stop());
}

// A client of the raw protocol that advises a group and never reads its stream.
struct StalledClient {
  std::shared_ptr<grpc::Channel> channel;
  std::unique_ptr<pb::OpcServer::Stub> stub;
  grpc::ClientContext stream;
  std::unique_ptr<grpc::ClientReader<pb::Event>> reader;
  std::string session;
  uint32_t group = 0;

  template <class Req, class Rep>
  bool Call(grpc::Status (pb::OpcServer::Stub::*m)(grpc::ClientContext*, const Req&, Rep*), const Req& req, Rep* rep) {
    grpc::ClientContext ctx;
    ctx.AddMetadata("qar-session", session);
    return (stub.get()->*m)(&ctx, req, rep).ok();
  }
  bool Start(const std::string& target, int items, uint32_t rate = 100) {
    channel = grpc::CreateChannel(target, grpc::InsecureChannelCredentials());
    stub = pb::OpcServer::NewStub(channel);
    pb::ConnectRequest req;
    req.set_clsid(com::wire::EncodeGuid(Clsid()));
    reader = stub->Connect(&stream, req);
    pb::Event first;
    if (!reader->Read(&first)) return false;  // the only event it ever reads
    session = first.connected().session();
    pb::AddGroupRequest add;
    add.set_name("stalled");
    add.set_active(true);
    add.set_requested_update_rate(rate);
    pb::AddGroupReply added;
    if (!Call(&pb::OpcServer::Stub::AddGroup, add, &added)) return false;
    group = added.server_group();
    pb::ItemsRequest defs;
    defs.set_group(added.server_group());
    defs.set_count(items);
    for (int i = 0; i < items; ++i) {
      auto* d = defs.add_items();
      d->set_item_id(Item(i));
      d->set_active(true);
      d->set_client_handle(i);
    }
    pb::ItemResultsReply results;
    if (!Call(&pb::OpcServer::Stub::AddItems, defs, &results)) return false;
    pb::AdviseRequest advise;
    advise.set_on_group(true);
    advise.set_group(added.server_group());
    advise.set_iid(com::wire::EncodeGuid(com::IID_IOPCDataCallback));
    advise.set_sink(1);
    pb::AdviseReply advised;
    return Call(&pb::OpcServer::Stub::Advise, advise, &advised) && advised.hr() == com::S_OK;
  }
  ~StalledClient() {
    stream.TryCancel();
    if (reader) {
      for (pb::Event e; reader->Read(&e);) {
      }
      reader->Finish();
    }
  }
};

void StalledClients() {
  constexpr int kItems = 5000, kClients = 5;
  std::printf("3. %d clients with groups of %d items at 100 ms that never read their events\n", kClients, kItems);
  HostProcess h(kItems, 1000);
  std::printf("  host RSS before:                             %6.0f MB\n", h.MemoryMb("VmRSS"));
  {
    std::vector<std::unique_ptr<StalledClient>> stalled;
    for (int i = 0; i < kClients; ++i) {
      stalled.push_back(std::make_unique<StalledClient>());
      if (!stalled.back()->Start(h.target, kItems)) std::printf("  stalled client %d did not come up\n", i);
    }
    const auto t0 = Steady::now();
    double peak = 0;
    while (Steady::now() - t0 < 60s) {
      peak = std::max(peak, h.MemoryMb("VmRSS"));
      std::this_thread::sleep_for(100ms);
    }
    std::printf("  host RSS, highest in 60 s with them:         %6.0f MB\n", peak);
    std::printf("  host RSS after 60 s with them:               %6.0f MB   (%zu of their groups still polled)\n",
                h.MemoryMb("VmRSS"), h.Groups());
  }
  std::this_thread::sleep_for(3s);
  std::printf("  host RSS 3 s after they are gone:            %6.0f MB\n", h.MemoryMb("VmRSS"));
  h.Stop();
}

void SteadyNetwork() {
  constexpr int kItems = 10000;
  std::printf("4. A steady network: %d items at 100 ms, every register stamped at each poll, 1 %% changing\n",
              kItems);
  HostProcess h(kItems, 10);
  Client c;
  if (!c.Connect(h.target) || !c.AddGroup(kItems, 100)) {
    std::printf("  the client did not come up\n");
    return;
  }
  c.apartment.RunUntil([] { return false; }, 2000ms);  // the first full callback
  uint64_t r0, p0;
  {
    std::lock_guard lock(c.sink->mutex);
    r0 = c.sink->reports, p0 = c.sink->repeated;
  }
  const auto t0 = Steady::now();
  c.apartment.RunUntil([] { return false; }, 10000ms);
  const double s = std::chrono::duration<double>(Steady::now() - t0).count();
  std::lock_guard lock(c.sink->mutex);
  const double reports = static_cast<double>(c.sink->reports - r0);
  std::printf("  item reports per second:                   %8.0f   (%.1f %% repeat value and quality)\n",
              reports / s, reports ? 100.0 * static_cast<double>(c.sink->repeated - p0) / reports : 0.0);
}

void RoundTrips() {
  constexpr int kCalls = 20000;
  std::printf("5. Round trip of one call, %d calls each, on the host's socket\n", kCalls);
  HostProcess h(10, 0);
  Client c;
  if (!c.Connect(h.target) || !c.AddGroup(1, 1000)) {
    std::printf("  the client did not come up\n");
    return;
  }
  auto io = com::Query<com::IOPCSyncIO>(c.groups[0]);
  std::vector<com::OPCITEMSTATE> states;
  std::vector<com::HRESULT> errors;
  const com::OPCHANDLE item = c.handles[0];
  auto server = com::Query<com::IOPCServer>(c.unk);
  auto channel = grpc::CreateChannel(h.target, grpc::InsecureChannelCredentials());
  auto stub = pb::OpcServer::NewStub(channel);
  const grpc::internal::RpcMethod no_such_method("/qar.com.OpcServer/NoSuchMethod",
                                                 grpc::internal::RpcMethod::NORMAL_RPC);
  grpc::Slice nothing(std::string{});
  const grpc::ByteBuffer empty(&nothing, 1);
  struct Row {
    const char* label;
    std::function<bool()> call;
  } rows[] = {
      {"bare gRPC unary call (no such method):",
       [&] {
         grpc::ClientContext ctx;
         grpc::ByteBuffer reply;
         return grpc::internal::BlockingUnaryCall<grpc::ByteBuffer, grpc::ByteBuffer>(channel.get(), no_such_method, &ctx, empty, &reply).error_code() ==
                grpc::StatusCode::UNIMPLEMENTED;
       }},
      {"bare gRPC unary call (unknown session):",
       [&] {
         grpc::ClientContext ctx;
         pb::GetStatusReply reply;
         return stub->GetStatus(&ctx, pb::Empty(), &reply).error_code() == grpc::StatusCode::FAILED_PRECONDITION;
       }},
      {"GetStatus through the client library:",
       [&] {
         com::OPCSERVERSTATUS st;
         return server->GetStatus(&st) == com::S_OK;
       }},
      {"device read of one item through the library:",
       [&] { return io->Read(com::OPC_DS_DEVICE, 1, &item, &states, &errors) == com::S_OK; }},
  };
  // The kinds take turns, so that the machine's other work weighs on each alike.
  std::vector<std::vector<double>> us(std::size(rows));
  for (int i = -1000; i < kCalls; ++i) {  // the first thousand warm up
    for (size_t k = 0; k < std::size(rows); ++k) {
      const auto t0 = Steady::now();
      if (!rows[k].call()) {
        std::printf("  %s failed\n", rows[k].label);
        return;
      }
      if (i >= 0) us[k].push_back(Ms(Steady::now() - t0) * 1000);
    }
  }
  const double bare = Percentile(us[0], 0.5);
  for (size_t k = 0; k < std::size(rows); ++k) {
    const double p50 = Percentile(us[k], 0.5);
    std::printf("  %-46s p50 %7.1f us   p99 %7.1f us   %.2fx the bare call\n", rows[k].label, p50,
                Percentile(us[k], 0.99), p50 / bare);
  }
}

// ---- a client that sends refreshes and never reads its events: this program with
// --refresher <target> <items> <rate> <refreshes> <source> ----

int Refresher(const std::string& target, int items, uint32_t rate, int refreshes, uint32_t source) {
  StalledClient c;
  if (!c.Start(target, items, rate)) return 1;
  int refused = 0;
  for (int i = 0; i < refreshes; ++i) {
    pb::RefreshRequest req;
    req.set_group(c.group);
    req.set_source(source);
    req.set_transaction_id(static_cast<uint32_t>(i + 1));
    pb::AsyncReply rep;
    if (!c.Call(&pb::OpcServer::Stub::Refresh2, req, &rep) || rep.hr() != com::S_OK) ++refused;
  }
  std::printf("refused %d\n", refused);
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) pause();
}

std::unique_ptr<host::testing::Program> StartRefresher(const HostProcess& h, int items, uint32_t rate, int refreshes,
                                                      com::OPCDATASOURCE source) {
  auto p = std::make_unique<host::testing::Program>(
      self, std::vector<std::pair<std::string, std::string>>{},
      std::vector<std::string>{"--refresher", h.target, std::to_string(items), std::to_string(rate),
                               std::to_string(refreshes), std::to_string(source)});
  std::string refused = p->NextLine(600s);
  if (p->NextLine(600s) != "ready") {
    std::printf("  the refreshing client did not come up\n");
    return nullptr;
  }
  std::printf("  refreshing client: %d Refresh2 sent, %s\n", refreshes, refused.c_str());
  return p;
}

// Records the transaction of every refresh completion.
class RefreshSink final : public DataChangeSink, public std::enable_shared_from_this<RefreshSink> {
 public:
  com::HRESULT QueryInterface(const com::IID& riid, std::shared_ptr<com::IUnknown>* ppv) override {
    return com::AnswerQuery(this, riid, ppv, {com::IID_IOPCDataCallback});
  }
  com::HRESULT OnDataChange(com::DWORD t, com::OPCHANDLE, com::HRESULT, com::HRESULT, com::DWORD, const com::OPCHANDLE*,
                            const com::Variant*, const com::WORD*, const platform::FILETIME*,
                            const com::HRESULT*) override {
    if (t) done = t;
    return com::S_OK;
  }
  com::DWORD done = 0;  // the apartment's thread only
};

void KilledClientsRefreshes() {
  constexpr int kItems = 100000, kRefreshes = 1000;
  std::printf("6. A killed client's %d Refresh2 (device) of %d items pending\n", kRefreshes, kItems);
  for (bool sigterm : {false, true}) {
    HostProcess h(kItems, 10);
    // The other client comes second, so that its group is polled after the killed one's.
    auto refresher = StartRefresher(h, kItems, 100, kRefreshes, com::OPC_DS_DEVICE);
    if (!refresher) return;
    Client c;
    auto sink = std::make_shared<RefreshSink>();
    if (!c.Connect(h.target) || !c.AddGroup(5, 100, sink)) return;
    kill(refresher->Pid(), SIGKILL);
    refresher->ExitCode(10s);
    if (sigterm) {
      std::printf("  SIGTERM until the host has ended:            %8.1f ms\n", h.Stop());
      continue;
    }
    auto io = com::Query<com::IOPCAsyncIO2>(c.groups[0]);
    std::vector<double> ms;
    const auto end = Steady::now() + 120s;
    for (com::DWORD t = 1; t <= 50 && Steady::now() < end; ++t) {
      const auto t0 = Steady::now();
      com::DWORD cancel;
      if (io->Refresh2(com::OPC_DS_DEVICE, t, &cancel) != com::S_OK ||
          !c.apartment.RunUntil([&] { return sink->done == t; }, 120s)) {
        std::printf("  refresh %u of the other client failed\n", t);
        break;
      }
      ms.push_back(Ms(Steady::now() - t0));
    }
    std::printf("  other client's Refresh2 of 5 items:          p50 %8.1f ms   p99 %8.1f ms   (%zu)\n",
                Percentile(ms, 0.5), Percentile(ms, 0.99), ms.size());
  }
}

void LargestRate() {
  std::printf("7. A group at the largest update rate\n");
  HostProcess h(10, 0);
  Client c;
  com::OPCHANDLE handle;
  com::DWORD revised = 0;
  std::shared_ptr<com::IUnknown> group;
  if (!c.Connect(h.target) || com::FAILED(com::Query<com::IOPCServer>(c.unk)->AddGroup(
                                   "largest", com::TRUE, 0xFFFFFFFFu, 1, nullptr, nullptr, 0, &handle, &revised,
                                   com::IID_IOPCItemMgt, &group))) {
    std::printf("  the client did not come up\n");
    return;
  }
  std::printf("  revised rate:                                %10u ms\n", revised);
  std::printf("  host CPU with it:                            %6.1f %%\n", h.CpuPercent(5000ms));
}

void RefreshBurstMemory() {
  constexpr int kItems = 100000, kRefreshes = 3000;
  std::printf("8. %d Refresh2 (cache) of %d items from one client that does not read its events\n", kRefreshes,
              kItems);
  HostProcess h(kItems, 10);
  std::this_thread::sleep_for(1s);
  const double start = h.MemoryMb("VmRSS");
  std::atomic<bool> watching{true};
  double peak = start;
  std::thread watch([&] {
    while (watching) {
      peak = std::max(peak, h.MemoryMb("VmRSS"));
      std::this_thread::sleep_for(20ms);
    }
  });
  auto refresher = StartRefresher(h, kItems, 100, kRefreshes, com::OPC_DS_CACHE);
  std::this_thread::sleep_for(5s);
  watching = false;
  watch.join();
  std::printf("  host RSS at start %6.0f MB, peak %6.0f MB:   %6.0f MB above the start\n", start, peak, peak - start);
  if (refresher) kill(refresher->Pid(), SIGKILL);
}

void StopBehindRefreshes() {
  constexpr int kItems = 30000, kRefreshes = 400;
  std::printf("9. SIGTERM beside a client that does not read its events: %d items at 10 ms, %d Refresh2 (cache)\n",
              kItems, kRefreshes);
  HostProcess h(kItems, 10);
  auto refresher = StartRefresher(h, kItems, 10, kRefreshes, com::OPC_DS_CACHE);
  std::this_thread::sleep_for(1s);
  std::printf("  SIGTERM until the host has ended:            %8.1f ms\n", h.Stop());
  if (refresher) kill(refresher->Pid(), SIGKILL);
}

}  // namespace

int main(int argc, char** argv) {
  self = argv[0];
  signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "--host") return Host(args[1], std::stoi(args[2]), std::stoi(args[3]));
  if (args.size() == 3 && args[0] == "--holder") return Holder(args[1], std::stoi(args[2]));
  if (args.size() == 6 && args[0] == "--refresher") {
    return Refresher(args[1], std::stoi(args[2]), static_cast<uint32_t>(std::stoul(args[3])), std::stoi(args[4]),
                     static_cast<uint32_t>(std::stoul(args[5])));
  }
  // Only the named parts, by number ("1 5"); all without arguments.
  auto wanted = [&](const std::string& n) { return args.empty() || std::count(args.begin(), args.end(), n); };
  if (wanted("1") || wanted("2")) LoadAndKilledClient();
  if (wanted("3")) StalledClients();
  if (wanted("4")) SteadyNetwork();
  if (wanted("5")) RoundTrips();
  if (wanted("6")) KilledClientsRefreshes();
  if (wanted("7")) LargestRate();
  if (wanted("8")) RefreshBurstMemory();
  if (wanted("9")) StopBehindRefreshes();
  return 0;
}
