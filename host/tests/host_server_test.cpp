// The host's server in this process over the real transport, with the server library played
// by the test: what clients get, what reaches the library, and how the host stops.
#include "host/host_server.h"

#include <gtest/gtest.h>

#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>

#include "host/library_backend.h"
#include "host/tests/fake_library.h"
#include "platform/com/rpc/client.h"
#include "platform/com/rpc/opc.grpc.pb.h"
#include "platform/com/rpc/wire.h"
#include "platform/com/testing/recording_sink.h"
#include "platform/testing/temp_dir.h"

namespace host {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;
using com::testing::RecordingSink;
using testing::FakeLibrary;

constexpr int32_t kFail = 2, kDruck = 272, kPegel = 288, kStell = 304;

// The library's reads of one register wait while the test holds them, so that the host's
// poll can be held at a chosen read; everything else goes straight to the library.
class HeldReads final : public com::DaBackend {
 public:
  HeldReads(com::DaBackend& library, uint32_t held) : library_(library), held_(held) {}
  void Read(const std::vector<uint32_t>& handles, std::vector<Reading>* readings) override {
    if (std::find(handles.begin(), handles.end(), held_) != handles.end()) {
      std::unique_lock lock(mutex_);
      ++arrived_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_ || through_ > 0; });
      if (!open_) --through_;
    }
    library_.Read(handles, readings);
  }
  void Write(const std::vector<uint32_t>& handles, const std::vector<com::Variant>& values,
             std::vector<com::HRESULT>* results) override {
    library_.Write(handles, values, results);
  }
  // Generous: the wait ends as soon as the read has come.
  bool AwaitArrivals(size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 60s, [&] { return arrived_ >= n; });
  }
  size_t Arrivals() {
    std::lock_guard lock(mutex_);
    return arrived_;
  }
  void LetThrough(size_t n) {
    std::lock_guard lock(mutex_);
    through_ += n;
    changed_.notify_all();
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  com::DaBackend& library_;
  const uint32_t held_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t arrived_ = 0, through_ = 0;
  bool open_ = false;
};

// A client of the raw protocol with one advised group that never reads its events, and whose
// connection can end at once, as a killed process's does.
struct RawClient {
  std::shared_ptr<grpc::Channel> channel;
  std::unique_ptr<qar::com::OpcServer::Stub> stub;
  std::unique_ptr<grpc::ClientContext> stream = std::make_unique<grpc::ClientContext>();
  std::unique_ptr<grpc::ClientReader<qar::com::Event>> reader;
  std::string session;
  uint32_t group = 0;

  template <class Req, class Rep>
  bool Call(grpc::Status (qar::com::OpcServer::Stub::*m)(grpc::ClientContext*, const Req&, Rep*), const Req& req,
            Rep* rep) {
    grpc::ClientContext ctx;
    ctx.AddMetadata("qar-session", session);
    return (stub.get()->*m)(&ctx, req, rep).ok();
  }
  bool Start(const std::string& target, const com::CLSID& clsid, const std::vector<std::string>& items) {
    namespace pb = qar::com;
    channel = grpc::CreateChannel(target, grpc::InsecureChannelCredentials());
    stub = pb::OpcServer::NewStub(channel);
    pb::ConnectRequest req;
    req.set_clsid(com::wire::EncodeGuid(clsid));
    reader = stub->Connect(stream.get(), req);
    pb::Event first;
    if (!reader->Read(&first)) return false;  // the only event it reads
    session = first.connected().session();
    pb::AddGroupRequest add;
    add.set_name("raw");
    add.set_active(true);
    add.set_requested_update_rate(100);
    pb::AddGroupReply added;
    if (!Call(&pb::OpcServer::Stub::AddGroup, add, &added)) return false;
    group = added.server_group();
    pb::ItemsRequest defs;
    defs.set_group(group);
    defs.set_count(static_cast<uint32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
      auto* d = defs.add_items();
      d->set_item_id(items[i]);
      d->set_active(true);
      d->set_client_handle(static_cast<uint32_t>(i + 1));
    }
    pb::ItemResultsReply results;
    if (!Call(&pb::OpcServer::Stub::AddItems, defs, &results)) return false;
    pb::AdviseRequest advise;
    advise.set_on_group(true);
    advise.set_group(group);
    advise.set_iid(com::wire::EncodeGuid(com::IID_IOPCDataCallback));
    advise.set_sink(1);
    pb::AdviseReply advised;
    return Call(&pb::OpcServer::Stub::Advise, advise, &advised) && advised.hr() == com::S_OK;
  }
  com::HRESULT Refresh2(com::OPCDATASOURCE source, uint32_t transaction) {
    qar::com::RefreshRequest req;
    req.set_group(group);
    req.set_source(source);
    req.set_transaction_id(transaction);
    qar::com::AsyncReply rep;
    return Call(&qar::com::OpcServer::Stub::Refresh2, req, &rep) ? rep.hr() : com::E_FAIL;
  }
  void Kill() {
    stream->TryCancel();
    if (reader) {
      for (qar::com::Event e; reader->Read(&e);) {
      }
      reader->Finish();
    }
    reader.reset();
    stub.reset();
    channel.reset();
  }
  ~RawClient() { Kill(); }
};

class HostServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib.Reset();
    lib.tags = {
        {"", "RS_KOM_FAIL", com::VT_I4, 1, kFail, {}},
        {"Pumpe",
         "Druck",
         com::VT_R8,
         1,
         kDruck,
         {{5001, "Item Unit", com::Variant::Str("bar")}, {5002, "Item Faktor", com::Variant::R8(0.1)}}},
        {"Pumpe", "Pegel", com::VT_I4, 1, kPegel, {}},
        {"Pumpe", "Stell", com::VT_I4, 3, kStell, {}},
    };
    lib.Set(kDruck, com::Variant::R8(1.5), 0xC0);
    lib.Set(kPegel, com::Variant::I4(7), 0xC0);
    record = exports.initialize();
    ns.Build(exports.build_name_space);
    ASSERT_TRUE(exports.start());
  }
  void TearDown() override {
    if (held) held->Open();  // a test that failed early may still hold the poll
    server.reset();
    exports.stop();
  }

  void Serve(bool connection_points = true, com::DaBackend* through = nullptr) {
    ServeSettings s;
    s.connection_points = connection_points;
    s.endpoint.socket_dir = dir.Path();
    s.endpoint.registry_file = dir / "registry";
    s.clock = &clock;
    std::string error;
    ASSERT_EQ(HostServer::Start(*record, ns, through ? *through : backend, s, &server, &error), com::S_OK) << error;
  }
  std::shared_ptr<com::IOPCServer> Connect() {
    com::rpc::ActivationOptions o;
    o.apartment = &apartment;
    o.registry_file = dir / "registry";
    std::shared_ptr<com::IUnknown> unk;
    std::string error;
    EXPECT_EQ(com::rpc::ConnectServer(server->Target(), Clsid(), o, &unk, &error), com::S_OK) << error;
    return com::Query<com::IOPCServer>(unk);
  }
  std::shared_ptr<com::IUnknown> AddGroup(com::IOPCServer& s, com::OPCHANDLE client = 9) {
    com::OPCHANDLE handle;
    com::DWORD revised;
    std::shared_ptr<com::IUnknown> group;
    EXPECT_EQ(
        s.AddGroup("G", com::TRUE, 100, client, nullptr, nullptr, 0, &handle, &revised, com::IID_IOPCItemMgt, &group),
        com::S_OK);
    return group;
  }
  struct Added {
    std::vector<com::OPCITEMRESULT> results;
    std::vector<com::HRESULT> errors;
  };
  // Items with client handles 1, 2, ...
  Added AddItems(const std::shared_ptr<com::IUnknown>& group, const std::vector<com::OPCITEMDEF>& defs) {
    Added a;
    com::Query<com::IOPCItemMgt>(group)->AddItems(com::DWORD(defs.size()), defs.data(), &a.results, &a.errors);
    return a;
  }
  static com::OPCITEMDEF Def(const std::string& id, com::OPCHANDLE client, bool active = true,
                             com::VARTYPE type = com::VT_EMPTY) {
    com::OPCITEMDEF d;
    d.szItemID = id;
    d.hClient = client;
    d.bActive = active ? com::TRUE : com::FALSE;
    d.vtRequestedDataType = type;
    return d;
  }
  void Advise(const std::shared_ptr<com::IUnknown>& obj, const com::IID& iid) {
    std::shared_ptr<com::IConnectionPoint> point;
    ASSERT_EQ(com::Query<com::IConnectionPointContainer>(obj)->FindConnectionPoint(iid, &point), com::S_OK);
    com::DWORD cookie;
    ASSERT_EQ(point->Advise(std::static_pointer_cast<com::IOPCDataCallback>(sink), &cookie), com::S_OK);
  }
  com::CLSID Clsid() const { return record->ClassId; }
  // Generous: a loaded machine may take long, and the wait ends as soon as the events are in.
  bool Await(const std::string& kind, size_t n) {
    return apartment.RunUntil([&] { return sink->Count(kind) >= n; }, 60s);
  }
  // The values of the last event of a kind, by client handle.
  std::map<com::OPCHANDLE, com::Variant> Last(const std::string& kind) {
    std::map<com::OPCHANDLE, com::Variant> out;
    for (auto it = sink->events.rbegin(); it != sink->events.rend(); ++it) {
      if (it->kind != kind) continue;
      for (size_t i = 0; i < it->handles.size(); ++i) out[it->handles[i]] = it->values[i];
      break;
    }
    return out;
  }

  FakeLibrary& lib = FakeLibrary::Get();
  Exports exports = FakeLibrary::TheExports();
  const platform::toolkit::TServerInitData* record = nullptr;
  NameSpace ns;
  LibraryBackend backend{exports.handle_requests};
  platform::ManualClock clock;
  platform::testing::TempDir dir;
  std::unique_ptr<HostServer> server;
  com::Apartment apartment;
  std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
  std::unique_ptr<HeldReads> held;  // in front of the library when a test holds the poll
};

