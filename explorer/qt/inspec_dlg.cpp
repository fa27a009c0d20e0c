#include "explorer/qt/inspec_dlg.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "explorer/qt/qt_text.h"

namespace explorer {

namespace {

constexpr int kValueColumn = 3;
constexpr int kHexColumn = 4;
constexpr int kNarrowColumnMax = 80;

}  // namespace

TInspecDlg::TInspecDlg(TInspecModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  setWindowTitle("OPC Inspector");
  tree_ = new QTreeWidget;
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(false);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setToolTip("click right mousekey to edit groups");
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);

  items_ = new QTreeWidget;
  items_->setRootIsDecorated(false);
  items_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  items_->setToolTip("click right mousekey to edit Items");
  items_->setContextMenuPolicy(Qt::CustomContextMenu);
  items_->setHeaderLabels({"ItemId", "Accesspath", "Active", "Value", "HexVal", "Time", "Quality"});
  items_->headerItem()->setTextAlignment(kHexColumn, Qt::AlignRight | Qt::AlignVCenter);
  const int widths[] = {220, 90, 50, kNarrowColumnMax, kNarrowColumnMax, 70, 60};
  for (int c = 0; c < 7; ++c) items_->setColumnWidth(c, widths[c]);
  connect(items_->header(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
    if ((section == kValueColumn || section == kHexColumn) && size > kNarrowColumnMax)
      items_->setColumnWidth(section, kNarrowColumnMax);
  });

  group_popup_ = new QMenu(this);
  QAction* add_group = group_popup_->addAction("Add Group...");
  QAction* remove_group = group_popup_->addAction("Remove Group");
  QAction* remove_all_groups = group_popup_->addAction("Remove all Groups");
  QAction* properties = group_popup_->addAction("Properties...");

  item_popup_ = new QMenu(this);
  QAction* add_item = item_popup_->addAction("Add Item..");
  QAction* remove_item = item_popup_->addAction("Remove Item");
  QAction* remove_all_items = item_popup_->addAction("Remove all Items");
  active_ = item_popup_->addAction("Active");
  active_->setCheckable(true);
  QAction* sync_write = item_popup_->addAction("Sync Write Value...");
  QAction* async_write = item_popup_->addAction("Async Write Value...");
  item_popup_->addSeparator();
  QAction* protocol = item_popup_->addAction("all items to textprotocol");

  auto* panel = new QGridLayout;
  const char* captions[] = {"Groupstate", "Updaterate", "Deadband", "Active"};
  for (int i = 0; i < 4; ++i) {
    state_labels_[i] = new QLabel;
    panel->addWidget(new QLabel(captions[i]), 0, 2 * i);
    panel->addWidget(state_labels_[i], 0, 2 * i + 1);
    panel->setColumnStretch(2 * i + 1, 1);
  }

  auto* splitter = new QSplitter;
  splitter->addWidget(tree_);
  splitter->addWidget(items_);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 4);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter, 1);
  layout->addLayout(panel);

  model_.SetView(this);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (rendering_) return;
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    const int index = selected.isEmpty() ? -1 : tree_->indexOfTopLevelItem(selected.front());
    Command([this, index] { model_.SelectNode(index); });
  });
  connect(tree_, &QTreeWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { group_popup_->popup(tree_->viewport()->mapToGlobal(at)); });
  connect(items_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    ItemPopupPopup();
    item_popup_->popup(items_->viewport()->mapToGlobal(at));
  });
  connect(items_, &QTreeWidget::itemDoubleClicked, this, [this] { Command([this] { model_.WriteValue(SelectedRow(), false); }); });

  connect(add_group, &QAction::triggered, this, [this] { Command([this] { model_.AddGroup(); }); });
  connect(remove_group, &QAction::triggered, this, [this] { Command([this] { model_.RemoveGroup(); }); });
  connect(remove_all_groups, &QAction::triggered, this, [this] { Command([this] { model_.RemoveAllGroups(); }); });
  connect(properties, &QAction::triggered, this, [this] { Command([this] { model_.GroupProperties(); }); });
  connect(add_item, &QAction::triggered, this, [this] { Command([this] { model_.AddItemsFromBrowser(); }); });
  connect(remove_item, &QAction::triggered, this, [this] { Command([this] { model_.RemoveItem(SelectedRow()); }); });
  connect(remove_all_items, &QAction::triggered, this, [this] { Command([this] { model_.RemoveAllItems(); }); });
  // The check mark has already flipped when triggered: the model wants it as it was.
  connect(active_, &QAction::triggered, this,
          [this](bool now) { Command([this, now] { model_.ToggleActive(SelectedRow(), !now); }); });
  connect(sync_write, &QAction::triggered, this, [this] { Command([this] { model_.WriteValue(SelectedRow(), false); }); });
  connect(async_write, &QAction::triggered, this, [this] { Command([this] { model_.WriteValue(SelectedRow(), true); }); });
  connect(protocol, &QAction::triggered, this, [this] { Command([this] { model_.WriteProtocol(); }); });

  GroupsChanged();
  RowsReset();
  GroupStateChanged();
}

