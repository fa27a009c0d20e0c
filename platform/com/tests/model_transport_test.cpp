// The server model served over the transport, as a host serves it: a client connects, adds
// items, gets its data changes and writes an output.
#include "platform/com/da_server.h"
#include "platform/com/tests/transport_fixture.h"

namespace platform::com::testing {
namespace {

class OutputsBackend final : public DaBackend {
 public:
  void Read(const std::vector<uint32_t>& handles, std::vector<Reading>* readings) override {
    std::lock_guard lock(mutex);
    for (uint32_t h : handles) {
      Reading r;
      r.value = Variant::I4(value[h]);
      r.quality = OPC_QUALITY_GOOD;
      readings->push_back(std::move(r));
    }
  }
  void Write(const std::vector<uint32_t>& handles, const std::vector<Variant>& values,
             std::vector<HRESULT>* results) override {
    std::lock_guard lock(mutex);
    for (size_t i = 0; i < handles.size(); ++i) {
      value[handles[i]] = static_cast<int32_t>(values[i].Int());
      results->push_back(S_OK);
    }
  }
  std::mutex mutex;
  std::map<uint32_t, int32_t> value;
};

TEST(ModelOverTransportTest, ClientWritesAnOutputAndSeesItConfirmed) {
  AddressSpace space;
  auto node = space.AddNode(*space.AddNode(AddressSpace::kTop, "Zentrale"), "Station1");
  space.AddTag(*node, "BA1", VT_I4, OPC_READABLE | OPC_WRITEABLE, 1);
  OutputsBackend backend;
  platform::ManualClock clock;
  auto model = DaServerModel::Create(space, backend, clock, {});
  platform::testing::TempDir dir;
  rpc::ServeOptions serve;
  serve.socket_dir = dir.Path();
  serve.record_in_registry = false;
  std::unique_ptr<rpc::ServerEndpoint> ep;
  ASSERT_EQ(rpc::ServerEndpoint::Start(kFakeClsid, [model] { return model->NewServer(); }, serve, &ep), S_OK);

  Apartment apartment;
  rpc::ActivationOptions o;
  o.apartment = &apartment;
  std::shared_ptr<IUnknown> unk;
  ASSERT_EQ(rpc::ConnectServer(ep->Target(), kFakeClsid, o, &unk), S_OK);
  auto server = Query<IOPCServer>(unk);
  OPCHANDLE handle;
  DWORD rate;
  std::shared_ptr<IUnknown> group;
  ASSERT_EQ(server->AddGroup("G", TRUE, 100, 9, nullptr, nullptr, 0, &handle, &rate, IID_IOPCItemMgt, &group), S_OK);
  OPCITEMDEF def;
  def.szItemID = "Zentrale.Station1.BA1";
  def.hClient = 1;
  std::vector<OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
  ASSERT_EQ(Query<IOPCItemMgt>(group)->AddItems(1, &def, &results, &errors), S_OK);
  auto sink = std::make_shared<RecordingSink>();
  std::shared_ptr<IConnectionPoint> point;
  ASSERT_EQ(Query<IConnectionPointContainer>(group)->FindConnectionPoint(IID_IOPCDataCallback, &point), S_OK);
  DWORD cookie;
  ASSERT_EQ(point->Advise(std::static_pointer_cast<IOPCDataCallback>(sink), &cookie), S_OK);

  model->Poll();
  ASSERT_TRUE(apartment.RunUntil([&] { return sink->Count("data") == 1; }, 10s));
  EXPECT_EQ(sink->events[0].values, std::vector<Variant>{Variant::I4(0)});

  DWORD cancel;
  const Variant on = Variant::Bool(true);  // converted to the output's integer type
  ASSERT_EQ(Query<IOPCAsyncIO2>(group)->Write(1, &results[0].hServer, &on, 5, &cancel, &errors), S_OK);
  model->Poll();  // the write goes out and completes
  clock.Advance(100ms);
  model->Poll();  // the next read sees it
  ASSERT_TRUE(apartment.RunUntil([&] { return sink->Count("data") == 2; }, 10s));
  EXPECT_EQ(sink->events[1].kind, "write");
  EXPECT_EQ(sink->events[1].transaction, 5u);
  EXPECT_EQ(sink->events[2].values, std::vector<Variant>{Variant::I4(-1)});

  unk.reset();
  server.reset();
  group.reset();
  point.reset();
  EXPECT_TRUE(Eventually([&] { return model->GroupCount() == 0; }));
}

}  // namespace
}  // namespace platform::com::testing
