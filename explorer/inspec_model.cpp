#include "explorer/inspec_model.h"

#include <algorithm>
#include <charconv>
#include <clocale>

#include "explorer/protocol_file.h"
#include "opcclient/kopl_errors.h"
#include "platform/filetime.h"

namespace explorer {

namespace {

// The item already holds what a data change brought.
bool HasData(const kopl::TKoplItem& item) {
  return item.TimeStamp() != 0 || item.Value().vt() != platform::com::VT_EMPTY;
}

}  // namespace

char DecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  return conv && conv->decimal_point && conv->decimal_point[0] ? conv->decimal_point[0] : '.';
}

std::string FormatDeadBand(float dead_band, char separator) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, double(dead_band), std::chars_format::fixed, 2);
  std::string text(buf, r.ptr);
  for (char& c : text) {
    if (c == '.') c = separator;
  }
  return text;
}

TInspecModel::TInspecModel(kopl::TKoplServer& server, TExplorerDialogs& dialogs, platform::MessageService& messages,
                           platform::Clock& clock)
    : server_(server), dialogs_(dialogs), messages_(messages), clock_(clock) {}

TInspecModel::~TInspecModel() { DropRows(); }

kopl::TKoplGroup* TInspecModel::SelectedGroup() {
  if (selected_ < 0 || size_t(selected_) >= nodes_.size()) return nullptr;
  return server_.OPCGroups().Find(nodes_[size_t(selected_)]);
}

TItemRow* TInspecModel::RowAt(int index) {
  if (index < 0 || size_t(index) >= rows_.size()) return nullptr;
  return rows_[size_t(index)].get();
}

void TInspecModel::DropRows() {
  // Only the rows set an item's Data, so every live item that holds one points at a row. The
  // rows' own item references are not followed: the items may already be gone.
  if (!rows_.empty()) {
    kopl::TKoplGroups& groups = server_.OPCGroups();
    for (int32_t g = 0; g < groups.Count(); ++g) {
      kopl::TKoplItems& items = groups[g].OPCItems();
      for (int32_t i = 0; i < items.Count(); ++i) items[i].Data = nullptr;
    }
  }
  rows_.clear();
}

void TInspecModel::AddRow(kopl::TKoplItem& item) {
  auto row = std::make_unique<TItemRow>();
  FillItemRow(*row, item);
  if (HasData(item)) UpdateItemRow(*row, item);
  row->Item = &item;
  row->Index = int(rows_.size());
  item.Data = row.get();
  rows_.push_back(std::move(row));
}

void TInspecModel::ShowRows() {
  DropRows();
  if (kopl::TKoplGroup* group = SelectedGroup()) {
    kopl::TKoplItems& items = group->OPCItems();
    for (int32_t i = 0; i < items.Count(); ++i) AddRow(items[i]);
  }
  View().RowsReset();
}

void TInspecModel::ClearGroupState() {
  group_state_ = TGroupStateTexts{};
  View().GroupStateChanged();
}

void TInspecModel::FormShow() {
  if (shown_) return;  // showing the sheet again keeps what the user built
  shown_ = true;
  DropRows();
  nodes_.clear();
  selected_ = -1;
  View().RowsReset();
  View().GroupsChanged();
  ClearGroupState();
  AddDefaultGroup("Default");
}

void TInspecModel::AddDefaultGroup(const std::string& name) {
  server_.OPCGroups().Add(name);
  nodes_.push_back(name);
  SelectNode(int(nodes_.size()) - 1);
}

void TInspecModel::SelectNode(int index) {
  selected_ = index >= 0 && size_t(index) < nodes_.size() ? index : -1;
  View().GroupsChanged();
  ShowRows();
}

void TInspecModel::RebuildTree() {
  DropRows();
  nodes_.clear();
  selected_ = -1;
  kopl::TKoplGroups& groups = server_.OPCGroups();
  for (int32_t g = 0; g < groups.Count(); ++g) nodes_.push_back(groups[g].Name());
  if (!nodes_.empty()) {
    SelectNode(0);
  } else {
    View().GroupsChanged();
    View().RowsReset();
  }
  ShowGroupState();
}

