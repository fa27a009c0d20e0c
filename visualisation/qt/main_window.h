// TOVMain: the main window. It shows what its TOVMainCore holds (the central modem's status,
// the station list, the status bar) and makes the station windows the core asks for.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>

#include "visualisation/main_core.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace lumaro {

class TStation;

class TOVMain final : public QMainWindow {
 public:
  explicit TOVMain(const Context& context, QWidget* parent = nullptr);
  ~TOVMain() override;

  // The start of the shown window; false after a fatal error: the program ends.
  bool Start();

  TOVMainCore& Core() { return *core_; }
  QTimer& StatusTimer() { return timer_; }
  // The station windows made so far (those not yet gone).
  std::vector<TStation*> StationWindows() const;

 private:
  void Sync();

  const Context& context_;
  std::unique_ptr<TOVMainCore> core_;
  std::array<QLabel*, kMainLabels> labels_{};
  QLabel* zentrale_ = nullptr;
  QLabel* version_ = nullptr;
  QComboBox* stations_ = nullptr;
  QPushButton* show_ = nullptr;
  std::array<QLabel*, 3> panels_{};
  QTimer timer_;
  bool syncing_ = false;
};

}  // namespace lumaro
