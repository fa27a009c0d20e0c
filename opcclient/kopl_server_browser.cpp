#include "opcclient/kopl_server_browser.h"

#include "opcclient/kopl_errors.h"
#include "opcclient/kopl_services.h"
#include "platform/com/class_registry.h"
#include "platform/com/rpc/server_list.h"
#include "platform/com/server_list.h"

namespace kopl {

namespace com = platform::com;

std::shared_ptr<com::IOPCServerList> NewRegistryServerList() { return com::NewRegistryServerList(); }

HRESULT CreateServerList(const std::string& computer_name, std::shared_ptr<com::IOPCServerList>* out) {
  com::rpc::ActivationOptions options;
  options.computer_name = computer_name;
  std::string why;
  HRESULT hr = com::rpc::CreateServerList(options, out, &why);
  if (com::FAILED(hr) && !why.empty()) LogLine("OPC: server list: " + why);
  return hr;
}

void TKoplServerBrowser::Search() {
  Clear();
  std::shared_ptr<com::IOPCServerList> list;
  OleCheck(factory_ ? factory_(ComputerName, &list) : CreateServerList(ComputerName, &list));
  if (!list) throw EIntfCastError();
  if (Servertype & svr_DA10) EnumCategory(*list, com::CATID_OPCDAServer10, svr_DA10);
  if (Servertype & svr_DA20) EnumCategory(*list, com::CATID_OPCDAServer20, svr_DA20);
  if (Servertype & svr_AE10) EnumCategory(*list, com::CATID_OPCAEServer10, svr_AE10);
}

void TKoplServerBrowser::EnumCategory(com::IOPCServerList& list, const com::CATID& category, uint32_t flag) {
  std::shared_ptr<com::IEnumGUID> classes;
  OleCheck(list.EnumClassesOfCategories(1, &category, 0, nullptr, &classes));
  if (!classes) return;
  com::GUID clsid;
  com::ULONG got = 0;
  while (classes->Next(1, &clsid, &got) == com::S_OK && got == 1) {
    std::string prog_id, user_type;
    OleCheck(list.GetClassDetails(clsid, &prog_id, &user_type));
    AddServer(FromOpcText(user_type), FromOpcText(prog_id), flag, GUIDToText(clsid));
  }
}

void TKoplServerBrowser::AddServer(const std::string& user_type, const std::string& prog_id, uint32_t flag,
                                   const std::string& clsid) {
  TKoplServerItem* entry = nullptr;
  for (auto it = items_.rbegin(); it != items_.rend() && !entry; ++it) {
    if (it->CLSID == clsid) entry = &*it;
  }
  if (!entry) {
    items_.push_back({ComputerName, user_type, prog_id, clsid, 0});
    entry = &items_.back();
  }
  entry->ServerType |= flag;
}

}  // namespace kopl
