// The explorer window's logic against the scripted server: the tree on connect, the leaves of
// the selection, the item IDs handed on, and the properties of one leaf.
#include <gtest/gtest.h>

#include "explorer/tests/explorer_fixture.h"

namespace explorer::testing {
namespace {

using Names = std::vector<std::string>;
using kopl::Variant;
namespace com = platform::com;

class ExplorerModelTest : public ExplorerTest {
 protected:
  void SetUp() override {
    ExplorerTest::SetUp();
    fake->branches[""] = {"Zentrale"};
    fake->branches["Zentrale"] = {"Station1", "Station2"};
    fake->leaves[""] = {"Version"};
    fake->leaves["Zentrale"] = {"Status"};
    fake->leaves["Zentrale.Station1"] = {"AE1", "BA1", "Name"};
    fake->leaves["Zentrale.Station2"] = {"AE1"};
  }
  const TBranchNode* Node(const Names& path) {
    const TBranchNode* node = nullptr;
    const auto* level = &Explorer().Tree().Top();
    for (const std::string& name : path) {
      node = nullptr;
      for (const auto& n : *level) {
        if (n->Text == name) node = n.get();
      }
      if (!node) return nullptr;
      level = &node->Children;
    }
    return node;
  }
};

TEST_F(ExplorerModelTest, ConnectBuildsTheTreeAndDisconnectClearsIt) {
  int tree_changes = 0;
  Explorer().OnTreeChanged = [&] { ++tree_changes; };
  ConnectScripted();
  ASSERT_NE(Node({"Zentrale", "Station2"}), nullptr);
  EXPECT_EQ(Explorer().Leafs(), Names{"Version"});  // nothing selected: the root's leaves
  EXPECT_GT(tree_changes, 0);

  main->Disconnect();
  EXPECT_TRUE(Explorer().Tree().Empty());
  EXPECT_TRUE(Explorer().Leafs().empty());
}

TEST_F(ExplorerModelTest, SelectionShowsItsLeavesAndKeepsTheBrowserThere) {
  ConnectScripted();
  Explorer().SelectNode(Node({"Zentrale", "Station1"}));
  EXPECT_EQ(Explorer().Leafs(), (Names{"AE1", "BA1", "Name"}));
  EXPECT_EQ(Server().Browser().Path(), (Names{"Zentrale", "Station1"}));
  EXPECT_EQ(Explorer().GetSelectedItemIDs({0, 2}), (Names{"Zentrale.Station1.AE1", "Zentrale.Station1.Name"}));

  // Disconnected, a selection browses nothing.
  const TBranchNode* station2 = Node({"Zentrale", "Station2"});
  Server().SetActive(false);
  size_t calls = fake->calls.size();
  Explorer().SelectNode(station2);
  EXPECT_EQ(fake->calls.size(), calls);
}

TEST_F(ExplorerModelTest, IdenticalItemsFromEveryBranchThenBackOnTheSelection) {
  ConnectScripted();
  Explorer().SelectNode(Node({"Zentrale", "Station1"}));
  EXPECT_EQ(Explorer().GetIdenticalItemIDs(0), (Names{"Zentrale.Station1.AE1", "Zentrale.Station2.AE1"}));
  EXPECT_EQ(Server().Browser().Path(), (Names{"Zentrale", "Station1"}));
  EXPECT_EQ(Explorer().Leafs(), (Names{"AE1", "BA1", "Name"}));
  EXPECT_TRUE(Explorer().GetIdenticalItemIDs(-1).empty());
}

TEST_F(ExplorerModelTest, FlatSpaceListsEveryItemWithoutTree) {
  fake->flat = true;
  ConnectScripted();
  EXPECT_TRUE(Explorer().Tree().Empty());
  EXPECT_EQ(Explorer().Leafs().size(), 6u);
}

TEST_F(ExplorerModelTest, PropertiesOfTheFocusedLeaf) {
  fake->properties["Zentrale.Station1.BA1"] = {
      {1, "Item Canonical DataType", com::VT_I2, Variant::I2(3)},
      {5001, "Unit", com::VT_BSTR, Variant::Str("V")},
      {5002, "Code", com::VT_UI2, Variant::UI2(255)},
  };
  ConnectScripted();
  Explorer().SelectNode(Node({"Zentrale", "Station1"}));
  EXPECT_FALSE(Explorer().ShowProperties(-1).has_value());

  std::optional<TPropertyForm> form = Explorer().ShowProperties(1);
  ASSERT_TRUE(form.has_value());
  EXPECT_EQ(form->Caption, " Item Zentrale.Station1.BA1 ");
  ASSERT_EQ(form->Rows.size(), 3u);
  EXPECT_EQ(form->Rows[0].Type, "2 =I2");
  EXPECT_EQ(form->Rows[0].HexValue, "$ 3");
  EXPECT_EQ(form->Rows[1].Value, "V");
  EXPECT_EQ(form->Rows[2].HexValue, "$ FF");

  fake->fail["QueryAvailableProperties"] = com::E_FAIL;
  EXPECT_THROW(Explorer().ShowProperties(1), kopl::Exception);
}

}  // namespace
}  // namespace explorer::testing
