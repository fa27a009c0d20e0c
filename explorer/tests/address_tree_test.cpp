// Walking the address space: the branch tree, the leaves of a branch and the search for
// every leaf of one name.
#include <gtest/gtest.h>

#include "explorer/address_tree.h"
#include "opcclient/tests/kopl_fixture.h"

namespace explorer {
namespace {

using Names = std::vector<std::string>;

// The tree as text: each node, its children in parentheses.
std::string Shape(const std::vector<std::unique_ptr<TBranchNode>>& nodes) {
  std::string out;
  for (const auto& n : nodes) {
    if (!out.empty()) out += " ";
    out += n->Text;
    if (!n->Children.empty()) out += "(" + Shape(n->Children) + ")";
  }
  return out;
}

class AddressTreeTest : public kopl::testing::KoplTest {
 protected:
  std::unique_ptr<kopl::TKoplServer> s;
  std::vector<std::string> errors;

  void SetUp() override {
    KoplTest::SetUp();
    fake->branches[""] = {"Tank1", "Tank2", "Pumps"};
    fake->branches["Tank2"] = {"Inlet"};
    fake->leaves[""] = {"Level", "Status"};
    fake->leaves["Tank1"] = {"Level", "level", "Temp"};
    fake->leaves["Tank2"] = {"Tank2Level", "Tank2Temp"};  // names carry the branch's name
    fake->leaves["Tank2.Inlet"] = {"InletLevel", "Level", "Valve"};
    fake->leaves["Pumps"] = {"P1", "LevelSwitch"};
  }
  kopl::TKoplBrowser& Browser() {
    if (!s) {
      s = MakeServer();
      s->OnError = [this](kopl::TKoplServer*, const std::string& t, bool& raise) {
        errors.push_back(t);
        raise = false;
      };
      s->SetActive(true);
    }
    return s->Browser();
  }
};

TEST_F(AddressTreeTest, WholeHierarchyDepthFirstInServerOrder) {
  TBranchTree tree;
  FillTree(Browser(), tree, nullptr, "", nullptr, nullptr);
  EXPECT_EQ(Shape(tree.Top()), "Tank1 Tank2(Inlet) Pumps");
  EXPECT_TRUE(Browser().Path().empty());
  EXPECT_TRUE(fake->position.empty());
  // Without a match name no leaf is asked for.
  EXPECT_EQ(fake->CountCalls("BrowseOPCItemIDs 2"), 0u);
  EXPECT_EQ(NodePath(tree.Top()[1]->Children[0].get()), (Names{"Tank2", "Inlet"}));
  EXPECT_TRUE(NodePath(nullptr).empty());
}

TEST_F(AddressTreeTest, FlatSpaceGivesNoBranchesAndEveryLeaf) {
  fake->flat = true;
  TBranchTree tree;
  FillTree(Browser(), tree, nullptr, "", nullptr, nullptr);
  EXPECT_TRUE(tree.Empty());
  Names leaves = ShowLeafsForPath(Browser(), {});
  EXPECT_EQ(leaves.size(), 12u);
  EXPECT_NE(std::find(leaves.begin(), leaves.end(), "Tank2.Inlet.Valve"), leaves.end());
}

TEST_F(AddressTreeTest, RefusedMovesLeaveBranchesWithoutChildren) {
  fake->fail["ChangeBrowsePosition"] = platform::com::E_FAIL;
  TBranchTree tree;
  FillTree(Browser(), tree, nullptr, "", nullptr, nullptr);
  EXPECT_EQ(Shape(tree.Top()), "Tank1 Tank2 Pumps");
}

TEST_F(AddressTreeTest, BranchesThatLeadIntoThemselvesEndAtTheDepthLimit) {
  fake->branches.clear();
  std::string path;
  for (int i = 0; i < kMaxBranchDepth + 20; ++i) {
    fake->branches[path] = {"Again"};
    path += path.empty() ? "Again" : ".Again";
  }
  TBranchTree tree;
  FillTree(Browser(), tree, nullptr, "", nullptr, nullptr);
  int depth = 0;
  for (const TBranchNode* n = tree.Top().front().get(); n; n = n->Children.empty() ? nullptr : n->Children[0].get()) {
    ++depth;
  }
  EXPECT_EQ(depth, kMaxBranchDepth);
  EXPECT_TRUE(Browser().Path().empty());
}

TEST_F(AddressTreeTest, LeavesOfAPathFromTheRoot) {
  struct Row {
    const char* name;
    Names path;
    Names leaves;
  } rows[] = {
      {"root", {}, {"Level", "Status"}},
      {"top branch", {"Tank1"}, {"Level", "level", "Temp"}},
      {"nested branch", {"Tank2", "Inlet"}, {"InletLevel", "Level", "Valve"}},
  };
  Browser().MoveDown("Pumps");  // wherever the browser stood before
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(ShowLeafsForPath(Browser(), r.path), r.leaves);
    EXPECT_EQ(Browser().Path(), r.path);
  }
}

TEST_F(AddressTreeTest, IdenticalLeavesEverywhere) {
  struct Row {
    const char* name;
    const char* leaf;
    const char* selected_branch;
    Names ids;
  } rows[] = {
      {"plain name at every level, root included", "Level", "",
       {"Tank1.Level", "Tank2.Inlet.InletLevel", "Tank2.Inlet.Level", "Tank2.Tank2Level", "Level"}},
      {"focused leaf carries its branch's name", "Tank2Level", "Tank2",
       {"Tank1.Level", "Tank2.Inlet.InletLevel", "Tank2.Inlet.Level", "Tank2.Tank2Level", "Level"}},
      {"case counts", "level", "Tank1", {"Tank1.level"}},
      {"branch name not at the front is kept", "LevelSwitch", "Pumps", {"Pumps.LevelSwitch"}},
      {"no such leaf", "Nothing", "", {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Browser().MoveDown("Tank2");
    EXPECT_EQ(FindIdenticalItemIDs(Browser(), r.leaf, r.selected_branch), r.ids);
    EXPECT_TRUE(Browser().Path().empty());
  }
}

}  // namespace
}  // namespace explorer
