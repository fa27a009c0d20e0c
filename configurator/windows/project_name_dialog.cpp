#include "configurator/windows/project_name_dialog.h"

#include <QFile>
#include <QLabel>

#include "configurator/project.h"
#include "configurator/windows/controls.h"
#include "configurator/windows/qt_text.h"
#include "configurator/windows/translate_form.h"
#include "configurator/zfm_editor.h"

namespace configurator::windows {

TfrmProjektname::TfrmProjektname(QWidget* parent, TProject& project) : QDialog(parent), project_(project) {
  setFixedSize(300, 104);
  auto* label = new QLabel(Q("@2Name des Projektes:"), this);
  label->setGeometry(12, 12, 276, 17);
  Edit1 = new QLineEdit(this);
  Edit1->setGeometry(12, 32, 276, 24);
  label->setBuddy(Edit1);
  btnOK = new QPushButton(Q("@01OK"), this);
  btnOK->setGeometry(120, 68, 80, 26);
  btnOK->setDefault(true);
  btnAbbrechen = new QPushButton(Q("@02Abbrechen"), this);
  btnAbbrechen->setGeometry(208, 68, 80, 26);
  connect(btnOK, &QPushButton::clicked, this, [this] { OkClick(); });
  connect(btnAbbrechen, &QPushButton::clicked, this, [this] { reject(); });

  TLanguageTexts& texts = project.Messages().Texts();
  TranslateForm(this, "PROJEKTNAME", texts);
  setWindowTitle(Q(texts.TranslateText("@1Projektname")));
  Edit1->clear();
  CentreOnScreen(this);
}

void TfrmProjektname::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Edit1->setFocus();
}

void TfrmProjektname::OkClick() {
  // CONFIG.CFG and the messages keep the name in Windows-1252.
  if (RefuseUncodable(Edit1, project_.Messages())) return;
  // The name becomes a file name: it keeps the file system's encoding.
  if (AcceptProjectName(project_, QFile::encodeName(Edit1->text()).toStdString()))
    accept();
  else
    Edit1->setFocus();
}

void TfrmProjektname::reject() {
  project_.ProjectPath.clear();
  QDialog::reject();
}

}  // namespace configurator::windows