TEST_F(HostServerTest, DataChangesComeFromActiveItemsOnlyAndInactiveOnesAreNeverRead) {
  Serve();
  auto s = Connect();
  com::OPCSERVERSTATUS status;
  ASSERT_EQ(s->GetStatus(&status), com::S_OK);
  EXPECT_EQ(status.szVendorInfo, "Fake server V1");
  EXPECT_EQ(status.wMajorVersion * 10000 + status.wMinorVersion * 100 + status.wBuildNumber, 10203);

  auto group = AddGroup(*s);
  Added a = AddItems(group, {Def("ZFM.Pumpe.Druck", 1), Def("ZFM.Pumpe.Pegel", 2, false), Def("ZFM.Pumpe.Nope", 3),
                             Def("ZFM.Pumpe.Stell", 4, true, 0x4711), Def("ZFM.Pumpe.Stell", 5, true, com::VT_BSTR)});
  EXPECT_EQ(a.errors,
            (std::vector<com::HRESULT>{com::S_OK, com::S_OK, com::OPC_E_UNKNOWNITEMID, com::OPC_E_BADTYPE, com::S_OK}));
  EXPECT_EQ(a.results[0].vtCanonicalDataType, com::VT_R8);
  EXPECT_EQ(a.results[4].dwAccessRights, 3u);

  Advise(group, com::IID_IOPCDataCallback);
  ASSERT_TRUE(Await("data", 1));
  EXPECT_EQ(Last("data"),
            (std::map<com::OPCHANDLE, com::Variant>{{1, com::Variant::R8(1.5)}, {5, com::Variant::Str("0")}}));

  lib.Set(kDruck, com::Variant::R8(2.25), 0xC0);
  clock.Advance(100ms);
  ASSERT_TRUE(Await("data", 2));
  EXPECT_EQ(Last("data"), (std::map<com::OPCHANDLE, com::Variant>{{1, com::Variant::R8(2.25)}}));
  // Reading marks the station's registers as wanted: the inactive item was left alone.
  EXPECT_GT(lib.Reads(kDruck), 0u);
  EXPECT_EQ(lib.Reads(kPegel), 0u);

  // Activated, it is read and reported in full.
  std::vector<com::HRESULT> errors;
  ASSERT_EQ(com::Query<com::IOPCItemMgt>(group)->SetActiveState(1, &a.results[1].hServer, com::TRUE, &errors),
            com::S_OK);
  ASSERT_TRUE(Await("data", 3));
  EXPECT_EQ(Last("data")[2], com::Variant::I4(7));
  EXPECT_GT(lib.Reads(kPegel), 0u);
}

