// The explorer's own costs, with an in-process server so that only the explorer is measured.
//
//   BM_BuildTree: the walk of the whole address space on every connect (a central modem with
//     n stations of 40 registers each).
//   BM_IdenticalItems: the search of one register name through the same space.
//   BM_InspectorDataChange: one data change of every item of the shown group into its rows.
#include <benchmark/benchmark.h>

#include "bench/explorer_no_dialogs.h"
#include "explorer/main_model.h"
#include "opcclient/tests/scripted_server.h"
#include "platform/clock.h"
#include "platform/testing/recording_messages.h"

namespace {

namespace com = platform::com;

using bench::NoDialogs;

// A connected explorer on a scripted network of n stations under "Zentrale".
struct Bench {
  std::shared_ptr<kopl::testing::ScriptedServer> fake = std::make_shared<kopl::testing::ScriptedServer>();
  com::Apartment apartment;
  platform::ManualClock clock;
  NoDialogs dialogs;
  platform::testing::RecordingMessages messages;
  std::unique_ptr<explorer::TMainModel> main;

  explicit Bench(int stations) {
    fake->branches[""] = {"Zentrale"};
    for (int s = 0; s < stations; ++s) {
      const std::string station = "Station" + std::to_string(s);
      fake->branches["Zentrale"].push_back(station);
      for (int r = 0; r < 40; ++r) fake->leaves["Zentrale." + station].push_back("AE" + std::to_string(r));
    }
    kopl::KoplServices services;
    services.message_box = [](const std::string&) {};
    services.log = [](const std::string&) {};
    services.create_server = [f = fake](const com::CLSID&, const std::string&, com::Apartment&,
                                        std::shared_ptr<com::IUnknown>* out, std::string*) {
      *out = std::static_pointer_cast<com::IOPCServer>(f);
      return com::S_OK;
    };
    kopl::SetServices(std::move(services));
    explorer::TMainModel::Options o;
    o.settings_path = "/dev/null";
    o.apartment = &apartment;
    o.clock = &clock;
    main = std::make_unique<explorer::TMainModel>(dialogs, messages, o);
    main->SetServerText(com::GuidToString(kopl::testing::kScriptedClsid));
  }
  ~Bench() {
    main.reset();
    kopl::SetServices({});
  }
};

void BM_BuildTree(benchmark::State& state) {
  Bench b(int(state.range(0)));
  b.main->Connect();
  for (auto _ : state) b.main->Explorer().BuildTree();
  state.counters["branches"] = double(state.range(0) + 1);
}
BENCHMARK(BM_BuildTree)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_IdenticalItems(benchmark::State& state) {
  Bench b(int(state.range(0)));
  b.main->Connect();
  b.main->Explorer().SelectNode(b.main->Explorer().Tree().Top()[0]->Children[0].get());
  size_t found = 0;
  for (auto _ : state) found = b.main->Explorer().GetIdenticalItemIDs(7).size();
  if (found != size_t(state.range(0))) state.SkipWithError("registers not found");
}
BENCHMARK(BM_IdenticalItems)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_InspectorDataChange(benchmark::State& state) {
  const int n = int(state.range(0));
  Bench b(0);
  for (int i = 0; i < n; ++i) b.fake->known["Z.S" + std::to_string(i / 40) + ".AE" + std::to_string(i % 40)];
  b.main->FormShow();
  b.main->Connect();
  explorer::TInspecModel& inspector = b.main->Inspector();
  kopl::TKoplGroup* group = inspector.SelectedGroup();
  std::vector<std::string> ids;
  for (const auto& [id, def] : b.fake->known) ids.push_back(id);
  b.main->OPCServer().SetBatchMode(true);  // added in one call when the group connects again
  inspector.AddItems(group, ids);
  b.main->OPCServer().SetBatchMode(false);
  kopl::TKoplItemList all(group->OPCItems());
  for (kopl::TKoplItem* item : all) item->SetValue(com::Variant::I4(255));
  for (auto _ : state) inspector.DataChange(all);
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_InspectorDataChange)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
