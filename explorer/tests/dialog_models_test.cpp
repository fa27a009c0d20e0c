// The logic of the explorer's dialogs: item browsing, server selection and group properties.
#include <gtest/gtest.h>

#include "explorer/browse_dlg_model.h"
#include "explorer/group_dlg_model.h"
#include "explorer/server_dlg_model.h"
#include "explorer/tests/explorer_fixture.h"
#include "platform/com/class_registry.h"
#include "platform/registry.h"

namespace explorer::testing {
namespace {

using Names = std::vector<std::string>;
namespace com = platform::com;

class BrowseDlgTest : public ExplorerTest {
 protected:
  void SetUp() override {
    ExplorerTest::SetUp();
    fake->branches[""] = {"Zentrale"};
    fake->branches["Zentrale"] = {"Station1", "Station2"};
    fake->leaves["Zentrale"] = {"Status", "Mode"};
    fake->leaves["Zentrale.Station1"] = {"AE1", "BA1"};
    ConnectScripted();
  }
  static std::string Shown(const TBrowseDlgModel& m) {
    std::string out = m.PathText() + ":";
    for (const auto& e : m.Entries()) out += " " + e.Text + (e.Branch ? "/" : "");
    return out;
  }
};

TEST_F(BrowseDlgTest, DataTypeListIndexIsTheVartype) {
  const Names& names = BrowseDataTypeNames();
  ASSERT_EQ(names.size(), 32u);
  EXPECT_EQ(names[0], "EMPTY");
  EXPECT_EQ(names[5], "R8");
  EXPECT_EQ(names[12], "VARIANT");
  EXPECT_EQ(names[15], "undef");
  EXPECT_EQ(names[31], "LPWSTR");
}

TEST_F(BrowseDlgTest, StartsWhereTheBrowserStandsUnlessAskedForTheRoot) {
  Server().Browser().MoveDown("Zentrale");
  TBrowseDlgModel here(Server().Browser(), false);
  here.DataType = 7;
  here.Show();
  EXPECT_EQ(here.DataType, 0);
  EXPECT_EQ(Shown(here), "Zentrale: Station1/ Station2/ Status Mode");

  TBrowseDlgModel root(Server().Browser(), true);
  root.Show();
  EXPECT_EQ(Shown(root), "root: Zentrale/");
}

TEST_F(BrowseDlgTest, FiltersGoToTheBrowser) {
  TBrowseDlgModel m(Server().Browser(), true);
  m.Show();
  m.Filter = "AE";
  m.DataType = 5;
  m.Writable = true;
  m.Readable = false;
  m.Refresh();
  EXPECT_EQ(fake->last_browse, (Names{"2", "AE", "5", "2"}));
  m.Readable = true;
  m.Refresh();
  EXPECT_EQ(fake->last_browse[3], "3");
}

TEST_F(BrowseDlgTest, MovingShowsOnlyTheLastBranchAsPath) {
  TBrowseDlgModel m(Server().Browser(), true);
  m.Show();
  fake->calls.clear();
  m.EnterBranch(0);
  m.EnterBranch(0);
  EXPECT_EQ(Shown(m), "Station1: AE1 BA1");
  m.EnterBranch(0);  // a leaf: nothing
  EXPECT_EQ(Server().Browser().Path(), (Names{"Zentrale", "Station1"}));
  m.Back();
  EXPECT_EQ(Shown(m), "Zentrale: Station1/ Station2/ Status Mode");
  m.Back();
  m.Back();  // at the root: nothing
  EXPECT_EQ(Shown(m), "root: Zentrale/");
  EXPECT_EQ(fake->CountCalls("ChangeBrowsePosition 1 "), 2u);  // up, twice
}

TEST_F(BrowseDlgTest, OpenEntersBranchesAndCollectsLeaves) {
  struct Row {
    const char* name;
    bool filter_focused;
    std::vector<int> selected;
    bool ok;
    Names ids;
    const char* shown_after;
  } rows[] = {
      {"only branches: the first is entered", false, {1, 0}, false, {}, "Station1: AE1 BA1"},
      {"a branch first among leaves is entered", false, {0, 2}, false, {}, "Station1: AE1 BA1"},
      {"leaves in list order", false, {3, 2}, true, {"Zentrale.Status", "Zentrale.Mode"}, "Zentrale: Station1/ Station2/ Status Mode"},
      {"nothing selected", false, {}, false, {}, "Zentrale: Station1/ Station2/ Status Mode"},
      {"filter focused: only a refresh", true, {2}, false, {}, "Zentrale: Station1/ Station2/ Status Mode"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Server().Browser().MoveToRoot();
    Server().Browser().MoveDown("Zentrale");
    TBrowseDlgModel m(Server().Browser(), false);
    m.Show();
    Names ids{"stale"};
    EXPECT_EQ(m.Open(r.filter_focused, r.selected, ids), r.ok);
    EXPECT_EQ(ids, r.ids);
    EXPECT_EQ(Shown(m), r.shown_after);
  }
}

class ServerSelectTest : public ExplorerTest {
 protected:
  void Register(const char* clsid, const char* prog_id, const char* name, std::vector<com::CATID> categories) {
    com::ServerRegistration r;
    r.clsid = *com::GuidFromString(clsid);
    r.prog_id = prog_id;
    r.readable_name = name;
    r.categories = std::move(categories);
    platform::Registry reg;
    ASSERT_TRUE(com::RegisterServer(r, reg));
  }
  static std::string Tree(TServerSelectModel& m) {
    std::string out;
    for (const auto& c : m.Categories()) {
      out += c.Text + ":";
      for (int s : c.Servers) out += " " + m.Server(s).UserType;
      out += "; ";
    }
    return out;
  }
};

TEST_F(ServerSelectTest, ServersUnderEachOfTheirCategories) {
  Register("{11111111-0000-0000-0000-000000000001}", "Vendor.Both.1", "Both kinds",
           {com::CATID_OPCDAServer20, com::CATID_OPCDAServer10});
  Register("{11111111-0000-0000-0000-000000000002}", "Vendor.Alarms.1", "Alarms", {com::CATID_OPCAEServer10});
  Register("{11111111-0000-0000-0000-000000000003}", "Vendor.New.1", "New one", {com::CATID_OPCDAServer20});
  TServerSelectModel m(messages);
  int cleared = 0;
  m.OnCleared = [&] { ++cleared; };
  m.Search("");
  EXPECT_EQ(cleared, 1);
  EXPECT_EQ(Tree(m), "DA Servers 1.0: Both kinds; DA Servers 2.0: Both kinds New one; AE Servers 1.0: Alarms; ");
  EXPECT_TRUE(messages.boxes.empty());
  EXPECT_EQ(messages.waitDepth, 0);

  EXPECT_FALSE(m.OkResult());
  m.Select(m.Categories()[1].Servers[1]);
  EXPECT_EQ(m.ProgID(), "Vendor.New.1");
  EXPECT_EQ(m.ClassID(), "{11111111-0000-0000-0000-000000000003}");
  EXPECT_TRUE(m.OkResult());
  m.Select(-1);  // a category node
  EXPECT_EQ(m.ProgID(), "");
  EXPECT_EQ(m.ClassID(), "");
  EXPECT_FALSE(m.OkResult());
}

TEST_F(ServerSelectTest, NothingFoundIsSaidAndAFailedSearchRestoresTheCursor) {
  TServerSelectModel m(messages);
  m.Search("");
  EXPECT_TRUE(m.Categories().empty());
  EXPECT_EQ(messages.Texts(), Names{"no OPC Server found on selected Computer"});
  EXPECT_EQ(messages.maxWaitDepthAtBox, 0);

  messages.boxes.clear();
  EXPECT_THROW(m.Search("plant-pc"), kopl::EOleSysError);
  EXPECT_EQ(messages.waitDepth, 0);
  EXPECT_TRUE(messages.boxes.empty());
}

TEST(GroupDialog, FieldsOfAState) {
  kopl::tGroupStateRec s;
  s.Name = "Fast";
  s.UpdateRate = 250;
  s.DeadBand = 0.5f;
  s.Active = true;
  TEditGroupTexts t = GroupDialogTexts(s, ',');
  EXPECT_EQ(t.Name, "Fast");
  EXPECT_EQ(t.UpdateRate, "250");
  EXPECT_EQ(t.DeadBand, "0,50");
  EXPECT_TRUE(t.Active);
}

TEST(GroupDialog, OkChecksTheNameAndConvertsTheNumbers) {
  struct Row {
    const char* name;
    TEditGroupTexts texts;
    char separator;
    const char* outcome;  // "ok", "blank" or "convert"
    int32_t rate;
    float dead_band;
  } rows[] = {
      {"plain", {"Fast", "250", "0.5", true}, '.', "ok", 250, 0.5f},
      {"comma separator", {"Fast", " 250 ", "0,5", false}, ',', "ok", 250, 0.5f},
      {"negative dead band is a number", {"G", "-1", "-2", false}, '.', "ok", -1, -2.0f},
      {"blank name refused before the numbers", {"   ", "x", "y", true}, '.', "blank", 1000, 0},
      {"empty name", {"", "1000", "0", true}, '.', "blank", 1000, 0},
      {"rate that is no number", {"G", "fast", "0", true}, '.', "convert", 1000, 0},
      {"rate with a fraction", {"G", "2.5", "0", true}, '.', "convert", 1000, 0},
      {"rate out of range", {"G", "99999999999", "0", true}, '.', "convert", 1000, 0},
      {"other separator", {"G", "100", "0.5", true}, ',', "convert", 1000, 0},
      {"empty dead band", {"G", "100", "", true}, '.', "convert", 1000, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    kopl::tGroupStateRec s;
    s.UpdateRate = 1000;
    s.LocaleId = 1031;
    s.TimeBias = -60;
    std::string outcome;
    try {
      outcome = AcceptGroupDialog(r.texts, r.separator, s) == TEditGroupResult::Ok ? "ok" : "blank";
    } catch (const EConvertError&) {
      outcome = "convert";
    }
    EXPECT_EQ(outcome, r.outcome);
    EXPECT_EQ(s.UpdateRate, r.rate);
    EXPECT_EQ(s.DeadBand, r.dead_band);
    EXPECT_EQ(s.LocaleId, 1031);
    EXPECT_EQ(s.TimeBias, -60);
    if (outcome == "ok") {
      EXPECT_EQ(s.Name, r.texts.Name);
      EXPECT_EQ(s.Active, r.texts.Active);
    }
  }
}

}  // namespace
}  // namespace explorer::testing
