#include "configurator/station_tree.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace configurator {
namespace {

TEST(TCollation, GermanOrder) {
  TCollation german("de_DE.UTF-8");
  std::vector<std::string> names = {"Zeche", "\xD6lm\xFChle", "Ost", "apfel", "Apfel", "\xC4rztehaus", "Brunnen 10", "Brunnen 2"};
  std::stable_sort(names.begin(), names.end(), [&](auto& a, auto& b) { return german.Compare(a, b) < 0; });
  EXPECT_EQ(names, (std::vector<std::string>{"apfel", "Apfel", "\xC4rztehaus", "Brunnen 10", "Brunnen 2", "\xD6lm\xFChle",
                                             "Ost", "Zeche"}));
  EXPECT_THROW(TCollation("xx_NONE.UTF-8"), std::runtime_error);
}

TEST(TStationTree, OrderDeletionAndSelection) {
  std::vector<std::string> deleted;
  TStationTree tree([&](TStationNode& n) { deleted.push_back(n.Text()); });
  EXPECT_EQ(tree.Next(nullptr), nullptr);
  TStationNode* root = tree.AddRoot("Z", std::make_unique<TZFM>());
  EXPECT_THROW(tree.AddRoot("Y", nullptr), std::logic_error);
  TStationNode* a = tree.AddChild(root, "A", nullptr);
  TStationNode* b = tree.AddChild(a, "B", nullptr);
  TStationNode* c = tree.AddChild(b, "C", nullptr);
  TStationNode* d = tree.AddChild(root, "D", nullptr);
  EXPECT_EQ(c->Level(), 3);

  std::vector<TStationNode*> order;
  for (TStationNode* n = tree.Next(nullptr); n; n = tree.Next(n)) order.push_back(n);
  EXPECT_EQ(order, (std::vector<TStationNode*>{root, a, b, c, d}));

  tree.Select(c);
  tree.Delete(a);
  EXPECT_EQ(deleted, (std::vector<std::string>{"C", "B", "A"}));  // children before their parent
  EXPECT_EQ(tree.Selected(), nullptr);
  EXPECT_EQ(tree.Next(root), d);

  tree.Select(d);
  deleted.clear();
  tree.Clear();
  EXPECT_EQ(deleted, (std::vector<std::string>{"D", "Z"}));
  EXPECT_TRUE(tree.Empty());
  EXPECT_EQ(tree.Selected(), nullptr);
}

}  // namespace
}  // namespace configurator
