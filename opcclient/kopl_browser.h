// TKoplBrowser walks the address space of the server a TKoplServer is connected to. Every
// server component owns one (its Browser), which it points at itself while connected.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl_types.h"
#include "platform/com/opc_da.h"

namespace kopl {

class TKoplBrowser {
 public:
  TKoplBrowser() = default;
  ~TKoplBrowser();
  TKoplBrowser(const TKoplBrowser&) = delete;
  TKoplBrowser& operator=(const TKoplBrowser&) = delete;

  TKoplServer* OPCServer() const { return server_; }
  // Even for the same server: forgets the organisation, both lists and the interface.
  void SetOPCServer(TKoplServer* server);
  std::string Filter;
  OPCADatatype Datatype = OPCADatatype::vtEMPTY;
  uint32_t AccessRights = 0;  // opcReadable | opcWritable

  // The result of the last browse.
  const std::vector<std::string>& Names() const { return names_; }
  // Branch names entered from the root; the last is the current position.
  const std::vector<std::string>& Path() const { return path_; }

  // 1 hierarchical, 2 flat; -1 when the server could not say.
  int32_t GetOrganization();
  void ShowBranches();
  // Flat names when the space is flat or flat is asked for, else the current branch's leaves.
  void ShowLeafs(bool flat);
  // Each false for a flat space, a refused move or any failure.
  bool MoveDown(const std::string& name);
  bool MoveUp();
  bool MoveToRoot();
  // The full item ID of a browse name; "" on failure.
  std::string GetItemID(const std::string& name);

  // The server component is being freed.
  void Notification(TKoplServer* server);

 private:
  std::shared_ptr<platform::com::IOPCBrowseServerAddressSpace> GetBrowseInterface();
  bool CheckResult(HRESULT hr);
  void Browse(platform::com::OPCBROWSETYPE type);
  bool Flat() { return GetOrganization() == platform::com::OPC_NS_FLAT; }
  bool Move(platform::com::OPCBROWSEDIRECTION direction, const std::string& name);

  TKoplServer* server_ = nullptr;
  std::shared_ptr<platform::com::IOPCBrowseServerAddressSpace> browse_;
  int32_t organization_ = -1;
  std::vector<std::string> names_;
  std::vector<std::string> path_;
};

}  // namespace kopl
