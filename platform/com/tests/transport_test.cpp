// The transport against the fake server: calls round-trip with their per-item codes,
// callbacks reach the client's apartment in order, and the ends of a connection (the client
// going, the server going) are seen by the other side.
#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>

#include "platform/com/call_cancel.h"
#include "platform/com/class_registry.h"
#include "platform/com/opc_stream.h"
#include "platform/com/rpc/opc.grpc.pb.h"
#include "platform/com/rpc/wire.h"
#include "platform/com/tests/transport_fixture.h"

namespace platform::com::testing {
namespace {

const std::string kAE1 = "Zentrale.Station1.AE1";
const std::string kBA1 = "Zentrale.Station1.BA1";
const std::string kName = "Zentrale.Station1.Name";

TEST_F(TransportTest, ServerCallsRoundTrip) {
  auto server = Connect();
  ASSERT_TRUE(server);
  EXPECT_EQ(Query<IOPCCommon>(server)->SetClientName("Lumaro"), S_OK);
  EXPECT_EQ(device_->ClientNames(), std::vector<std::string>{"Lumaro"});

  OPCSERVERSTATUS status;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status.szVendorInfo, "Fake OPC server");
  EXPECT_EQ(status.wBuildNumber, 3);

  OPCHANDLE handle = 0;
  DWORD revised = 0;
  std::shared_ptr<IUnknown> group;
  float deadband = 2.5f;
  EXPECT_EQ(server->AddGroup("G1", TRUE, 150, 7, nullptr, &deadband, 0, &handle, &revised, IID_IOPCItemMgt, &group),
            OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, 200u);
  ASSERT_TRUE(group);
  EXPECT_EQ(server->AddGroup("G1", TRUE, 100, 8, nullptr, nullptr, 0, &handle, &revised, IID_IOPCItemMgt, &group),
            OPC_E_DUPLICATENAME);

  std::string text;
  EXPECT_EQ(server->GetErrorString(OPC_E_BADRIGHTS, 0, &text), S_OK);
  EXPECT_EQ(text, "The Items AccessRights do not allow the operation.");
  EXPECT_EQ(Query<IOPCCommon>(server)->GetErrorString(MakeHResult(0x80001234), &text), E_INVALIDARG);
  EXPECT_EQ(Query<IOPCCommon>(server)->SetLocaleID(0x407), E_INVALIDARG);
  std::vector<LCID> locales;
  EXPECT_EQ(Query<IOPCCommon>(server)->QueryAvailableLocaleIDs(&locales), S_OK);
  EXPECT_EQ(locales, (std::vector<LCID>{0, 0x409}));
}

TEST_F(TransportTest, AddItemsReportsEachItem) {
  auto server = Connect();
  Group g = AddGroup(server.get(), "G", 1);
  struct Row {
    const char* label;
    std::string id;
    std::string path;
    VARTYPE type;
    HRESULT error;
    VARTYPE canonical;
  } rows[] = {
      {"known analog item", kAE1, "", VT_EMPTY, S_OK, VT_R8},
      {"known output as text", kBA1, "", VT_BSTR, S_OK, VT_I4},
      {"unknown item", "Zentrale.Station9.AE1", "", VT_EMPTY, OPC_E_UNKNOWNITEMID, 0},
      {"malformed item", "Zentrale..Station1", "", VT_EMPTY, OPC_E_INVALIDITEMID, 0},
      {"empty item", "", "", VT_EMPTY, OPC_E_INVALIDITEMID, 0},
      {"access path", kAE1, "COM1", VT_EMPTY, OPC_E_UNKNOWNPATH, 0},
      {"type it cannot take", kAE1, "", VT_ARRAY | VT_I4, OPC_E_BADTYPE, 0},
      {"type that does not exist", kAE1, "", 99, OPC_E_BADTYPE, 0},
  };
  std::vector<OPCITEMDEF> defs;
  for (const Row& row : rows) {
    OPCITEMDEF d;
    d.szItemID = row.id;
    d.szAccessPath = row.path;
    d.vtRequestedDataType = row.type;
    d.hClient = static_cast<OPCHANDLE>(defs.size() + 1);
    defs.push_back(d);
  }
  std::vector<OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
  ASSERT_EQ(g.As<IOPCItemMgt>()->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors), S_FALSE);
  ASSERT_EQ(errors.size(), defs.size());
  for (size_t i = 0; i < defs.size(); ++i) {
    SCOPED_TRACE(rows[i].label);
    EXPECT_EQ(errors[i], rows[i].error) << HResultHex(errors[i]);
    if (SUCCEEDED(rows[i].error)) {
      EXPECT_EQ(results[i].vtCanonicalDataType, rows[i].canonical);
      EXPECT_NE(results[i].hServer, 0u);
    }
  }
  // Validation answers the same without adding.
  EXPECT_EQ(g.As<IOPCItemMgt>()->ValidateItems(1, &defs[0], FALSE, &results, &errors), S_OK);
  EXPECT_EQ(results[0].dwAccessRights, OPC_READABLE);
  EXPECT_EQ(results[0].hServer, 0u);
}

