#include "configurator/windows/zfm_dialog.h"

#include <algorithm>

#include "configurator/device_types.h"
#include "configurator/language.h"
#include "configurator/project.h"
#include "configurator/windows/controls.h"
#include "configurator/windows/qt_text.h"
#include "configurator/windows/translate_form.h"
#include "configurator/zfm_editor.h"

namespace configurator::windows {

namespace {
QLabel* Label(QWidget* parent, const char* caption, int x, int y, int w = 160) { return NewLabel(parent, caption, {x, y, w, 17}); }
}  // namespace

TfrmZFM::TfrmZFM(QWidget* parent, TZFMEditor& editor, const TDeviceTable& types) : QDialog(parent), editor_(editor) {
  setFixedSize(420, 352);
  editName = Labelled<QLineEdit>(this, "@2&Name des Zentralfunkmodems:", {12, 10, 196, 17}, {12, 30, 190, 24});
  cbTyp = Labelled<QComboBox>(this, "@3&Typ des Zentralfunkmodems:", {216, 10, 196, 17}, {216, 30, 192, 24});

  gbBetriebsart = new QGroupBox(Q("@10Betriebsart"), this);
  gbBetriebsart->setGeometry(12, 64, 396, 52);
  const char* modes[] = {"@11ISM", "@12MoP", "@13n\xF6" "DatFu"};
  for (int i = 0; i < 3; ++i) {
    rbMode[size_t(i)] = new QRadioButton(Q(modes[i]), gbBetriebsart);
    rbMode[size_t(i)]->setGeometry(12 + 128 * i, 22, 120, 22);
    rbMode[size_t(i)]->setEnabled(false);  // the mode follows from the type
  }

  GroupBox4 = new QGroupBox(Q("@30RS232-Schnitstelle"), this);
  GroupBox4->setGeometry(12, 124, 396, 180);
  lblPort = Label(GroupBox4, "@31Serielle Schnittstelle:", 12, 26);
  lblBaud = Label(GroupBox4, "@32Baudrate:", 12, 50);
  Label(GroupBox4, "@33Datenbits:", 12, 74);
  Label(GroupBox4, "@34Parit\xE4t:", 12, 98);
  Label(GroupBox4, "@35Stopbits:", 12, 122);
  QLabel* lblTO = Label(GroupBox4, "@36Verl\xE4ngerte Wartezeit:", 12, 146);
  cbComPort = new QComboBox(GroupBox4);
  cbComPort->setGeometry(180, 22, 130, 23);
  EditTO = new QSpinBox(GroupBox4);
  EditTO->setGeometry(180, 142, 70, 23);
  EditTO->setRange(0, 999);
  EditTO->setSingleStep(10);
  lblTO->setBuddy(EditTO);
  Label(GroupBox4, "ms", 258, 146, 30);

  // The setting boxes sit in the rows of their labels, as far apart as the first two labels.
  const serial::TComProperty kinds[] = {serial::cpBaudRate, serial::cpDataBits, serial::cpParity, serial::cpStopBits};
  const int rowHeight = lblBaud->y() - lblPort->y();
  for (int row = 1; row <= 4; ++row) {
    auto* box = new TComComboBox(GroupBox4);
    box->setGeometry(cbComPort->x(), cbComPort->y() + row * rowHeight, cbComPort->width(), cbComPort->height());
    box->SetComProperty(kinds[row - 1]);
    cbSettings[size_t(row - 1)] = box;
  }
  EditTO->raise();

  btnOK = new QPushButton(Q("@01OK"), this);
  btnOK->setGeometry(240, 316, 80, 26);
  btnOK->setDefault(true);
  btnAbbruch = new QPushButton(Q("@02Abbruch"), this);
  btnAbbruch->setGeometry(328, 316, 80, 26);

  TLanguageTexts& texts = editor.Project().Messages().Texts();
  TranslateForm(this, "ZFM", texts);
  setWindowTitle(Q(editor.Caption));
  for (int i = 0; i < types.Count; ++i) cbTyp->addItem(Q(types.Entries[size_t(i)].Name));

  connect(cbTyp, &QComboBox::activated, this, [this](int index) { TypChange(index); });
  connect(btnOK, &QPushButton::clicked, this, [this] { OkClick(); });
  connect(btnAbbruch, &QPushButton::clicked, this, [this] { reject(); });
  CentreOnScreen(this);
}

void TfrmZFM::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TfrmZFM::FormActivate() {
  editor_.Activate();
  editName->setText(Q(editor_.Name));
  cbTyp->setCurrentIndex(editor_.TypeIndex);
  ShowMode();
  cbComPort->clear();
  for (const std::string& p : editor_.PortItems) cbComPort->addItem(Q(p));
  const auto port = std::find(editor_.PortItems.begin(), editor_.PortItems.end(), editor_.Port);
  cbComPort->setCurrentIndex(editor_.Port.empty() || port == editor_.PortItems.end() ? -1 : int(port - editor_.PortItems.begin()));
  cbSettings[0]->SetText(editor_.BaudRate);
  cbSettings[1]->SetText(editor_.DataBits);
  cbSettings[2]->SetText(editor_.Parity);
  cbSettings[3]->SetText(editor_.StopBits);
  // A stored wait above what the box offers must not be cut by OK.
  EditTO->setMaximum(std::max(999, int(editor_.ExtraWait)));
  EditTO->setValue(editor_.ExtraWait);
}

void TfrmZFM::ShowMode() {
  for (int i = 0; i < 3; ++i) rbMode[size_t(i)]->setAutoExclusive(false);
  for (int i = 0; i < 3; ++i) rbMode[size_t(i)]->setChecked(i == editor_.Mode);
  for (int i = 0; i < 3; ++i) rbMode[size_t(i)]->setAutoExclusive(true);
}

void TfrmZFM::TypChange(int index) {
  editor_.TypeChange(index);
  cbTyp->setCurrentIndex(editor_.TypeIndex);
  ShowMode();
}

void TfrmZFM::OkClick() {
  if (RefuseUncodable(editName, editor_.Project().Messages())) return;
  editor_.Name = Cp(editName->text());
  editor_.Port = cbComPort->currentIndex() < 0 ? std::string() : Cp(cbComPort->currentText());
  editor_.BaudRate = cbSettings[0]->Text();
  editor_.DataBits = cbSettings[1]->Text();
  editor_.Parity = cbSettings[2]->Text();
  editor_.StopBits = cbSettings[3]->Text();
  editor_.ExtraWait = EditTO->value();
  if (editor_.Ok()) {
    accept();
    return;
  }
  if (editor_.FocusName) editName->setFocus();
  editor_.FocusName = false;
}

}  // namespace configurator::windows
