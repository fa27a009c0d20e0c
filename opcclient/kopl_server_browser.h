// TKoplServerBrowser lists the OPC servers of a computer by the component categories they
// implement, through a server-list object (IOPCServerList). On this computer that object reads
// the registry's class entries; another computer's list comes from that computer's OPC service.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl_types.h"
#include "platform/com/opc_common.h"

namespace kopl {

inline constexpr uint32_t svr_DA20 = 1;
inline constexpr uint32_t svr_DA10 = 2;
inline constexpr uint32_t svr_AE10 = 4;
inline constexpr uint32_t svr_All = svr_DA20 | svr_DA10 | svr_AE10;

struct TKoplServerItem {
  std::string ComputerName;  // the browser's at the time of the search
  std::string UserType;      // the server's readable name
  std::string ProgID;
  std::string CLSID;  // "{...}"
  uint32_t ServerType = 0;  // svr_ bits
};

// Creates the server-list object of a computer (blank: this one).
using CreateServerListFn = std::function<HRESULT(const std::string& computer_name,
                                                 std::shared_ptr<platform::com::IOPCServerList>* out)>;

// This computer's server list, from the registry file the platform names.
std::shared_ptr<platform::com::IOPCServerList> NewRegistryServerList();
// The default: the registry's list for this computer, the OPC service's for another (why it
// failed goes to the log).
HRESULT CreateServerList(const std::string& computer_name, std::shared_ptr<platform::com::IOPCServerList>* out);

class TKoplServerBrowser {
 public:
  TKoplServerBrowser() = default;

  std::string ComputerName;
  uint32_t Servertype = svr_All;

  void Clear() { items_.clear(); }
  int32_t GetCount() const { return int32_t(items_.size()); }
  TKoplServerItem& GetItem(int32_t index) { return items_.at(size_t(index)); }
  TKoplServerItem& operator[](int32_t index) { return GetItem(index); }

  // Clears the list, then adds every server of the selected categories (DA 1.0, DA 2.0,
  // AE 1.0 in this order); a server in several categories appears once with several flags.
  // Failures raise EOleSysError; the list keeps what was found before.
  void Search();
  // In place of CreateServerList, for tests.
  void SetServerListFactory(CreateServerListFn factory) { factory_ = std::move(factory); }

 private:
  void EnumCategory(platform::com::IOPCServerList& list, const platform::com::CATID& category, uint32_t flag);
  void AddServer(const std::string& user_type, const std::string& prog_id, uint32_t flag, const std::string& clsid);

  std::vector<TKoplServerItem> items_;
  CreateServerListFn factory_;
};

}  // namespace kopl
