#include "explorer/qt/browse_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "explorer/qt/dialog_buttons.h"
#include "explorer/qt/qt_text.h"
#include "opcclient/kopl_server.h"

namespace explorer {

namespace {

constexpr int kBranchRole = Qt::UserRole;

}  // namespace

TKoplDlgBrowse::TKoplDlgBrowse(kopl::TKoplBrowser& browser, bool start_at_root, QWidget* parent)
    : QDialog(parent), model_(browser, start_at_root) {
  setWindowTitle("Open OPC Item");
  filter_ = new QLineEdit;
  data_type_ = new QComboBox;
  for (const std::string& name : BrowseDataTypeNames()) data_type_->addItem(Q(name));
  path_ = new QLineEdit;
  path_->setReadOnly(true);
  writable_ = new QCheckBox("Writable");
  readable_ = new QCheckBox("Readable");
  back_ = new QToolButton;
  back_->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
  back_->setToolTip("Back");

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel("Filter"), 0, 0);
  fields->addWidget(filter_, 0, 1);
  fields->addWidget(writable_, 0, 2);
  fields->addWidget(new QLabel("Datatyp"), 1, 0);
  fields->addWidget(data_type_, 1, 1);
  fields->addWidget(readable_, 1, 2);
  fields->addWidget(new QLabel("Path"), 2, 0);
  auto* path_row = new QHBoxLayout;
  path_row->addWidget(path_, 1);
  path_row->addWidget(back_);
  fields->addLayout(path_row, 2, 1, 1, 2);

  list_ = new QListWidget;
  list_->setViewMode(QListView::IconMode);
  list_->setResizeMode(QListView::Adjust);
  list_->setMovement(QListView::Static);
  list_->setWordWrap(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->installEventFilter(this);

  TDialogButtons buttons = DialogButtons(this, "&Open");
  open_ = buttons.Default;

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons.Row);
  resize(480, 400);

  // Leaving the filter field applies it; Enter there goes to "&Open", which does the same.
  filter_->installEventFilter(this);
  connect(data_type_, qOverload<int>(&QComboBox::activated), this, [this] { UpdateEvent(); });
  connect(writable_, &QCheckBox::clicked, this, [this] { UpdateEvent(); });
  connect(readable_, &QCheckBox::clicked, this, [this] { UpdateEvent(); });
  connect(back_, &QToolButton::clicked, this, [this] {
    Guard([this] {
      model_.Back();
      Render();
    });
  });
  connect(open_, &QPushButton::clicked, this, [this] { Guard([this] { Open(); }); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { Guard([this] { Open(); }); });
}

void TKoplDlgBrowse::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  Guard([this] {
    model_.Show();
    data_type_->setCurrentIndex(model_.DataType);
    Render();
  });
}

bool TKoplDlgBrowse::eventFilter(QObject* watched, QEvent* event) {
  if (watched == filter_ && event->type() == QEvent::FocusOut) UpdateEvent();
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Backspace) {
      Guard([this] {
        model_.Back();
        Render();
      });
      return true;
    }
    if (key->key() == Qt::Key_Space) {
      Guard([this] {
        QListWidgetItem* item = list_->currentItem();
        if (item && item->isSelected()) {
          model_.EnterBranch(list_->row(item));
          Render();
        }
      });
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TKoplDlgBrowse::UpdateEvent() { Guard([this] { Refresh(); }); }

void TKoplDlgBrowse::Refresh() {
  model_.Filter = S(filter_->text());
  model_.DataType = data_type_->currentIndex();
  model_.Writable = writable_->isChecked();
  model_.Readable = readable_->isChecked();
  model_.Refresh();
  Render();
}

void TKoplDlgBrowse::Render() {
  list_->clear();
  path_->setText(Q(model_.PathText()));
  const QIcon branch = style()->standardIcon(QStyle::SP_DirIcon);
  const QIcon leaf = style()->standardIcon(QStyle::SP_FileIcon);
  for (const auto& entry : model_.Entries()) {
    auto* item = new QListWidgetItem(entry.Branch ? branch : leaf, Q(entry.Text), list_);
    item->setData(kBranchRole, entry.Branch);
  }
  if (list_->count() > 0) {
    list_->setCurrentRow(0);
    list_->setFocus();
  }
}

void TKoplDlgBrowse::Open() {
  // Sync the filters first, the way leaving the filter field would.
  model_.Filter = S(filter_->text());
  model_.DataType = data_type_->currentIndex();
  model_.Writable = writable_->isChecked();
  model_.Readable = readable_->isChecked();
  std::vector<int> selected;
  for (QListWidgetItem* item : list_->selectedItems()) selected.push_back(list_->row(item));
  if (model_.Open(filter_->hasFocus(), selected, ids_)) {
    accept();
  } else {
    Render();
  }
}

bool BrowseItems(QWidget* parent, kopl::TKoplBrowser& browser, std::vector<std::string>& ids, bool start_at_root) {
  if (!browser.OPCServer() || !browser.OPCServer()->Active()) return false;
  TKoplDlgBrowse dlg(browser, start_at_root, parent);
  if (dlg.exec() != QDialog::Accepted) return false;
  ids = dlg.ItemIDs();
  return true;
}

}  // namespace explorer