TEST_F(HostServerTest, WritesAreCheckedAndConvertedBeforeTheLibrarySeesThem) {
  Serve();
  auto s = Connect();
  auto group = AddGroup(*s);
  Added a = AddItems(group, {Def("ZFM.Pumpe.Stell", 1), Def("ZFM.Pumpe.Druck", 2)});
  const com::OPCHANDLE stell = a.results[0].hServer, druck = a.results[1].hServer;
  struct Row {
    com::OPCHANDLE handle;
    com::Variant value;
    com::HRESULT error;
  } rows[] = {
      {stell, com::Variant::Str("12"), com::S_OK},  // text converted to the canonical integer
      {stell, com::Variant::Str("zwölf"), com::OPC_E_BADTYPE},
      {druck, com::Variant::R8(1.0), com::OPC_E_BADRIGHTS},  // read only
      {4711, com::Variant::I4(1), com::OPC_E_INVALIDHANDLE},
  };
  std::vector<com::OPCHANDLE> handles;
  std::vector<com::Variant> values;
  for (const Row& r : rows) {
    handles.push_back(r.handle);
    values.push_back(r.value);
  }
  std::vector<com::HRESULT> errors;
  EXPECT_EQ(
      com::Query<com::IOPCSyncIO>(group)->Write(com::DWORD(handles.size()), handles.data(), values.data(), &errors),
      com::S_FALSE);
  ASSERT_EQ(errors.size(), std::size(rows));
  for (size_t i = 0; i < errors.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(errors[i], rows[i].error);
  }
  EXPECT_EQ(lib.Writes(), (std::vector<std::pair<int32_t, com::Variant>>{{kStell, com::Variant::I4(12)}}));

  // The asynchronous write completes with its transaction id once the host's loop took it.
  Advise(group, com::IID_IOPCDataCallback);
  com::DWORD cancel;
  const com::Variant on = com::Variant::Bool(true);
  ASSERT_EQ(com::Query<com::IOPCAsyncIO2>(group)->Write(1, &stell, &on, 77, &cancel, &errors), com::S_OK);
  ASSERT_TRUE(Await("write", 1));
  for (const auto& e : sink->events) {
    if (e.kind != "write") continue;
    EXPECT_EQ(e.transaction, 77u);
    EXPECT_EQ(e.errors, std::vector<com::HRESULT>{com::S_OK});
  }
  EXPECT_EQ(lib.Writes().back(), std::make_pair(kStell, com::Variant::I4(-1)));
}

TEST_F(HostServerTest, ItemPropertiesAreTheStandardOnesAndTheLibrarysCopies) {
  Serve();
  auto props = com::Query<com::IOPCItemProperties>(Connect());
  ASSERT_TRUE(props);
  com::DWORD count;
  std::vector<com::DWORD> ids;
  std::vector<std::string> descriptions;
  std::vector<com::VARTYPE> types;
  ASSERT_EQ(props->QueryAvailableProperties("ZFM.Pumpe.Druck", &count, &ids, &descriptions, &types), com::S_OK);
  EXPECT_EQ(ids, (std::vector<com::DWORD>{1, 2, 3, 4, 5, 6, 5001, 5002}));
  EXPECT_EQ(descriptions[6], "Item Unit");
  EXPECT_EQ(types[7], com::VT_R8);
  EXPECT_EQ(props->QueryAvailableProperties("ZFM.Pumpe.Nope", &count, &ids, &descriptions, &types),
            com::OPC_E_UNKNOWNITEMID);

  const com::DWORD asked[] = {5001, 5002, 5003, 5, 2};
  std::vector<com::Variant> values;
  std::vector<com::HRESULT> errors;
  ASSERT_EQ(props->GetItemProperties("ZFM.Pumpe.Druck", 5, asked, &values, &errors), com::S_FALSE);
  EXPECT_EQ(errors, (std::vector<com::HRESULT>{com::S_OK, com::S_OK, com::OPC_E_INVALID_PID, com::S_OK, com::S_OK}));
  EXPECT_EQ(values[0], com::Variant::Str("bar"));
  EXPECT_EQ(values[1], com::Variant::R8(0.1));
  EXPECT_EQ(values[3], com::Variant::I4(1));
  EXPECT_EQ(values[4], com::Variant::R8(1.5));
}

