#include "explorer/main_model.h"

#include "opcclient/kopl_routines.h"

namespace explorer {

namespace {

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

// A server time for the status panel; "" for none (a zero time from the server).
std::string DateTimeText(kopl::TDateTime t) { return t == 0 ? "" : kopl::DateTimeToText(t); }

}  // namespace

std::string InfoText() {
  return "Feddra - an OPC client for OPC DA servers\r"
         "23.01.06\r"
         "\r"
         "built with the KOPL client components 1.40, https://qar-telemetry.example/kopl";
}

TMainModel::TMainModel(TExplorerDialogs& dialogs, platform::MessageService& messages, Options options)
    : dialogs_(dialogs),
      messages_(messages),
      options_(std::move(options)),
      settings_(options_.settings_path.empty() ? TExplorerSettings::DefaultPath() : options_.settings_path),
      clock_(options_.clock ? *options_.clock : platform::DefaultClock()) {
  // Before any object of the connection exists, so that remote servers can call back.
  kopl::InitComSecurity();
  server_ = std::make_unique<kopl::TKoplServer>(kopl::KoplBuild::Explorer);
  server_->SetName("OPCServer");
  if (options_.apartment) server_->SetApartment(*options_.apartment);
  if (options_.clock) server_->SetClock(options_.clock);
  server_->SetBatchMode(false);
  server_->OPCGroupDefault() = kopl::TdDefaultGroup{};  // active, 1000 ms, dead band 0, locale 0, bias 0
  server_->SetConnectDelay(300);
  explorer_ = std::make_unique<TExplorerModel>(*server_);
  inspector_ = std::make_unique<TInspecModel>(*server_, dialogs_, messages_, clock_);

  server_->OnConnect = [this](kopl::TKoplServer*) {
    timer_enabled_ = true;
    Changed();
    explorer_->BuildTree();
  };
  server_->OnDisconnect = [this](kopl::TKoplServer*) { explorer_->ClearView(); };
  server_->OnServerShutdown = [this](kopl::TKoplServer*, const std::string&) {
    timer_enabled_ = false;
    ClearStatus();
    error_info_ = "Disconnect from Server";
    Changed();
  };
  server_->OnError = [this](kopl::TKoplServer*, const std::string& text, bool& raise) {
    error_info_ = text;
    raise = false;
    Changed();
  };
  server_->OnDatachange = [this](kopl::TKoplServer*, kopl::TKoplItemList& items) { inspector_->DataChange(items); };
  server_->OnWriteComplete = [this](kopl::TKoplServer*, kopl::TKoplItemList&) {
    error_info_ = "Async write values OK";
    Changed();
  };
  server_->OnWriteError = [this](kopl::TKoplServer*, kopl::TKoplItemList&) {
    error_info_ = "Async write values ERROR";
    Changed();
  };
}

TMainModel::~TMainModel() {
  // No event reaches the window's logic while the connection goes.
  server_->OnDisconnect = nullptr;
  server_->OnError = nullptr;
  inspector_.reset();
  explorer_.reset();
  server_.reset();
}

void TMainModel::ClearStatus() {
  status_ = TStatusTexts{};
  status_.Server = "not connected";
}

void TMainModel::FormShow() {
  server_text_ = settings_.LastServer();
  ClearStatus();
  error_info_.clear();
  Changed();
  explorer_->ClearView();
  inspector_->FormShow();
}

void TMainModel::ServerComboDropDown() {
  std::string joined;
  for (const std::string& s : server_list_) joined += s;
  if (!Blank(joined)) return;  // filled once per run
  platform::WaitCursor wait(messages_);
  kopl::GetOPCServers(server_list_);
  Changed();
}

void TMainModel::Connect() {
  const std::string text = server_text_;
  if (Blank(text)) {
    messages_.Show(platform::MessageKind::Plain, "first select OPC Server", platform::MessageButtons::Ok);
    return;
  }
  error_info_.clear();
  Changed();
  server_->SetServerName(text);
  server_->SetActive(true);
  settings_.SetLastServer(server_->ServerName());
}

void TMainModel::Disconnect() { server_->SetActive(false); }

void TMainModel::RemoteSelect() {
  std::string computer = server_->ComputerName();
  std::string prog_id;
  std::string clsid;
  if (dialogs_.SelectServer(computer, prog_id, clsid)) {
    server_text_ = clsid;
    Changed();
  }
  // Also after Cancel: the computer typed there is the one to use.
  server_->SetComputerName(computer);
}

void TMainModel::TimerTick() {
  timer_enabled_ = false;
  if (!server_->Active()) {
    ClearStatus();
    Changed();
    return;
  }
  try {
    inspector_->ShowGroupState();
    kopl::tServerStateRec state = server_->GetServerStatus();
    status_.Server = server_->ServerName();
    status_.State = kopl::ServerStateText(state.ServerState);
    status_.Info = state.VendorInfo;
    status_.StartTime = DateTimeText(state.StartTime);
    status_.UpdateTime = DateTimeText(state.LastUpdateTime);
    timer_enabled_ = true;
  } catch (const std::exception&) {
    // The server is gone or broken: off, and the timer stays off.
    timer_enabled_ = false;
    server_->SetActive(false);
    ClearStatus();
  }
  Changed();
}

void TMainModel::NewSession() {
  server_->OPCGroups().Clear();
  server_->SetActive(false);
  server_->SetServerName("");
  server_->SetComputerName("");
  server_text_.clear();
  Changed();
  inspector_->RebuildTree();
}

void TMainModel::LoadSession(const std::string& file_name) {
  try {
    server_->LoadFromFile(file_name);
  } catch (...) {
    // Groups read before the failure stay in the connection: show them.
    server_text_ = server_->ServerName();
    Changed();
    try {
      inspector_->RebuildTree();
    } catch (...) {
    }
    throw;
  }
}

void TMainModel::Open() {
  if (!dialogs_.OpenSessionFile(open_file_name_)) return;
  NewSession();
  LoadSession(open_file_name_);
  settings_.SetLastFile(open_file_name_);
  server_text_ = server_->ServerName();
  Changed();
  inspector_->RebuildTree();
}

void TMainModel::Save() {
  std::string file_name = open_file_name_;
  if (!dialogs_.SaveSessionFile(file_name)) return;
  server_->SaveToFile(file_name);
  // Recorded once the file is there, so "Open Last Saved" never names a file that failed.
  settings_.SetLastFile(file_name);
}

void TMainModel::OpenLastSaved() {
  NewSession();
  const std::string file_name = settings_.LastFile();
  if (file_name.empty()) return;
  LoadSession(file_name);
  server_text_ = server_->ServerName();
  Changed();
  inspector_->RebuildTree();
  ShowInspector();
}

void TMainModel::LoadLastConfig() {
  NewSession();
  LoadSession(options_.last_config);
  server_text_ = server_->ServerName();
  Changed();
  inspector_->RebuildTree();
  ShowInspector();
}

void TMainModel::Close() {
  if (!server_->Active()) return;  // the file keeps the last connected set-up
  try {
    server_->SaveToFile(options_.last_config);
  } catch (...) {
  }
}

void TMainModel::Info() { messages_.Show(platform::MessageKind::Plain, InfoText(), platform::MessageButtons::Ok); }

void TMainModel::AddItemsToInspector(const std::vector<std::string>& ids) {
  const std::string group = dialogs_.SelectGroup(inspector_->GetGroupNames());
  if (!group.empty()) inspector_->AddItemsToGroup(group, ids);
}

}  // namespace explorer
