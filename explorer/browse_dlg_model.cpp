#include "explorer/browse_dlg_model.h"

#include <algorithm>

#include "explorer/address_tree.h"

namespace explorer {

const std::vector<std::string>& BrowseDataTypeNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (int t = 0; t < kopl::kDatatypeCount; ++t) {
      std::string name(kopl::DatatypeName(kopl::OPCADatatype(t)));
      v.push_back(name.substr(2));  // without the "vt" of the enumeration's names
    }
    return v;
  }();
  return names;
}

TBrowseDlgModel::TBrowseDlgModel(kopl::TKoplBrowser& browser, bool start_at_root)
    : browser_(browser),
      start_at_root_(start_at_root),
      saved_filter_(browser.Filter),
      saved_datatype_(browser.Datatype),
      saved_rights_(browser.AccessRights),
      saved_path_(browser.Path()) {}

TBrowseDlgModel::~TBrowseDlgModel() {
  browser_.Filter = saved_filter_;
  browser_.Datatype = saved_datatype_;
  browser_.AccessRights = saved_rights_;
  // Moves report their failures as false, never by raising; a lost connection has nothing to
  // go back to.
  if (browser_.OPCServer() && browser_.Path() != saved_path_) MoveToPath(browser_, saved_path_);
}

void TBrowseDlgModel::Show() {
  DataType = 0;
  if (start_at_root_) browser_.MoveToRoot();
  Refresh();
}

void TBrowseDlgModel::Refresh() {
  browser_.Filter = Filter;
  browser_.Datatype = kopl::OPCADatatype(std::clamp(DataType, 0, kopl::kDatatypeCount - 1));
  browser_.AccessRights = (Writable ? kopl::opcWritable : 0) | (Readable ? kopl::opcReadable : 0);
  entries_.clear();
  path_text_ = browser_.Path().empty() ? "root" : browser_.Path().back();
  browser_.ShowBranches();
  for (const std::string& name : browser_.Names()) entries_.push_back({name, true});
  browser_.ShowLeafs(false);
  for (const std::string& name : browser_.Names()) entries_.push_back({name, false});
}

void TBrowseDlgModel::Back() {
  if (browser_.Path().empty()) return;
  browser_.MoveUp();
  Refresh();
}

void TBrowseDlgModel::EnterBranch(int index) {
  if (index < 0 || size_t(index) >= entries_.size() || !entries_[size_t(index)].Branch) return;
  browser_.MoveDown(entries_[size_t(index)].Text);
  Refresh();
}

bool TBrowseDlgModel::Open(bool filter_focused, const std::vector<int>& selected, std::vector<std::string>& ids) {
  ids.clear();
  if (filter_focused) {
    Refresh();
    return false;
  }
  std::vector<int> in_order = selected;
  std::sort(in_order.begin(), in_order.end());
  if (!in_order.empty() && in_order.front() >= 0 && size_t(in_order.front()) < entries_.size() &&
      entries_[size_t(in_order.front())].Branch) {
    EnterBranch(in_order.front());
    return false;
  }
  for (int i : in_order) {
    if (i < 0 || size_t(i) >= entries_.size() || entries_[size_t(i)].Branch) continue;
    // A leaf whose ID the server would not give (reported on the error line) is left out.
    std::string id = browser_.GetItemID(entries_[size_t(i)].Text);
    if (!id.empty()) ids.push_back(std::move(id));
  }
  return !ids.empty();
}

}  // namespace explorer
