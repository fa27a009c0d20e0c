// The station dialog: name, type, address, extension modules, extra wait time, the online
// check (shown only) and the do-not-poll switch of one station. TStationEditor decides; this
// window shows it.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <array>

namespace configurator {
class TStationEditor;
}

namespace configurator::windows {

class TfrmFuMo : public QDialog {
 public:
  TfrmFuMo(QWidget* parent, TStationEditor& editor);

  QLineEdit* editName;
  QComboBox* cbTyp;
  QComboBox* cbAdresse;
  std::array<QLabel*, 8> lblModule;     // Label3 .. Label10
  std::array<QComboBox*, 8> cbModule;   // ComboBox1 .. ComboBox8
  QLabel* lblTO;
  QLabel* lblTO2;
  QSpinBox* EditTO;
  QLabel* lblDoCheck;
  QCheckBox* cbDoCheck;
  QCheckBox* CBNichtAbfragen;
  QPushButton* btnOK;
  QPushButton* btnAbbrechen;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Shows the editor's fields.
  void Show();
  // Takes what the user typed into the editor.
  void Take();
  void OkClick();

  TStationEditor& editor_;
};

}  // namespace configurator::windows
