#include "explorer/explorer_model.h"

#include "opcclient/kopl_properties.h"

namespace explorer {

void TExplorerModel::ClearView() {
  selected_ = nullptr;
  tree_.Clear();
  leafs_.clear();
  TreeChanged();
  LeafsChanged();
}

void TExplorerModel::BuildTree() {
  selected_ = nullptr;
  tree_.Clear();
  FillTree(server_.Browser(), tree_, nullptr, "", nullptr, nullptr);
  TreeChanged();
  ShowLeafsForSelection();
}

void TExplorerModel::SelectNode(const TBranchNode* node) {
  selected_ = node;
  if (server_.Active()) ShowLeafsForSelection();
}

void TExplorerModel::ShowLeafsForSelection() {
  leafs_ = ShowLeafsForPath(server_.Browser(), NodePath(selected_));
  LeafsChanged();
}

std::string TExplorerModel::LeafItemID(const std::string& leaf) {
  kopl::TKoplBrowser& browser = server_.Browser();
  const std::vector<std::string> path = NodePath(selected_);
  if (browser.Path() != path) MoveToPath(browser, path);
  return browser.GetItemID(leaf);
}

std::vector<std::string> TExplorerModel::GetSelectedItemIDs(const std::vector<int>& selected) {
  std::vector<std::string> ids;
  for (int i : selected) {
    if (i >= 0 && size_t(i) < leafs_.size()) ids.push_back(LeafItemID(leafs_[size_t(i)]));
  }
  return ids;
}

std::vector<std::string> TExplorerModel::GetIdenticalItemIDs(int focused) {
  if (focused < 0 || size_t(focused) >= leafs_.size()) return {};
  std::vector<std::string> ids =
      FindIdenticalItemIDs(server_.Browser(), leafs_[size_t(focused)], selected_ ? selected_->Text : "");
  SelectNode(selected_);
  return ids;
}

std::optional<TPropertyForm> TExplorerModel::ShowProperties(int focused) {
  if (focused < 0 || size_t(focused) >= leafs_.size()) return std::nullopt;
  TPropertyForm form;
  const std::string item_id = LeafItemID(leafs_[size_t(focused)]);
  form.Caption = " Item " + item_id + " ";
  kopl::TKoplItemProperties properties(&server_, item_id);
  for (int32_t i = 0; i < properties.Count(); ++i) form.Rows.push_back(PropertyRow(properties[i]));
  return form;
}

}  // namespace explorer
