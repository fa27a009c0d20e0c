// The inspector's logic against the scripted server: group nodes, rows linked to items, data
// changes, the group and item commands, writes and the protocol.
#include <gtest/gtest.h>

#include "explorer/tests/explorer_fixture.h"
#include "opcclient/kopl_errors.h"

namespace explorer::testing {
namespace {

using Names = std::vector<std::string>;
using kopl::Variant;
namespace com = platform::com;

// What the inspector told its window, as one text per notification.
struct RecordingView final : TInspecView {
  std::vector<std::string> seen;
  void GroupsChanged() override { seen.push_back("groups"); }
  void RowsReset() override { seen.push_back("rows"); }
  void RowAdded(int r) override { seen.push_back("added " + std::to_string(r)); }
  void RowChanged(int r) override { seen.push_back("changed " + std::to_string(r)); }
  void RowRemoved(int r) override { seen.push_back("removed " + std::to_string(r)); }
  void GroupStateChanged() override { seen.push_back("state"); }
};

class InspecModelTest : public ExplorerTest {
 protected:
  RecordingView view;

  void SetUp() override {
    ExplorerTest::SetUp();
    Know({"A.Level", "A.Temp", "B.Level", "B.Pump"});
    fake->known["A.Temp"].canonical = com::VT_R8;
    Inspector().SetView(&view);
    main->FormShow();
  }
  // A group through "Add Group..." with the dialog's name.
  void AddGroup(const std::string& name) {
    dialogs.edit_group = [name](kopl::tGroupStateRec& s) {
      s.Name = name;
      return true;
    };
    Inspector().AddGroup();
  }
  Names RowIds() {
    Names ids;
    for (int i = 0; i < Inspector().RowCount(); ++i) ids.push_back(Inspector().Row(i).ItemId);
    return ids;
  }
  kopl::TKoplItem& Item(const std::string& group, int index) { return Server().OPCGroups().Find(group)->OPCItems()[index]; }
};

TEST_F(InspecModelTest, StartsWithTheGroupDefaultOnlyOnce) {
  EXPECT_EQ(Inspector().GroupNodes(), Names{"Default"});
  EXPECT_EQ(Inspector().SelectedNode(), 0);
  ASSERT_NE(Inspector().SelectedGroup(), nullptr);
  // Showing the sheet again neither raises for the existing "Default" nor empties anything.
  AddGroup("A");
  main->FormShow();
  EXPECT_EQ(Inspector().GroupNodes(), (Names{"Default", "A"}));
}

TEST_F(InspecModelTest, AddGroupTakesTheDialogsValuesAsNewDefaults) {
  kopl::tGroupStateRec shown;
  dialogs.edit_group = [&](kopl::tGroupStateRec& s) {
    shown = s;
    s.Name = "Fast";
    s.UpdateRate = 250;
    s.Active = false;
    s.DeadBand = 0.5f;
    return true;
  };
  Inspector().AddGroup();
  EXPECT_EQ(shown.Name, "");
  EXPECT_EQ(shown.UpdateRate, 1000);
  EXPECT_TRUE(shown.Active);
  EXPECT_EQ(Inspector().GroupNodes(), (Names{"Default", "Fast"}));
  EXPECT_EQ(Inspector().SelectedNode(), 1);
  kopl::TKoplGroup* fast = Inspector().SelectedGroup();
  ASSERT_NE(fast, nullptr);
  EXPECT_EQ(fast->UpdateRate(), 250);
  EXPECT_FALSE(fast->IsActive());
  EXPECT_EQ(Server().OPCGroupDefault().UpdateRate, 250);
  EXPECT_EQ(Server().OPCGroupDefault().DeadBand, 0.5f);

  // The next dialog starts from them; Cancel changes nothing.
  dialogs.edit_group = [&](kopl::tGroupStateRec& s) {
    shown = s;
    return false;
  };
  Inspector().AddGroup();
  EXPECT_EQ(shown.UpdateRate, 250);
  EXPECT_EQ(Inspector().GroupNodes().size(), 2u);
}

TEST_F(InspecModelTest, DuplicateGroupNameRaisesAndLeavesTheTree) {
  AddGroup("A");
  try {
    AddGroup("A");
    ADD_FAILURE() << "no exception";
  } catch (const kopl::EOPCException& e) {
    EXPECT_STREQ(e.what(), "group A already exists");
  }
  EXPECT_EQ(Inspector().GroupNodes(), (Names{"Default", "A"}));
}

TEST_F(InspecModelTest, GroupTheServerRefusedStillGetsItsNode) {
  ConnectScripted();
  fake->fail["AddGroup"] = com::OPC_E_DUPLICATENAME;
  EXPECT_THROW(AddGroup("A"), kopl::EOPCException);
  EXPECT_NE(Server().OPCGroups().Find("A"), nullptr);
  EXPECT_EQ(Inspector().GroupNodes(), (Names{"Default", "A"}));
}

TEST_F(InspecModelTest, NewRowsShowDashesUntilTheirFirstDataChange) {
  ConnectScripted();
  AddGroup("A");
  Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level", "A.Temp"});
  ASSERT_EQ(RowIds(), (Names{"A.Level", "A.Temp"}));
  const TItemRow& level = Inspector().Row(0);
  EXPECT_EQ(level.Active, "X");
  EXPECT_EQ(level.Value, "-");
  EXPECT_EQ(level.Time, "-");
  EXPECT_EQ(level.Quality, "-");
  EXPECT_EQ(level.HexVal, "");
  EXPECT_EQ(level.Item->Data, &level);

  view.seen.clear();
  SendData("A", {"A.Level", "A.Temp"}, {Variant::I4(255), Variant::R8(2.5)});
  EXPECT_EQ(view.seen, (Names{"changed 0", "changed 1"}));
  EXPECT_EQ(Inspector().Row(0).Value, "255");
  EXPECT_EQ(Inspector().Row(0).HexVal, "$ FF");
  EXPECT_EQ(Inspector().Row(0).Quality, "good");
  EXPECT_EQ(Inspector().Row(0).Time, "00:00:00");
  EXPECT_EQ(Inspector().Row(1).Value, "2.5");
  EXPECT_EQ(Inspector().Row(1).HexVal, "");

  SendData("A", {"A.Level"}, {Variant::I4(1)}, 0xC1);
  EXPECT_EQ(Inspector().Row(0).Quality, "bad");
}

TEST_F(InspecModelTest, SwitchingGroupsDetachesTheOldRows) {
  ConnectScripted();
  AddGroup("A");
  Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level"});
  SendData("A", {"A.Level"}, {Variant::I4(7)});
  AddGroup("B");
  Inspector().AddItems(Inspector().SelectedGroup(), {"B.Level"});
  // Items added to a group that is not shown get no row.
  Inspector().AddItemsToGroup("A", {"A.Temp"});
  EXPECT_EQ(RowIds(), Names{"B.Level"});
  EXPECT_EQ(Item("A", 0).Data, nullptr);
  EXPECT_EQ(Item("A", 1).Data, nullptr);

  view.seen.clear();
  SendData("A", {"A.Level"}, {Variant::I4(8)});
  EXPECT_TRUE(view.seen.empty());
  EXPECT_EQ(Inspector().Row(0).Value, "-");

  // Back on A, its rows show what the items already hold.
  Inspector().SelectNode(1);
  EXPECT_EQ(RowIds(), (Names{"A.Level", "A.Temp"}));
  EXPECT_EQ(Inspector().Row(0).Value, "8");
  EXPECT_EQ(Inspector().Row(1).Value, "-");
  EXPECT_EQ(Item("B", 0).Data, nullptr);
}

TEST_F(InspecModelTest, ItemTheServerRefusesRaisesAndStillShowsItsRow) {
  ConnectScripted();
  AddGroup("A");
  try {
    Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level", "A.Nowhere", "A.Temp"});
    ADD_FAILURE() << "no exception";
  } catch (const kopl::EOPCException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("OPC Command:\r\nA.Nowhere- ", 0), 0u) << e.what();
  }
  EXPECT_EQ(RowIds(), (Names{"A.Level", "A.Nowhere"}));
  EXPECT_EQ(Server().OPCGroups().Find("A")->OPCItems().Count(), 2);
}

TEST_F(InspecModelTest, RemovingAGroupShowsTheNeighbour) {
  AddGroup("A");
  Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level"});
  AddGroup("B");
  Inspector().AddItems(Inspector().SelectedGroup(), {"B.Level", "B.Pump"});
  Inspector().SelectNode(1);
  Inspector().RemoveGroup();
  EXPECT_EQ(Inspector().GroupNodes(), (Names{"Default", "B"}));
  EXPECT_EQ(Inspector().SelectedNode(), 1);
  EXPECT_EQ(RowIds(), (Names{"B.Level", "B.Pump"}));
  Inspector().RemoveGroup();
  EXPECT_EQ(Inspector().SelectedNode(), 0);
  EXPECT_TRUE(RowIds().empty());
  EXPECT_EQ(Server().OPCGroups().Count(), 1);

  Inspector().RemoveAllGroups();
  EXPECT_TRUE(Inspector().GroupNodes().empty());
  EXPECT_EQ(Inspector().SelectedNode(), -1);
  EXPECT_EQ(Server().OPCGroups().Count(), 0);
  EXPECT_FALSE(Inspector().ItemMenuEnabled());
  Inspector().RemoveGroup();  // nothing selected: nothing happens
}

TEST_F(InspecModelTest, GroupPropertiesGoToTheGroupInOrder) {
  ConnectScripted();
  kopl::tGroupStateRec shown;
  dialogs.edit_group = [&](kopl::tGroupStateRec& s) {
    shown = s;
    s.Name = "Renamed";
    s.UpdateRate = 500;
    s.DeadBand = 1.5f;
    s.TimeBias = 60;
    return true;
  };
  fake->calls.clear();
  Inspector().GroupProperties();
  EXPECT_EQ(shown.Name, "Default");
  EXPECT_EQ(shown.UpdateRate, 1000);
  EXPECT_EQ(Inspector().GroupNodes(), Names{"Renamed"});
  kopl::TKoplGroup* g = Inspector().SelectedGroup();
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->UpdateRate(), 500);
  EXPECT_EQ(g->DeadBand(), 1.5f);
  EXPECT_EQ(g->TimeBias(), 60);
  ASSERT_FALSE(fake->calls.empty());
  EXPECT_EQ(fake->calls.front(), "SetName Renamed");
  EXPECT_EQ(fake->Group("Renamed")->rate, 500u);

