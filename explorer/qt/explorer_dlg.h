// The explorer window: the server's branches as a tree, the leaves of the selected branch as
// a multi-select list, and the commands that hand leaves to the inspector or show their
// properties.
#pragma once

#include <QHash>
#include <QWidget>
#include <functional>
#include <vector>

#include "explorer/explorer_model.h"

class QAction;
class QListWidget;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace explorer {

class TfrmProp;

class TExplorerDlg : public QWidget {
  Q_OBJECT
 public:
  explicit TExplorerDlg(TExplorerModel& model, QWidget* parent = nullptr);
  ~TExplorerDlg() override;

  // The properties form it fills (made at start-up and reused).
  void SetPropForm(TfrmProp* form) { prop_form_ = form; }
  // How a command reaches the main window: the message number is posted there.
  std::function<void(int message)> PostToMain;

  // The leaf list's selected rows, in list order, and its focused row (-1: none).
  std::vector<int> SelectedLeafs() const;
  int FocusedLeaf() const;

  QTreeWidget* Tree() const { return tree_; }
  QListWidget* Leafs() const { return list_; }
  QMenu* Popup() const { return popup_; }
  QAction* ItemsToInspector() const { return to_inspector_; }
  QAction* IdenticalToInspector() const { return identical_; }
  QAction* ShowPropertiesAction() const { return show_properties_; }

  void ItemstoInspector1Click();
  void AllidenticalItemstoInspector1Click();
  void ShowProperties1Click();

 private:
  void RenderTree();
  void RenderLeafs();
  void TreeView1Change();

  TExplorerModel& model_;
  TfrmProp* prop_form_ = nullptr;
  QTreeWidget* tree_;
  QListWidget* list_;
  QMenu* popup_;
  QAction* to_inspector_;
  QAction* identical_;
  QAction* show_properties_;
  QHash<QTreeWidgetItem*, const TBranchNode*> nodes_;
  bool rendering_ = false;
};

}  // namespace explorer
