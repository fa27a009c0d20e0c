// Items: add, validate, remove, activate, data types, batch mode and the error reports.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"

namespace kopl::testing {
namespace {

class ItemTest : public KoplTest {
 protected:
  std::unique_ptr<TKoplServer> s;
  TKoplGroup* g = nullptr;
  void Connect() {
    s = MakeServer();
    s->SetActive(true);
    g = &s->OPCGroups().Add("G");
  }
};

TEST_F(ItemTest, ItemsAddedWhileDisconnectedOrInBatchModeGoInOneCallAtConnect) {
  struct Row {
    const char* name;
    bool connect_first;
    bool batch;
  } rows[] = {{"disconnected", false, false}, {"batch mode", true, true}};
  Know({"A", "B", "C"});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    fake->calls.clear();
    s = MakeServer();
    s->SetBatchMode(r.batch);
    TKoplGroup& grp = s->OPCGroups().Add("G");
    if (r.connect_first) {
      s->SetActive(true);
      grp.DisconnectGroup();
    }
    for (const char* id : {"A", "B", "C"}) grp.OPCItems().Add(id);
    EXPECT_EQ(fake->CountCalls("AddItems"), 0u);
    EXPECT_FALSE(grp.OPCItems()[0].Added());
    if (r.connect_first) {
      s->OPCGroups().ConnectAll();
    } else {
      s->SetActive(true);
    }
    EXPECT_EQ(fake->CountCalls("AddItems"), 1u);
    EXPECT_EQ(fake->calls.back().substr(0, 14), "AddItems A B C");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(grp.OPCItems()[i].Added());
    s.reset();
  }
}

TEST_F(ItemTest, AddOnAConnectedServerSendsTheItemAtOnce) {
  Know({"Sta.AE1"}, VT_R8);
  fake->known["Sta.AE1"].rights = OPC_READABLE;
  Connect();
  g->DefaultItem().AccessPath = "path";
  g->DefaultItem().IsActive = false;
  g->DefaultItem().RequestDataType = OPCADatatype::vtR4;
  fake->known["Sta.AE1"];
  TKoplItem& item = g->OPCItems().Add("Sta.AE1");
  EXPECT_TRUE(item.Added());
  EXPECT_EQ(item.CanonicalDatatype(), VT_R8);
  EXPECT_EQ(item.AccessRights(), OPC_READABLE);
  const ScriptedItem& si = fake->Group("G")->items.at(*item.ServerHandle());
  EXPECT_EQ(si.access_path, "path");
  EXPECT_FALSE(si.active);
  EXPECT_EQ(si.requested, VT_R4);
  // The client handle is the item's small number, never its address.
  EXPECT_EQ(si.client, OPCHANDLE(item.ID()));
  EXPECT_EQ(g->OPCItems().FindHandle(si.client), &item);
}

TEST_F(ItemTest, RejectedItemRaisesOpcCommandAndStaysNotAdded) {
  Connect();
  try {
    g->OPCItems().Add("No.Such.Item");
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()),
              "OPC Command:\r\nNo.Such.Item- The item is no longer available in the server address space.\r\n");
  }
  ASSERT_EQ(g->OPCItems().Count(), 1);
  EXPECT_FALSE(g->OPCItems()[0].Added());
  EXPECT_EQ(g->OPCItems()[0].ItemErrorCode, OPC_E_UNKNOWNITEMID);
}

