// The address-space browser on flat and hierarchical spaces, its filters and its errors.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"

namespace kopl::testing {
namespace {

class BrowserTest : public KoplTest {
 protected:
  std::unique_ptr<TKoplServer> s;
  std::vector<std::string> errors;
  void SetUp() override {
    KoplTest::SetUp();
    fake->branches[""] = {"Zentrale"};
    fake->branches["Zentrale"] = {"Station1", "Station2"};
    fake->leaves["Zentrale"] = {"Status"};
    fake->leaves["Zentrale.Station1"] = {"AE1", "BA1"};
    fake->leaves["Zentrale.Station2"] = {"AE1"};
  }
  TKoplBrowser& Connect(bool suppress = false) {
    s = MakeServer();
    if (suppress) {
      s->OnError = [this](TKoplServer*, const std::string& t, bool& raise) {
        errors.push_back(t);
        raise = false;
      };
    }
    s->SetActive(true);
    return s->Browser();
  }
  using Names = std::vector<std::string>;
};

TEST_F(BrowserTest, FlatSpaceHasNoBranchesAndNoMoves) {
  fake->flat = true;
  TKoplBrowser& b = Connect();
  EXPECT_EQ(b.GetOrganization(), 2);
  b.ShowBranches();
  EXPECT_TRUE(b.Names().empty());
  EXPECT_EQ(fake->CountCalls("BrowseOPCItemIDs"), 0u);
  b.ShowLeafs(false);
  EXPECT_EQ(b.Names(), (Names{"Zentrale.Status", "Zentrale.Station1.AE1", "Zentrale.Station1.BA1", "Zentrale.Station2.AE1"}));
  EXPECT_FALSE(b.MoveDown("Zentrale"));
  EXPECT_FALSE(b.MoveUp());
  EXPECT_FALSE(b.MoveToRoot());
  EXPECT_EQ(fake->CountCalls("ChangeBrowsePosition"), 0u);
}

TEST_F(BrowserTest, HierarchicalMovesKeepThePath) {
  TKoplBrowser& b = Connect();
  EXPECT_EQ(b.GetOrganization(), 1);
  b.ShowBranches();
  EXPECT_EQ(b.Names(), Names{"Zentrale"});
  EXPECT_TRUE(b.MoveDown("Zentrale"));
  EXPECT_TRUE(b.MoveDown("Station1"));
  EXPECT_EQ(b.Path(), (Names{"Zentrale", "Station1"}));
  b.ShowLeafs(false);
  EXPECT_EQ(b.Names(), (Names{"AE1", "BA1"}));
  EXPECT_EQ(b.GetItemID("BA1"), "Zentrale.Station1.BA1");
  b.ShowLeafs(true);
  EXPECT_EQ(b.Names().size(), 4u);
  EXPECT_FALSE(b.MoveDown("Nowhere"));
  EXPECT_EQ(b.Path().size(), 2u);
  EXPECT_TRUE(b.MoveUp());
  EXPECT_EQ(b.Path(), Names{"Zentrale"});
  EXPECT_TRUE(b.MoveToRoot());
  EXPECT_TRUE(b.Path().empty());
  // Up at the root: the server accepts it and the path stays empty.
  EXPECT_TRUE(b.MoveUp());
  EXPECT_TRUE(b.Path().empty());
  EXPECT_EQ(fake->CountCalls("QueryOrganization"), 1u);
}

TEST_F(BrowserTest, FiltersGoToTheServer) {
  TKoplBrowser& b = Connect();
  b.Filter = "AE";
  b.Datatype = OPCADatatype::vtR8;
  b.AccessRights = opcReadable | opcWritable | 4;
  b.MoveDown("Zentrale");
  b.MoveDown("Station1");
  b.ShowLeafs(false);
  EXPECT_EQ(fake->last_browse, (Names{"2", "AE", "5", "3"}));
  EXPECT_EQ(b.Names(), Names{"AE1"});
}

TEST_F(BrowserTest, ANewServerIsAskedForItsOrganisationAgain) {
  TKoplBrowser& b = Connect();
  b.MoveDown("Zentrale");
  EXPECT_EQ(b.GetOrganization(), 1);
  b.SetOPCServer(s.get());
  EXPECT_TRUE(b.Path().empty());
  fake->flat = true;
  EXPECT_EQ(b.GetOrganization(), 2);
  EXPECT_EQ(fake->CountCalls("QueryOrganization"), 2u);
}

TEST_F(BrowserTest, BrowserFollowsTheConnection) {
  s = MakeServer();
  EXPECT_EQ(s->Browser().OPCServer(), nullptr);
  try {
    s->Browser().ShowBranches();
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()), "first define server object");
  }
  EXPECT_FALSE(s->Browser().MoveDown("Zentrale"));
  // A browser of the program's own that points at a component is told when it goes.
  TKoplBrowser mine;
  mine.SetOPCServer(s.get());
  s.reset();
  EXPECT_EQ(mine.OPCServer(), nullptr);
}

TEST_F(BrowserTest, MissingInterfaceAndFailedCallsGoThroughTheErrorPath) {
  struct Row {
    const char* name;
    std::function<void()> prepare;
    Names errors;
  } rows[] = {
      {"no browse interface", [&] { fake->offers_browse = false; }, {"Browser interface not found"}},
      {"server's own text",
       [&] {
         fake->fail["BrowseOPCItemIDs"] = OPC_E_INVALIDFILTER;
         fake->error_texts[OPC_E_INVALIDFILTER] = "bad filter, says the server";
       },
       {"Browser: bad filter, says the server"}},
      {"library's text", [&] { fake->fail["BrowseOPCItemIDs"] = OPC_E_INVALIDFILTER; },
       {"Browser: The filter string was not valid"}},
      {"system text", [&] { fake->fail["BrowseOPCItemIDs"] = E_ACCESSDENIED; }, {"Browser: Access is denied."}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    fake = std::make_shared<ScriptedServer>();
    fake->branches[""] = {"Zentrale"};
    errors.clear();
    r.prepare();
    TKoplBrowser& b = Connect(true);
    b.ShowBranches();
    EXPECT_TRUE(b.Names().empty());
    EXPECT_EQ(errors, r.errors);
  }
  // Without a handler the same error raises.
  fake->fail["BrowseOPCItemIDs"] = OPC_E_INVALIDFILTER;
  TKoplBrowser& b = Connect();
  EXPECT_THROW(b.ShowBranches(), EOPCException);
  EXPECT_EQ(b.GetItemID("x"), "x");
}

}  // namespace
}  // namespace kopl::testing
