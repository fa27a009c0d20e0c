// The inspector window: the groups as a list of nodes, the selected group's items with their
// live values, the group-state panel and the popup menus of groups and items.
#pragma once

#include <QWidget>

#include "explorer/inspec_model.h"

class QAction;
class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace explorer {

class TInspecDlg : public QWidget, private TInspecView {
  Q_OBJECT
 public:
  explicit TInspecDlg(TInspecModel& model, QWidget* parent = nullptr);
  ~TInspecDlg() override;

  QTreeWidget* Groups() const { return tree_; }
  QTreeWidget* ItemView() const { return items_; }
  QMenu* GroupPopup() const { return group_popup_; }
  QMenu* ItemPopup() const { return item_popup_; }
  QAction* ActiveAction() const { return active_; }
  QLabel* StateLabel(int index) const { return state_labels_[index]; }
  // The item popup's entries as they are about to show (ItemPopupPopup).
  void ItemPopupPopup();
  // The selected row, -1 when none.
  int SelectedRow() const;

 private:
  void GroupsChanged() override;
  void RowsReset() override;
  void RowAdded(int row) override;
  void RowChanged(int row) override;
  void RowRemoved(int row) override;
  void GroupStateChanged() override;
  void SetRow(QTreeWidgetItem* item, const TItemRow& row);
  void Command(const std::function<void()>& command);

  TInspecModel& model_;
  QTreeWidget* tree_;
  QTreeWidget* items_;
  QMenu* group_popup_;
  QMenu* item_popup_;
  QAction* active_;
  QLabel* state_labels_[4];
  bool rendering_ = false;
};

}  // namespace explorer