TEST_F(HostServerTest, StopSendsTheShutdownRequestAndLetsNoCallReachTheLibraryAfterwards) {
  Serve();
  auto s = Connect();
  Advise(s, com::IID_IOPCShutdown);
  auto group = AddGroup(*s);
  Added a = AddItems(group, {Def("ZFM.Pumpe.Druck", 1)});
  // A second client keeps calling into the library while the host stops.
  std::atomic<bool> calling{true}, gone{false};
  std::atomic<int> calls{0};
  std::thread busy([&] {
    struct Gone {
      std::atomic<bool>& flag;
      ~Gone() { flag = true; }
    } mark{gone};
    com::Apartment own;
    com::rpc::ActivationOptions o;
    o.apartment = &own;
    std::shared_ptr<com::IUnknown> unk;
    if (com::FAILED(com::rpc::ConnectServer(server->Target(), Clsid(), o, &unk))) return;
    auto other = com::Query<com::IOPCServer>(unk);
    auto g = AddGroup(*other);
    Added b = AddItems(g, {Def("ZFM.Pumpe.Druck", 1)});
    auto io = com::Query<com::IOPCSyncIO>(g);
    std::vector<com::OPCITEMSTATE> states;
    std::vector<com::HRESULT> errors;
    while (calling && com::SUCCEEDED(io->Read(com::OPC_DS_DEVICE, 1, &b.results[0].hServer, &states, &errors))) ++calls;
  });
  while (calls < 3 && !gone) std::this_thread::yield();
  ASSERT_GE(calls, 3) << "the second client never got its reads through";

  server->Stop("Wartung");
  exports.stop();  // as the host does next
  calling = false;
  busy.join();
  EXPECT_EQ(lib.RequestsAfterStop(), 0u);

  ASSERT_TRUE(Await("shutdown", 1));
  for (const auto& e : sink->events) {
    if (e.kind == "shutdown") {
      EXPECT_EQ(e.text, "Wartung");
    }
  }
  com::OPCSERVERSTATUS status;
  EXPECT_EQ(s->GetStatus(&status), com::RPC_E_DISCONNECTED);
}

