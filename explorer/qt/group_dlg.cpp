#include "explorer/qt/group_dlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "explorer/group_dlg_model.h"
#include "explorer/inspec_model.h"
#include "explorer/qt/dialog_buttons.h"
#include "explorer/qt/qt_text.h"
#include "platform/message_service.h"

namespace explorer {

TEditGroupDlg::TEditGroupDlg(platform::MessageService& messages, QWidget* parent)
    : QDialog(parent), messages_(messages) {
  setWindowTitle("Edit Group");
  name_ = new QLineEdit;
  rate_ = new QLineEdit("1000");
  dead_band_ = new QLineEdit("0");
  active_ = new QCheckBox("Active");
  auto* fields = new QFormLayout;
  fields->addRow("Groupname", name_);
  fields->addRow("UpdateRate", rate_);
  fields->addRow("DeadBand", dead_band_);
  fields->addRow("", active_);

  TDialogButtons buttons = DialogButtons(this, "&Ok");
  ok_ = buttons.Default;

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons.Row);

  connect(ok_, &QPushButton::clicked, this, [this] { Guard([this] { Ok(); }); });
}

void TEditGroupDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  TEditGroupTexts texts = GroupDialogTexts(State, DecimalSeparator());
  rate_->setText(Q(texts.UpdateRate));
  name_->setText(Q(texts.Name));
  dead_band_->setText(Q(texts.DeadBand));
  active_->setChecked(texts.Active);
}

void TEditGroupDlg::Ok() {
  TEditGroupTexts texts{S(name_->text()), S(rate_->text()), S(dead_band_->text()), active_->isChecked()};
  // A number that does not convert raises to the program's report; the dialog stays open.
  if (AcceptGroupDialog(texts, DecimalSeparator(), State) == TEditGroupResult::BlankName) {
    messages_.Beep();
    name_->setFocus();
    return;
  }
  accept();
}

bool EditGroup(QWidget* parent, platform::MessageService& messages, kopl::tGroupStateRec& state) {
  TEditGroupDlg dlg(messages, parent);
  dlg.State = state;
  if (dlg.exec() != QDialog::Accepted) return false;
  state = dlg.State;
  return true;
}

TSelGroupDlg::TSelGroupDlg(const std::vector<std::string>& names, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Items to Group");
  list_ = new QListWidget;
  for (const std::string& name : names) list_->addItem(Q(name));
  TDialogButtons buttons = DialogButtons(this, "&OK");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Possible Groups"));
  layout->addWidget(list_, 1);
  layout->addLayout(buttons.Row);

  connect(buttons.Default, &QPushButton::clicked, this, &QDialog::accept);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

void TSelGroupDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (list_->count() > 0 && list_->selectedItems().isEmpty()) list_->setCurrentRow(0);
}

std::string TSelGroupDlg::Picked() const {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? "" : S(selected.front()->text());
}

std::string SelectGroup(QWidget* parent, const std::vector<std::string>& names) {
  TSelGroupDlg dlg(names, parent);
  if (dlg.exec() != QDialog::Accepted) return "";
  return dlg.Picked();
}

}  // namespace explorer
