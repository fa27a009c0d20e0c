#include "explorer/qt/explorer_dlg.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "explorer/qt/prop_form.h"
#include "explorer/qt/qt_text.h"
#include "opcclient/kopl_window.h"

namespace explorer {

namespace {

QWidget* Titled(const char* title, QWidget* inner) {
  auto* box = new QWidget;
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(title));
  layout->addWidget(inner, 1);
  return box;
}

}  // namespace

TExplorerDlg::TExplorerDlg(TExplorerModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  setWindowTitle("OPC Explorer");
  tree_ = new QTreeWidget;
  tree_->setHeaderHidden(true);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_ = new QListWidget;
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);

  popup_ = new QMenu(this);
  to_inspector_ = popup_->addAction("Items to Inspector...");
  identical_ = popup_->addAction("All identical Items to Inspector");
  show_properties_ = popup_->addAction("Show Properties");

  auto* splitter = new QSplitter;
  splitter->addWidget(Titled("Path (Branches)", tree_));
  splitter->addWidget(Titled("Items (Leafs)", list_));
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter);

  model_.OnTreeChanged = [this] { RenderTree(); };
  model_.OnLeafsChanged = [this] { RenderLeafs(); };
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (!rendering_) TreeView1Change();
  });
  connect(list_, &QListWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { popup_->popup(list_->viewport()->mapToGlobal(at)); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { ShowProperties1Click(); });
  connect(to_inspector_, &QAction::triggered, this, [this] { ItemstoInspector1Click(); });
  connect(identical_, &QAction::triggered, this, [this] { AllidenticalItemstoInspector1Click(); });
  connect(show_properties_, &QAction::triggered, this, [this] { ShowProperties1Click(); });
  RenderTree();
  RenderLeafs();
}

TExplorerDlg::~TExplorerDlg() {
  model_.OnTreeChanged = nullptr;
  model_.OnLeafsChanged = nullptr;
}

void TExplorerDlg::RenderTree() {
  rendering_ = true;
  tree_->clear();
  nodes_.clear();
  QIcon icon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  icon.addPixmap(style()->standardIcon(QStyle::SP_DirOpenIcon).pixmap(16), QIcon::Selected);
  QTreeWidgetItem* selected = nullptr;
  std::function<void(QTreeWidgetItem*, const std::vector<std::unique_ptr<TBranchNode>>&)> add =
      [&](QTreeWidgetItem* parent, const std::vector<std::unique_ptr<TBranchNode>>& children) {
        for (const auto& node : children) {
          auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
          item->setText(0, Q(node->Text));
          item->setIcon(0, icon);
          nodes_.insert(item, node.get());
          if (node.get() == model_.Selected()) selected = item;
          add(item, node->Children);
        }
      };
  add(nullptr, model_.Tree().Top());
  if (selected) tree_->setCurrentItem(selected);
  rendering_ = false;
}

void TExplorerDlg::RenderLeafs() {
  QStringList names;
  for (const std::string& leaf : model_.Leafs()) names << Q(leaf);
  // The same leaves again (after a search of identical items) keep their selection.
  QStringList shown;
  for (int i = 0; i < list_->count(); ++i) shown << list_->item(i)->text();
  if (shown == names) return;
  list_->clear();
  list_->addItems(names);
}

void TExplorerDlg::TreeView1Change() {
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  const TBranchNode* node = selected.isEmpty() ? nullptr : nodes_.value(selected.front(), nullptr);
  Guard([&] { model_.SelectNode(node); });
}

std::vector<int> TExplorerDlg::SelectedLeafs() const {
  std::vector<int> rows;
  for (QListWidgetItem* item : list_->selectedItems()) rows.push_back(list_->row(item));
  std::sort(rows.begin(), rows.end());
  return rows;
}

int TExplorerDlg::FocusedLeaf() const { return list_->currentRow(); }

void TExplorerDlg::ItemstoInspector1Click() {
  if (!list_->selectedItems().isEmpty() && PostToMain) PostToMain(kopl::WM_USER + 1);
}

void TExplorerDlg::AllidenticalItemstoInspector1Click() {
  if (!list_->selectedItems().isEmpty() && PostToMain) PostToMain(kopl::WM_USER + 2);
}

void TExplorerDlg::ShowProperties1Click() {
  Guard([this] {
    std::optional<TPropertyForm> form = model_.ShowProperties(FocusedLeaf());
    if (!form || !prop_form_) return;
    prop_form_->Fill(*form);
    prop_form_->exec();
  });
}

}  // namespace explorer
