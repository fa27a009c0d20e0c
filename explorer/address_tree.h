// Walks a server's address space through the connection's browser: the branch tree the
// explorer shows, the leaves of one branch, and the search for every leaf of one name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl_browser.h"

namespace explorer {

struct TBranchNode {
  std::string Text;  // the branch's browse name
  TBranchNode* Parent = nullptr;
  std::vector<std::unique_ptr<TBranchNode>> Children;
};

class TBranchTree {
 public:
  const std::vector<std::unique_ptr<TBranchNode>>& Top() const { return top_; }
  bool Empty() const { return top_.empty(); }
  void Clear() { top_.clear(); }
  // A new node under parent, or at the top level when parent is null.
  TBranchNode* Add(TBranchNode* parent, const std::string& text);

 private:
  std::vector<std::unique_ptr<TBranchNode>> top_;
};

// Deeper branches than this are not entered: a server whose branches lead into themselves
// would otherwise walk until the stack runs out.
inline constexpr int kMaxBranchDepth = 128;

// Depth-first from the browser's position: each branch becomes a node under parent and is
// walked in turn. With a match name, every leaf whose name equals it (after the branch's own
// name is cut off its front where the leaf starts with it) adds its item ID to result.
void FillTree(kopl::TKoplBrowser& browser, TBranchTree& tree, TBranchNode* parent, const std::string& prefix,
              std::vector<std::string>* result, const std::string* match_name, int depth = 0);

// The branch names from the top level down to node; empty for none.
std::vector<std::string> NodePath(const TBranchNode* node);

// Moves the browser from the root down the path (results not checked).
void MoveToPath(kopl::TKoplBrowser& browser, const std::vector<std::string>& path);

// Moves the browser from the root down the path and returns the leaves there (the root's
// leaves for an empty path). The browser stays on that branch.
std::vector<std::string> ShowLeafsForPath(kopl::TKoplBrowser& browser, const std::vector<std::string>& path);

// The item IDs of every leaf in the whole space whose name equals leaf_name, where a leaf
// name that starts with the name of the selected branch (selected_branch, may be empty) is
// first cut by it. Leaves the browser at the root.
std::vector<std::string> FindIdenticalItemIDs(kopl::TKoplBrowser& browser, const std::string& leaf_name,
                                              const std::string& selected_branch);

}  // namespace explorer
