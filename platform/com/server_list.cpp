#include "platform/com/server_list.h"

#include "platform/com/class_registry.h"

namespace platform::com {

namespace {

class RegistryServerList final : public IOPCServerList, public std::enable_shared_from_this<RegistryServerList> {
 public:
  explicit RegistryServerList(platform::Registry reg) : reg_(std::move(reg)) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCServerList});
  }

  HRESULT EnumClassesOfCategories(ULONG cImplemented, const CATID* rgcatidImpl, ULONG cRequired,
                                  const CATID* rgcatidReq, std::shared_ptr<IEnumGUID>* ppenumClsid) override {
    if (!ppenumClsid || (cImplemented && !rgcatidImpl) || (cRequired && !rgcatidReq)) return E_POINTER;
    const std::string classes = std::string(platform::kClassesRoot) + "\\CLSID";
    std::vector<GUID> found;
    for (const std::string& name : reg_.SubKeys(classes)) {
      std::optional<GUID> clsid = GuidFromString(name);
      if (!clsid) continue;
      const std::string implemented = classes + "\\" + name + "\\Implemented Categories\\";
      bool any = cImplemented == 0;
      for (ULONG i = 0; i < cImplemented && !any; ++i) any = reg_.KeyExists(implemented + GuidToString(rgcatidImpl[i]));
      bool all = true;
      for (ULONG i = 0; i < cRequired && all; ++i) all = reg_.KeyExists(implemented + GuidToString(rgcatidReq[i]));
      if (any && all) found.push_back(*clsid);
    }
    *ppenumClsid = std::make_shared<GuidListEnum>(std::move(found));
    return S_OK;
  }

  HRESULT GetClassDetails(const CLSID& clsid, std::string* ppszProgID, std::string* ppszUserType) override {
    if (!ppszProgID || !ppszUserType) return E_POINTER;
    const std::string key = ClassKey(clsid);
    if (!reg_.KeyExists(key)) return REGDB_E_CLASSNOTREG;
    *ppszProgID = reg_.String(key + "\\ProgID").value_or("");
    *ppszUserType = reg_.String(key).value_or("");
    return S_OK;
  }

 private:
  platform::Registry reg_;
};

}  // namespace

std::shared_ptr<IOPCServerList> NewRegistryServerList(const platform::Registry& reg) {
  return std::make_shared<RegistryServerList>(reg);
}

}  // namespace platform::com
