// The main window of the configurator without its window: the start-up on the first timer
// tick, the file commands (new, open, recent projects, save, save as, the server's INI file,
// close), the station commands of the tree, and everything the window shows (caption,
// background or project, command states, details of the selected modem, the channel grid,
// the recent-projects menu). The window runs the modal dialogs through TMainView and shows
// this state after every call.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "configurator/channel_grid.h"
#include "configurator/project.h"
#include "platform/clock.h"

namespace configurator {

class TConfiguratorCore;
class TStationEditor;
class TZFMEditor;

// What only the window can do.
class TMainView {
 public:
  virtual ~TMainView() = default;
  // The window's surface takes its texts (menus, form, context menu) from the language file.
  virtual void TranslateWindow() = 0;
  // Modal dialogs; true for OK. The project-name dialog has set ProjectPath on OK.
  virtual bool RunProjectNameDialog() = 0;
  virtual bool RunCentralModemDialog(TZFMEditor& editor) = 0;
  virtual bool RunStationDialog(TStationEditor& editor) = 0;
  // The chosen file, "" when cancelled.
  virtual std::string AskOpenFile(const std::string& folder) = 0;
  virtual std::string AskSaveFile(const std::string& folder, const std::string& file) = 0;
  // The machine's serial ports, for the central-modem dialog.
  virtual std::vector<std::string> MachinePorts() = 0;
};

// The read-only boxes of the detail group.
struct TDetailView {
  enum Kind { None, CentralModem, Station };
  Kind Shows = None;
  std::string Name, Type, Address, Mode;
  std::string AnalogIn, AnalogOut, DigitalIn, DigitalOut;  // "---" for none
};

struct TContextStates {
  bool Insert = false, Edit = false, Delete = false;
  bool operator==(const TContextStates&) const = default;
};

enum class TTreeKey { Enter, Insert, Delete, Other };

// "HH:NN, DD.MM.YYYY" in local time.
std::string ClockText(platform::Clock::TimePoint now);
// A chosen file's path without its ".ini" (any case); another name stays whole.
std::string PathWithoutIni(const std::string& path);

class TMainLogic {
 public:
  TMainLogic(TConfiguratorCore& core, TMainView& view);

  // The window is shown: the recent projects and the last active one from the settings.
  void Show();
  // One timer tick. True when the start-up ran in it (the window shows everything anew);
  // Terminated tells whether the program must end.
  bool Tick(platform::Clock::TimePoint now);

  void New();
  void Open();
  void OpenRecent(const std::string& caption);
  void Save();
  void SaveAs();
  void CreateServerIni();
  // Whether the window may close (asks when there are unsaved changes). Every command that
  // saves takes the grid's pending cell first.
  bool CloseQuery();
  void CentralModemCommand();
  void Insert();
  void Edit();
  void Delete();
  // The user selected node in the tree (nullptr: none).
  void Select(TStationNode* node);
  // A key in the tree; true when it is consumed.
  bool KeyDown(TTreeKey key);
  TContextStates ContextPopup() const;
  // A drag from the selected node ended over target (nullptr: over no node).
  void EndDrag(TStationNode* target);

  TProject& Project() { return project_; }
  TConfiguratorCore& Core() { return core_; }

  // What the window shows.
  bool StartupPending = true;
  bool Terminated = false;
  bool Busy = false;  // Open or a recent project runs: the ticks leave the commands alone
  bool BackgroundShown = true;
  std::string Caption;
  std::string ProgramTitle;
  std::array<std::string, 3> ModeNames;
  std::string UnknownText;
  std::vector<std::string> RecentItems;  // below the last-active entry, top first
  std::string LastActiveCaption;
  bool LastActiveEnabled = false;
  TCommandStates Commands;
  std::string Clock;
  TDetailView Details;
  TChannelGrid Grid;
  bool GridVisible = false;
  // Counters the window compares with what it showed last.
  unsigned TreeRevision = 0;
  unsigned ExpandAllRequests = 0;
  // The tree takes the keyboard; the grid is hidden first, so no cell editor stays open.
  unsigned TreeFocusRequests = 0;

 private:
  void Startup();
  void ShowBackground(bool show, bool setCaption);
  void ClearProject();
  void ShowNode(TStationNode* node);
  void UpdateDetailPanel();
  void ApplyCommands();
  void AddRecentFile(const std::string& path, bool fromSettings);
  void SetLastActive(const std::string& path);
  std::string SaveQuestion();
  void OpenPath(const std::string& path, bool addRecent);

  TConfiguratorCore& core_;
  TProject& project_;
  TMainView& view_;
  bool in_startup_ = false;
};

}  // namespace configurator
