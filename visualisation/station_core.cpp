#include "visualisation/station_core.h"

#include <algorithm>
#include <exception>

#include "opcclient/kopl_group.h"
#include "opcclient/kopl_item.h"

namespace lumaro {

namespace com = platform::com;

const std::array<const char*, kStationLabels> kStationStatusRegisters = {
    "RS_STATUS", "RM_STATNR", "RM_RECPOWER", "RM_SENDPOWER", "RS_KOM_OK", "RS_KOM_FAIL", "RS_RESPTIME", "RM_SNR"};

namespace {

// The log's first four columns, filled from the status items of the same names.
constexpr std::array<const char*, 4> kStatusColumns = {"RS_STATUS", "RS_KOM_OK", "RS_KOM_FAIL", "RM_RECPOWER"};

std::string LastComponent(const std::string& item_id) {
  size_t dot = item_id.rfind('.');
  return dot == std::string::npos ? item_id : item_id.substr(dot + 1);
}

}  // namespace

TStationCore::TStationCore(const Context& context, const TMemIni& ini, StationParams params, bool logging)
    : context_(context), ini_(ini), params_(std::move(params)), logging_(logging) {
  server_ = std::make_unique<kopl::TKoplServer>(kopl::KoplBuild::Visualisation);
  server_->SetName("sOPCServer");
  server_->SetApartment(context_.Apartment());
  server_->SetClock(&context_.Clock());
  server_->OnDatachange = [this](kopl::TKoplServer*, kopl::TKoplItemList& items) { DataChange(items); };
  server_->OnDisconnect = [this](kopl::TKoplServer*) { ConnectionLost(); };
  led_colour_.fill(-1);
  if (logging_)
    log_ = std::make_unique<TStationLog>(context_.LogDir(), params_.station_name, context_.format, context_.Clock());
}

TStationCore::~TStationCore() {
  // The connection goes first: its items point at the channels.
  server_->OnDisconnect = nullptr;
  server_.reset();
}

void TStationCore::Init() {
  caption_ += " - " + params_.station_name + " (" + params_.type_name + ")";
  active_ = true;
  try {
    server_->SetServerName(params_.prog_id);
    server_->SetActive(true);
  } catch (const std::exception&) {
    active_ = false;
    ShowError(context_, NoConnectionText(server_->ServerName()));
  }
  closes_itself_ = !server_->Active();

  BuildChannels();
  BuildStatusItems();

  if (active_) {
    if (outputs_.size() > 8) {
      output_block_copied_ = true;
    } else if (!analogs_.empty()) {
      analog_picture_shown_ = true;
    }
    ResetDisplay();
  } else {
    ShowError(context_, "Die Stationsanzeige wird wegen eines Fehler deaktiviert!");
  }
  Changed();
}

void TStationCore::BuildChannels() {
  const std::vector<IniLine>& lines = ini_.SectionLines(ChannelSectionName(params_.address));
  log_columns_.assign(kStatusColumns.begin(), kStatusColumns.end());
  log_columns_.resize(kStatusColumns.size() + lines.size());
  log_values_.assign(log_columns_.size(), com::Variant());

  server_->OPCGroupDefault().UpdateRate = 1000;
  kopl::TKoplGroup* group = nullptr;
  try {
    group = &server_->OPCGroups().Add("BINPUT");
  } catch (const std::exception&) {
    active_ = false;  // the deactivation message follows
    return;
  }

  for (size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string> fields = SplitFields(lines[i].value);
    const std::string name = fields.size() > 1 ? fields[1] : "";
    const int32_t column = int32_t(kStatusColumns.size() + i);
    try {
      std::optional<ChannelLine> line = ParseChannelLine(lines[i].value);
      if (!line) continue;
      const std::string item_id = params_.zentrale_name + "." + params_.station_name + "." + line->name;
      kopl::TKoplItem& item = group->OPCItems().Add(item_id);
      auto make = [&](int32_t position) {
        log_columns_[size_t(column)] = line->name;
        return std::make_unique<TOPCKanal>(context_, item_id, column, line->unit, line->decimals, line->offset,
                                           line->factor, position, *group, item);
      };
      if (line->kind == "BA" && outputs_.size() < 16) {
        outputs_.push_back(make(kFirstOutputLed + int32_t(outputs_.size())));
      } else if (line->kind == "BE") {
        inputs_.push_back(make(int32_t(inputs_.size())));
      } else if (line->kind == "AE" && analogs_.size() < kAnalogInputs) {
        const int n = int(analogs_.size()) + 1;
        analogs_.push_back(make(-n));
        AnalogState& a = analog_[size_t(n - 1)];
        a.visible = true;
        a.caption = line->name;
        a.unit = line->unit;
        a.panel = "0";
      }
    } catch (const std::exception&) {
      active_ = false;
      ShowError(context_, "IOKanal \"" + name + "\" konnte nicht gefunden werden!\n\rDie Konfig-Datei ist fehlerhaft!");
      break;
    }
  }
}

void TStationCore::BuildStatusItems() {
  if (!server_->Active()) return;
  std::vector<std::string> ids;
  for (const char* reg : kStationStatusRegisters)
    ids.push_back(params_.zentrale_name + "." + params_.station_name + "." + reg);
  AddStatusItems(*server_, ids, labels_, status_targets_);
}

void TStationCore::ResetDisplay() {
  for (int row = kFirstInputLed; row < kFirstInputLed + 16; ++row) DrawLed(row, true, false);
  for (size_t i = 0; i < outputs_.size(); ++i) DrawLed(kFirstOutputLed + int(i), true, false);
  for (int k = 0; k < kBarLeds; ++k) DrawLed(kFirstBarLed + k, true, false);
  for (int n = 1; n <= kAnalogInputs; ++n) {
    AnalogState& a = analog_[size_t(n - 1)];
    a.panel.clear();
    a.gauge = 0;
    a.visible = size_t(n) <= analogs_.size();
  }
}

void TStationCore::DataChange(kopl::TKoplItemList& items) {
  for (kopl::TKoplItem* item : items) ItemChanged(*item, kopl::IsQualityGood(item->Quality()));
  if (log_) log_->DataChanged(log_columns_, log_values_);
  Changed();
}

void TStationCore::ConnectionLost() {
  ForEachItem(*server_, [this](const kopl::TKoplItem& item) { ItemChanged(item, false); });
  Changed();
}

void TStationCore::ItemChanged(const kopl::TKoplItem& item, bool good) {
  if (!item.Data) return;
  auto* target = static_cast<TItemTarget*>(item.Data);
  if (auto* channel = dynamic_cast<TOPCKanal*>(target)) {
    ChannelChanged(*channel, item, good);
  } else if (auto* status = dynamic_cast<TStatusTarget*>(target)) {
    StatusChanged(status->index, item, good);
  }
}

void TStationCore::ChannelChanged(TOPCKanal& channel, const kopl::TKoplItem& item, bool good) {
  if (good) {
    if (channel.Pending()) {
      channel.SetPending(false);
      pending_.erase(std::remove(pending_.begin(), pending_.end(), &channel), pending_.end());
    }
    channel.SetFromItem(item);
    log_values_[size_t(channel.LogColumn())] = item.Value();
  } else if (!channel.Pending()) {
    channel.SetPending(true);
    pending_.push_back(&channel);
    if (pending_.size() == 1) timer_ = true;
  }
  Redraw(channel);
}

void TStationCore::StatusChanged(int index, const kopl::TKoplItem& item, bool good) {
  LabelState& label = labels_[size_t(index)];
  label.colour = good ? LabelColour::Good : LabelColour::Bad;
  int64_t number = 0;
  if (index == SLStatus && ValueAsInt(item.Value(), number)) {
    label.text = std::to_string(number);
  } else {
    label.text = ValueText(item.Value(), context_.format);
  }
  if (index == SLRecPower) {
    double power = 0;
    const bool known = ValueAsDouble(item.Value(), power);
    for (int k = 0; k < kBarLeds; ++k) DrawLed(kFirstBarLed + k, good, known && power >= kBarThresholds[size_t(k)]);
  }
  const std::string reg = LastComponent(item.ItemID());
  for (size_t c = 0; c < kStatusColumns.size(); ++c) {
    if (reg == kStatusColumns[c]) log_values_[c] = item.Value();
  }
}

bool TStationCore::IsInput(const TOPCKanal& channel) const {
  return std::any_of(inputs_.begin(), inputs_.end(), [&](const auto& k) { return k.get() == &channel; });
}

void TStationCore::Redraw(TOPCKanal& channel) {
  const int32_t position = channel.Position();
  if (position < 0) {
    AnalogState& a = analog_[size_t(-position - 1)];
    if (channel.Valid()) {
      double v = 0;
      a.panel = ValueAsDouble(channel.GetValue(), v) ? FormatDecimals(v, channel.Decimals(), context_.format)
                                                     : ValueText(channel.GetValue(), context_.format);
      a.panel_colour = LabelColour::Good;
      a.gauge = channel.ScaledValue();
      a.gauge_bad = false;
    } else {
      a.panel_colour = LabelColour::Bad;
      a.gauge_bad = true;
    }
    return;
  }
  // Inputs past the 16th have no LED.
  if (IsInput(channel) && position >= 16) return;
  DrawLed(position, channel.Valid(), channel.AsBool());
}

void TStationCore::DrawLed(int row, bool valid, bool on) { led_colour_[size_t(row)] = LedColourNumber(row, valid, on); }

void TStationCore::TimerTick() {
  for (auto it = pending_.begin(); it != pending_.end();) {
    if ((*it)->TimerTick()) {
      Redraw(**it);
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  if (pending_.empty()) timer_ = false;
  Changed();
}

void TStationCore::Click(int x, int y) {
  if (!active_) return;
  const int row = LedAt(x, y);
  if (row < kFirstOutputLed || row >= kFirstOutputLed + int(outputs_.size()) || !server_->Active()) return;
  TOPCKanal& channel = *outputs_[size_t(row - kFirstOutputLed)];
  channel.WriteBool(!channel.AsBool(), [this, &channel] {
    Redraw(channel);
    Changed();
  });
}

void TStationCore::Changed() {
  if (OnChanged) OnChanged();
}

}  // namespace lumaro