TInspecDlg::~TInspecDlg() { model_.SetView(nullptr); }

void TInspecDlg::Command(const std::function<void()>& command) { Guard(command); }

int TInspecDlg::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = items_->selectedItems();
  return selected.isEmpty() ? -1 : items_->indexOfTopLevelItem(selected.front());
}

void TInspecDlg::ItemPopupPopup() {
  const bool enabled = model_.ItemMenuEnabled();
  for (QAction* action : item_popup_->actions()) action->setEnabled(enabled);
  active_->setChecked(enabled && model_.ItemActiveChecked(SelectedRow()));
}

void TInspecDlg::GroupsChanged() {
  rendering_ = true;
  QStringList names;
  for (const std::string& name : model_.GroupNodes()) names << Q(name);
  QStringList shown;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) shown << tree_->topLevelItem(i)->text(0);
  // A click on a node changes only the selection: the nodes stay as they are.
  if (shown != names) {
    tree_->clear();
    for (const QString& name : names) tree_->addTopLevelItem(new QTreeWidgetItem(QStringList{name}));
  }
  QTreeWidgetItem* selected = tree_->topLevelItem(model_.SelectedNode());
  if (selected && tree_->currentItem() != selected) {
    tree_->setCurrentItem(selected);
    tree_->setFocus();
  } else if (selected) {
    selected->setSelected(true);
  } else {
    tree_->clearSelection();
  }
  rendering_ = false;
}

void TInspecDlg::SetRow(QTreeWidgetItem* item, const TItemRow& row) {
  const std::string* texts[] = {&row.ItemId, &row.AccessPath, &row.Active, &row.Value,
                                &row.HexVal, &row.Time,       &row.Quality};
  for (int c = 0; c < 7; ++c) item->setText(c, Q(*texts[c]));
  item->setTextAlignment(kHexColumn, Qt::AlignRight | Qt::AlignVCenter);
}

void TInspecDlg::RowsReset() {
  // Hidden while it fills, so a large group appears at once.
  items_->setUpdatesEnabled(false);
  items_->clear();
  for (int i = 0; i < model_.RowCount(); ++i) SetRow(new QTreeWidgetItem(items_), model_.Row(i));
  items_->setUpdatesEnabled(true);
}

void TInspecDlg::RowAdded(int row) {
  auto* item = new QTreeWidgetItem;
  SetRow(item, model_.Row(row));
  items_->insertTopLevelItem(row, item);
}

void TInspecDlg::RowChanged(int row) {
  if (QTreeWidgetItem* item = items_->topLevelItem(row)) SetRow(item, model_.Row(row));
}

void TInspecDlg::RowRemoved(int row) { delete items_->takeTopLevelItem(row); }

void TInspecDlg::GroupStateChanged() {
  const TGroupStateTexts& s = model_.GroupState();
  state_labels_[0]->setText(Q(s.Name));
  state_labels_[1]->setText(Q(s.UpdateRate));
  state_labels_[2]->setText(Q(s.DeadBand));
  state_labels_[3]->setText(Q(s.Active));
}

}  // namespace explorer
