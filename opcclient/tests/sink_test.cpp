// The sinks: what a callback changes at once, what it posts, and what the events then get.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"
#include "platform/com/opc_stream.h"

namespace kopl::testing {
namespace {

class SinkTest : public KoplTest {
 protected:
  std::unique_ptr<TKoplServer> s;
  TKoplGroup* g = nullptr;
  std::vector<std::string> events;

  void Connect(KoplBuild build = KoplBuild::Explorer) {
    Know({"A", "B", "C"});
    s = MakeServer(build);
    g = &s->OPCGroups().Add("G");
    for (const char* id : {"A", "B", "C"}) g->OPCItems().Add(id);
    s->SetActive(true);
    s->OnDatachange = [this](TKoplServer*, TKoplItemList& l) { events.push_back("data " + Ids(l)); };
    s->OnWriteComplete = [this](TKoplServer*, TKoplItemList& l) { events.push_back("written " + Ids(l)); };
  }
  static std::string Ids(const TKoplItemList& l) {
    std::string out;
    for (TKoplItem* i : l) out += i->ItemID();
    return out;
  }
  TKoplItem& Item(int i) { return g->OPCItems()[i]; }
  ScriptedGroup& Fake() { return *fake->Group("G"); }

  // A DA 2.0 data change with raw handles.
  void Change(OPCHANDLE group, std::vector<OPCHANDLE> handles, WORD quality = 0xD8) {
    std::vector<Variant> values(handles.size(), Variant::I4(42));
    std::vector<WORD> qualities(handles.size(), quality);
    std::vector<FILETIME> stamps(handles.size(), platform::U64ToFileTime(platform::kFileTimeUnixEpoch));
    std::vector<HRESULT> errors(handles.size(), S_OK);
    Fake().Callback()->OnDataChange(0, group, S_OK, S_OK, DWORD(handles.size()), handles.data(), values.data(),
                                    qualities.data(), stamps.data(), errors.data());
  }
  void Stream(const std::string& format, HRESULT status, std::vector<OpcStreamItem> items, DWORD transaction = 0) {
    FORMATETC f;
    f.cfFormat = RegisterClipboardFormat(format);
    STGMEDIUM m;
    m.hGlobal = BuildOpcDataStream(format == kOpcStmFormatDataTime, OPCHANDLE(g->ID()), transaction, status, items);
    Fake().StreamSink()->OnDataChange(&f, &m);
  }
};

TEST_F(SinkTest, DataChangeUpdatesItemsAtOnceAndFiresTheEventLater) {
  Connect();
  Fake().SendData(0, {"C", "A"}, {Variant::Str("x\xC3\xA4"), Variant::R8(1.5)}, 0xD8);
  EXPECT_EQ(Item(2).Value(), Variant::Str("x\xC3\xA4"));
  EXPECT_EQ(Item(0).Quality(), 0xD8);  // the whole word on this path
  EXPECT_DOUBLE_EQ(Item(0).TimeStamp(), 25569.0 + 1);
  EXPECT_EQ(Item(2).GetValueStr(), "x\xE4");
  EXPECT_TRUE(events.empty());
  Run();
  EXPECT_EQ(events, std::vector<std::string>{"data CA"});
}

TEST_F(SinkTest, HandlesThatNameNoItemOfTheGroupAreIgnored) {
  Connect();
  TKoplGroup& other = s->OPCGroups().Add("H");
  other.OPCItems().Add("A");
  struct Row {
    const char* name;
    std::function<void()> send;
    std::string events;
    uint32_t unknown;
  } rows[] = {
      {"another group's handle", [&] { Change(OPCHANDLE(other.ID()), {0}); }, "", 0},
      {"a handle no item has", [&] { Change(OPCHANDLE(g->ID()), {0, 77, 1}); }, "data AB", 1},
      {"an address-sized handle", [&] { Change(OPCHANDLE(g->ID()), {0xDEADBEEF}); }, "data ", 2},
      {"no items", [&] { Change(OPCHANDLE(g->ID()), {}); }, "data ", 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    events.clear();
    for (int i = 0; i < 3; ++i) Item(i).SetQuality(0);
    r.send();
    Run();
    EXPECT_EQ(events, r.events.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.events});
    EXPECT_EQ(Item(2).Quality(), 0);
    EXPECT_EQ(s->UnknownHandleCount(), r.unknown);
  }
  EXPECT_EQ(other.OPCItems()[0].Quality(), 0);
  EXPECT_EQ(logged.size(), 1u);  // logged once, counted always
}

TEST_F(SinkTest, ItemsAndGroupsFreedBeforeTheEventAreLeftOut) {
  Connect();
  Fake().SendData(0, {"A", "B"}, {Variant::I4(1), Variant::I4(2)});
  OPCHANDLE stale = Item(1).ClientHandle();
  g->OPCItems().Delete(Item(1));
  Run();
  EXPECT_EQ(events, std::vector<std::string>{"data A"});
  // A handle of a freed item stays unknown.
  Change(OPCHANDLE(g->ID()), {stale});
  EXPECT_EQ(s->UnknownHandleCount(), 1u);
  events.clear();
  Run();
  Fake().SendData(0, {"A"}, {Variant::I4(3)});
  s->OPCGroups().Remove("G");
  Run();
  EXPECT_EQ(events, std::vector<std::string>{"data "});
}

TEST_F(SinkTest, WriteCompletionPostsCompleteOrErrorWithAllItems) {
  Connect();
  std::vector<OPCHANDLE> h{Item(0).ClientHandle(), Item(1).ClientHandle(), Item(2).ClientHandle()};
  for (int i = 0; i < 3; ++i) Item(i).SetQuality(0xC0);
  std::vector<HRESULT> ok{S_OK, S_OK, S_OK};
  Fake().Callback()->OnWriteComplete(5, OPCHANDLE(g->ID()), S_OK, 3, h.data(), ok.data());
  std::vector<HRESULT> one_bad{S_OK, OPC_S_CLAMP, S_OK};
  Fake().Callback()->OnWriteComplete(6, OPCHANDLE(g->ID()), S_FALSE, 3, h.data(), one_bad.data());
  std::string errors;
  s->OnWriteError = [&](TKoplServer*, TKoplItemList& l) { errors = Ids(l); };
  Run();
  EXPECT_EQ(events, std::vector<std::string>{"written ABC"});
  EXPECT_EQ(errors, "ABC");
  EXPECT_EQ(Item(1).Quality(), 0);
  EXPECT_EQ(Item(1).ItemErrorCode, OPC_S_CLAMP);
  EXPECT_EQ(Item(0).Quality(), 0xC0);
}

TEST_F(SinkTest, WriteErrorWithoutHandlerRaisesFromTheLoop) {
  Connect();
  std::vector<OPCHANDLE> h{Item(1).ClientHandle()};
  std::vector<HRESULT> bad{OPC_E_BADRIGHTS};
  Fake().Callback()->OnWriteComplete(0, OPCHANDLE(g->ID()), S_FALSE, 1, h.data(), bad.data());
  Fake().SendData(0, {"A"}, {Variant::I4(1)});
  Run();
  // The exception went to the program's report, and the next message still ran.
  EXPECT_EQ(reported, std::vector<std::string>{"cannot write Items:\r\nB- The Items AccessRights do not allow the operation.\r\n"});
  EXPECT_EQ(events, std::vector<std::string>{"data A"});
}

TEST_F(SinkTest, TransactionsEndWithTheirCallbacks) {
  Connect();
  TKoplItemList one = TKoplItemList::CreateForItem(Item(0));
  struct Row {
    const char* name;
    std::function<void(DWORD)> complete;
  } rows[] = {
      {"write", [&](DWORD t) {
         std::vector<OPCHANDLE> h{Item(0).ClientHandle()};
         std::vector<HRESULT> e{S_OK};
         Fake().Callback()->OnWriteComplete(t, OPCHANDLE(g->ID()), S_OK, 1, h.data(), e.data());
       }},
      {"read", [&](DWORD t) { Fake().SendData(t, {"A"}, {Variant::I4(9)}); }},
      {"cancel", [&](DWORD t) { Fake().Callback()->OnCancelComplete(t, OPCHANDLE(g->ID())); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(g->AsyncWriteItems(&one));
    uint32_t pending = g->PendingTransaction();
    ASSERT_NE(pending, 0u);
    r.complete(pending + 1);
    EXPECT_EQ(g->PendingTransaction(), pending);
    r.complete(pending);
    EXPECT_EQ(g->PendingTransaction(), 0u);
  }
  events.clear();
  Run();
  EXPECT_EQ(events, (std::vector<std::string>{"written A", "written A", "data A", "data A"}));
}

TEST_F(SinkTest, AsyncReadResultsArriveAsDataChanges) {
  Connect();
  std::vector<OPCHANDLE> h{Item(1).ClientHandle()};
  std::vector<Variant> v{Variant::I4(3)};
  std::vector<WORD> q{OPC_QUALITY_GOOD};
  std::vector<FILETIME> t(1);
  std::vector<HRESULT> e{S_OK};
  Fake().Callback()->OnReadComplete(1, OPCHANDLE(g->ID()), S_OK, S_OK, 1, h.data(), v.data(), q.data(), t.data(), e.data());
  Run();
  EXPECT_EQ(events, std::vector<std::string>{"data B"});
  EXPECT_EQ(Item(1).Value(), Variant::I4(3));
  EXPECT_EQ(Item(1).TimeStamp(), 0);
}

TEST_F(SinkTest, EventsRunInTheOrderTheServerSentThem) {
  Connect();
  s->OnServerShutdown = [this](TKoplServer*, const std::string&) { events.push_back("shutdown"); };
  std::vector<OPCHANDLE> h{Item(2).ClientHandle()};
  std::vector<HRESULT> e{S_OK};
  Fake().SendData(0, {"A"}, {Variant::I4(1)});
  Fake().Callback()->OnWriteComplete(0, OPCHANDLE(g->ID()), S_OK, 1, h.data(), e.data());
  fake->ShutdownSink()->ShutdownRequest("");
  Fake().SendData(0, {"B"}, {Variant::I4(1)});  // sent before the shutdown was handled
  Run();
  EXPECT_EQ(events, (std::vector<std::string>{"data A", "written C", "shutdown", "data B"}));
}

TEST_F(SinkTest, AnEventThatThrowsDoesNotStopTheLoop) {
  Connect();
  s->OnDatachange = [this](TKoplServer*, TKoplItemList& l) {
    events.push_back("data " + Ids(l));
    throw EOPCException("handler failed");
  };
  Fake().SendData(0, {"A"}, {Variant::I4(1)});
  Fake().SendData(0, {"B"}, {Variant::I4(1)});
  Run();
  EXPECT_EQ(events, (std::vector<std::string>{"data A", "data B"}));
  EXPECT_EQ(reported, (std::vector<std::string>{"handler failed", "handler failed"}));
}

TEST_F(SinkTest, VisualisationBuildPostsItsOwnDataChangeMessage) {
  Connect(KoplBuild::Visualisation);
  Fake().SendData(0, {"A"}, {Variant::I4(1)});
  // The explorer's number means nothing to this build.
  s->PostMessage(WM_OPC_DATACHANGE, uintptr_t(g->ID()), std::make_unique<TKoplPostedItems>());
  Run();
  EXPECT_EQ(events, std::vector<std::string>{"data A"});
}

class StreamSinkTest : public SinkTest {
 protected:
  void SetUp() override {
    SinkTest::SetUp();
    fake->connection_points = false;
  }
  OpcStreamItem At(int i, WORD quality, Variant v) {
    OpcStreamItem it;
    it.hClient = Item(i).ClientHandle();
    it.wQuality = quality;
    it.ftTimeStamp = platform::U64ToFileTime(platform::kFileTimeUnixEpoch + 864'000'000'000ull);
    it.value = std::move(v);
    return it;
  }
};

TEST_F(StreamSinkTest, QualityKeepsOnlyItsTwoBitsAndTextsArriveWhole) {
  Connect();
  ASSERT_TRUE(g->HasAdviseSink());
  std::string text(300, 'x');
  text += "\xC3\xBC";
  Stream(kOpcStmFormatDataTime, S_OK, {At(0, 0xD8, Variant::Str(text)), At(1, 0x56, Variant::R8(2.5))});
  EXPECT_EQ(Item(0).Quality(), 0xC0);
  EXPECT_EQ(Item(1).Quality(), 0x40);
  EXPECT_EQ(Item(0).Value(), Variant::Str(text));
  EXPECT_DOUBLE_EQ(Item(0).TimeStamp(), 25569.0 + 1);
  // Without times the stamps stay as they were.
  Stream(kOpcStmFormatData, S_OK, {At(0, 0xC0, Variant::I4(7))});
  EXPECT_EQ(Item(0).Value(), Variant::I4(7));
  EXPECT_DOUBLE_EQ(Item(0).TimeStamp(), 25569.0 + 1);
  Run();
  EXPECT_EQ(events, (std::vector<std::string>{"data AB", "data A"}));
}

TEST_F(StreamSinkTest, StreamsThatChangeNothing) {
  Connect();
  struct Row {
    const char* name;
    std::function<void()> send;
    int beeps;
  } rows[] = {
      {"failing status", [&] { Stream(kOpcStmFormatDataTime, E_FAIL, {At(0, 0xC0, Variant::I4(1))}); }, 0},
      {"write completion format", [&] { Stream(kOpcStmFormatWriteComplete, S_OK, {At(0, 0xC0, Variant::I4(1))}); }, 0},
      {"only foreign handles",
       [&] {
         OpcStreamItem it = At(0, 0xC0, Variant::I4(1));
         it.hClient = 4711;
         Stream(kOpcStmFormatDataTime, S_OK, {it});
       },
       0},
      {"a block that does not hold together",
       [&] {
         FORMATETC f;
         f.cfFormat = FormatDataTime();
         STGMEDIUM m;
         m.hGlobal = BuildOpcDataStream(true, OPCHANDLE(g->ID()), 0, S_OK, {At(0, 0xC0, Variant::I4(1))});
         m.hGlobal[4] = 9;  // more items than the block holds
         Fake().StreamSink()->OnDataChange(&f, &m);
       },
       0},
      {"group not connected",
       [&] {
         auto sink = Fake().StreamSink();
         g->DisconnectGroup();
         FORMATETC f;
         f.cfFormat = FormatDataTime();
         STGMEDIUM m;
         m.hGlobal = BuildOpcDataStream(true, OPCHANDLE(g->ID()), 0, S_OK, {At(0, 0xC0, Variant::I4(1))});
         sink->OnDataChange(&f, &m);
       },
       1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    r.send();
    EXPECT_EQ(Item(0).Value(), Variant());
    EXPECT_EQ(Run(), 0u);
    EXPECT_EQ(beeps, r.beeps);
  }
}

TEST_F(StreamSinkTest, DisconnectUnadvisesTheStream) {
  Connect();
  s->SetActive(false);
  EXPECT_EQ(fake->groups[0]->StreamSink(), nullptr);
  EXPECT_EQ(fake->CountCalls("DUnadvise 31"), 1u);
}

}  // namespace
}  // namespace kopl::testing
