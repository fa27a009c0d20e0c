// How many data-change items per second one TKoplServer takes in: from the callback that
// updates the items to the OnDatachange event that hands them to the program. A 10 000-item
// group at 100 ms asks for 100 000 items per second.
//
//   BM_DataChangeInProcess: the library's own cost, callbacks straight from an in-process server.
//   BM_DataChangeOverTransport: the same through the transport, from a server on a local socket.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>

#include "opcclient/kopl.h"
#include "opcclient/tests/scripted_server.h"
#include "platform/clock.h"
#include "platform/com/class_registry.h"
#include "platform/com/rpc/server_endpoint.h"
#include "platform/com/testing/fake_opc_server.h"
#include "platform/com/testing/serve_fake.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace com = platform::com;
using kopl::TKoplServer;

void QuietServices(kopl::CreateServerFn create = nullptr) {
  kopl::KoplServices s;
  s.message_box = [](const std::string&) {};
  s.log = [](const std::string&) {};
  s.create_server = std::move(create);
  kopl::SetServices(std::move(s));
}

void BM_DataChangeInProcess(benchmark::State& state) {
  const int n = int(state.range(0));
  auto fake = std::make_shared<kopl::testing::ScriptedServer>();
  for (int i = 0; i < n; ++i) fake->known["Z.S" + std::to_string(i / 64) + ".AE" + std::to_string(i % 64)];
  QuietServices([fake](const com::CLSID&, const std::string&, com::Apartment&, std::shared_ptr<com::IUnknown>* out,
                       std::string*) {
    *out = std::static_pointer_cast<com::IOPCServer>(fake);
    return com::S_OK;
  });
  com::Apartment apartment;
  platform::ManualClock clock;
  TKoplServer s;
  s.SetApartment(apartment);
  s.SetClock(&clock);
  s.SetServerName(com::GuidToString(kopl::testing::kScriptedClsid));
  kopl::TKoplGroup& g = s.OPCGroups().Add("G");
  s.SetBatchMode(true);
  for (const auto& [id, def] : fake->known) g.OPCItems().Add(id);
  s.SetBatchMode(false);
  s.SetActive(true);
  int64_t delivered = 0;
  s.OnDatachange = [&](TKoplServer*, kopl::TKoplItemList& list) { delivered += list.Count(); };

  // One callback's arrays, as a server would hand them over.
  struct Arrays {
    std::vector<com::OPCHANDLE> handles;
    std::vector<com::Variant> values;
    std::vector<com::WORD> qualities;
    std::vector<platform::FILETIME> stamps;
    std::vector<com::HRESULT> errors;
  };
  kopl::testing::ScriptedGroup& sg = *fake->Group("G");
  auto a = std::make_unique<Arrays>();
  for (const auto& [h, item] : sg.items) a->handles.push_back(item.client);
  const size_t count = a->handles.size();
  a->values.resize(count);
  a->qualities.assign(count, com::OPC_QUALITY_GOOD);
  a->stamps.assign(count, platform::ToFileTime(std::chrono::system_clock::now()));
  a->errors.assign(count, com::S_OK);
  auto callback = sg.Callback();
  int tick = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (size_t i = 0; i < count; ++i) a->values[i] = com::Variant::R8(double(tick) + double(i) / 8);
    ++tick;
    state.ResumeTiming();
    callback->OnDataChange(0, com::OPCHANDLE(g.ID()), com::S_OK, com::S_OK, com::DWORD(count), a->handles.data(),
                           a->values.data(), a->qualities.data(), a->stamps.data(), a->errors.data());
    apartment.RunPending();
  }
  if (delivered != int64_t(state.iterations()) * n) state.SkipWithError("items lost");
  state.SetItemsProcessed(delivered);
  QuietServices();
}
BENCHMARK(BM_DataChangeInProcess)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The test server on a local socket, found by its ProgID as a program finds it.
struct ServedDevice {
  platform::testing::TempDir dir;
  com::ServerRegistration registration;
  std::shared_ptr<com::testing::FakeDevice> device = std::make_shared<com::testing::FakeDevice>();
  std::unique_ptr<com::rpc::ServerEndpoint> endpoint;

