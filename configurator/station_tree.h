// The tree of a project as the main window shows it: the central radio modem at the root, the
// stations below it. Each node owns its model object. The tree's order is the order of the
// project file, so its alphabetic sort uses one collation everywhere.
#pragma once

#include <functional>
#include <locale>
#include <memory>
#include <string>
#include <vector>

#include "configurator/model.h"

namespace configurator {

// Locale-aware comparison of Windows-1252 texts.
class TCollation {
 public:
  // The collation of the user's locale (the classic one when the environment names none).
  TCollation();
  // The collation of the named locale; throws std::runtime_error when it is not installed.
  explicit TCollation(const std::string& localeName);
  int Compare(const std::string& a, const std::string& b) const;

 private:
  std::locale locale_;
};

class TStationNode {
 public:
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }
  TCustomFM* Data() const { return data_.get(); }
  TFuMo* Station() const { return dynamic_cast<TFuMo*>(data_.get()); }
  TZFM* CentralModem() const { return dynamic_cast<TZFM*>(data_.get()); }
  void SetData(std::unique_ptr<TCustomFM> data) { data_ = std::move(data); }
  std::unique_ptr<TCustomFM> TakeData() { return std::move(data_); }

  TStationNode* Parent() const { return parent_; }
  const std::vector<std::unique_ptr<TStationNode>>& Children() const { return children_; }
  bool HasChildren() const { return !children_.empty(); }
  // 0 for the root.
  int Level() const;

 private:
  friend class TStationTree;
  std::string text_;
  std::unique_ptr<TCustomFM> data_;
  TStationNode* parent_ = nullptr;
  std::vector<std::unique_ptr<TStationNode>> children_;
};

class TStationTree {
 public:
  // onDeletion runs for every node that leaves the tree, children before their parent.
  explicit TStationTree(std::function<void(TStationNode&)> onDeletion = {});
  ~TStationTree();
  TStationTree(const TStationTree&) = delete;
  TStationTree& operator=(const TStationTree&) = delete;

  TStationNode* Root() const { return root_.get(); }
  // The root; throws std::logic_error when the tree has one.
  TStationNode* AddRoot(std::string text, std::unique_ptr<TCustomFM> data);
  // A new last child of parent.
  TStationNode* AddChild(TStationNode* parent, std::string text, std::unique_ptr<TCustomFM> data);
  // Removes node with its children (the selection too when it was among them).
  void Delete(TStationNode* node);
  void Clear();
  bool Empty() const { return !root_; }

  // Tree order: depth first, a node before its children. Next(nullptr) is the root.
  TStationNode* Next(const TStationNode* node) const;
  // Sorts the children of every node by their text.
  void AlphaSort(const TCollation& collation);

  TStationNode* Selected() const { return selected_; }
  void Select(TStationNode* node) { selected_ = node; }

 private:
  void Notify(TStationNode& node);
  bool Contains(const TStationNode* branch, const TStationNode* node) const;

  std::function<void(TStationNode&)> onDeletion_;
  std::unique_ptr<TStationNode> root_;
  TStationNode* selected_ = nullptr;
};

}  // namespace configurator
