// What the explorer window shows and does: the connected server's branches as a tree, the
// leaves of the selected branch, the item IDs it hands to the inspector and the properties
// of one leaf. All browsing goes through the connection's own browser.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "explorer/address_tree.h"
#include "explorer/item_texts.h"
#include "opcclient/kopl_server.h"

namespace explorer {

// What the properties form shows for one item.
struct TPropertyForm {
  std::string Caption;  // " Item " + item ID + " "
  std::vector<TPropertyRowTexts> Rows;
};

class TExplorerModel {
 public:
  explicit TExplorerModel(kopl::TKoplServer& server) : server_(server) {}

  kopl::TKoplServer& OPCServer() { return server_; }
  const TBranchTree& Tree() const { return tree_; }
  const TBranchNode* Selected() const { return selected_; }
  const std::vector<std::string>& Leafs() const { return leafs_; }

  // Empties the tree and the leaf list.
  void ClearView();
  // The whole branch tree from the root, then the leaves of the selection (none: the root's).
  void BuildTree();
  // A branch of the tree was selected (null: none); while connected its leaves are shown.
  void SelectNode(const TBranchNode* node);
  // Item IDs of the leaves at the given list positions, in list order, relative to the
  // selected branch (wherever another window has left the shared browser).
  std::vector<std::string> GetSelectedItemIDs(const std::vector<int>& selected);
  // Item IDs of every leaf in the whole space named like the leaf at focused; the browser is
  // put back on the selected branch afterwards.
  std::vector<std::string> GetIdenticalItemIDs(int focused);
  // The properties of the leaf at focused (an item of the selected branch); nullopt when no
  // leaf is focused. A failing property query raises.
  std::optional<TPropertyForm> ShowProperties(int focused);

  // The tree (and with it the selection) or the leaf list changed.
  std::function<void()> OnTreeChanged;
  std::function<void()> OnLeafsChanged;

 private:
  void ShowLeafsForSelection();
  // The item ID of a leaf of the selected branch, with the browser put back there first.
  std::string LeafItemID(const std::string& leaf);
  void TreeChanged() {
    if (OnTreeChanged) OnTreeChanged();
  }
  void LeafsChanged() {
    if (OnLeafsChanged) OnLeafsChanged();
  }

  kopl::TKoplServer& server_;
  TBranchTree tree_;
  const TBranchNode* selected_ = nullptr;
  std::vector<std::string> leafs_;
};

}  // namespace explorer