TEST_F(TransportTest, ItemCallsRefuseUnknownHandles) {
  auto server = Connect();
  Group g = AddGroup(server.get(), "G", 1);
  std::vector<OPCHANDLE> h = AddItems(g, {kAE1, kBA1});
  h.push_back(4711);  // never handed out
  std::vector<HRESULT> errors;
  auto mgt = g.As<IOPCItemMgt>();
  const std::vector<HRESULT> expected = {S_OK, S_OK, OPC_E_INVALIDHANDLE};

  EXPECT_EQ(mgt->SetActiveState(3, h.data(), FALSE, &errors), S_FALSE);
  EXPECT_EQ(errors, expected);
  const VARTYPE types[] = {VT_BSTR, VT_R4, VT_I2};
  EXPECT_EQ(mgt->SetDatatypes(3, h.data(), types, &errors), S_FALSE);
  EXPECT_EQ(errors, expected);
  std::vector<OPCITEMSTATE> states;
  EXPECT_EQ(g.As<IOPCSyncIO>()->Read(OPC_DS_DEVICE, 3, h.data(), &states, &errors), S_FALSE);
  EXPECT_EQ(errors, expected);
  EXPECT_EQ(states[0].vDataValue, Variant::Str("12.5"));  // the requested type
  EXPECT_EQ(states[1].vDataValue, Variant::R4(0));
  EXPECT_EQ(mgt->RemoveItems(3, h.data(), &errors), S_FALSE);
  EXPECT_EQ(errors, expected);
  EXPECT_EQ(mgt->RemoveItems(1, h.data(), &errors), S_FALSE);  // already removed
  EXPECT_EQ(errors, std::vector<HRESULT>{OPC_E_INVALIDHANDLE});
  // Arrays that do not match their counts never leave the client.
  EXPECT_EQ(mgt->RemoveItems(2, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(mgt->AddItems(1, nullptr, nullptr, &errors), E_INVALIDARG);
}

TEST_F(TransportTest, SyncWritesCheckRightsAndTypes) {
  auto server = Connect();
  Group g = AddGroup(server.get(), "G", 1);
  std::vector<OPCHANDLE> h = AddItems(g, {kBA1, kAE1});
  struct Row {
    const char* label;
    OPCHANDLE handle;
    Variant value;
    HRESULT error;
  } rows[] = {
      {"writable output", h[0], Variant::I4(5), S_OK},
      {"value converted to the canonical type", h[0], Variant::Str("6"), S_OK},
      {"text that is no number", h[0], Variant::Str("six"), OPC_E_BADTYPE},
      {"read-only input", h[1], Variant::R8(1), OPC_E_BADRIGHTS},
      {"unknown handle", 999, Variant::I4(1), OPC_E_INVALIDHANDLE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<HRESULT> errors;
    HRESULT hr = g.As<IOPCSyncIO>()->Write(1, &row.handle, &row.value, &errors);
    EXPECT_EQ(hr, SUCCEEDED(row.error) ? S_OK : S_FALSE);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], row.error) << HResultHex(errors[0]);
  }
  EXPECT_EQ(device_->Value(kBA1), Variant::I4(6));  // the refused writes changed nothing
  EXPECT_EQ(device_->Value(kAE1), Variant::R8(12.5));
}

TEST_F(TransportTest, GroupStateRoundTrips) {
  auto server = Connect();
  Group g = AddGroup(server.get(), "G", 11);
  auto state = g.As<IOPCGroupStateMgt>();
  ASSERT_TRUE(state);
  DWORD rate = 250, revised = 0;
  BOOL inactive = FALSE;
  EXPECT_EQ(state->SetState(&rate, &revised, &inactive, nullptr, nullptr, nullptr, nullptr), OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, 300u);
  EXPECT_EQ(state->SetName("Renamed"), S_OK);
  AddGroup(server.get(), "Other", 12);
  EXPECT_EQ(state->SetName("Other"), OPC_E_DUPLICATENAME);
  BOOL active = TRUE;
  std::string name;
  LONG bias = 0;
  float deadband = 0;
  LCID lcid = 0;
  OPCHANDLE client = 0, handle = 0;
  ASSERT_EQ(state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &handle), S_OK);
  EXPECT_EQ(rate, 300u);
  EXPECT_EQ(active, FALSE);
  EXPECT_EQ(name, "Renamed");
  EXPECT_EQ(client, 11u);
  EXPECT_EQ(handle, g.handle);
  EXPECT_EQ(server->RemoveGroup(g.handle, FALSE), S_OK);
  EXPECT_EQ(server->RemoveGroup(g.handle, FALSE), E_INVALIDARG);
  // The proxy outlives its group: its calls now fail instead of reaching another group.
  EXPECT_EQ(state->SetName("Again"), E_INVALIDARG);
}

TEST_F(TransportTest, BrowsingAndProperties) {
  auto server = Connect();
  auto browse = Query<IOPCBrowseServerAddressSpace>(server);
  ASSERT_TRUE(browse);
  auto names = [&](OPCBROWSETYPE type, const std::string& filter, DWORD rights = 0) {
    std::shared_ptr<IEnumString> e;
    EXPECT_EQ(browse->BrowseOPCItemIDs(type, filter, VT_EMPTY, rights, &e), S_OK);
    return ReadAll<std::string>(e.get());
  };
  EXPECT_EQ(names(OPC_BRANCH, ""), std::vector<std::string>{"Zentrale"});
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, "Zentrale"), S_OK);
  EXPECT_EQ(names(OPC_BRANCH, "Station?"), (std::vector<std::string>{"Station1", "Station2"}));
  EXPECT_EQ(names(OPC_LEAF, ""), std::vector<std::string>{"Status"});
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, "Station1"), S_OK);
  EXPECT_EQ(names(OPC_LEAF, "", OPC_WRITEABLE), std::vector<std::string>{"BA1"});
  std::string id;
  EXPECT_EQ(browse->GetItemID("AE1", &id), S_OK);
  EXPECT_EQ(id, kAE1);
  EXPECT_EQ(browse->GetItemID("Nope", &id), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, "Nowhere"), E_INVALIDARG);
  EXPECT_EQ(names(OPC_FLAT, "*AE1"), std::vector<std::string>{kAE1});  // at the position and below

  // Each client browses from a position of its own.
  auto other = Query<IOPCBrowseServerAddressSpace>(Connect());
  std::shared_ptr<IEnumString> e;
  ASSERT_EQ(other->BrowseOPCItemIDs(OPC_BRANCH, "", VT_EMPTY, 0, &e), S_OK);
  EXPECT_EQ(ReadAll<std::string>(e.get()), std::vector<std::string>{"Zentrale"});

  auto props = Query<IOPCItemProperties>(server);
  DWORD count = 0;
  std::vector<DWORD> ids;
  std::vector<std::string> descriptions;
  std::vector<VARTYPE> types;
  ASSERT_EQ(props->QueryAvailableProperties(kAE1, &count, &ids, &descriptions, &types), S_OK);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(ids.back(), 5001u);
  EXPECT_EQ(descriptions.back(), "Item Unit");
  EXPECT_EQ(props->QueryAvailableProperties("Zentrale.Nope", &count, &ids, &descriptions, &types),
            OPC_E_UNKNOWNITEMID);
  const DWORD wanted[] = {2, 5001, 4242};
  std::vector<Variant> values;
  std::vector<HRESULT> errors;
  ASSERT_EQ(props->GetItemProperties(kAE1, 3, wanted, &values, &errors), S_FALSE);
  EXPECT_EQ(values[0], Variant::R8(12.5));
  EXPECT_EQ(values[1], Variant::Str("mA"));
  EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, S_OK, OPC_E_INVALID_PID}));
}