  Inspector().RemoveAllGroups();
  Inspector().GroupProperties();
  EXPECT_EQ(messages.Texts(), Names{"First select Group"});
}

TEST_F(InspecModelTest, ActiveEntryFollowsTheItem) {
  ConnectScripted();
  Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level"});
  EXPECT_TRUE(Inspector().ItemMenuEnabled());
  EXPECT_TRUE(Inspector().ItemActiveChecked(0));
  EXPECT_FALSE(Inspector().ItemActiveChecked(5));
  Inspector().ToggleActive(0, true);
  EXPECT_EQ(Inspector().Row(0).Active, " ");
  EXPECT_FALSE(Inspector().ItemActiveChecked(0));
  EXPECT_FALSE(fake->Group("Default")->items.begin()->second.active);
  Inspector().ToggleActive(0, false);
  EXPECT_EQ(Inspector().Row(0).Active, "X");
  EXPECT_TRUE(fake->Group("Default")->items.begin()->second.active);
}

TEST_F(InspecModelTest, RemovingItemsTakesThemOffTheServer) {
  ConnectScripted();
  Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level", "A.Temp", "B.Level"});
  Inspector().RemoveItem(1);
  EXPECT_EQ(RowIds(), (Names{"A.Level", "B.Level"}));
  EXPECT_EQ(fake->Group("Default")->items.size(), 2u);
  // The remaining rows still get their data.
  SendData("Default", {"B.Level"}, {Variant::I4(3)});
  EXPECT_EQ(Inspector().Row(1).Value, "3");

  Inspector().RemoveAllItems();
  EXPECT_TRUE(RowIds().empty());
  EXPECT_TRUE(fake->Group("Default")->items.empty());
  EXPECT_EQ(Inspector().SelectedGroup()->OPCItems().Count(), 0);
}

