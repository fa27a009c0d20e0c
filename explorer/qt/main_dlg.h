// The explorer's main window: the server line, the Explorer and Inspector sheets, the status
// panel, the red error line, the menu and the status timer. It owns the program's one
// connection (through its logic) and docks the explorer and inspector windows.
#pragma once

#include <QComboBox>
#include <QMainWindow>
#include <memory>

#include "explorer/main_model.h"

class QAction;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;

namespace explorer {

class TExplorerDlg;
class TInspecDlg;

// The server line: fills its list from the registry as it opens.
class TServerCombo : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  void showPopup() override;
 signals:
  void DropDown();
};

class TMainDlg : public QMainWindow {
  Q_OBJECT
 public:
  TMainDlg(TExplorerDialogs& dialogs, platform::MessageService& messages, TMainModel::Options options);
  ~TMainDlg() override;

  TMainModel& Model() { return *model_; }
  // The explorer and inspector windows: docked into their sheets, owned from now on, and
  // shown with the window.
  void SetForms(TExplorerDlg* explorer, TInspecDlg* inspector);

  TServerCombo* ServerCombo() const { return server_combo_; }
  QToolButton* RemoteSelectButton() const { return remote_select_; }
  QToolButton* ConnectButton() const { return connect_; }
  QToolButton* DisconnectButton() const { return disconnect_; }
  QPushButton* LoadLastConfigButton() const { return load_last_; }
  QTabWidget* Pages() const { return pages_; }
  QLabel* ErrorLine() const { return error_line_; }
  QLabel* StatusLabel(int index) const { return status_labels_[index]; }
  QTimer* Timer() const { return timer_; }
  QAction* MenuAction(const QString& text) const;

  // Posts one of the explorer's messages (WM_USER+1, WM_USER+2) to this window.
  void PostMessage(int message);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void customEvent(QEvent* event) override;

 private:
  void Render();
  void Dock(QWidget* form, int page);

  std::unique_ptr<TMainModel> model_;
  TExplorerDlg* explorer_ = nullptr;
  TInspecDlg* inspector_ = nullptr;
  bool shown_ = false;

  TServerCombo* server_combo_;
  QToolButton* remote_select_;
  QToolButton* connect_;
  QToolButton* disconnect_;
  QPushButton* load_last_;
  QTabWidget* pages_;
  QLabel* status_labels_[5];
  QLabel* error_line_;
  QTimer* timer_;
};

}  // namespace explorer
