#include "opcclient/kopl_server_browser.h"

#include "opcclient/kopl_errors.h"
#include "platform/com/class_registry.h"
#include "platform/com/rpc/client.h"
#include "platform/registry.h"

namespace kopl {

namespace com = platform::com;

namespace {

// The server list of this computer: the classes under CLSID whose "Implemented Categories"
// name the category.
class RegistryServerList final : public com::IOPCServerList, public std::enable_shared_from_this<RegistryServerList> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<com::IUnknown>* ppv) override {
    return com::AnswerQuery(this, riid, ppv, {com::IID_IOPCServerList});
  }

  HRESULT EnumClassesOfCategories(com::ULONG cImplemented, const com::CATID* rgcatidImpl, com::ULONG cRequired,
                                  const com::CATID* rgcatidReq, std::shared_ptr<com::IEnumGUID>* ppenumClsid) override {
    if (!ppenumClsid || (cImplemented && !rgcatidImpl) || (cRequired && !rgcatidReq)) return com::E_POINTER;
    const std::string classes = std::string(platform::kClassesRoot) + "\\CLSID";
    std::vector<com::GUID> found;
    for (const std::string& name : reg_.SubKeys(classes)) {
      std::optional<com::GUID> clsid = com::GuidFromString(name);
      if (!clsid) continue;
      const std::string implemented = classes + "\\" + name + "\\Implemented Categories\\";
      bool any = cImplemented == 0;
      for (com::ULONG i = 0; i < cImplemented && !any; ++i) {
        any = reg_.KeyExists(implemented + com::GuidToString(rgcatidImpl[i]));
      }
      bool all = true;
      for (com::ULONG i = 0; i < cRequired && all; ++i) {
        all = reg_.KeyExists(implemented + com::GuidToString(rgcatidReq[i]));
      }
      if (any && all) found.push_back(*clsid);
    }
    *ppenumClsid = std::make_shared<com::GuidListEnum>(std::move(found));
    return com::S_OK;
  }

  HRESULT GetClassDetails(const com::CLSID& clsid, std::string* ppszProgID, std::string* ppszUserType) override {
    if (!ppszProgID || !ppszUserType) return com::E_POINTER;
    const std::string key = com::ClassKey(clsid);
    if (!reg_.KeyExists(key)) return com::REGDB_E_CLASSNOTREG;
    *ppszProgID = reg_.String(key + "\\ProgID").value_or("");
    *ppszUserType = reg_.String(key).value_or("");
    return com::S_OK;
  }

 private:
  platform::Registry reg_;
};

}  // namespace

std::shared_ptr<com::IOPCServerList> NewRegistryServerList() { return std::make_shared<RegistryServerList>(); }

HRESULT CreateServerList(const std::string& computer_name, std::shared_ptr<com::IOPCServerList>* out) {
  if (!com::rpc::IsLocalComputer(computer_name)) return com::RPC_S_SERVER_UNAVAILABLE;
  *out = NewRegistryServerList();
  return com::S_OK;
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
