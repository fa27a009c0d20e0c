#include "configurator/windows/station_dialog.h"

#include <algorithm>

#include "configurator/language.h"
#include "configurator/project.h"
#include "configurator/station_editor.h"
#include "configurator/windows/controls.h"
#include "configurator/windows/qt_text.h"
#include "configurator/windows/translate_form.h"

namespace configurator::windows {

namespace {
QLabel* Label(QWidget* parent, const char* caption, int x, int y, int w) { return NewLabel(parent, caption, {x, y, w, 17}); }
void Hint(QWidget* w, const char* hint) {
  w->setToolTip(Q(hint));
  w->setStatusTip(Q(hint));
}
}  // namespace

TfrmFuMo::TfrmFuMo(QWidget* parent, TStationEditor& editor) : QDialog(parent), editor_(editor) {
  setFixedSize(440, 470);
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  editName = Labelled<QLineEdit>(this, "@2&Name des Funkmodems:", {12, 10, 200, 17}, {12, 30, 200, 24});
  cbTyp = Labelled<QComboBox>(this, "@3&Typ des Funkmodems:", {228, 10, 200, 17}, {228, 30, 200, 24});
  Hint(cbTyp, "Typ des Funkmodems");
  Label(this, "@5Adresse des Funkmodems:", 12, 66, 200);
  cbAdresse = new QComboBox(this);
  cbAdresse->setGeometry(12, 86, 80, 24);
  // Up to 255 addresses: the list shows twenty and scrolls, also in styles whose drop-down
  // would otherwise list every entry as far as the screen reaches.
  cbAdresse->setMaxVisibleItems(20);
  cbAdresse->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  Hint(cbAdresse, "Adresse des Funkmodems");

  for (int k = 0; k < 8; ++k) {
    const int y = 124 + 28 * k;
    lblModule[size_t(k)] = Label(this, "", 12, y + 4, 160);
    cbModule[size_t(k)] = new QComboBox(this);
    cbModule[size_t(k)]->setGeometry(176, y, 252, 24);
    lblModule[size_t(k)]->setBuddy(cbModule[size_t(k)]);
    lblModule[size_t(k)]->setEnabled(k == 0);
    cbModule[size_t(k)]->setEnabled(k == 0);
    connect(cbModule[size_t(k)], &QComboBox::activated, this, [this, k](int index) {
      Take();
      editor_.ModuleChange(k + 1, index);
      Show();
    });
  }

  lblTO = Label(this, "@6Erweiterte Wartezeit:", 12, 356, 230);
  EditTO = new QSpinBox(this);
  EditTO->setGeometry(250, 352, 70, 24);
  EditTO->setRange(0, 999);
  EditTO->setSingleStep(10);
  lblTO->setBuddy(EditTO);
  lblTO2 = Label(this, "ms", 326, 356, 30);
  lblDoCheck = Label(this, "@7Onlinepr\xFC" "fung Kanalkonfiguration:", 12, 384, 230);
  cbDoCheck = new QCheckBox(this);
  cbDoCheck->setGeometry(250, 382, 22, 22);
  cbDoCheck->setEnabled(false);  // shows the stored value only
  Label(this, "@8Station nicht abfragen:", 12, 410, 230);
  CBNichtAbfragen = new QCheckBox(this);
  CBNichtAbfragen->setGeometry(250, 408, 22, 22);

  btnOK = new QPushButton(Q("@01OK"), this);
  btnOK->setGeometry(260, 436, 80, 26);
  btnOK->setDefault(true);
  btnAbbrechen = new QPushButton(Q("@02Abbrechen"), this);
  btnAbbrechen->setGeometry(348, 436, 80, 26);

  TranslateForm(this, "FM", editor.Project().Messages().Texts());
  setWindowTitle(Q(editor.Caption));
  const TDeviceTable& types = editor.Project().Tables().Stations;
  for (int i = 0; i < types.Count; ++i) cbTyp->addItem(Q(types.Entries[size_t(i)].Name));

  connect(cbTyp, &QComboBox::activated, this, [this](int index) {
    Take();
    editor_.TypeChange(index);
    Show();
  });
  connect(btnOK, &QPushButton::clicked, this, [this] { OkClick(); });
  connect(btnAbbrechen, &QPushButton::clicked, this, [this] { reject(); });
  CentreOnScreen(this);
}

void TfrmFuMo::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  editor_.Activate();
  Show();
}

void TfrmFuMo::Show() {
  editName->setText(Q(editor_.Name));
  cbTyp->setCurrentIndex(editor_.TypeIndex);
  QStringList addresses;
  for (int32_t a : editor_.FreeAddresses) addresses << QString::number(a);
  if (cbAdresse->count() != addresses.size()) {
    cbAdresse->clear();
    cbAdresse->addItems(addresses);
  }
  cbAdresse->setCurrentIndex(editor_.AddressIndex);
  for (size_t k = 0; k < 8; ++k) {
    const TModuleBox& m = editor_.Modules[k];
    QComboBox* box = cbModule[k];
    QStringList items;
    for (const TModuleBox::Item& item : m.Items) items << Q(item.Name);
    bool same = box->count() == items.size();
    for (int i = 0; same && i < box->count(); ++i) same = box->itemText(i) == items[i];
    if (!same) {
      box->clear();
      box->addItems(items);
    }
    box->setCurrentIndex(m.Index);
    box->setEnabled(m.Enabled);
    lblModule[k]->setEnabled(m.Enabled);
    lblModule[k]->setText(Q(editor_.ModuleLabels[k]));
  }
  EditTO->setMaximum(std::max(999, int(editor_.ExtraWait)));
  EditTO->setValue(editor_.ExtraWait);
  for (QWidget* w : {static_cast<QWidget*>(lblTO), static_cast<QWidget*>(lblTO2), static_cast<QWidget*>(EditTO)})
    w->setVisible(editor_.WaitVisible);
  lblDoCheck->setVisible(editor_.OnlineCheckVisible);
  cbDoCheck->setVisible(editor_.OnlineCheckVisible);
  cbDoCheck->setChecked(editor_.OnlineCheck);
  CBNichtAbfragen->setChecked(editor_.Relay);
  if (editor_.FocusSlot > 0) cbModule[size_t(editor_.FocusSlot - 1)]->setFocus();
  editor_.FocusSlot = 0;
}

void TfrmFuMo::Take() {
  editor_.Name = Cp(editName->text());
  editor_.AddressIndex = cbAdresse->currentIndex();
  editor_.ExtraWait = EditTO->value();
  editor_.Relay = CBNichtAbfragen->isChecked();
}

void TfrmFuMo::OkClick() {
  if (RefuseUncodable(editName, editor_.Project().Messages())) return;
  Take();
  if (editor_.Ok()) {
    accept();
    return;
  }
  if (editor_.FocusName) editName->setFocus();
  editor_.FocusName = false;
}

}  // namespace configurator::windows