TEST_F(ItemTest, ErrorReportTexts) {
  auto srv = MakeServer();
  TKoplGroup& grp = srv->OPCGroups().Add("G");
  struct Row {
    const char* name;
    std::vector<HRESULT> codes;
    std::string text;
  } rows[] = {
      {"no failure", {0, 0}, ""},
      {"an OPC code", {0, OPC_E_BADTYPE},
       "T\r\nI1- The server cannot convert the data between the\r\nrequested data type and the canonical data\r\n"},
      {"a code outside the table", {E_FAIL}, "T\r\nI0- unknown error : -2147467259\r\n"},
      {"a success code counts", {OPC_S_CLAMP}, "T\r\nI0- A value passed to WRITE was accepted but the output was clamped.\r\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    grp.OPCItems().Clear();
    for (size_t i = 0; i < r.codes.size(); ++i) grp.OPCItems().AddItem().SetItemID("I" + std::to_string(i));
    TKoplItemList list(grp.OPCItems());
    for (size_t i = 0; i < r.codes.size(); ++i) list[int32_t(i)].ItemErrorCode = r.codes[i];
    EXPECT_EQ(list.ErrorReport("T"), r.text);
  }
}

TEST_F(ItemTest, ReportOverThirtyItemsShowsTwentySixLines) {
  auto srv = MakeServer();
  TKoplGroup& grp = srv->OPCGroups().Add("G");
  for (int i = 0; i < 30; ++i) grp.OPCItems().AddItem().SetItemID("I" + std::to_string(i));
  TKoplItemList list(grp.OPCItems());
  for (TKoplItem* item : list) item->ItemErrorCode = OPC_E_RANGE;
  std::string text = list.ErrorReport("cannot add Items:");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 27);
  EXPECT_NE(text.find("I25- "), std::string::npos);
  EXPECT_EQ(text.find("I26- "), std::string::npos);
  list.ReportErrors("cannot add Items:", false);
  EXPECT_EQ(shown, std::vector<std::string>{text});
  EXPECT_THROW(list.ReportErrors("x", true), EOPCException);
}

TEST_F(ItemTest, FailedItemsAtGroupConnectAreShownOnceAndTheGroupStays) {
  Know({"Good"});
  auto srv = MakeServer();
  TKoplGroup& grp = srv->OPCGroups().Add("G");
  grp.OPCItems().Add("Good");
  grp.OPCItems().Add("Bad1");
  grp.OPCItems().Add("Bad2");
  srv->SetActive(true);
  EXPECT_TRUE(grp.Connected());
  EXPECT_TRUE(grp.OPCItems()[0].Added());
  EXPECT_FALSE(grp.OPCItems()[1].Added());
  const std::string unknown = "- The item is no longer available in the server address space.\r\n";
  EXPECT_EQ(shown, std::vector<std::string>{"cannot add Items:\r\nBad1" + unknown + "Bad2" + unknown});
}

TEST_F(ItemTest, ActiveStateIsSentOnlyOnChange) {
  Know({"A"});
  Connect();
  TKoplItem& item = g->OPCItems().Add("A");
  item.SetIsActive(true);
  EXPECT_EQ(fake->CountCalls("SetActiveState"), 0u);
  item.SetIsActive(false);
  EXPECT_EQ(fake->CountCalls("SetActiveState"), 1u);
  EXPECT_FALSE(fake->Group("G")->items.at(*item.ServerHandle()).active);
  // Batch mode keeps the change here.
  s->SetBatchMode(true);
  item.SetIsActive(true);
  EXPECT_EQ(fake->CountCalls("SetActiveState"), 1u);
}

TEST_F(ItemTest, DatatypeChangesAndTheirPerItemFailures) {
  Know({"A"});
  Connect();
  TKoplItem& item = g->OPCItems().Add("A");
  item.SetRequestDatatype(OPCADatatype::vtBSTR);
  EXPECT_EQ(fake->Group("G")->items.at(*item.ServerHandle()).requested, VT_BSTR);
  try {
    item.SetRequestDatatype(OPCADatatype::vtERROR);
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, 15), "OPC Command:\r\nA");
  }
  EXPECT_EQ(item.ItemErrorCode, OPC_E_BADTYPE);
}

TEST_F(ItemTest, FailingCallsRaiseTheirText) {
  struct Row {
    const char* name;
    const char* method;
    HRESULT code;
    std::function<void(TKoplItems&)> call;
    bool ole;
  } rows[] = {
      {"AddItems with an OPC code", "AddItems", OPC_E_PUBLIC, [](TKoplItems& i) { i.Add("A"); }, false},
      {"AddItems with another code", "AddItems", E_OUTOFMEMORY, [](TKoplItems& i) { i.Add("A"); }, true},
      {"SetActiveState", "SetActiveState", OPC_E_INVALIDHANDLE, [](TKoplItems& i) { i[0].SetIsActive(false); }, false},
  };
  Know({"A"});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Connect();
    if (std::string(r.method) != "AddItems") g->OPCItems().Add("A");
    fake->fail[r.method] = r.code;
    if (r.ole) {
      EXPECT_THROW(r.call(g->OPCItems()), EOleSysError);
    } else {
      try {
        r.call(g->OPCItems());
        ADD_FAILURE() << "no exception";
      } catch (const EOPCException& e) {
        EXPECT_EQ(std::string(e.what()), OpcErrorText(r.code));
      }
    }
    fake->fail.clear();
  }
}

