// Groups: defaults, names, connect with revised rates, state changes, removal, writes.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"

namespace kopl::testing {
namespace {

using GroupTest = KoplTest;

TEST_F(GroupTest, NewGroupsTakeTheDefaultsAndTheirIndexAsName) {
  auto s = MakeServer();
  TKoplGroup& first = s->OPCGroups().AddItem();
  EXPECT_EQ(first.Name(), "TKoplGroup0");
  EXPECT_TRUE(first.IsActive());
  EXPECT_EQ(first.UpdateRate(), 1000);
  EXPECT_EQ(first.DeadBand(), 0);
  EXPECT_EQ(first.LocaleId(), 0);
  EXPECT_EQ(first.TimeBias(), 0);
  TdDefaultGroup& d = s->OPCGroupDefault();
  d.IsActive = false;
  d.UpdateRate = 250;
  d.DeadBand = 1.5f;
  d.LocaleId = 1031;
  d.TimeBias = -60;
  TKoplGroup& second = s->OPCGroups().AddItem();
  EXPECT_EQ(second.Name(), "TKoplGroup1");
  EXPECT_FALSE(second.IsActive());
  EXPECT_EQ(second.UpdateRate(), 250);
  EXPECT_EQ(second.DeadBand(), 1.5f);
  EXPECT_EQ(second.LocaleId(), 1031);
  EXPECT_EQ(second.TimeBias(), -60);
  // Collection IDs are never reused, so a client handle names one group for the whole run.
  s->OPCGroups().Delete(0);
  EXPECT_EQ(s->OPCGroups().AddItem().ID(), 2);
}

TEST_F(GroupTest, AddRefusesBlankAndDuplicateNamesCaseSensitively) {
  auto s = MakeServer();
  s->OPCGroups().Add("Pumps");
  for (const char* name : {"Pumps", "", "   "}) {
    SCOPED_TRACE(name);
    try {
      s->OPCGroups().Add(name);
      ADD_FAILURE() << "no exception";
    } catch (const EOPCException& e) {
      EXPECT_EQ(std::string(e.what()), "group " + std::string(name) + " already exists");
    }
  }
  s->OPCGroups().Add("pumps");
  EXPECT_EQ(s->OPCGroups().Count(), 2);
  EXPECT_EQ(s->OPCGroups().IndexOf("pumps"), 1);
  EXPECT_EQ(s->OPCGroups().Find("PUMPS"), nullptr);
}

TEST_F(GroupTest, GroupAddedToAConnectedServerConnectsAtOnceWithItsSettings) {
  fake->revise = [](DWORD r) { return (r + 249) / 250 * 250; };
  auto s = MakeServer();
  s->SetActive(true);
  s->OPCGroupDefault().UpdateRate = 1100;
  s->OPCGroupDefault().DeadBand = 0.5f;
  s->OPCGroupDefault().TimeBias = 30;
  s->OPCGroupDefault().LocaleId = 7;
  TKoplGroup& g = s->OPCGroups().Add("Fast");
  ScriptedGroup* sg = fake->Group("Fast");
  ASSERT_NE(sg, nullptr);
  EXPECT_TRUE(g.Connected());
  EXPECT_EQ(g.ServerHandle(), sg->handle);
  EXPECT_EQ(sg->client, OPCHANDLE(g.ID()));
  EXPECT_EQ(sg->dead_band, 0.5f);
  EXPECT_EQ(sg->time_bias, 30);
  EXPECT_EQ(sg->lcid, 7u);
  EXPECT_EQ(g.UpdateRate(), 1250);  // the server's revised rate
  EXPECT_TRUE(g.HasDataCallback());
  EXPECT_FALSE(g.HasAdviseSink());
  // A new rate stores what the server makes of it.
  g.SetUpdateRate(300);
  EXPECT_EQ(g.UpdateRate(), 500);
  EXPECT_EQ(sg->rate, 500u);
}

TEST_F(GroupTest, StateSettersSendAllFiveValuesOnlyWhenTheValueChanges) {
  struct Row {
    const char* name;
    std::function<void(TKoplGroup&)> same;
    std::function<void(TKoplGroup&)> change;
    std::function<bool(const ScriptedGroup&)> sent;
  } rows[] = {
      {"IsActive", [](TKoplGroup& g) { g.SetIsActive(true); }, [](TKoplGroup& g) { g.SetIsActive(false); },
       [](const ScriptedGroup& sg) { return !sg.active; }},
      {"UpdateRate", [](TKoplGroup& g) { g.SetUpdateRate(1000); }, [](TKoplGroup& g) { g.SetUpdateRate(2000); },
       [](const ScriptedGroup& sg) { return sg.rate == 2000; }},
      {"DeadBand", [](TKoplGroup& g) { g.SetDeadBand(0); }, [](TKoplGroup& g) { g.SetDeadBand(2.5f); },
       [](const ScriptedGroup& sg) { return sg.dead_band == 2.5f; }},
      {"LocaleId", [](TKoplGroup& g) { g.SetLocaleId(0); }, [](TKoplGroup& g) { g.SetLocaleId(1033); },
       [](const ScriptedGroup& sg) { return sg.lcid == 1033; }},
      {"TimeBias", [](TKoplGroup& g) { g.SetTimeBias(0); }, [](TKoplGroup& g) { g.SetTimeBias(-120); },
       [](const ScriptedGroup& sg) { return sg.time_bias == -120; }},
  };
  auto s = MakeServer();
  s->SetActive(true);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TKoplGroup& g = s->OPCGroups().Add(r.name);
    ScriptedGroup& sg = *fake->Group(r.name);
    r.same(g);
    EXPECT_EQ(sg.set_state_calls, 0);
    r.change(g);
    EXPECT_EQ(sg.set_state_calls, 1);
    EXPECT_TRUE(r.sent(sg));
    // The other four went unchanged with it.
    EXPECT_EQ(sg.client, OPCHANDLE(g.ID()));
    EXPECT_EQ(sg.active, g.IsActive());
    EXPECT_EQ(sg.rate, DWORD(g.UpdateRate()));
    EXPECT_EQ(sg.dead_band, g.DeadBand());
  }
}

TEST_F(GroupTest, SettingsWhileDisconnectedAreUsedAtTheNextConnect) {
  auto s = MakeServer();
  TKoplGroup& g = s->OPCGroups().Add("Slow");
  g.SetUpdateRate(5000);
  g.SetIsActive(false);
  g.SetName("Slower");
  EXPECT_TRUE(fake->calls.empty());
  s->SetActive(true);
  ScriptedGroup* sg = fake->Group("Slower");
  ASSERT_NE(sg, nullptr);
  EXPECT_EQ(sg->rate, 5000u);
  EXPECT_FALSE(sg->active);
}

TEST_F(GroupTest, RenameAndStateFailuresLeaveTheGroupAsItWas) {
  auto s = MakeServer();
  s->SetActive(true);
  TKoplGroup& g = s->OPCGroups().Add("A");
  g.SetName("B");
  EXPECT_EQ(fake->Group("B"), fake->groups[0].get());
  fake->fail["SetName"] = OPC_E_DUPLICATENAME;
  fake->fail["SetState"] = E_INVALIDARG;
  try {
    g.SetName("C");
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()), "Duplicate name not allowed.");
  }
  EXPECT_EQ(g.Name(), "B");
  EXPECT_THROW(g.SetUpdateRate(10), EOleSysError);
  EXPECT_EQ(g.UpdateRate(), 1000);
}

