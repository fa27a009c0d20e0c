// What the inspector window shows and does: the connection's groups as a list of nodes, the
// items of the selected group as rows with their live values, the group-state panel, the
// group and item commands and the text protocol.
//
// Each row and its item point at each other (the item's Data is its row). Only the selected
// group's items have rows; rows are dropped before the items they show can be freed, and an
// item's Data is cleared when its row goes, so a data change never reaches a row that is gone.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "explorer/explorer_dialogs.h"
#include "explorer/item_texts.h"
#include "opcclient/kopl_group.h"
#include "opcclient/kopl_server.h"
#include "platform/clock.h"
#include "platform/message_service.h"

namespace explorer {

struct TItemRow : TItemRowTexts {
  kopl::TKoplItem* Item = nullptr;
  int Index = -1;  // its position in the list, so a data change finds it at once
};

// The value labels of the group-state panel.
struct TGroupStateTexts {
  std::string Name;
  std::string UpdateRate;
  std::string DeadBand;
  std::string Active;
};

// The decimal separator of the program's locale.
char DecimalSeparator();
// "%.2f" with the given decimal separator.
std::string FormatDeadBand(float dead_band, char separator);

class TInspecView {
 public:
  virtual ~TInspecView() = default;
  // The group nodes or the selected node changed.
  virtual void GroupsChanged() {}
  // Rows: all anew, one appended, one changed, one removed.
  virtual void RowsReset() {}
  virtual void RowAdded(int /*row*/) {}
  virtual void RowChanged(int /*row*/) {}
  virtual void RowRemoved(int /*row*/) {}
  virtual void GroupStateChanged() {}
};

class TInspecModel {
 public:
  TInspecModel(kopl::TKoplServer& server, TExplorerDialogs& dialogs, platform::MessageService& messages,
               platform::Clock& clock);
  ~TInspecModel();
  TInspecModel(const TInspecModel&) = delete;
  TInspecModel& operator=(const TInspecModel&) = delete;

  void SetView(TInspecView* view) { view_ = view; }
  kopl::TKoplServer& OPCServer() { return server_; }

  // ---- what the window shows ----
  const std::vector<std::string>& GroupNodes() const { return nodes_; }
  int SelectedNode() const { return selected_; }
  int RowCount() const { return int(rows_.size()); }
  const TItemRow& Row(int index) const { return *rows_.at(size_t(index)); }
  const TGroupStateTexts& GroupState() const { return group_state_; }
  // The group the selected node names; null when none is selected or none has that name.
  kopl::TKoplGroup* SelectedGroup();
  // Names of all group nodes, in tree order.
  std::vector<std::string> GetGroupNames() const { return nodes_; }

  // ---- called by the main window ----
  // First showing: empty views, empty panel, and the group "Default".
  void FormShow();
  // One node per group of the connection; the first selected.
  void RebuildTree();
  // The panel from the selected group's state while connected; else empty.
  void ShowGroupState();
  void DataChange(const kopl::TKoplItemList& items);
  void AddItemsToGroup(const std::string& group_name, const std::vector<std::string>& ids);

  // ---- the window's commands ----
  // The user selected a node (-1: none).
  void SelectNode(int index);
  void AddGroup();
  void RemoveGroup();
  void RemoveAllGroups();
  void GroupProperties();
  // "Add Item..": the item browse dialog from the browser's current position.
  void AddItemsFromBrowser();
  void AddItems(kopl::TKoplGroup* group, const std::vector<std::string>& ids);
  // The item popup: its entries are enabled only while a group is selected; "Active" is
  // checked when the row's item is active.
  bool ItemMenuEnabled();
  bool ItemActiveChecked(int row);
  // "Active" was clicked; checked is its check mark before the click.
  void ToggleActive(int row, bool checked);
  void RemoveItem(int row);
  void RemoveAllItems();
  void WriteValue(int row, bool async);
  // The rows into a new protocol file in the current directory; returns its name.
  std::string WriteProtocol();

 private:
  void AddDefaultGroup(const std::string& name);
  void ClearGroupState();
  // Clears the Data of every live item that points at one of the rows, then drops the rows.
  void DropRows();
  void AddRow(kopl::TKoplItem& item);
  void ShowRows();
  TItemRow* RowAt(int index);

  kopl::TKoplServer& server_;
  TExplorerDialogs& dialogs_;
  platform::MessageService& messages_;
  platform::Clock& clock_;
  TInspecView* view_ = nullptr;
  TInspecView no_view_;
  TInspecView& View() { return view_ ? *view_ : no_view_; }

  bool shown_ = false;
  std::vector<std::string> nodes_;
  int selected_ = -1;
  std::vector<std::unique_ptr<TItemRow>> rows_;
  TGroupStateTexts group_state_;
};

}  // namespace explorer