TEST_F(TransportTest, CallbacksArriveInOrderOnTheApartment) {
  auto server = Connect();
  Group g = AddGroup(server.get(), "G", 21);
  std::vector<OPCHANDLE> h = AddItems(g, {kAE1, kBA1});
  auto sink = std::make_shared<RecordingSink>();
  Advise(g.unk, IID_IOPCDataCallback, sink);

  device_->Tick();  // the full callback after advise
  for (int i = 1; i <= 20; ++i) {
    device_->Set(kAE1, Variant::R8(i));
    device_->Tick();
  }
  DWORD cancel = 0;
  std::vector<HRESULT> errors;
  const Variant value = Variant::I4(3);
  ASSERT_EQ(g.As<IOPCAsyncIO2>()->Write(1, &h[1], &value, 77, &cancel, &errors), S_OK);
  device_->Tick();
  ASSERT_EQ(g.As<IOPCAsyncIO2>()->Refresh2(OPC_DS_CACHE, 78, &cancel), S_OK);
  ASSERT_EQ(g.As<IOPCAsyncIO2>()->Refresh2(OPC_DS_CACHE, 79, &cancel), S_OK);
  ASSERT_EQ(g.As<IOPCAsyncIO2>()->Cancel2(cancel), S_OK);
  EXPECT_EQ(g.As<IOPCAsyncIO2>()->Cancel2(cancel), E_FAIL);
  device_->Tick();

  EXPECT_TRUE(sink->events.empty());  // nothing runs inside the calls
  // The refresh's result comes last.
  ASSERT_TRUE(
      apartment_.RunUntil([&] { return !sink->events.empty() && sink->events.back().transaction == 78u; }, 10s));
  const auto& ev = sink->events;
  // The changes that waited for the loop came merged, in order, the latest value last.
  size_t changes = 0;
  while (changes < ev.size() && ev[changes].kind == "data") ++changes;
  ASSERT_EQ(ev.size(), changes + 4);
  EXPECT_EQ(ev[0].handles, (std::vector<OPCHANDLE>{1, 2}));  // both items at first
  for (size_t i = 0; i < changes; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ev[i].group, 21u);
    EXPECT_EQ(ev[i].handles[0], 1u);
    if (i > 1) {
      EXPECT_GT(ev[i].values[0].Real(), ev[i - 1].values[0].Real());
    }
  }
  EXPECT_EQ(ev[changes - 1].values[0], Variant::R8(20));
  const size_t w = changes;
  EXPECT_EQ(ev[w].kind, "write");
  EXPECT_EQ(ev[w].transaction, 77u);
  EXPECT_EQ(ev[w].handles, std::vector<OPCHANDLE>{2});
  EXPECT_EQ(ev[w + 1].kind, "data");  // the written output's change
  EXPECT_EQ(ev[w + 1].values, std::vector<Variant>{Variant::I4(3)});
  EXPECT_EQ(ev[w + 2].kind, "cancel");  // the cancel completes at once, before the next tick
  EXPECT_EQ(ev[w + 2].transaction, 79u);
  EXPECT_EQ(ev[w + 3].kind, "data");  // refresh 78: every active item
  EXPECT_EQ(ev[w + 3].transaction, 78u);
  EXPECT_EQ(ev[w + 3].handles.size(), 2u);
  for (const Recorded& r : ev) EXPECT_EQ(r.thread, std::this_thread::get_id());
}

TEST_F(TransportTest, UnadvisedSinkHearsNoMore) {
  auto server = Connect();
  Group g = AddGroup(server.get(), "G", 1);
  AddItems(g, {kAE1});
  auto sink = std::make_shared<RecordingSink>();
  DWORD cookie = Advise(g.unk, IID_IOPCDataCallback, sink);
  device_->Tick();  // already on its way when the client unadvises
  std::shared_ptr<IConnectionPoint> point;
  ASSERT_EQ(Query<IConnectionPointContainer>(g.unk)->FindConnectionPoint(IID_IOPCDataCallback, &point), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  device_->Set(kAE1, Variant::R8(1));
  device_->Tick();
  apartment_.RunUntil([] { return false; }, 50ms);
  EXPECT_TRUE(sink->events.empty());
  // The point takes one sink; a second client sink is refused while one is advised.
  Advise(g.unk, IID_IOPCDataCallback, sink);
  DWORD second = 0;
  EXPECT_EQ(point->Advise(std::static_pointer_cast<IOPCDataCallback>(std::make_shared<RecordingSink>()), &second),
            CONNECT_E_ADVISELIMIT);
}

TEST_F(TransportTest, ShutdownRequestReachesTheClient) {
  auto server = Connect();
  auto sink = std::make_shared<RecordingSink>();
  Advise(server, IID_IOPCShutdown, sink);
  std::shared_ptr<IConnectionPoint> point;
  EXPECT_EQ(Query<IConnectionPointContainer>(server)->FindConnectionPoint(IID_IOPCDataCallback, &point),
            CONNECT_E_NOCONNECTION);
  device_->Shutdown("Wartung");
  ASSERT_TRUE(WaitForEvents(*sink, "shutdown", 1));
  EXPECT_EQ(sink->events[0].text, "Wartung");
}

TEST_F(TransportTest, DataObjectPathOfDa10) {
  device_->SetConnectionPoints(false);
  auto server = Connect();
  EXPECT_EQ(Query<IConnectionPointContainer>(server), nullptr);
  Group g = AddGroup(server.get(), "G", 5);
  EXPECT_EQ(g.As<IConnectionPointContainer>(), nullptr);
  std::vector<OPCHANDLE> h = AddItems(g, {kName, kBA1});
  auto data = g.As<IDataObject>();
  ASSERT_TRUE(data);
  auto sink = std::make_shared<RecordingSink>();
  FORMATETC fmt;
  fmt.cfFormat = RegisterClipboardFormat(kOpcStmFormatDataTime);
  DWORD connection = 0;
  ASSERT_EQ(data->DAdvise(&fmt, ADVF_PRIMEFIRST, sink, &connection), S_OK);
  FORMATETC write_fmt;
  write_fmt.cfFormat = RegisterClipboardFormat(kOpcStmFormatWriteComplete);
  DWORD write_connection = 0;
  ASSERT_EQ(data->DAdvise(&write_fmt, 0, sink, &write_connection), S_OK);
  FORMATETC unknown;
  unknown.cfFormat = RegisterClipboardFormat("SOMETHING ELSE");
  DWORD ignored;
  EXPECT_EQ(data->DAdvise(&unknown, 0, sink, &ignored), DV_E_FORMATETC);

  device_->Tick();
  ASSERT_TRUE(WaitForEvents(*sink, "stream", 1));
  EXPECT_EQ(sink->events[0].text, kOpcStmFormatDataTime);
  OpcStreamHeader header;
  std::vector<OpcStreamItem> items;
  ASSERT_TRUE(ParseOpcDataStream(sink->events[0].block, true, &header, &items));
  EXPECT_EQ(header.hClientGroup, 5u);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].value, Variant::Str("Pumpwerk S\xC3\xBC" "d"));

  DWORD transaction = 0;
  std::vector<HRESULT> errors;
  const Variant value = Variant::I4(1);
  ASSERT_EQ(g.As<IOPCAsyncIO>()->Write(write_connection, 1, &h[1], &value, &transaction, &errors), S_OK);
  EXPECT_EQ(g.As<IOPCAsyncIO>()->Write(999, 1, &h[1], &value, &transaction, &errors), CONNECT_E_NOCONNECTION);
  device_->Tick();
  ASSERT_TRUE(WaitForEvents(*sink, "stream", 3));
  std::vector<OpcStreamWriteResult> results;
  ASSERT_TRUE(ParseOpcWriteCompleteStream(sink->events[1].block, &header, &results));
  EXPECT_EQ(header.dwTransactionID, transaction);
  EXPECT_EQ(results.size(), 1u);
  EXPECT_EQ(data->DUnadvise(connection), S_OK);
  EXPECT_EQ(data->DUnadvise(connection), OLE_E_ADVISENOTSUPPORTED);
}

