#include "explorer/address_tree.h"

#include <algorithm>

namespace explorer {

namespace {

// The name with prefix cut off its front when it starts with a non-empty prefix.
std::string CutPrefix(const std::string& name, const std::string& prefix) {
  if (!prefix.empty() && name.starts_with(prefix)) return name.substr(prefix.size());
  return name;
}

}  // namespace

TBranchNode* TBranchTree::Add(TBranchNode* parent, const std::string& text) {
  auto node = std::make_unique<TBranchNode>();
  node->Text = text;
  node->Parent = parent;
  auto& list = parent ? parent->Children : top_;
  list.push_back(std::move(node));
  return list.back().get();
}

void FillTree(kopl::TKoplBrowser& browser, TBranchTree& tree, TBranchNode* parent, const std::string& prefix,
              std::vector<std::string>* result, const std::string* match_name, int depth) {
  browser.ShowBranches();
  const std::vector<std::string> branches = browser.Names();  // the walk below overwrites Names
  for (const std::string& name : branches) {
    TBranchNode* node = tree.Add(parent, name);
    if (depth + 1 < kMaxBranchDepth && browser.MoveDown(name)) {
      FillTree(browser, tree, node, name, result, match_name, depth + 1);
      browser.MoveUp();
    }
  }
  if (!match_name) return;
  browser.ShowLeafs(false);
  const std::vector<std::string> leaves = browser.Names();
  for (const std::string& leaf : leaves) {
    if (CutPrefix(leaf, prefix) == *match_name && result) result->push_back(browser.GetItemID(leaf));
  }
}

std::vector<std::string> NodePath(const TBranchNode* node) {
  std::vector<std::string> path;
  for (; node; node = node->Parent) path.push_back(node->Text);
  std::reverse(path.begin(), path.end());
  return path;
}

void MoveToPath(kopl::TKoplBrowser& browser, const std::vector<std::string>& path) {
  browser.MoveToRoot();
  for (const std::string& name : path) browser.MoveDown(name);
}

std::vector<std::string> ShowLeafsForPath(kopl::TKoplBrowser& browser, const std::vector<std::string>& path) {
  MoveToPath(browser, path);
  browser.ShowLeafs(false);
  return browser.Names();
}

std::vector<std::string> FindIdenticalItemIDs(kopl::TKoplBrowser& browser, const std::string& leaf_name,
                                              const std::string& selected_branch) {
  std::vector<std::string> ids;
  const std::string search = CutPrefix(leaf_name, selected_branch);
  while (!browser.Path().empty()) {
    if (!browser.MoveUp()) break;
  }
  TBranchTree scratch;
  FillTree(browser, scratch, nullptr, "", &ids, &search);
  return ids;
}

}  // namespace explorer
