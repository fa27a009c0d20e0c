#include "opcclient/kopl_server.h"

#include <algorithm>

#include "opcclient/kopl_browser.h"
#include "opcclient/kopl_group.h"
#include "opcclient/kopl_sinks.h"
#include "platform/com/connection_point.h"
#include "platform/com/rpc/client.h"

namespace kopl {

namespace com = platform::com;

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

TKoplServer::TKoplServer(std::optional<KoplBuild> build)
    : build_(build.value_or(Services().build)),
      browser_(std::make_unique<TKoplBrowser>()),
      groups_(std::make_unique<TKoplGroups>(*this)),
      version_(build_ == KoplBuild::Explorer ? "1.40" : "1.43"),
      apartment_(&com::MainApartment()) {}

TKoplServer::~TKoplServer() {
  window_.reset();
  OnDisconnect = nullptr;
  try {
    SetActive(false);
  } catch (const std::exception& e) {
    HandleException(e);
  }
  browser_.reset();
  groups_.reset();
  for (TKoplBrowser* b : std::vector<TKoplBrowser*>(notified_)) b->Notification(this);
}

void TKoplServer::Loaded() {
  loading_ = false;
  if (designing_) batch_mode_ = false;
  if (active_) {
    active_ = false;
    SetActive(true);
  } else if (server_) {
    // The text said Active = False while a connection was open: close it, so that Active
    // and the connection agree again.
    DisconnectAll();
    if (OnDisconnect) OnDisconnect(this);
  }
}

void TKoplServer::SetServerName(const std::string& value) {
  if (value == server_name_) return;
  if (!loading_) SetActive(false);
  server_name_ = value;
}

void TKoplServer::SetComputerName(const std::string& value) {
  if (value == computer_name_) return;
  if (!loading_) SetActive(false);
  computer_name_ = value;
}

void TKoplServer::SetActive(bool value) {
  if (loading_) {
    active_ = value;
    return;
  }
  if (value == active_) return;
  if (value) return Connect();
  active_ = false;
  DisconnectAll();
  if (OnDisconnect) OnDisconnect(this);
  active_ = false;
}

void TKoplServer::Connect() {
  const bool visualisation = build_ == KoplBuild::Visualisation;
  if (visualisation) WindowHandle();
  DisconnectAll();
  CLSID clsid;
  if (!ServerNameToCLSID(server_name_, clsid)) return DoError("first define servername");

  std::shared_ptr<com::IUnknown> object;
  std::string why;
  HRESULT hr = CreateServerObject(clsid, Trim(computer_name_), *apartment_, &object, &why);
  if (com::FAILED(hr)) {
    if (!why.empty()) LogLine("OPC: " + server_name_ + ": " + why);
    throw EOleSysError(hr);
  }
  std::shared_ptr<com::IOPCServer> server;
  if (object) {
    server = com::Query<com::IOPCServer>(object);
    if (!server) throw EIntfCastError();
  }
  // A freshly started server needs time to build its address space before items come.
  if ((visualisation || GroupsHoldItems()) && connect_delay_ > 0) Clock().SleepMs(uint32_t(connect_delay_));
  if (!server) return DoError("Unable to connect to OPC server " + server_name_);

  server_ = std::move(server);
  active_ = true;
  WatchConnection();
  browser_->SetOPCServer(this);
  shutdown_sink_ = TKoplShutdownEvent::Create(*this);
  common_ = com::Query<com::IOPCCommon>(server_);
  item_props_ = com::Query<com::IOPCItemProperties>(server_);
  if (common_ && !Trim(client_name_).empty()) common_->SetClientName(ToOpcText(client_name_));
  groups_->ConnectAll();
  if (OnConnect) OnConnect(this);
  active_ = true;
}

void TKoplServer::WatchConnection() {
  connection_token_ = std::make_shared<char>();
  const uintptr_t number = ++connection_number_;
  com::rpc::WatchConnection(server_, [this, token = std::weak_ptr<char>(connection_token_), number] {
    if (!token.expired()) PostMessage(WM_OPC_CONNECTIONLOST, number);
  });
}

void TKoplServer::DisconnectAll() {
  connection_token_.reset();
  if (shutdown_sink_) {
    shutdown_sink_->Detach();
    shutdown_sink_.reset();
  }
  common_.reset();
  item_props_.reset();
  groups_->DisconnectAll();
  if (browser_->OPCServer()) browser_->SetOPCServer(nullptr);
  server_.reset();
}

tServerStateRec TKoplServer::GetServerStatus() {
  tServerStateRec r;
  if (!CheckConnected()) return r;
  com::OPCSERVERSTATUS status;
  OpcCheck(server_->GetStatus(&status));
  r.StartTime = FileTimeToDateTime(status.ftStartTime);
  r.CurrentTime = FileTimeToDateTime(status.ftCurrentTime);
  r.LastUpdateTime = FileTimeToDateTime(status.ftLastUpdateTime);
  r.ServerState = int32_t(status.dwServerState);
  r.GroupCount = status.dwGroupCount;
  r.BandWidth = status.dwBandWidth;
  r.MajorVersion = status.wMajorVersion;
  r.MinorVersion = status.wMinorVersion;
  r.BuildNumber = status.wBuildNumber;
  r.VendorInfo = FromOpcText(status.szVendorInfo);
  return r;
}

std::string TKoplServer::GetErrorString(HRESULT code) {
  if (!CheckConnected()) return "";
  std::string text;
  if (com::FAILED(server_->GetErrorString(code, 0, &text))) return "";
  return FromOpcText(text);
}

void TKoplServer::DoError(const std::string& text) {
  bool raise = true;
  if (OnError) OnError(this, text, raise);
  if (raise) throw EOPCException(text);
}

bool TKoplServer::CheckConnected() {
  if (server_) return true;
  DoError("not connected to server");
  return false;
}

std::shared_ptr<com::IOPCServer> TKoplServer::GetServerIntf() {
  if (!CheckConnected()) return nullptr;
  return server_;
}

std::shared_ptr<com::IOPCCommon> TKoplServer::GetCommonIntf() {
  if (!CheckConnected()) return nullptr;
  if (!common_) common_ = com::Query<com::IOPCCommon>(server_);
  return common_;
}

std::shared_ptr<com::IOPCItemProperties> TKoplServer::GetItemPropertiesIntf() {
  if (!CheckConnected()) return nullptr;
  if (!item_props_) item_props_ = com::Query<com::IOPCItemProperties>(server_);
  return item_props_;
}

bool TKoplServer::SupportsConnectionPoints() {
  return server_ && com::Query<com::IConnectionPointContainer>(server_) != nullptr;
}

TKoplWindow& TKoplServer::WindowHandle() {
  if (!window_) window_ = std::make_unique<TKoplWindow>(*apartment_, [this](TKoplMessage& m) { Dispatch(m); });
  return *window_;
}

bool TKoplServer::GroupsHoldItems() {
  for (int32_t i = 0; i < groups_->Count(); ++i) {
    if (groups_->GetItem(i).OPCItems().Count() > 0) return true;
  }
  return false;
}

uint32_t TKoplServer::DataChangeMessage() const {
  return build_ == KoplBuild::Explorer ? WM_OPC_DATACHANGE : WM_OPC_DATACHANGE_VISUALISATION;
}

void TKoplServer::PostMessage(uint32_t msg, uintptr_t wParam, std::unique_ptr<TKoplPostedItems> items) {
  WindowHandle().Post(msg, wParam, std::move(items));
}

void TKoplServer::CountUnknownHandle(const TKoplGroup& group, com::OPCHANDLE handle) {
  if (unknown_handles_++ == 0) {
    LogLine("OPC: server reported client handle " + std::to_string(handle) + " that is no item of group \"" +
            group.Name() + "\"; such handles are ignored");
  }
}

void TKoplServer::FreeNotification(TKoplBrowser* browser) {
  if (std::find(notified_.begin(), notified_.end(), browser) == notified_.end()) notified_.push_back(browser);
}

void TKoplServer::RemoveFreeNotification(TKoplBrowser* browser) {
  notified_.erase(std::remove(notified_.begin(), notified_.end(), browser), notified_.end());
}

TKoplItemList TKoplServer::Resolve(const TKoplPostedItems* items) {
  TKoplItemList list;
  if (!items) return list;
  TKoplGroup* group = groups_->FindItemID(items->group_id);
  if (!group) return list;
  for (com::OPCHANDLE h : items->handles) {
    if (TKoplItem* item = group->OPCItems().FindHandle(h)) list.Add(item);
  }
  return list;
}

void TKoplServer::Dispatch(TKoplMessage& m) {
  if (m.msg == WM_OPC_SHUTDOWN) {
    if (OnServerShutdown) OnServerShutdown(this, "");
    SetActive(false);
  } else if (m.msg == DataChangeMessage()) {
    if (!groups_->FindItemID(int32_t(m.wParam))) return;
    TKoplItemList list = Resolve(m.items.get());
    if (OnDatachange) OnDatachange(this, list);
    if (build_ == KoplBuild::Visualisation && AttachedDisplayCount() > 0) {
      for (TKoplItem* item : list) {
        for (TKoplGUIItem* display : item->AttachedObjects()) display->SetValueToControl(item->Value());
      }
    }
  } else if (m.msg == WM_OPC_WRITEERROR) {
    TKoplItemList list = Resolve(m.items.get());
    if (OnWriteError) {
      OnWriteError(this, list);
    } else {
      list.ReportErrors("cannot write Items:", true);
    }
  } else if (m.msg == WM_OPC_WRITECOMPLETE) {
    TKoplItemList list = Resolve(m.items.get());
    if (OnWriteComplete) OnWriteComplete(this, list);
  } else if (m.msg == WM_OPC_CONNECTIONLOST) {
    // Disconnected meanwhile (and maybe connected anew): that connection is no longer held.
    if (!server_ || m.wParam != connection_number_) return;
    LogLine("OPC: " + server_name_ + ": the connection to the server is lost");
    SetActive(false);
  }
}

}  // namespace kopl