TEST_F(TransportTest, ClientGoingAwayRemovesItsGroups) {
  auto keep = Connect();
  AddGroup(keep.get(), "stays", 1);
  {
    auto server = Connect();
    Group g = AddGroup(server.get(), "goes", 2);
    AddItems(g, {kAE1});
    Advise(g.unk, IID_IOPCDataCallback, std::make_shared<RecordingSink>());
    EXPECT_EQ(device_->GroupCount(), 2u);
    EXPECT_EQ(endpoint_->ClientCount(), 2u);
  }  // the client lets go of everything without removing anything
  EXPECT_TRUE(Eventually([&] { return device_->GroupCount() == 1 && endpoint_->ClientCount() == 1; }));
  EXPECT_TRUE(Eventually([&] { return device_->ServerCount() == 1; }));
  device_->Tick();  // nothing to send to the gone client, and nothing breaks
  OPCSERVERSTATUS status;
  EXPECT_EQ(keep->GetStatus(&status), S_OK);
  EXPECT_EQ(status.dwGroupCount, 1u);
}

TEST_F(TransportTest, ServerGoingAwayDisconnectsEveryCall) {
  auto server = Connect();
  Group g = AddGroup(server.get(), "G", 1);
  std::vector<OPCHANDLE> h = AddItems(g, {kAE1});
  auto sink = std::make_shared<RecordingSink>();
  Advise(g.unk, IID_IOPCDataCallback, sink);
  Advise(server, IID_IOPCShutdown, sink);
  device_->Shutdown("going");
  endpoint_->Stop();
  // The shutdown request sent before the stop still arrives.
  ASSERT_TRUE(WaitForEvents(*sink, "shutdown", 1));
  device_->Set(kAE1, Variant::R8(99));
  device_->Tick();
  OPCSERVERSTATUS status;
  EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
  std::vector<HRESULT> errors;
  std::vector<OPCITEMSTATE> states;
  EXPECT_EQ(g.As<IOPCSyncIO>()->Read(OPC_DS_CACHE, 1, h.data(), &states, &errors), RPC_E_DISCONNECTED);
  EXPECT_EQ(server->RemoveGroup(g.handle, TRUE), RPC_E_DISCONNECTED);
  apartment_.RunUntil([] { return false; }, 50ms);
  EXPECT_EQ(sink->Count("data"), 0u);
  EXPECT_EQ(device_->GroupCount(), 0u);  // the server removed the groups as the connection ended
}

TEST_F(TransportTest, OneServerPerClassAndPrivateSocket) {
  struct stat st;
  ASSERT_EQ(stat(endpoint_->SocketPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::unique_ptr<rpc::ServerEndpoint> second;
  std::string error;
  EXPECT_EQ(rpc::ServerEndpoint::Start(kFakeClsid, [d = device_] { return d->NewServer(); }, serve_, &second, &error),
            E_ACCESSDENIED);
  EXPECT_NE(error.find("already serves"), std::string::npos) << error;
  EXPECT_TRUE(Connect());  // the first one still serves

  // A directory others may enter is refused.
  ASSERT_EQ(mkdir((dir_ / "open").c_str(), 0777), 0);
  ASSERT_EQ(chmod((dir_ / "open").c_str(), 0777), 0);
  rpc::ServeOptions open = serve_;
  open.socket_dir = dir_ / "open";
  EXPECT_EQ(rpc::ServerEndpoint::Start(testing::kFakeClsid, [d = device_] { return d->NewServer(); }, open, &second,
                                       &error),
            E_ACCESSDENIED);
}

TEST_F(TransportTest, StaleSocketOfAKilledServerIsReplaced) {
  rpc::ServeOptions other = serve_;
  other.socket_dir = dir_ / "run";
  ASSERT_EQ(mkdir(other.socket_dir.c_str(), 0700), 0);
  const CLSID clsid = *GuidFromString("{0B0B0B0B-1111-2222-3333-444455556666}");
  std::string path = other.socket_dir + "/0B0B0B0B-1111-2222-3333-444455556666.sock";
  std::ofstream(path) << "left behind";
  std::unique_ptr<rpc::ServerEndpoint> ep;
  std::string error;
  ASSERT_EQ(rpc::ServerEndpoint::Start(clsid, [d = device_] { return d->NewServer(); }, other, &ep, &error), S_OK)
      << error;
  std::shared_ptr<IUnknown> unk;
  EXPECT_EQ(rpc::CreateServer(clsid, Activation(), &unk, &error), S_OK) << error;
  ep->Stop();
  EXPECT_FALSE(std::filesystem::exists(path));
}

// The descriptor of this process that listens on the Unix socket at path; -1 when none.
int ListeningDescriptor(const std::string& path) {
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(e.path().filename().string());
    sockaddr_un addr{};
    socklen_t len = sizeof addr;
    int listening = 0;
    socklen_t size = sizeof listening;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && addr.sun_family == AF_UNIX &&
        path == addr.sun_path && getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening)
      return fd;
  }
  return -1;
}

