// The configurator's main window: menus, toolbar, the station tree, the detail group with the
// channel grid, the background picture while no project is open, the status bar with hint and
// clock, and the timer whose first tick starts the program. TMainLogic decides; this window
// shows its state after every call and runs the modal dialogs for it.
#pragma once

#include <QAction>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <array>
#include <memory>
#include <string>

#include "configurator/main_logic.h"
#include "configurator/windows/about_box.h"

namespace platform {
class Clock;
}

namespace configurator::windows {

class TChannelGridWidget;
class TShell;

class TfrmMain : public QMainWindow, public TMainView {
 public:
  // programPath names the program file: its pictures are programPath + ".JPG" (background)
  // and programPath + "Info.JPG" (about box). runTimer false: the caller ticks by MainTimer().
  TfrmMain(TConfiguratorCore& core, const std::string& programPath, TShell& shell, platform::Clock& clock,
           bool runTimer = true);
  ~TfrmMain() override;

  // One tick of the timer.
  void MainTimer();
  TMainLogic& Logic() { return *logic_; }
  // The tree item of node, or nullptr.
  QTreeWidgetItem* ItemOf(const TStationNode* node) const;

  // TMainView
  void TranslateWindow() override;
  bool RunProjectNameDialog() override;
  bool RunCentralModemDialog(TZFMEditor& editor) override;
  bool RunStationDialog(TStationEditor& editor) override;
  std::string AskOpenFile(const std::string& folder) override;
  std::string AskSaveFile(const std::string& folder, const std::string& file) override;
  std::vector<std::string> MachinePorts() override;

  // Menu entries (the toolbar shares them).
  QMenu* mnuDatei;
  QAction* mnuDateiNeu;
  QAction* mnuDateiOeffnen;
  QMenu* N171OpenRecent;
  QAction* mnuLastActive;
  QAction* mnuDateiSpeichern;
  QAction* mnuDateiSpeichernU;
  QAction* mnuDateiErstelleINI;
  QAction* mnuDateiBeenden;
  QMenu* mnuFunkmodem;
  QAction* mnuFunkmodemZFM;
  QAction* mnuFunkmodemEinfuegen;
  QAction* mnuFunkmodemBearbeiten;
  QAction* mnuFunkmodemLoeschen;
  QAction* mnuInfo;
  QMenu* KontextMenu;
  QAction* pmFM_Einfuegen;
  QAction* pmFM_Bearbeiten;
  QAction* pmFM_Loeschen;

  QLabel* pnlBackground;
  QTreeWidget* tvFML;
  QGroupBox* gbDetails;
  QLabel* stFuMoName;
  QLabel* stFuMoTyp;
  QLabel* stFuMoAdresse;
  QLabel* lblBetriebsart;
  QLabel* stBetriebsart;
  std::array<QLabel*, 4> lblCounts;  // analog out, analog in, digital out, digital in
  QLabel* stAnalogAus;
  QLabel* stAnalogEin;
  QLabel* stDigitalAus;
  QLabel* stDigitalEin;
  QLabel* lblHinweis;
  TChannelGridWidget* sgKanal;
  QLabel* StatusPanel0;
  QLabel* StatusPanel1;
  TAboutBox AboutBox1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateMenus();
  void CreateSurface();
  // Shows the logic's state: caption, surface, commands, recent entries, tree, details, grid.
  void Sync();
  void SyncCommands();
  void SyncTree();
  void SyncDetails();
  void FormResize();
  // Runs a logic command, then shows the result.
  void Run(void (TMainLogic::*command)());
  TStationNode* NodeOf(QTreeWidgetItem* item) const;
  void TreeSelectionChanged();
  void GridExit(QWidget* old, QWidget* now);
  // An enabled menu entry has key as its shortcut.
  bool IsMenuShortcut(const QKeyEvent& key) const;

  TConfiguratorCore& core_;
  TShell& shell_;
  platform::Clock& clock_;
  std::unique_ptr<TMainLogic> logic_;
  QTimer timer_;
  bool syncing_ = false;
  bool shown_ = false;
  bool closing_for_good_ = false;
  unsigned tree_revision_ = ~0u;
  unsigned expand_requests_ = 0;
  unsigned focus_requests_ = 0;
  unsigned grid_revision_ = ~0u;
  std::vector<std::string> recent_shown_;
  // The control whose hint panel 0 shows.
  QPointer<QWidget> hint_owner_;
  // Dragging a station in the tree.
  QPoint drag_start_;
  bool drag_pressed_ = false;
  bool dragging_ = false;
};

}  // namespace configurator::windows