TEST_F(InspecModelTest, WritesSendTheTypedTextAsAString) {
  struct Row {
    bool async;
    const char* asked;
  } rows[] = {{false, "InputQuery Sync Write new Value / new Value"},
              {true, "InputQuery Async Write new Value / new Value"}};
  ConnectScripted();
  Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level"});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.asked);
    kopl::testing::ScriptedGroup* g = fake->Group("Default");
    g->writes.clear();
    dialogs.asked.clear();
    dialogs.input_query = [](const std::string&, const std::string&, std::string& v) {
      EXPECT_EQ(v, "");
      v = "42\xe4";  // Windows-1252 text
      return true;
    };
    Inspector().WriteValue(0, r.async);
    EXPECT_EQ(dialogs.asked, Names{r.asked});
    ASSERT_EQ(g->writes.size(), 1u);
    EXPECT_EQ(g->writes[0].async, r.async);
    EXPECT_EQ(g->writes[0].values, std::vector<Variant>{Variant::Str("42\xc3\xa4")});

    dialogs.input_query = nullptr;  // Cancel
    Inspector().WriteValue(0, r.async);
    EXPECT_EQ(g->writes.size(), 1u);
  }
}

TEST_F(InspecModelTest, FailedSyncWriteRaisesWithTheItem) {
  ConnectScripted();
  fake->known["A.Level"].write_error = com::OPC_E_BADRIGHTS;
  Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level"});
  dialogs.input_query = [](const std::string&, const std::string&, std::string& v) {
    v = "1";
    return true;
  };
  try {
    Inspector().WriteValue(0, false);
    ADD_FAILURE() << "no exception";
  } catch (const kopl::EOPCException& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write Items:\r\nA.Level- The Items AccessRights do not allow the operation.\r\n");
  }
}

