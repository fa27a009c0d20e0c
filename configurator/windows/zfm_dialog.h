// The central-modem dialog: name, type (with its operating mode shown), serial line and extra
// wait time of the project's central radio modem. TZFMEditor decides; this window shows it.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <array>

#include "configurator/windows/com_combo_box.h"

namespace configurator {
class TZFMEditor;
struct TDeviceTable;
}

namespace configurator::windows {

class TfrmZFM : public QDialog {
 public:
  TfrmZFM(QWidget* parent, TZFMEditor& editor, const TDeviceTable& types);

  QLineEdit* editName;
  QComboBox* cbTyp;
  QGroupBox* gbBetriebsart;
  std::array<QRadioButton*, 3> rbMode;  // rbISM, rbMoP, rbNoeDatFu
  QGroupBox* GroupBox4;
  QLabel* lblPort;
  QLabel* lblBaud;
  QComboBox* cbComPort;
  // Baud rate, data bits, parity, stop bits, in rows below the port.
  std::array<TComComboBox*, 4> cbSettings;
  QSpinBox* EditTO;
  QPushButton* btnOK;
  QPushButton* btnAbbruch;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormActivate();
  void TypChange(int index);
  void OkClick();
  void ShowMode();

  TZFMEditor& editor_;
};

}  // namespace configurator::windows