TEST_F(GroupTest, FailedAddGroupLeavesTheGroupDisconnected) {
  auto s = MakeServer();
  s->SetActive(true);
  fake->fail["AddGroup"] = OPC_E_DUPLICATENAME;
  EXPECT_THROW(s->OPCGroups().Add("G"), EOPCException);
  TKoplGroup* g = s->OPCGroups().Find("G");
  ASSERT_NE(g, nullptr);
  EXPECT_FALSE(g->Connected());
  EXPECT_FALSE(g->ServerHandle());
}

TEST_F(GroupTest, RemoveAndClearTakeTheGroupsOffTheServer) {
  auto s = MakeServer();
  s->SetActive(true);
  s->OPCGroups().Add("A");
  s->OPCGroups().Add("B");
  s->OPCGroups().Add("C");
  s->OPCGroups().Remove("B");
  EXPECT_EQ(fake->LiveGroups(), 2u);
  EXPECT_EQ(fake->Group("B"), nullptr);
  try {
    s->OPCGroups().Remove("B");
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()), "group not found");
  }
  s->OPCGroups().Clear();
  EXPECT_EQ(s->OPCGroups().Count(), 0);
  EXPECT_EQ(fake->LiveGroups(), 0u);
}

TEST_F(GroupTest, GetStateAsksTheServerOrReportsNoConnection) {
  auto s = MakeServer();
  TKoplGroup& g = s->OPCGroups().Add("G");
  std::vector<std::string> errors;
  s->OnError = [&](TKoplServer*, const std::string& t, bool& raise) {
    errors.push_back(t);
    raise = false;
  };
  EXPECT_EQ(g.GetState().Name, "");
  EXPECT_EQ(errors, std::vector<std::string>{"not connected to server"});
  s->SetActive(true);
  fake->Group("G")->dead_band = 12.5f;
  tGroupStateRec st = g.GetState();
  EXPECT_EQ(st.Name, "G");
  EXPECT_TRUE(st.Active);
  EXPECT_EQ(st.UpdateRate, 1000);
  EXPECT_EQ(st.DeadBand, 12.5f);
  EXPECT_EQ(st.ClientGroupHandle, uint32_t(g.ID()));
  EXPECT_EQ(st.ServerGroupHandle, *g.ServerHandle());
}

