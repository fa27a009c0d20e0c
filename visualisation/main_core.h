// What the main window shows and decides, without the window: the configuration file, the
// connection to the radio-modem server with the central modem's status items, the list of
// polled stations and their windows, the logging mode and the status bar texts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl_server.h"
#include "visualisation/global.h"
#include "visualisation/ostrel_ini.h"
#include "visualisation/station_core.h"

namespace lumaro {

// A station window as the main window sees it.
class IStationWindow {
 public:
  virtual ~IStationWindow() = default;
  virtual void ShowWindow() = 0;
};

// One polled station of the station list.
struct RStation {
  std::string name;
  std::string type_name;
  int32_t address = 0;
  IStationWindow* window = nullptr;  // none until first shown (or, in logging mode, from the start)
};

// The central modem's labels.
enum MainLabel { ZLStatus, ZLDCFStatus, ZLRecPower };
inline constexpr int kMainLabels = 3;
extern const std::array<const char*, kMainLabels> kMainStatusRegisters;

class TOVMainCore {
 public:
  explicit TOVMainCore(const Context& context);
  ~TOVMainCore();
  TOVMainCore(const TOVMainCore&) = delete;
  TOVMainCore& operator=(const TOVMainCore&) = delete;

  // Makes the station's window and initialises it (hidden); nullptr when it closed itself.
  std::function<IStationWindow*(RStation& station, const StationParams& params)> CreateStationWindow;
  // Called after every change of what the window shows.
  std::function<void()> OnChanged;

  // The window's start: reads the configuration, connects, loads the stations, adds the status
  // items. False after a fatal error (already shown): the program ends.
  bool Start();
  // Every second: the server status text.
  void StatusTimer();
  // "Station anzeigen" for the selected station.
  void ShowStation();
  void Select(int index) { selected_ = index; }

  // ---- what the window shows ----
  const std::string& Caption() const { return caption_; }
  const std::string& Panel(int i) const { return panels_.at(size_t(i)); }
  const std::string& Version() const { return version_; }
  const LabelState& Label(int index) const { return labels_.at(size_t(index)); }
  bool ButtonEnabled() const { return button_enabled_; }
  int Selected() const { return selected_; }
  size_t StationCount() const { return stations_.size(); }
  RStation& Station(size_t i) { return *stations_.at(i); }

  bool Logging() const { return logging_; }
  const TMemIni& Ini() const { return ini_; }
  const std::string& ZentraleName() const { return zentrale_name_; }
  const std::string& ZentraleType() const { return zentrale_type_; }
  kopl::TKoplServer& Server() { return *server_; }

 private:
  void FatalError(const std::string& text);
  void LoadStations();
  void AddStatusItems();
  void DataChange(kopl::TKoplItemList& items);
  // The connection went: the labels show their last values as of bad quality.
  void ConnectionLost();
  void StatusChanged(const kopl::TKoplItem& item, bool good);
  void Changed();

  const Context& context_;
  TMemIni ini_;
  std::string zentrale_name_;
  std::string zentrale_type_;
  bool logging_ = false;
  std::unique_ptr<kopl::TKoplServer> server_;
  std::vector<std::unique_ptr<TStatusTarget>> status_targets_;
  std::vector<std::unique_ptr<RStation>> stations_;
  int selected_ = -1;

  std::string caption_ = "Lumaro";
  std::array<std::string, 3> panels_;
  std::string version_;
  std::array<LabelState, kMainLabels> labels_;
  bool button_enabled_ = true;
};

}  // namespace lumaro