// A client sends a burst of device refreshes and is killed while the poll reads for them: the
// burst is bounded per group, and what it left waiting is dropped without reading the library,
// so another client's refresh is answered at the next poll.
TEST_F(HostServerTest, RefreshesOfAKilledClientAreBoundedAndDroppedUnread) {
  held = std::make_unique<HeldReads>(backend, kPegel);
  Serve(true, held.get());
  RawClient killed;
  ASSERT_TRUE(killed.Start(server->Target(), Clsid(), {"ZFM.Pumpe.Druck", "ZFM.Pumpe.Pegel"}));
  ASSERT_TRUE(held->AwaitArrivals(1));  // its group's first read, held
  constexpr size_t kBeyond = 10;
  size_t accepted = 0;
  for (uint32_t t = 1; t <= com::DaServerModel::kMaxPendingRefreshes + kBeyond; ++t) {
    const com::HRESULT hr = killed.Refresh2(com::OPC_DS_DEVICE, t);
    if (hr == com::S_OK) {
      ++accepted;
    } else {
      EXPECT_EQ(hr, com::OPC_E_REFRESHINPROGRESS) << t;
    }
  }
  EXPECT_EQ(accepted, com::DaServerModel::kMaxPendingRefreshes);
  held->LetThrough(1);
  ASSERT_TRUE(held->AwaitArrivals(2));  // the read for the refreshes, held
  killed.Kill();
  for (const auto end = std::chrono::steady_clock::now() + 60s;  // its session ends on the host's side
       server->Model().GroupCount() != 0 && std::chrono::steady_clock::now() < end;) {
    std::this_thread::yield();
  }
  ASSERT_EQ(server->Model().GroupCount(), 0u);
  held->Open();

  auto s = Connect();
  auto group = AddGroup(*s);
  AddItems(group, {Def("ZFM.Pumpe.Druck", 1)});
  Advise(group, com::IID_IOPCDataCallback);
  com::DWORD cancel;
  ASSERT_EQ(com::Query<com::IOPCAsyncIO2>(group)->Refresh2(com::OPC_DS_DEVICE, 77, &cancel), com::S_OK);
  ASSERT_TRUE(apartment.RunUntil(
      [&] {
        return std::any_of(sink->events.begin(), sink->events.end(), [](const auto& e) { return e.transaction == 77; });
      },
      60s));
  EXPECT_EQ(held->Arrivals(), 2u) << "the killed client's refreshes read the library";
}

// The host stops at the completion under way, whatever a live client has queued.
TEST_F(HostServerTest, StopEndsAtTheCompletionUnderWayBehindALiveClientsRefreshes) {
  held = std::make_unique<HeldReads>(backend, kPegel);
  Serve(true, held.get());
  auto s = Connect();
  Advise(s, com::IID_IOPCShutdown);
  auto group = AddGroup(*s);
  Added a = AddItems(group, {Def("ZFM.Pumpe.Druck", 1), Def("ZFM.Pumpe.Pegel", 2)});
  ASSERT_EQ(a.results.size(), 2u);
  const com::OPCHANDLE pegel = a.results[1].hServer;
  Advise(group, com::IID_IOPCDataCallback);
  ASSERT_TRUE(held->AwaitArrivals(1));
  auto io = com::Query<com::IOPCAsyncIO2>(group);
  std::vector<com::HRESULT> errors;
  com::DWORD cancel;
  // Reads queue one device read each; refreshes share one.
  for (com::DWORD t = 1; t <= 5; ++t) ASSERT_EQ(io->Read(1, &pegel, t, &cancel, &errors), com::S_OK);
  for (com::DWORD t = 6; t <= 10; ++t) ASSERT_EQ(io->Refresh2(com::OPC_DS_DEVICE, t, &cancel), com::S_OK);
  held->LetThrough(1);
  ASSERT_TRUE(held->AwaitArrivals(2));  // the first read's, held
  std::thread stopping([&] { server->Stop("Wartung"); });
  const bool told = Await("shutdown", 1);  // the stop is under way
  held->Open();
  stopping.join();
  ASSERT_TRUE(told);
  EXPECT_EQ(held->Arrivals(), 2u) << "the stop waited for the queued completions";
}

TEST_F(HostServerTest, OpcDa10ServerOffersNoConnectionPoints) {
  Serve(false);
  auto s = Connect();
  auto group = AddGroup(*s);
  EXPECT_FALSE(com::Query<com::IConnectionPointContainer>(s));
  EXPECT_FALSE(com::Query<com::IConnectionPointContainer>(group));
  EXPECT_TRUE(com::Query<com::IDataObject>(group));
}

TEST_F(HostServerTest, OnlyOneHostServesAClass) {
  Serve();
  ServeSettings s;
  s.endpoint.socket_dir = dir.Path();
  s.endpoint.registry_file = dir / "registry";
  std::unique_ptr<HostServer> second;
  std::string error;
  EXPECT_TRUE(com::FAILED(HostServer::Start(*record, ns, backend, s, &second, &error)));
  EXPECT_NE(error.find("another process already serves"), std::string::npos) << error;
  EXPECT_FALSE(second);
}

}  // namespace
}  // namespace host
