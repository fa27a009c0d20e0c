// What the explorer's main window shows and does: the one connection of the program, the
// server line, the status panel and the red error line, the session commands, the status
// timer and the reactions to the connection's events. It owns the explorer's and the
// inspector's logic and hands them the connection.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "explorer/explorer_dialogs.h"
#include "explorer/explorer_model.h"
#include "explorer/explorer_settings.h"
#include "explorer/inspec_model.h"
#include "opcclient/kopl_server.h"
#include "platform/clock.h"
#include "platform/com/apartment.h"
#include "platform/message_service.h"

namespace explorer {

// The session file the program writes when it closes while connected, in the current folder.
inline constexpr const char* kLastConfigFile = "Feddra_LastConfig.opc";

// The value labels of the status panel.
struct TStatusTexts {
  std::string Server;
  std::string State;
  std::string Info;
  std::string StartTime;
  std::string UpdateTime;
};

// The info box's text: four lines separated by a carriage return alone.
std::string InfoText();

class TMainModel {
 public:
  struct Options {
    std::string settings_path;                   // the settings INI file
    std::string last_config = kLastConfigFile;   // written on close while connected
    platform::com::Apartment* apartment = nullptr;  // the program's main apartment unless set
    platform::Clock* clock = nullptr;                // the system clock unless set
  };

  TMainModel(TExplorerDialogs& dialogs, platform::MessageService& messages, Options options);
  ~TMainModel();
  TMainModel(const TMainModel&) = delete;
  TMainModel& operator=(const TMainModel&) = delete;

  kopl::TKoplServer& OPCServer() { return *server_; }
  TExplorerModel& Explorer() { return *explorer_; }
  TInspecModel& Inspector() { return *inspector_; }
  TExplorerSettings& Settings() { return settings_; }

  // ---- what the window shows ----
  const std::string& ServerText() const { return server_text_; }
  // The user edited the server line.
  void SetServerText(const std::string& text) { server_text_ = text; }
  // The drop-down list of the server line.
  const std::vector<std::string>& ServerList() const { return server_list_; }
  const TStatusTexts& Status() const { return status_; }
  const std::string& ErrorInfo() const { return error_info_; }
  bool TimerEnabled() const { return timer_enabled_; }

  // ---- the window's commands ----
  // The window is shown: the server line gets the last server, the panels are emptied and
  // the inspector shows for the first time.
  void FormShow();
  // The server line opens its list: filled from the registry once it holds something.
  void ServerComboDropDown();
  void Connect();
  void Disconnect();
  // The server selection dialog for the connection's computer.
  void RemoteSelect();
  // The status timer's tick (every 1000 ms while enabled).
  void TimerTick();
  void NewSession();
  void Open();
  void Save();
  void OpenLastSaved();
  void LoadLastConfig();
  // The window closes: the last configuration is kept while connected.
  void Close();
  void Info();
  // "Items to Inspector": pick a group for the item IDs and add them to it.
  void AddItemsToInspector(const std::vector<std::string>& ids);

  // Something the window shows changed.
  std::function<void()> OnChanged;
  // The inspector's sheet is to be the active page.
  std::function<void()> OnShowInspector;

 private:
  void ClearStatus();
  void Changed() {
    if (OnChanged) OnChanged();
  }
  void ShowInspector() {
    if (OnShowInspector) OnShowInspector();
  }
  // Loads a session file after "New Session"; the server line and the group tree follow the
  // connection even when the file fails half-way.
  void LoadSession(const std::string& file_name);

  TExplorerDialogs& dialogs_;
  platform::MessageService& messages_;
  Options options_;
  TExplorerSettings settings_;
  platform::Clock& clock_;
  std::unique_ptr<kopl::TKoplServer> server_;
  std::unique_ptr<TExplorerModel> explorer_;
  std::unique_ptr<TInspecModel> inspector_;

  std::string server_text_;
  std::vector<std::string> server_list_;
  TStatusTexts status_;
  std::string error_info_;
  bool timer_enabled_ = true;  // enabled at creation
  std::string open_file_name_;  // the open dialog's file name, which also presets the save dialog
};

}  // namespace explorer
