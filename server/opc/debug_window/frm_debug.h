// The debug window of a started server: the driver's protocol object in "Steuerung", one
// station's request wishes and time-outs below it, a spin button to choose the station, and a
// refresh every 500 ms. It only reads, and it refuses to be closed by the user: the server
// closes it when it stops.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "server/opc/debug_window/debug_link.h"

#define OSTREL_DEBUG_API __attribute__((visibility("default")))

class QGroupBox;
class QPlainTextEdit;
class QTimer;
class QToolButton;

namespace opc {

// Two arrow buttons, up and down, without a value of their own.
class OSTREL_DEBUG_API TSpinButton : public QWidget {
 public:
  explicit TSpinButton(QWidget* parent = nullptr);
  QToolButton* UpButton;
  QToolButton* DownButton;
  std::function<void()> OnUpClick;
  std::function<void()> OnDownClick;
};

class OSTREL_DEBUG_API TfrmDebug : public QWidget {
 public:
  explicit TfrmDebug(std::shared_ptr<const TDebugLink> link);

  QGroupBox* gbSteuerung;
  QPlainTextEdit* mZFM;
  QGroupBox* gbFM;
  QPlainTextEdit* mFM;
  TSpinButton* SpinButton1;
  QTimer* Timer1;

  int32_t ShownStation() const { return shown_; }

  // Shows the server as it is now.
  void Timer1Timer();
  void SpinButton1UpClick();
  void SpinButton1DownClick();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::shared_ptr<const TDebugLink> link_;
  int32_t shown_ = 0;
};

}  // namespace opc
