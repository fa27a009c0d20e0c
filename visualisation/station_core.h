// What a station window shows and decides, without the window: the station's OPC connection
// and groups, its channels built from the configuration file, the LEDs of the front panel, the
// analog gauges and value panels, the status labels, the pending-quality timer, the clicks that
// switch outputs, and the CSV log in logging mode. The window (TStation) draws this state and
// forwards clicks and timer ticks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl_server.h"
#include "visualisation/global.h"
#include "visualisation/led_table.h"
#include "visualisation/opc_kanal.h"
#include "visualisation/ostrel_ini.h"
#include "visualisation/station_log.h"
#include "visualisation/status_items.h"

namespace lumaro {

struct StationParams {
  std::string station_name;
  std::string type_name;
  int32_t address = 0;
  std::string zentrale_name;
  std::string prog_id;
};

// The status labels in the order their items are added.
enum StationLabel { SLStatus, SLStatnr, SLRecPower, SLSendPower, SLKomOK, SLKomFail, SLResponse, SLSNR };
inline constexpr int kStationLabels = 8;
// The register each label shows.
extern const std::array<const char*, kStationLabels> kStationStatusRegisters;

// Gauge, value panel, caption and unit of analog input n.
struct AnalogState {
  bool visible = false;
  std::string caption;  // LAnalogKanal n: the channel's name
  std::string unit;     // LAEinheit n
  std::string panel;    // EAnalog n
  LabelColour panel_colour = LabelColour::Normal;
  int32_t gauge = 0;       // 0..4095
  bool gauge_bad = false;  // red instead of navy
};
inline constexpr int kAnalogInputs = 4;

class TStationCore {
 public:
  // ini: the main window's file object, which outlives every station window.
  TStationCore(const Context& context, const TMemIni& ini, StationParams params, bool logging);
  ~TStationCore();
  TStationCore(const TStationCore&) = delete;
  TStationCore& operator=(const TStationCore&) = delete;

  // Connects, builds the channels and status items and resets the display. Errors are shown
  // as they come; afterwards Active() tells whether the window works and ClosesItself()
  // whether no connection came about.
  void Init();

  // Called after every change of what the window shows.
  std::function<void()> OnChanged;

  // Handlers of the window's events.
  void DataChange(kopl::TKoplItemList& items);
  // The connection went (the server shut down or was lost): every value shown becomes as
  // doubtful as a bad quality makes it.
  void ConnectionLost();
  void TimerTick();
  // A click on the station picture at picture pixel (x, y).
  void Click(int x, int y);

  // ---- what the window shows ----
  const std::string& Caption() const { return caption_; }
  bool Active() const { return active_; }
  bool Connected() const { return server_->Active(); }
  bool ClosesItself() const { return closes_itself_; }
  bool Logging() const { return logging_; }
  // Status bar: panel 1 the active state, panel 2 the connection.
  std::string ActiveText() const { return ActiveStateText(active_); }
  std::string ConnectionText() const { return ConnectionStateText(Connected()); }
  // Colour number of each LED, -1 while the picture's own drawing shows.
  const std::array<int, kLedCount>& LedColours() const { return led_colour_; }
  bool OutputBlockCopied() const { return output_block_copied_; }
  bool AnalogPictureShown() const { return analog_picture_shown_; }
  const AnalogState& Analog(int n) const { return analog_.at(size_t(n - 1)); }
  const LabelState& Label(int index) const { return labels_.at(size_t(index)); }
  bool TimerRunning() const { return timer_; }

  // ---- for the tests and the log ----
  const StationParams& Params() const { return params_; }
  kopl::TKoplServer& Server() { return *server_; }
  size_t InputCount() const { return inputs_.size(); }
  size_t OutputCount() const { return outputs_.size(); }
  size_t AnalogCount() const { return analogs_.size(); }
  TOPCKanal& Output(size_t i) { return *outputs_.at(i); }
  TOPCKanal& Input(size_t i) { return *inputs_.at(i); }
  TOPCKanal& AnalogInput(size_t i) { return *analogs_.at(i); }
  size_t PendingCount() const { return pending_.size(); }
  const std::vector<std::string>& LogColumns() const { return log_columns_; }
  const std::vector<platform::com::Variant>& LogValues() const { return log_values_; }

 private:
  void BuildChannels();
  void BuildStatusItems();
  void ResetDisplay();
  // One item's value shown with the given quality.
  void ItemChanged(const kopl::TKoplItem& item, bool good);
  void ChannelChanged(TOPCKanal& channel, const kopl::TKoplItem& item, bool good);
  void StatusChanged(int index, const kopl::TKoplItem& item, bool good);
  void Redraw(TOPCKanal& channel);
  void DrawLed(int row, bool valid, bool on);
  bool IsInput(const TOPCKanal& channel) const;
  void Changed();

  const Context& context_;
  const TMemIni& ini_;
  const StationParams params_;
  const bool logging_;
  std::string caption_ = "Station";
  bool active_ = false;
  bool closes_itself_ = false;

  std::unique_ptr<kopl::TKoplServer> server_;
  std::vector<std::unique_ptr<TOPCKanal>> inputs_;
  std::vector<std::unique_ptr<TOPCKanal>> analogs_;
  std::vector<std::unique_ptr<TOPCKanal>> outputs_;
  std::vector<TOPCKanal*> pending_;
  bool timer_ = false;
  std::vector<std::unique_ptr<TStatusTarget>> status_targets_;

  std::array<int, kLedCount> led_colour_;
  bool output_block_copied_ = false;
  bool analog_picture_shown_ = false;
  std::array<AnalogState, kAnalogInputs> analog_;
  std::array<LabelState, kStationLabels> labels_;

  std::vector<std::string> log_columns_;
  std::vector<platform::com::Variant> log_values_;
  std::unique_ptr<TStationLog> log_;
};

}  // namespace lumaro
