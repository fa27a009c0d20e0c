// The dialog that asks for a new project's name.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace configurator {
class TProject;
}

namespace configurator::windows {

class TfrmProjektname : public QDialog {
 public:
  TfrmProjektname(QWidget* parent, TProject& project);

  QLineEdit* Edit1;
  QPushButton* btnOK;
  QPushButton* btnAbbrechen;

  // Cancel, Escape and the window's close button: no project name.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OkClick();

  TProject& project_;
};

}  // namespace configurator::windows