void TInspecModel::ShowGroupState() {
  kopl::TKoplGroup* group = server_.Active() ? SelectedGroup() : nullptr;
  if (!group) return ClearGroupState();
  kopl::tGroupStateRec state = group->GetState();
  group_state_.Name = state.Name;
  group_state_.UpdateRate = std::to_string(state.UpdateRate);
  group_state_.DeadBand = FormatDeadBand(state.DeadBand, DecimalSeparator());
  group_state_.Active = state.Active ? "active" : "not active";
  View().GroupStateChanged();
}

void TInspecModel::DataChange(const kopl::TKoplItemList& items) {
  for (kopl::TKoplItem* item : items) {
    auto* row = static_cast<TItemRow*>(item->Data);
    if (!row) continue;
    UpdateItemRow(*row, *item);
    View().RowChanged(row->Index);
  }
}

void TInspecModel::AddGroup() {
  kopl::TdDefaultGroup& defaults = server_.OPCGroupDefault();
  kopl::tGroupStateRec state;
  state.UpdateRate = defaults.UpdateRate;
  state.Active = defaults.IsActive;
  state.LocaleId = defaults.LocaleId;
  state.DeadBand = defaults.DeadBand;
  state.TimeBias = defaults.TimeBias;
  if (!dialogs_.EditGroup(state)) return;
  // The next dialog starts from what was entered now.
  defaults.UpdateRate = state.UpdateRate;
  defaults.IsActive = state.Active;
  defaults.LocaleId = state.LocaleId;
  defaults.DeadBand = state.DeadBand;
  defaults.TimeBias = state.TimeBias;
  try {
    server_.OPCGroups().Add(state.Name);
  } catch (...) {
    // A group that the server refused still joined the collection: it gets its node, so the
    // tree keeps showing every group there is.
    if (server_.OPCGroups().Find(state.Name) && std::find(nodes_.begin(), nodes_.end(), state.Name) == nodes_.end()) {
      nodes_.push_back(state.Name);
      SelectNode(int(nodes_.size()) - 1);
    }
    throw;
  }
  nodes_.push_back(state.Name);
  SelectNode(int(nodes_.size()) - 1);
}

void TInspecModel::RemoveGroup() {
  if (selected_ < 0) return;
  const int removed = selected_;
  DropRows();
  View().RowsReset();
  try {
    server_.OPCGroups().Remove(nodes_[size_t(removed)]);
  } catch (...) {
    ShowRows();
    throw;
  }
  nodes_.erase(nodes_.begin() + removed);
  // Like any tree, the selection passes to the neighbour, whose items then show.
  SelectNode(nodes_.empty() ? -1 : std::min(removed, int(nodes_.size()) - 1));
}

void TInspecModel::RemoveAllGroups() {
  DropRows();
  View().RowsReset();
  try {
    server_.OPCGroups().Clear();
  } catch (...) {
    RebuildTree();
    throw;
  }
  nodes_.clear();
  selected_ = -1;
  View().GroupsChanged();
}

void TInspecModel::GroupProperties() {
  if (selected_ < 0) {
    messages_.Show(platform::MessageKind::Plain, "First select Group", platform::MessageButtons::Ok);
    return;
  }
  kopl::TKoplGroup* group = SelectedGroup();
  if (!group) {
    messages_.Show(platform::MessageKind::Plain, "ERROR", platform::MessageButtons::Ok);
    return;
  }
  kopl::tGroupStateRec state;
  state.Name = group->Name();
  state.UpdateRate = group->UpdateRate();
  state.Active = group->IsActive();
  state.LocaleId = group->LocaleId();
  state.DeadBand = group->DeadBand();
  state.TimeBias = group->TimeBias();
  const int node = selected_;
  if (!dialogs_.EditGroup(state)) return;
  // The dialog is modal: the group may have gone meanwhile (a server shutdown keeps groups,
  // so only a freed group counts).
  if (SelectedGroup() != group) return;
  group->SetName(state.Name);
  nodes_[size_t(node)] = state.Name;
  View().GroupsChanged();
  group->SetUpdateRate(state.UpdateRate);
  group->SetIsActive(state.Active);
  group->SetLocaleId(state.LocaleId);
  group->SetDeadBand(state.DeadBand);
  group->SetTimeBias(state.TimeBias);
}