// A server whose socket takes no connections any more is no longer recorded as running (so
// activation does not send clients to it), says so, and tells its owner.
TEST_F(TransportTest, ServerWhoseSocketTakesNoConnectionsIsNoLongerRecorded) {
  rpc::ServeOptions other = serve_;
  other.socket_dir = dir_ / "deaf";
  ASSERT_EQ(mkdir(other.socket_dir.c_str(), 0700), 0);
  std::mutex mutex;
  std::vector<std::string> log, lost;
  other.error_log = [&](const std::string& line) {
    std::lock_guard lock(mutex);
    log.push_back(line);
  };
  other.serving_lost = [&](const std::string& why) {
    std::lock_guard lock(mutex);
    lost.push_back(why);
  };
  const CLSID clsid = *GuidFromString("{0C0C0C0C-1111-2222-3333-444455556666}");
  std::unique_ptr<rpc::ServerEndpoint> ep;
  std::string error;
  ASSERT_EQ(rpc::ServerEndpoint::Start(clsid, [d = device_] { return d->NewServer(); }, other, &ep, &error), S_OK)
      << error;
  const platform::Registry reg(other.registry_file);
  ASSERT_TRUE(FindRunningServer(clsid, reg));
  const int fd = ListeningDescriptor(ep->SocketPath());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(shutdown(fd, SHUT_RDWR), 0);
  EXPECT_TRUE(Eventually([&] { return !FindRunningServer(clsid, reg); }));
  EXPECT_TRUE(Eventually([&] {
    std::lock_guard lock(mutex);
    return lost.size() == 1 && log.size() == 1;
  }));
  std::lock_guard lock(mutex);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(ep->SocketPath()), std::string::npos) << log[0];
  EXPECT_NE(log[0].find("no longer recorded as running"), std::string::npos) << log[0];
}

// Sessions are bounded on one connection and in all: beyond, Connect is refused as exhausted,
// and a session that ends makes room for a new one.
TEST_F(TransportTest, SessionsAreBoundedByConnectionAndInAll) {
  struct Row {
    const char* label;
    size_t per_connection, total;
    int first, second;  // streams opened on the first connection, then on the second
    int refused_first, refused_second;
  } rows[] = {
      {"one connection", 3, 100, 5, 0, 2, 0},
      {"all connections", 100, 4, 3, 3, 0, 2},
      {"both", 2, 3, 3, 3, 1, 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    rpc::ServeOptions bounded = serve_;
    bounded.socket_dir = dir_ / r.label;
    ASSERT_EQ(mkdir(bounded.socket_dir.c_str(), 0700), 0);
    bounded.max_sessions_per_connection = r.per_connection;
    bounded.max_sessions = r.total;
    const CLSID clsid = *GuidFromString("{0D0D0D0D-1111-2222-3333-444455556666}");
    std::unique_ptr<rpc::ServerEndpoint> ep;
    std::string error;
    ASSERT_EQ(rpc::ServerEndpoint::Start(clsid, [d = device_] { return d->NewServer(); }, bounded, &ep, &error), S_OK)
        << error;
    struct Stream {
      grpc::ClientContext ctx;
      std::unique_ptr<grpc::ClientReader<qar::com::Event>> reader;
      bool connected = false;
    };
    // Two connections of their own: channels that share no connection with any other.
    auto channel = [&] {
      grpc::ChannelArguments args;
      args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
      return grpc::CreateCustomChannel(ep->Target(), grpc::InsecureChannelCredentials(), args);
    };
    std::shared_ptr<grpc::Channel> channels[2] = {channel(), channel()};
    std::vector<std::unique_ptr<Stream>> open[2];
    int refused[2] = {0, 0};
    for (int c = 0; c < 2; ++c) {
      auto stub = qar::com::OpcServer::NewStub(channels[c]);
      for (int i = 0; i < (c == 0 ? r.first : r.second); ++i) {
        auto s = std::make_unique<Stream>();
        qar::com::ConnectRequest req;
        req.set_clsid(wire::EncodeGuid(clsid));
        s->reader = stub->Connect(&s->ctx, req);
        qar::com::Event first;
        if (s->reader->Read(&first) && first.has_connected()) {
          open[c].push_back(std::move(s));
          continue;
        }
        grpc::Status st = s->reader->Finish();
        EXPECT_EQ(st.error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED) << st.error_message();
        ++refused[c];
      }
    }
    EXPECT_EQ(refused[0], r.refused_first);
    EXPECT_EQ(refused[1], r.refused_second);
    // One ends; the server makes room for another on the same connection.
    ASSERT_FALSE(open[0].empty());
    open[0].back()->ctx.TryCancel();
    qar::com::Event e;
    while (open[0].back()->reader->Read(&e)) {
    }
    open[0].back()->reader->Finish();
    open[0].pop_back();
    auto stub = qar::com::OpcServer::NewStub(channels[0]);
    EXPECT_TRUE(Eventually([&] {
      Stream s;
      qar::com::ConnectRequest req;
      req.set_clsid(wire::EncodeGuid(clsid));
      s.reader = stub->Connect(&s.ctx, req);
      qar::com::Event first;
      const bool connected = s.reader->Read(&first) && first.has_connected();
      s.ctx.TryCancel();
      while (s.reader->Read(&first)) {
      }
      s.reader->Finish();
      return connected;
    }));
    for (auto& list : open) {
      for (auto& s : list) {
        s->ctx.TryCancel();
        while (s->reader->Read(&e)) {
        }
        s->reader->Finish();
      }
    }
    ep->Stop();
  }
}

// Garbage straight onto the wire, past the proxies' own checks.
class WireTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    channel_ = grpc::CreateChannel(endpoint_->Target(), grpc::InsecureChannelCredentials());
    stub_ = qar::com::OpcServer::NewStub(channel_);
    qar::com::ConnectRequest req;
    req.set_clsid(wire::EncodeGuid(kFakeClsid));
    reader_ = stub_->Connect(&stream_ctx_, req);
    qar::com::Event first;
    ASSERT_TRUE(reader_->Read(&first));
    session_ = first.connected().session();
    qar::com::AddGroupRequest add;
    add.set_name("G");
    add.set_requested_update_rate(100);
    qar::com::AddGroupReply rep;
    ASSERT_TRUE(Call(&Stub::AddGroup, add, &rep).ok());
    group_ = rep.server_group();
  }
  void TearDown() override {
    stream_ctx_.TryCancel();
    qar::com::Event e;
    while (reader_->Read(&e)) {
    }
    reader_->Finish();
  }

  using Stub = qar::com::OpcServer::Stub;
  template <class Req, class Rep>
  grpc::Status Call(grpc::Status (Stub::*m)(grpc::ClientContext*, const Req&, Rep*), const Req& req, Rep* rep,
                    const std::string& session = "") {
    grpc::ClientContext ctx;
    ctx.AddMetadata("qar-session", session.empty() ? session_ : session);
    return (stub_.get()->*m)(&ctx, req, rep);
  }

  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<Stub> stub_;
  grpc::ClientContext stream_ctx_;
  std::unique_ptr<grpc::ClientReader<qar::com::Event>> reader_;
  std::string session_;
  OPCHANDLE group_ = 0;
};

