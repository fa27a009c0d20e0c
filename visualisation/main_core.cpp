#include "visualisation/main_core.h"

#include <exception>

#include "opcclient/kopl_group.h"
#include "opcclient/kopl_item.h"
#include "platform/files.h"
#include "support/error_log.h"

namespace lumaro {

const std::array<const char*, kMainLabels> kMainStatusRegisters = {"RS_STATUS", "RS_DCF_TIME", "RM_RECPOWER"};

TOVMainCore::TOVMainCore(const Context& context) : context_(context) {
  server_ = std::make_unique<kopl::TKoplServer>(kopl::KoplBuild::Visualisation);
  server_->SetName("KoplServer");
  server_->SetApartment(context_.Apartment());
  server_->SetClock(&context_.Clock());
  server_->OnDatachange = [this](kopl::TKoplServer*, kopl::TKoplItemList& items) { DataChange(items); };
  server_->OnDisconnect = [this](kopl::TKoplServer*) { ConnectionLost(); };
}

TOVMainCore::~TOVMainCore() {
  server_->OnDisconnect = nullptr;
  server_.reset();
}

void TOVMainCore::FatalError(const std::string& text) { ShowError(context_, text); }

bool TOVMainCore::Start() {
  logging_ = !platform::FindFileNoCase(context_.current_dir + "datenloggen").empty();
  caption_ = logging_ ? "Lumaro - Loggend" : "Lumaro";

  ini_.LoadFromFile(context_.program_dir + "ostrel.ini");
  if (!ini_.ValueExists("ZENTRALFUNKMODEM", "TYP")) {
    FatalError("Die INI-Datei (ostrel.ini) des OPC-Servers konnte nicht gelesen werden!");
    return false;
  }
  panels_[1] = ActiveStateText(true);
  version_ = kVersionText;

  const ZentraleLine zentrale = ParseZentrale(ini_.ReadString("ZENTRALFUNKMODEM", "TYP"));
  zentrale_name_ = zentrale.name;
  zentrale_type_ = zentrale.type_name;
  std::vector<std::string> servers;
  kopl::GetOPCServers(servers);
  if (servers.empty()) {
    FatalError("Es konnte kein Zentralfunkmodem gefunden werden!");
    return false;
  }
  try {
    server_->SetServerName(kServerProgId);
    server_->SetActive(true);
  } catch (const std::exception&) {
    ShowError(context_, NoConnectionText(server_->ServerName()));
  }

  if (server_->Active()) {
    button_enabled_ = true;
    LoadStations();
    AddStatusItems();
  } else {
    button_enabled_ = false;
    stations_.clear();
    selected_ = -1;
    ShowError(context_, "Die Zentralfunkmodem-Anzeige wird wegen eines Fehlers deaktiviert!");
    panels_[1] = ActiveStateText(false);
  }
  StatusTimer();
  return true;
}

void TOVMainCore::LoadStations() {
  for (const IniLine& line : ini_.SectionLines("UNTERSTATIONEN")) {
    StationLine parsed;
    try {
      parsed = ParseStationLine(line.value);
    } catch (const BadIniLine& e) {
      ShowError(context_, e.what());
      break;
    }
    auto station = std::make_unique<RStation>();
    station->name = parsed.name;
    station->type_name = parsed.type_name;
    station->address = parsed.address;
    stations_.push_back(std::move(station));
    if (selected_ < 0) selected_ = 0;
    // In logging mode every station logs from the start, shown or not.
    if (logging_ && CreateStationWindow) {
      RStation& s = *stations_.back();
      s.window = CreateStationWindow(s, {s.name, s.type_name, s.address, zentrale_name_, server_->ServerName()});
    }
  }
}

void TOVMainCore::AddStatusItems() {
  std::vector<std::string> ids;
  for (const char* reg : kMainStatusRegisters) ids.push_back(zentrale_name_ + "." + reg);
  lumaro::AddStatusItems(*server_, ids, labels_, status_targets_);
}

void TOVMainCore::StatusTimer() {
  std::string text = ServerStatusText(false, 0);
  if (server_->Active()) {
    try {
      text = ServerStatusText(true, server_->GetServerStatus().ServerState);
    } catch (const std::exception& e) {
      // A server that stopped answering: said once a second on the bar, not in a box.
      support::LogMessage(std::string("Lumaro: Serverstatus: ") + e.what());
    }
  }
  panels_[2] = text;
  Changed();
}

void TOVMainCore::ShowStation() {
  if (selected_ < 0 || size_t(selected_) >= stations_.size()) return;
  RStation& s = *stations_[size_t(selected_)];
  if (!s.window && CreateStationWindow)
    s.window = CreateStationWindow(s, {s.name, s.type_name, s.address, zentrale_name_, server_->ServerName()});
  if (s.window) s.window->ShowWindow();
}

void TOVMainCore::DataChange(kopl::TKoplItemList& items) {
  for (kopl::TKoplItem* item : items) StatusChanged(*item, kopl::IsQualityGood(item->Quality()));
  Changed();
}

void TOVMainCore::ConnectionLost() {
  ForEachItem(*server_, [this](const kopl::TKoplItem& item) { StatusChanged(item, false); });
  Changed();
}

void TOVMainCore::StatusChanged(const kopl::TKoplItem& item, bool good) {
  if (!item.Data) return;
  auto* status = dynamic_cast<TStatusTarget*>(static_cast<TItemTarget*>(item.Data));
  if (!status) return;
  LabelState& label = labels_[size_t(status->index)];
  label.colour = good ? LabelColour::Good : LabelColour::Bad;
  int64_t number = 0;
  switch (status->index) {
    case ZLStatus:
      label.text = ModemStatusText(ValueAsInt(item.Value(), number) ? number : 0);
      break;
    case ZLDCFStatus:
      label.text = DcfStateText(ValueAsInt(item.Value(), number) ? number : -1);
      break;
    default:
      label.text = ValueText(item.Value(), context_.format);
      break;
  }
}

void TOVMainCore::Changed() {
  if (OnChanged) OnChanged();
}

}  // namespace lumaro
