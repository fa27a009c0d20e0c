#include "configurator/station_tree.h"

#include <algorithm>
#include <stdexcept>

#include "platform/cp1252.h"

namespace configurator {

namespace {
std::locale UserLocale() {
  try {
    return std::locale("");
  } catch (const std::runtime_error&) {
    return std::locale::classic();
  }
}

std::wstring Wide(const std::string& text) {
  std::u16string u = platform::Cp1252ToUtf16(text);
  return std::wstring(u.begin(), u.end());  // Windows-1252 lies in the basic plane
}
}  // namespace

TCollation::TCollation() : locale_(UserLocale()) {}

TCollation::TCollation(const std::string& localeName) : locale_(localeName) {}

int TCollation::Compare(const std::string& a, const std::string& b) const {
  std::wstring wa = Wide(a), wb = Wide(b);
  const auto& collate = std::use_facet<std::collate<wchar_t>>(locale_);
  return collate.compare(wa.data(), wa.data() + wa.size(), wb.data(), wb.data() + wb.size());
}

int TStationNode::Level() const {
  int level = 0;
  for (const TStationNode* p = parent_; p; p = p->parent_) ++level;
  return level;
}

TStationTree::TStationTree(std::function<void(TStationNode&)> onDeletion) : onDeletion_(std::move(onDeletion)) {}

TStationTree::~TStationTree() { Clear(); }

TStationNode* TStationTree::AddRoot(std::string text, std::unique_ptr<TCustomFM> data) {
  if (root_) throw std::logic_error("the tree has a root");
  root_ = std::make_unique<TStationNode>();
  root_->text_ = std::move(text);
  root_->data_ = std::move(data);
  return root_.get();
}

TStationNode* TStationTree::AddChild(TStationNode* parent, std::string text, std::unique_ptr<TCustomFM> data) {
  auto node = std::make_unique<TStationNode>();
  node->text_ = std::move(text);
  node->data_ = std::move(data);
  node->parent_ = parent;
  parent->children_.push_back(std::move(node));
  return parent->children_.back().get();
}

void TStationTree::Notify(TStationNode& node) {
  while (!node.children_.empty()) {
    Notify(*node.children_.back());
    node.children_.pop_back();
  }
  if (onDeletion_) onDeletion_(node);
}

bool TStationTree::Contains(const TStationNode* branch, const TStationNode* node) const {
  for (const TStationNode* p = node; p; p = p->parent_)
    if (p == branch) return true;
  return false;
}

void TStationTree::Delete(TStationNode* node) {
  if (!node) return;
  if (Contains(node, selected_)) selected_ = nullptr;
  Notify(*node);
  if (node == root_.get()) {
    root_.reset();
    return;
  }
  auto& siblings = node->parent_->children_;
  siblings.erase(std::find_if(siblings.begin(), siblings.end(), [&](const auto& c) { return c.get() == node; }));
}

void TStationTree::Clear() { Delete(root_.get()); }

TStationNode* TStationTree::Next(const TStationNode* node) const {
  if (!node) return root_.get();
  if (node->HasChildren()) return node->children_.front().get();
  for (const TStationNode* n = node; n->parent_; n = n->parent_) {
    const auto& siblings = n->parent_->children_;
    auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& c) { return c.get() == n; });
    if (++it != siblings.end()) return it->get();
  }
  return nullptr;
}

void TStationTree::AlphaSort(const TCollation& collation) {
  for (TStationNode* n = root_.get(); n; n = Next(n)) {
    std::stable_sort(n->children_.begin(), n->children_.end(),
                     [&](const auto& a, const auto& b) { return collation.Compare(a->text_, b->text_) < 0; });
  }
}

}  // namespace configurator