TEST_F(ItemTest, AddedItemsKeepTheirIdAndCannotBeAddedTwice) {
  Know({"A"});
  Connect();
  TKoplItem& item = g->OPCItems().Add("A");
  for (auto set : {&TKoplItem::SetItemID, &TKoplItem::SetAccessPath}) {
    try {
      (item.*set)("B");
      ADD_FAILURE() << "no exception";
    } catch (const EOPCException& e) {
      EXPECT_EQ(std::string(e.what()), "not possible if connected to OPC Server");
    }
  }
  EXPECT_EQ(item.ItemID(), "A");
  TKoplItemList list = TKoplItemList::CreateForItem(item);
  try {
    g->OPCItems().AddToServer(list, true);
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()), "item A already exists on OPCServer");
  }
  TKoplItem& loose = g->OPCItems().AddItem();
  loose.SetItemID("L");
  TKoplItemList loose_list = TKoplItemList::CreateForItem(loose);
  for (auto op : {+[](TKoplItems& i, TKoplItemList& l) { i.RemoveFromServer(l); },
                  +[](TKoplItems& i, TKoplItemList& l) { i.SetActiveOnServer(l, false); },
                  +[](TKoplItems& i, TKoplItemList& l) { i.SetDatatypesOnServer(l); }}) {
    try {
      op(g->OPCItems(), loose_list);
      ADD_FAILURE() << "no exception";
    } catch (const EOPCException& e) {
      EXPECT_EQ(std::string(e.what()), "item L not exists on OPCServer");
    }
  }
}

TEST_F(ItemTest, RemovingAnItemTheServerNoLongerKnowsStillForgetsIt) {
  Know({"A", "B"});
  fake->known["A"].remove_error = OPC_E_INVALIDHANDLE;
  Connect();
  TKoplItem& a = g->OPCItems().Add("A");
  g->OPCItems().Add("B");
  TKoplItemList list(g->OPCItems());
  EXPECT_FALSE(g->OPCItems().RemoveFromServer(list));
  EXPECT_FALSE(a.Added());
  EXPECT_EQ(a.ItemErrorCode, OPC_E_INVALIDHANDLE);
  EXPECT_EQ(g->OPCItems()[1].ItemErrorCode, 0);
  // Freeing an added item removes it on the server; a failure there still frees it.
  TKoplItem& again = g->OPCItems().Add("A");
  OPCHANDLE client = again.ClientHandle();
  EXPECT_THROW(g->OPCItems().Delete(again), EOPCException);
  EXPECT_EQ(g->OPCItems().Count(), 2);
  EXPECT_EQ(g->OPCItems().FindHandle(client), nullptr);
}

TEST_F(ItemTest, ValidationSetsTheTypeButAddsNothing) {
  Know({"V"}, VT_BOOL);
  Connect();
  TKoplItem& item = g->OPCItems().AddItem();
  item.SetItemID("V");
  TKoplItemList list = TKoplItemList::CreateForItem(item);
  EXPECT_TRUE(g->OPCItems().ValidateOnServer(list));
  EXPECT_EQ(item.CanonicalDatatype(), VT_BOOL);
  EXPECT_FALSE(item.Added());
  EXPECT_TRUE(fake->Group("G")->items.empty());
  // In a designer the ID is validated as it is typed, and nothing is added.
  s->SetDesigning(true);
  Know({"W"}, VT_R4);
  item.SetItemID("W");
  EXPECT_EQ(item.CanonicalDatatype(), VT_R4);
  EXPECT_FALSE(g->OPCItems().AddToServer(list, true));
}

TEST_F(ItemTest, ClearRemovesEveryItemFromTheServer) {
  Know({"A", "B"});
  Connect();
  g->OPCItems().Add("A");
  g->OPCItems().Add("B");
  g->OPCItems().Clear();
  EXPECT_EQ(g->OPCItems().Count(), 0);
  EXPECT_TRUE(fake->Group("G")->items.empty());
}

}  // namespace
}  // namespace kopl::testing