TEST_F(GroupTest, TheDataSinkFollowsTheServersKind) {
  struct Row {
    const char* name;
    bool connection_points;
    HRESULT advise_failure;
    bool callback, stream, raises;
  } rows[] = {
      {"DA 2.0 server", true, S_OK, true, false, false},
      {"DA 1.0 server", false, S_OK, false, true, false},
      {"DA 2.0 server refusing the callback", true, CONNECT_E_ADVISELIMIT, false, true, false},
      {"DA 1.0 server refusing the stream", false, E_OUTOFMEMORY, false, false, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    fake = std::make_shared<ScriptedServer>();
    fake->connection_points = r.connection_points;
    if (r.advise_failure != S_OK) fake->fail[r.connection_points ? "AdviseData" : "DAdvise"] = r.advise_failure;
    auto s = MakeServer();
    s->SetActive(true);
    if (r.raises) {
      EXPECT_THROW(s->OPCGroups().Add("G"), EOleSysError);
    } else {
      s->OPCGroups().Add("G");
    }
    TKoplGroup& g = *s->OPCGroups().Find("G");
    EXPECT_EQ(g.HasDataCallback(), r.callback);
    EXPECT_EQ(g.HasAdviseSink(), r.stream);
    if (r.stream) {
      EXPECT_EQ(fake->CountCalls("DAdvise OPCSTMFORMATDATATIME 2"), 1u);
      EXPECT_EQ(fake->CountCalls("DAdvise OPCSTMFORMATWRITECOMPLETE 0"), 1u);
    }
  }
}

class WriteTest : public GroupTest {
 protected:
  std::unique_ptr<TKoplServer> s;
  TKoplGroup* g = nullptr;
  void SetUp() override {
    GroupTest::SetUp();
    Know({"W1", "W2", "W3"});
    fake->known["W2"].write_error = OPC_E_BADRIGHTS;
  }
  void Connect() {
    s = MakeServer();
    s->SetActive(true);
    g = &s->OPCGroups().Add("G");
    for (const char* id : {"W1", "W2", "W3"}) g->OPCItems().Add(id).WriteValue = Variant::I4(7);
    for (int i = 0; i < 3; ++i) g->OPCItems()[i].SetQuality(0xC0);
  }
};

TEST_F(WriteTest, OneFailedItemOfThreeFailsTheWriteAndOnlyThatItem) {
  for (bool async : {false, true}) {
    SCOPED_TRACE(async ? "async" : "sync");
    Connect();
    EXPECT_FALSE(async ? g->AsyncWriteItems() : g->SyncWriteItems());
    EXPECT_EQ(g->OPCItems()[0].ItemErrorCode, 0);
    EXPECT_EQ(g->OPCItems()[1].ItemErrorCode, OPC_E_BADRIGHTS);
    EXPECT_EQ(g->OPCItems()[2].ItemErrorCode, 0);
    EXPECT_EQ(g->OPCItems()[0].Quality(), 0xC0);
    EXPECT_EQ(g->OPCItems()[1].Quality(), 0);
    ScriptedWrite& w = fake->Group("G")->writes.back();
    EXPECT_EQ(w.values, std::vector<Variant>(3, Variant::I4(7)));
    EXPECT_EQ(w.handles[1], *g->OPCItems()[1].ServerHandle());
  }
}

TEST_F(WriteTest, AsyncWriteTakesANewTransactionAndKeepsThePendingId) {
  Connect();
  TKoplItemList empty;
  uint32_t before = AsyncTransactionCounter();
  EXPECT_FALSE(g->AsyncWriteItems(&empty));
  EXPECT_FALSE(g->SyncWriteItems(&empty));
  EXPECT_EQ(AsyncTransactionCounter(), before);
  TKoplItemList one = TKoplItemList::CreateForItem(g->OPCItems()[0]);
  EXPECT_TRUE(g->AsyncWriteItems(&one));
  EXPECT_EQ(AsyncTransactionCounter(), before + 1);
  EXPECT_EQ(fake->Group("G")->writes.back().transaction, before + 1);
  EXPECT_EQ(g->PendingTransaction(), 900u + 0);  // the cancel id the server gave
}

TEST_F(WriteTest, WritesNeedAddedItemsAndTheServersInterfaces) {
  Connect();
  TKoplItem& loose = g->OPCItems().AddItem();
  loose.SetItemID("Loose");
  TKoplItemList list = TKoplItemList::CreateForItem(loose);
  try {
    g->SyncWriteItems(&list);
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()), "item Loose not exists on OPCServer");
  }
  fake = std::make_shared<ScriptedServer>();
  fake->offers_sync = fake->offers_async2 = fake->offers_async1 = false;
  Know({"W1"});
  s = MakeServer();
  s->SetActive(true);
  TKoplGroup& bare = s->OPCGroups().Add("G");
  bare.OPCItems().Add("W1");
  EXPECT_FALSE(bare.SyncWriteItems());
  EXPECT_FALSE(bare.AsyncWriteItems());
}

