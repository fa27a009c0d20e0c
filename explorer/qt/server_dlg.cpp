#include "explorer/qt/server_dlg.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "explorer/qt/qt_text.h"

namespace explorer {

namespace {

// The server's index in the search result, -1 on a category node.
constexpr int kServerRole = Qt::UserRole;

}  // namespace

TKoplServerBrowseDlg::TKoplServerBrowseDlg(platform::MessageService& messages, QWidget* parent)
    : QDialog(parent), model_(messages) {
  setWindowTitle("Select OPC Server");
  computer_ = new QLineEdit;
  server_name_ = new QLineEdit;
  server_name_->setReadOnly(true);
  class_id_ = new QLineEdit;
  class_id_->setReadOnly(true);
  auto* fields = new QFormLayout;
  fields->addRow("Computername", computer_);
  fields->addRow("Servername", server_name_);
  fields->addRow("Server Class ID", class_id_);

  search_ = new QPushButton("&Search");
  search_->setDefault(true);
  ok_ = new QPushButton("&Ok");
  auto* cancel = new QPushButton("&Cancel");
  ok_->setAutoDefault(false);
  cancel->setAutoDefault(false);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(search_);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  buttons->addStretch();

  auto* top = new QHBoxLayout;
  top->addLayout(fields, 1);
  top->addLayout(buttons);

  tree_ = new QTreeWidget;
  tree_->setHeaderHidden(true);
  tree_->setMinimumHeight(200);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(tree_, 1);
  resize(460, 380);

  model_.OnCleared = [this] {
    tree_->clear();
    QCoreApplication::processEvents();
  };
  connect(search_, &QPushButton::clicked, this, [this] { Guard([this] { Search(); }); });
  connect(ok_, &QPushButton::clicked, this, [this] { done(model_.OkResult() ? Accepted : Rejected); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { Selected(); });
}

void TKoplServerBrowseDlg::Search() {
  tree_->clear();
  model_.Select(-1);
  server_name_->clear();
  class_id_->clear();
  model_.Search(S(computer_->text()));
  for (const auto& category : model_.Categories()) {
    auto* node = new QTreeWidgetItem(tree_, QStringList{Q(category.Text)});
    node->setData(0, kServerRole, -1);
    for (int server : category.Servers) {
      auto* child = new QTreeWidgetItem(node, QStringList{Q(model_.Server(server).UserType)});
      child->setData(0, kServerRole, server);
    }
    node->setExpanded(true);
  }
}

void TKoplServerBrowseDlg::Selected() {
  QTreeWidgetItem* item = tree_->currentItem();
  model_.Select(item ? item->data(0, kServerRole).toInt() : -1);
  server_name_->setText(Q(model_.ProgID()));
  class_id_->setText(Q(model_.ClassID()));
}

bool SelectServer(QWidget* parent, platform::MessageService& messages, std::string& computer, std::string& prog_id,
                  std::string& clsid_text) {
  TKoplServerBrowseDlg dlg(messages, parent);
  dlg.Computer()->setText(Q(computer));
  const bool ok = dlg.exec() == QDialog::Accepted;
  prog_id = S(dlg.ServerName()->text());
  clsid_text = S(dlg.ClassId()->text());
  computer = S(dlg.Computer()->text());
  return ok;
}

}  // namespace explorer