TEST_F(InspecModelTest, GroupStatePanelWhileConnected) {
  Inspector().ShowGroupState();
  EXPECT_EQ(Inspector().GroupState().Name, "");
  ConnectScripted();
  Inspector().SelectedGroup()->SetDeadBand(0.5f);
  Inspector().ShowGroupState();
  const TGroupStateTexts& s = Inspector().GroupState();
  EXPECT_EQ(s.Name, "Default");
  EXPECT_EQ(s.UpdateRate, "1000");
  EXPECT_EQ(s.DeadBand, std::string("0") + DecimalSeparator() + "50");
  EXPECT_EQ(s.Active, "active");
  Inspector().SelectedGroup()->SetIsActive(false);
  Inspector().ShowGroupState();
  EXPECT_EQ(Inspector().GroupState().Active, "not active");
  main->Disconnect();
  Inspector().ShowGroupState();
  EXPECT_EQ(Inspector().GroupState().UpdateRate, "");
}

TEST_F(InspecModelTest, DeadBandWithTheDecimalSeparator) {
  EXPECT_EQ(FormatDeadBand(0, '.'), "0.00");
  EXPECT_EQ(FormatDeadBand(12.345f, ','), "12,35");
  EXPECT_EQ(FormatDeadBand(-1.5f, ','), "-1,50");
}

TEST_F(InspecModelTest, ProtocolOfTheShownRows) {
  ConnectScripted();
  Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level", "A.Temp"});
  SendData("Default", {"A.Level"}, {Variant::Array(com::VT_I4, {Variant::I4(1), Variant::I4(2)})});
  clock.Set(std::chrono::system_clock::time_point{std::chrono::seconds{1796738587}});  // 08.12.2026 14:03:07 UTC
  const std::string name = Inspector().WriteProtocol();
  EXPECT_EQ(name, "OPC_08_12_2026 14-03-07.csv");
  EXPECT_EQ(dir.Read(name), "A.Level;1;2;;good;00:00:00\r\nA.Temp;-;-;-\r\n");

  Inspector().RemoveAllItems();
  clock.Advance(std::chrono::seconds(1));
  EXPECT_EQ(dir.Read(Inspector().WriteProtocol()), "");
}

TEST_F(InspecModelTest, RebuildShowsTheConnectionsGroupsWithTheFirstSelected) {
  Server().OPCGroups().Add("X").OPCItems().Add("A.Level");
  Inspector().RebuildTree();
  EXPECT_EQ(Inspector().GroupNodes(), (Names{"Default", "X"}));
  EXPECT_EQ(Inspector().SelectedNode(), 0);
  Inspector().SelectNode(1);
  EXPECT_EQ(RowIds(), Names{"A.Level"});
  Inspector().AddItemsToGroup("no such group", {"A.Temp"});
  EXPECT_EQ(RowIds(), Names{"A.Level"});
}

}  // namespace
}  // namespace explorer::testing