TEST_F(WireTest, CountsThatDisagreeWithArraysAreRefused) {
  qar::com::ItemsRequest items;
  items.set_group(group_);
  items.set_count(2);
  items.add_items()->set_item_id(kAE1);
  qar::com::ItemResultsReply items_rep;
  ASSERT_TRUE(Call(&Stub::AddItems, items, &items_rep).ok());
  EXPECT_EQ(items_rep.hr(), E_INVALIDARG);

  qar::com::WriteRequest write;
  write.set_group(group_);
  write.set_count(1);
  write.add_server_handles(1);
  qar::com::ErrorsReply errors_rep;
  ASSERT_TRUE(Call(&Stub::SyncWrite, write, &errors_rep).ok());
  EXPECT_EQ(errors_rep.hr(), E_INVALIDARG);  // a handle without its value

  auto* v = write.add_values();
  v->set_vt(VT_I2);
  v->set_text("not an integer");
  ASSERT_TRUE(Call(&Stub::SyncWrite, write, &errors_rep).ok());
  EXPECT_EQ(errors_rep.hr(), E_INVALIDARG);  // a value that is not what its tag says

  qar::com::HandlesRequest types;
  types.set_group(group_);
  types.set_count(1);
  types.add_server_handles(1);
  ASSERT_TRUE(Call(&Stub::SetDatatypes, types, &errors_rep).ok());
  EXPECT_EQ(errors_rep.hr(), E_INVALIDARG);  // no type for the handle

  qar::com::GetItemPropertiesRequest props;
  props.set_item_id(kAE1);
  props.set_count(1000000);
  qar::com::ValuesReply values_rep;
  ASSERT_TRUE(Call(&Stub::GetItemProperties, props, &values_rep).ok());
  EXPECT_EQ(values_rep.hr(), E_INVALIDARG);
}

TEST_F(WireTest, HandlesOutsideTheSessionAreUnknown) {
  // Another client's group.
  auto other = Connect();
  Group theirs = AddGroup(other.get(), "theirs", 1);
  qar::com::RemoveGroupRequest rm;
  rm.set_server_group(theirs.handle);
  rm.set_force(true);
  qar::com::HResultReply hr_rep;
  ASSERT_TRUE(Call(&Stub::RemoveGroup, rm, &hr_rep).ok());
  EXPECT_EQ(hr_rep.hr(), E_INVALIDARG);
  qar::com::SetNameRequest name;
  name.set_group(theirs.handle);
  name.set_name("hijacked");
  ASSERT_TRUE(Call(&Stub::SetName, name, &hr_rep).ok());
  EXPECT_EQ(hr_rep.hr(), E_INVALIDARG);
  EXPECT_EQ(device_->GroupCount(), 2u);

  qar::com::AdviseRequest advise;
  advise.set_iid("short");
  qar::com::AdviseReply advise_rep;
  ASSERT_TRUE(Call(&Stub::Advise, advise, &advise_rep).ok());
  EXPECT_EQ(advise_rep.hr(), E_INVALIDARG);
  advise.set_iid(wire::EncodeGuid(IID_IOPCItemMgt));  // no such connection point
  ASSERT_TRUE(Call(&Stub::Advise, advise, &advise_rep).ok());
  EXPECT_EQ(advise_rep.hr(), CONNECT_E_NOCONNECTION);
  qar::com::UnadviseRequest unadvise;
  unadvise.set_cookie(12345);
  ASSERT_TRUE(Call(&Stub::Unadvise, unadvise, &hr_rep).ok());
  EXPECT_EQ(hr_rep.hr(), CONNECT_E_NOCONNECTION);

  qar::com::GetStatusReply status;
  EXPECT_EQ(Call(&Stub::GetStatus, qar::com::Empty(), &status, "guessed").error_code(),
            grpc::StatusCode::FAILED_PRECONDITION);

  // A connection for another class is refused.
  grpc::ClientContext ctx;
  qar::com::ConnectRequest req;
  req.set_clsid(wire::EncodeGuid(IID_IOPCServer));
  auto reader = stub_->Connect(&ctx, req);
  qar::com::Event e;
  EXPECT_FALSE(reader->Read(&e));
  EXPECT_EQ(reader->Finish().error_code(), grpc::StatusCode::NOT_FOUND);
}

// What is no valid message, sent as a call's request: the call is refused as an invalid
// argument, and nothing about it reaches the server's error output.
TEST_F(WireTest, RequestsThatAreNoValidMessageAreInvalidArguments) {
  struct Row {
    const char* label;
    std::string bytes;
  } rows[] = {
      {"bytes that do not parse", std::string("\xff\xff\xff\xff\x0f", 5)},
      {"a text field that is not UTF-8", std::string("\x0a\x02\xc3\x28", 4)},  // field 1, "\xc3("
  };
  grpc::GenericStub generic(channel_);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    grpc::Slice slice(row.bytes);
    grpc::ByteBuffer request(&slice, 1), reply;
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 20; ++i) {  // enough to see a flood
      grpc::ClientContext each;
      each.AddMetadata("qar-session", session_);
      std::promise<grpc::Status> one;
      generic.UnaryCall(&each, "/qar.com.OpcServer/SetClientName", {}, &request, &reply,
                        [&](grpc::Status st) { one.set_value(st); });
      grpc::Status st = one.get_future().get();
      EXPECT_EQ(st.error_code(), grpc::StatusCode::INVALID_ARGUMENT) << st.error_message();
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("libprotobuf"), std::string::npos) << said;
  }
  // The connection serves on.
  qar::com::GetStatusReply status;
  EXPECT_TRUE(Call(&Stub::GetStatus, qar::com::Empty(), &status).ok());
}

// Only what peers send is kept quiet: a text of the server's own that is no UTF-8 is a fault
// of the server, and the protocol library's line about it still reaches the error output.
TEST_F(WireTest, TheServersOwnTextsThatAreNoUtf8StillReachTheErrorOutput) {
  qar::com::TextReply reply;
  reply.set_text("Pumpwerk S\xFC" "d");  // Windows-1252, not converted
  ::testing::internal::CaptureStderr();
  (void)reply.SerializeAsString();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("[libprotobuf ERROR"), std::string::npos) << said;
  EXPECT_NE(said.find("qar.com.TextReply.text"), std::string::npos) << said;
}

// A client's format names are looked up, never taken into the process's table of formats,
// which would keep them for ever and, once full, refuse every client's stream advise.
TEST_F(WireTest, FormatNamesOfStreamAdvisesAreNotKept) {
  const CLIPFORMAT before = RegisterClipboardFormat("wire test: before the advises");
  qar::com::DAdviseRequest req;
  req.set_group(group_);
  req.set_aspect(DVASPECT_CONTENT);
  req.set_lindex(-1);
  req.set_tymed(TYMED_HGLOBAL);
  req.set_sink(1);
  for (const std::string& name : {std::string("INVENTED"), std::string(1 << 16, 'x')}) {
    req.set_format(name);
    qar::com::AdviseReply rep;
    ASSERT_TRUE(Call(&Stub::DAdvise, req, &rep).ok());
    EXPECT_EQ(rep.hr(), DV_E_FORMATETC);
  }
  req.set_format(kOpcStmFormatDataTime);
  qar::com::AdviseReply rep;
  ASSERT_TRUE(Call(&Stub::DAdvise, req, &rep).ok());
  EXPECT_EQ(rep.hr(), S_OK);
  // Numbers are given in turn: no name took one in between.
  EXPECT_EQ(RegisterClipboardFormat("wire test: after the advises"), before + 1);
}