void TInspecModel::AddItemsFromBrowser() {
  std::vector<std::string> ids;
  if (!dialogs_.BrowseItems(server_.Browser(), ids, false)) return;
  AddItems(SelectedGroup(), ids);
}

void TInspecModel::AddItems(kopl::TKoplGroup* group, const std::vector<std::string>& ids) {
  if (!group) return;
  kopl::TKoplItems& items = group->OPCItems();
  for (const std::string& id : ids) {
    group->DefaultItem().IsActive = true;
    const int32_t before = items.Count();
    try {
      items.Add(id);
    } catch (...) {
      // The server refused the item, but it stays in the group: its row shows it.
      if (items.Count() > before && group == SelectedGroup()) {
        AddRow(items[items.Count() - 1]);
        View().RowAdded(RowCount() - 1);
      }
      throw;
    }
    if (group == SelectedGroup()) {
      AddRow(items[items.Count() - 1]);
      View().RowAdded(RowCount() - 1);
    }
  }
}

void TInspecModel::AddItemsToGroup(const std::string& group_name, const std::vector<std::string>& ids) {
  AddItems(server_.OPCGroups().Find(group_name), ids);
}

bool TInspecModel::ItemMenuEnabled() { return SelectedGroup() != nullptr; }

bool TInspecModel::ItemActiveChecked(int row) {
  TItemRow* r = SelectedGroup() ? RowAt(row) : nullptr;
  return r && r->Item->IsActive();
}

void TInspecModel::ToggleActive(int row, bool checked) {
  TItemRow* r = RowAt(row);
  if (!r) return;
  auto refresh = [&] {
    FillItemRow(*r, *r->Item);
    UpdateItemRow(*r, *r->Item);
    View().RowChanged(row);
  };
  try {
    r->Item->SetIsActive(!checked);
  } catch (...) {
    refresh();  // the flag may have changed even though the server refused
    throw;
  }
  refresh();
}

void TInspecModel::RemoveItem(int row) {
  TItemRow* r = RowAt(row);
  if (!r) return;
  kopl::TKoplItem* item = r->Item;
  item->Data = nullptr;
  rows_.erase(rows_.begin() + row);
  for (size_t i = size_t(row); i < rows_.size(); ++i) rows_[i]->Index = int(i);
  View().RowRemoved(row);
  item->Collection().Delete(*item);
}

void TInspecModel::RemoveAllItems() {
  kopl::TKoplGroup* group = SelectedGroup();
  if (!group) return;
  DropRows();
  try {
    group->OPCItems().Clear();
  } catch (...) {
    ShowRows();
    throw;
  }
  View().RowsReset();
}

void TInspecModel::WriteValue(int row, bool async) {
  TItemRow* r = RowAt(row);
  if (!r) return;
  std::string text;
  if (!dialogs_.InputQuery(async ? "Async Write new Value" : "Sync Write new Value", "new Value", text)) return;
  if (RowAt(row) != r) return;  // the rows changed while the box was open
  kopl::Variant value = kopl::Variant::Str(kopl::ToOpcText(text));
  if (async) {
    r->Item->WriteAsync(value);
  } else {
    r->Item->WriteSync(value);
  }
}

std::string TInspecModel::WriteProtocol() {
  std::vector<const TItemRowTexts*> rows;
  for (const auto& r : rows_) rows.push_back(r.get());
  const std::string name = ProtocolFileName(kopl::FileTimeToDateTime(platform::ToFileTime(clock_.Now())));
  WriteProtocolFile(name, ProtocolText(rows));
  return name;
}

}  // namespace explorer