  bool Start(benchmark::State& state) {
    setenv("QAR_REGISTRY", (dir / "registry").c_str(), 1);
    QuietServices();
    registration.prog_id = "Bench.Transport.1";
    std::string error;
    if (com::FAILED(com::testing::ServeFakeDevice(device, registration, dir.Path(), &endpoint, &error))) {
      state.SkipWithError(error.c_str());
      return false;
    }
    return true;
  }
  ~ServedDevice() {
    endpoint.reset();
    unsetenv("QAR_REGISTRY");
  }
};

void BM_DataChangeOverTransport(benchmark::State& state) {
  const int n = int(state.range(0));
  ServedDevice served;
  if (!served.Start(state)) return;
  auto& device = served.device;
  // The test server knows five items; the group holds each of them n / 5 times.
  const char* ids[] = {"Zentrale.Station1.AE1", "Zentrale.Station1.BA1", "Zentrale.Station2.AE1", "Zentrale.Status",
                       "Zentrale.Station1.Name"};
  com::Apartment apartment;
  platform::ManualClock clock;
  int64_t delivered = 0;
  {
    TKoplServer s;
    s.SetApartment(apartment);
    s.SetClock(&clock);
    s.SetServerName(served.registration.prog_id);
    kopl::TKoplGroup& g = s.OPCGroups().Add("G");
    s.SetBatchMode(true);
    for (int i = 0; i < n; ++i) g.OPCItems().Add(ids[i % 5]);
    s.SetBatchMode(false);
    s.SetActive(true);
    s.OnDatachange = [&](TKoplServer*, kopl::TKoplItemList& list) { delivered += list.Count(); };
    device->Tick();  // the first report of every item
    apartment.RunUntil([&] { return delivered >= n; }, std::chrono::seconds(30));
    delivered = 0;
    int tick = 0;
    for (auto _ : state) {
      ++tick;
      for (int i = 0; i < 4; ++i) device->Set(ids[i], com::Variant::I4(tick));
      device->Set(ids[4], com::Variant::Str("tick " + std::to_string(tick)));
      int64_t want = delivered + n;
      device->Tick();
      if (!apartment.RunUntil([&] { return delivered >= want; }, std::chrono::seconds(30))) {
        state.SkipWithError("changes did not arrive");
        break;
      }
    }
    s.SetActive(false);
  }
  state.SetItemsProcessed(delivered);
}
BENCHMARK(BM_DataChangeOverTransport)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A program whose loop is held while the server reports state.range(0) changes of one item,
// then a change of a second group: what waits for the loop (counter "waiting", at most) and how
// long the reports take to come in and be handed on once the loop runs again.
void BM_ChangesWhileTheLoopIsHeld(benchmark::State& state) {
  const int changes = int(state.range(0));
  ServedDevice served;
  if (!served.Start(state)) return;
  auto& device = served.device;
  com::Apartment apartment;
  platform::ManualClock clock;
  std::atomic<size_t> most{0};
  apartment.SetWakeUp([&] { most = std::max(most.load(), apartment.Pending()); });
  int64_t events = 0;
  {
    TKoplServer s;
    s.SetApartment(apartment);
    s.SetClock(&clock);
    s.SetServerName(served.registration.prog_id);
    s.OPCGroups().Add("G").OPCItems().Add("Zentrale.Station1.AE1");
    s.OPCGroups().Add("Marker").OPCItems().Add("Zentrale.Station2.AE1");
    std::string marker;
    s.OnDatachange = [&](TKoplServer*, kopl::TKoplItemList& list) {
      ++events;
      if (list[0].ItemID() == "Zentrale.Station2.AE1") marker = list[0].GetValueStr();
    };
    s.SetActive(true);
    device->Tick();
    apartment.RunUntil([&] { return !marker.empty(); }, std::chrono::seconds(30));
    events = 0;
    int round = 0;
    for (auto _ : state) {
      ++round;
      for (int i = 1; i <= changes; ++i) {
        device->Set("Zentrale.Station1.AE1", com::Variant::I4(round * changes + i));
        device->Tick();
      }
      device->Set("Zentrale.Station2.AE1", com::Variant::I4(round));
      device->Tick();
      if (!apartment.RunUntil([&] { return marker == std::to_string(round); }, std::chrono::seconds(60))) {
        state.SkipWithError("changes did not arrive");
        break;
      }
    }
    s.SetActive(false);
  }
  apartment.SetWakeUp(nullptr);
  state.counters["waiting"] = double(most.load());
  state.counters["events"] = benchmark::Counter(double(events), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ChangesWhileTheLoopIsHeld)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