// A client that opens its event stream and then stops reading it, beside one that reads: the
// one that does not read is cut off, by the bound of one client or by the bound of all
// together, at once and before it reads again: what waited for it is freed, its groups go,
// and the error log says so once.
struct EventBounds {
  const char* label;
  size_t per_client;
  size_t total;
};

class SlowReaderTest : public WireTest, public ::testing::WithParamInterface<EventBounds> {
 protected:
  void SetUp() override {
    serve_.max_queued_event_bytes = GetParam().per_client;
    serve_.max_queued_event_bytes_total = GetParam().total;
    serve_.error_log = [this](const std::string& line) {
      std::lock_guard lock(log_mutex_);
      log_.push_back(line);
    };
    // A stream that is never cut off ends the test here rather than hanging it; generous, as
    // a loaded machine under a sanitizer needs many seconds for the 25 MB below.
    stream_ctx_.set_deadline(std::chrono::system_clock::now() + 120s);
    WireTest::SetUp();
  }
  void TearDown() override {
    if (!finished_) WireTest::TearDown();
    // Stopped while this test's channel is still open: the gRPC library's final shutdown
    // would otherwise fall to the server and can wait seconds for its executor threads.
    endpoint_->Stop();
  }
  std::vector<std::string> Log() {
    std::lock_guard lock(log_mutex_);
    return log_;
  }
  bool finished_ = false;
  std::mutex log_mutex_;
  std::vector<std::string> log_;
};

TEST_P(SlowReaderTest, IsCutOffAndFreedWhileTheOneThatReadsIsServed) {
  // The client that reads, through the client library.
  auto reading = Connect();
  Group g = AddGroup(reading.get(), "reads", 2);
  AddItems(g, {kName});
  auto sink = std::make_shared<RecordingSink>();
  Advise(g.unk, IID_IOPCDataCallback, sink);

  qar::com::AddGroupRequest add;
  add.set_name("active");
  add.set_active(true);
  add.set_requested_update_rate(100);
  qar::com::AddGroupReply add_rep;
  ASSERT_TRUE(Call(&Stub::AddGroup, add, &add_rep).ok());
  const OPCHANDLE group = add_rep.server_group();
  qar::com::AdviseRequest advise;
  advise.set_on_group(true);
  advise.set_group(group);
  advise.set_iid(wire::EncodeGuid(IID_IOPCDataCallback));
  advise.set_sink(1);
  qar::com::AdviseReply advise_rep;
  ASSERT_TRUE(Call(&Stub::Advise, advise, &advise_rep).ok());
  ASSERT_EQ(advise_rep.hr(), S_OK);
  qar::com::ItemsRequest items;
  items.set_group(group);
  items.set_count(1);
  auto* def = items.add_items();
  def->set_item_id(kName);
  def->set_active(true);
  def->set_client_handle(1);
  qar::com::ItemResultsReply items_rep;
  ASSERT_TRUE(Call(&Stub::AddItems, items, &items_rep).ok());
  ASSERT_EQ(items_rep.hr(), S_OK);

  // Few events by count, but 64 KB each: 25 MB in all, far beyond either bound. Each change
  // goes out once the reading client has the one before, so that it never falls behind.
  constexpr int kChanges = 400;
  device_->Tick();
  ASSERT_TRUE(WaitForEvents(*sink, "data", 1));
  for (int i = 0; i < kChanges; ++i) {
    device_->Set(kName, Variant::Str(std::string(64 << 10, char('a' + i % 26))));
    device_->Tick();
    ASSERT_TRUE(WaitForEvents(*sink, "data", i + 2));
  }
  // Before it reads anything more: its session is gone and nothing waits for it.
  EXPECT_TRUE(Eventually([&] { return device_->GroupCount() == 1 && endpoint_->QueuedEventBytes() == 0; }))
      << device_->GroupCount() << " groups, " << endpoint_->QueuedEventBytes() << " bytes waiting";
  int got = 0;
  for (qar::com::Event e; reader_->Read(&e);) ++got;
  finished_ = true;
  EXPECT_EQ(reader_->Finish().error_code(), grpc::StatusCode::CANCELLED);  // the server ended it
  EXPECT_LT(got, kChanges);
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("does not read its events"), std::string::npos) << log[0];

  // The reading client is served on.
  OPCSERVERSTATUS status;
  EXPECT_EQ(reading->GetStatus(&status), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Bounds, SlowReaderTest,
                         ::testing::Values(EventBounds{"one client", size_t{1} << 20, size_t{1} << 30},
                                           EventBounds{"all clients", size_t{1} << 30, size_t{2} << 20}),
                         [](const auto& info) { return std::string(info.param.label[0] == 'o' ? "OneClient" : "AllClients"); });

}  // namespace
}  // namespace platform::com::testing

namespace platform::com::testing {
namespace {

// A server object whose GetStatus throws: the call fails, the server serves on.
class ThrowingServer final : public IOPCServer, public std::enable_shared_from_this<ThrowingServer> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCServer});
  }
  HRESULT AddGroup(const std::string&, BOOL, DWORD, OPCHANDLE, const LONG*, const float*, LCID, OPCHANDLE*, DWORD*,
                   const IID&, std::shared_ptr<IUnknown>*) override {
    return E_NOTIMPL;
  }
  HRESULT GetErrorString(HRESULT, LCID, std::string* text) override {
    *text = "fine";
    return S_OK;
  }
  HRESULT GetStatus(OPCSERVERSTATUS*) override { throw std::runtime_error("broken"); }
  HRESULT RemoveGroup(OPCHANDLE, BOOL) override { return E_INVALIDARG; }
};