TEST_F(WriteTest, OpcDa10AsyncWriteNamesTheWriteCompleteConnection) {
  // A server on the data-object road may offer the DA 2.0 write as well; its completion would
  // go to a callback the group does not have.
  for (bool offers_async2 : {false, true}) {
    SCOPED_TRACE(offers_async2 ? "IOPCAsyncIO2 offered too" : "IOPCAsyncIO only");
    fake = std::make_shared<ScriptedServer>();
    Know({"W1", "W2", "W3"});
    fake->connection_points = false;
    fake->offers_async2 = offers_async2;
    Connect();
    EXPECT_TRUE(g->HasAdviseSink());
    TKoplItemList one = TKoplItemList::CreateForItem(g->OPCItems()[0]);
    EXPECT_TRUE(g->AsyncWriteItems(&one));
    ASSERT_FALSE(fake->Group("G")->writes.empty());
    EXPECT_EQ(fake->CountCalls("AsyncWrite1"), 1u);
    ASSERT_NE(fake->Group("G")->WriteCompleteConnection(), 0u);
    EXPECT_EQ(fake->Group("G")->writes.back().connection, fake->Group("G")->WriteCompleteConnection());
    EXPECT_EQ(g->PendingTransaction(), 700u);
    // Both advises go with the group.
    s->SetActive(false);
    EXPECT_EQ(fake->CountCalls("DUnadvise 31"), 1u);
    EXPECT_EQ(fake->CountCalls("DUnadvise 32"), 1u);
  }
}

TEST_F(WriteTest, ItemWritesReportTheFailedItem) {
  Connect();
  g->OPCItems()[0].WriteSync(Variant::Str("12"));
  EXPECT_EQ(fake->Group("G")->writes.back().values[0], Variant::Str("12"));
  for (bool async : {false, true}) {
    SCOPED_TRACE(async ? "async" : "sync");
    try {
      async ? g->OPCItems()[1].WriteAsync(Variant::I4(1)) : g->OPCItems()[1].WriteSync(Variant::I4(1));
      ADD_FAILURE() << "no exception";
    } catch (const EOPCException& e) {
      EXPECT_EQ(std::string(e.what()), "cannot write Items:\r\nW2- The Items AccessRights do not allow the operation.\r\n");
    }
  }
}

}  // namespace
}  // namespace kopl::testing
