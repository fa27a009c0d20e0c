#include "opcclient/kopl_browser.h"

#include "opcclient/kopl_server.h"

namespace kopl {

namespace com = platform::com;

namespace {

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

TKoplBrowser::~TKoplBrowser() {
  if (server_) server_->RemoveFreeNotification(this);
}

void TKoplBrowser::SetOPCServer(TKoplServer* server) {
  if (server_ != server) {
    if (server_) server_->RemoveFreeNotification(this);
    if (server) server->FreeNotification(this);
  }
  server_ = server;
  organization_ = -1;
  names_.clear();
  path_.clear();
  browse_.reset();
}

void TKoplBrowser::Notification(TKoplServer* server) {
  if (server == server_) SetOPCServer(nullptr);
}

std::shared_ptr<com::IOPCBrowseServerAddressSpace> TKoplBrowser::GetBrowseInterface() {
  if (!server_) throw EOPCException("first define server object");
  if (!browse_) {
    names_.clear();
    path_.clear();
    organization_ = -1;
    std::shared_ptr<com::IOPCServer> server = server_->GetServerIntf();
    if (server) browse_ = com::Query<com::IOPCBrowseServerAddressSpace>(server);
    if (!browse_) server_->DoError("Browser interface not found");
  }
  return browse_;
}

bool TKoplBrowser::CheckResult(HRESULT hr) {
  if (com::SUCCEEDED(hr)) return true;
  std::string text = server_ ? server_->GetErrorString(hr) : "";
  if (Blank(text)) {
    try {
      OpcCheck(hr);
    } catch (const Exception& e) {
      text = e.what();
    }
  }
  if (server_) server_->DoError("Browser: " + text);
  return false;
}

int32_t TKoplBrowser::GetOrganization() {
  if (organization_ != -1) return organization_;
  std::shared_ptr<com::IOPCBrowseServerAddressSpace> browse = GetBrowseInterface();
  if (!browse) return -1;
  com::OPCNAMESPACETYPE type = com::OPC_NS_HIERARCHIAL;
  if (com::FAILED(browse->QueryOrganization(&type))) return -1;
  organization_ = int32_t(type);
  return organization_;
}

void TKoplBrowser::ShowBranches() { Browse(com::OPC_BRANCH); }

void TKoplBrowser::ShowLeafs(bool flat) { Browse(Flat() || flat ? com::OPC_FLAT : com::OPC_LEAF); }

void TKoplBrowser::Browse(com::OPCBROWSETYPE type) {
  names_.clear();
  std::shared_ptr<com::IOPCBrowseServerAddressSpace> browse = GetBrowseInterface();
  if (!browse) return;
  if (Flat() && type == com::OPC_BRANCH) return;  // a flat space has no branches
  std::shared_ptr<com::IEnumString> names;
  HRESULT hr = browse->BrowseOPCItemIDs(type, ToOpcText(Filter), com::VARTYPE(Datatype), AccessRights & 3, &names);
  if (CheckResult(hr) && names) EnumStringToList(names.get(), names_);
}

bool TKoplBrowser::Move(com::OPCBROWSEDIRECTION direction, const std::string& name) {
  try {
    if (Flat()) return false;
    std::shared_ptr<com::IOPCBrowseServerAddressSpace> browse = GetBrowseInterface();
    if (!browse || com::FAILED(browse->ChangeBrowsePosition(direction, ToOpcText(name)))) return false;
    return true;
  } catch (...) {
    return false;
  }
}

bool TKoplBrowser::MoveDown(const std::string& name) {
  if (!Move(com::OPC_BROWSE_DOWN, name)) return false;
  path_.push_back(name);
  return true;
}

bool TKoplBrowser::MoveUp() {
  if (!Move(com::OPC_BROWSE_UP, "")) return false;
  if (!path_.empty()) path_.pop_back();
  return true;
}

bool TKoplBrowser::MoveToRoot() {
  if (!Move(com::OPC_BROWSE_TO, "")) return false;
  path_.clear();
  return true;
}

std::string TKoplBrowser::GetItemID(const std::string& name) {
  std::shared_ptr<com::IOPCBrowseServerAddressSpace> browse = GetBrowseInterface();
  if (!browse) return "";
  std::string id;
  if (!CheckResult(browse->GetItemID(ToOpcText(name), &id))) return "";
  return FromOpcText(id);
}

}  // namespace kopl