TEST(ServerObjectFaultTest, AThrowingCallFailsAloneAndTheServerServesOn) {
  platform::testing::TempDir dir;
  rpc::ServeOptions serve;
  serve.socket_dir = dir.Path();
  serve.record_in_registry = false;
  const CLSID clsid = *GuidFromString("{5A5A5A5A-0000-4000-8000-000000000001}");
  std::unique_ptr<rpc::ServerEndpoint> ep;
  ASSERT_EQ(rpc::ServerEndpoint::Start(
                clsid, [] { return std::static_pointer_cast<IOPCServer>(std::make_shared<ThrowingServer>()); }, serve,
                &ep),
            S_OK);
  Apartment apartment;
  rpc::ActivationOptions o;
  o.apartment = &apartment;
  std::shared_ptr<IUnknown> unk;
  ASSERT_EQ(rpc::ConnectServer(ep->Target(), clsid, o, &unk), S_OK);
  auto server = Query<IOPCServer>(unk);
  OPCSERVERSTATUS status;
  EXPECT_EQ(server->GetStatus(&status), E_FAIL);
  std::string text;
  EXPECT_EQ(server->GetErrorString(E_FAIL, 0, &text), S_OK);
  EXPECT_EQ(text, "fine");
  EXPECT_EQ(Query<IOPCCommon>(unk), nullptr);  // it offers no IOPCCommon
}

// A server object whose browse works until its client has gone, as a long one would.
class EndlessBrowser final : public IOPCBrowseServerAddressSpace, public std::enable_shared_from_this<EndlessBrowser> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCBrowseServerAddressSpace});
  }
  HRESULT QueryOrganization(OPCNAMESPACETYPE*) override { return E_NOTIMPL; }
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION, const std::string&) override { return E_NOTIMPL; }
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE, const std::string&, VARTYPE, DWORD,
                           std::shared_ptr<IEnumString>*) override {
    ++browses;
    browsing = true;
    stopped = Eventually([] { return CoTestCancel() == RPC_E_CALL_CANCELED; });
    return RPC_E_CALL_CANCELED;
  }
  HRESULT GetItemID(const std::string&, std::string*) override { return E_NOTIMPL; }
  std::atomic<bool> browsing{false}, stopped{false};
  std::atomic<int> browses{0};
};

// An endpoint serving an EndlessBrowser, and a client's connected stream to it.
class ServerCallCancelTest : public ::testing::Test {
 protected:
  void Serve(const char* clsid_text, rpc::ServeOptions serve = {}) {
    serve.socket_dir = dir.Path();
    serve.record_in_registry = false;
    const CLSID clsid = *GuidFromString(clsid_text);
    ASSERT_EQ(rpc::ServerEndpoint::Start(
                  clsid, [b = browser] { return std::static_pointer_cast<IOPCBrowseServerAddressSpace>(b); },
                  serve, &ep),
              S_OK);
    stub = qar::com::OpcServer::NewStub(grpc::CreateChannel(ep->Target(), grpc::InsecureChannelCredentials()));
    qar::com::ConnectRequest connect;
    connect.set_clsid(wire::EncodeGuid(clsid));
    reader = stub->Connect(&stream, connect);
    qar::com::Event first;
    ASSERT_TRUE(reader->Read(&first));
    session = first.connected().session();
  }
  void TearDown() override {
    if (reader) {
      stream.TryCancel();
      qar::com::Event e;
      while (reader->Read(&e)) {
      }
      reader->Finish();
    }
    if (ep) ep->Stop();
  }

  platform::testing::TempDir dir;
  std::shared_ptr<EndlessBrowser> browser = std::make_shared<EndlessBrowser>();
  std::unique_ptr<rpc::ServerEndpoint> ep;
  std::unique_ptr<qar::com::OpcServer::Stub> stub;
  grpc::ClientContext stream;
  std::unique_ptr<grpc::ClientReader<qar::com::Event>> reader;
  std::string session;
};

TEST_F(ServerCallCancelTest, ACallSeesItsClientGo) {
  ASSERT_NO_FATAL_FAILURE(Serve("{5A5A5A5A-0000-4000-8000-000000000002}"));
  grpc::ClientContext call;
  call.AddMetadata("qar-session", session);
  std::promise<grpc::Status> answered;
  const qar::com::BrowseRequest request;
  qar::com::StringsReply reply;
  stub->async()->BrowseOPCItemIDs(&call, &request, &reply,
                                  [&](grpc::Status st) { answered.set_value(st); });
  ASSERT_TRUE(Eventually([&] { return browser->browsing.load(); }));
  EXPECT_EQ(CoTestCancel(), S_OK);  // the test's own thread serves no call
  call.TryCancel();
  EXPECT_EQ(answered.get_future().get().error_code(), grpc::StatusCode::CANCELLED);
  EXPECT_TRUE(Eventually([&] { return browser->stopped.load(); }));
}

// With the only worker busy, a call whose client gives up while it waits is never run.
TEST_F(ServerCallCancelTest, ACallWhoseClientWentWhileItWaitedIsNotRun) {
  rpc::ServeOptions serve;
  serve.worker_threads = 1;
  ASSERT_NO_FATAL_FAILURE(Serve("{5A5A5A5A-0000-4000-8000-000000000003}", serve));
  const qar::com::BrowseRequest request;
  struct Call {
    grpc::ClientContext ctx;
    qar::com::StringsReply reply;
    std::promise<grpc::Status> answered;
  } busy, waiting;
  for (Call* c : {&busy, &waiting}) {
    c->ctx.AddMetadata("qar-session", session);
    stub->async()->BrowseOPCItemIDs(&c->ctx, &request, &c->reply,
                                    [c](grpc::Status st) { c->answered.set_value(st); });
    if (c == &busy) {
      ASSERT_TRUE(Eventually([&] { return browser->browsing.load(); }));
    }
  }
  // A short call sent after it, answered at once: by then the waiting call has reached the
  // server and waits for the worker.
  {
    grpc::ClientContext ctx;
    ctx.AddMetadata("qar-session", session);
    qar::com::OrganizationReply org;
    ASSERT_TRUE(stub->QueryOrganization(&ctx, qar::com::Empty(), &org).ok());
  }
  waiting.ctx.TryCancel();
  EXPECT_EQ(waiting.answered.get_future().get().error_code(), grpc::StatusCode::CANCELLED);
  busy.ctx.TryCancel();
  EXPECT_EQ(busy.answered.get_future().get().error_code(), grpc::StatusCode::CANCELLED);
  // A call behind both on the only worker: once it is answered, the waiting one had its turn.
  qar::com::GetItemPropertiesRequest behind;
  for (int i = 0; i < 20; ++i) behind.add_property_ids(5001);
  qar::com::ValuesReply values;
  grpc::ClientContext ctx;
  ctx.AddMetadata("qar-session", session);
  ASSERT_TRUE(stub->GetItemProperties(&ctx, behind, &values).ok());
  EXPECT_EQ(values.hr(), E_NOINTERFACE);
  EXPECT_EQ(browser->browses, 1);
}

}  // namespace
}  // namespace platform::com::testing
