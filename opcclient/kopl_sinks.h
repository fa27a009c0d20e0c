// The three objects through which a server calls the client back: the shutdown request of a
// server (one per connected server component), the OPC DA 2.0 data callback and the OPC DA
// 1.0 data-object sink (one of them per connected group). A sink never runs program code: it
// updates the items, collects them and posts them to the component's hidden window.
//
// The server's connection keeps a sink alive as long as it likes; the component detaches its
// sinks when it disconnects, and a detached sink ignores whatever still arrives.
#pragma once

#include <memory>

#include "opcclient/kopl_types.h"
#include "platform/com/data_object.h"
#include "platform/com/opc_common.h"
#include "platform/com/opc_da.h"

namespace kopl {

class TKoplShutdownEvent final : public platform::com::IOPCShutdown,
                                 public std::enable_shared_from_this<TKoplShutdownEvent> {
 public:
  // Made and advised at the server's shutdown point.
  static std::shared_ptr<TKoplShutdownEvent> Create(TKoplServer& server);
  HRESULT AdviseResult() const { return advise_result_; }
  // Unadvises (when advised) and forgets the component.
  void Detach();

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<platform::com::IUnknown>* ppv) override;
  // Posts the shutdown message; the reason is not passed on.
  HRESULT ShutdownRequest(const std::string& szReason) override;

 private:
  explicit TKoplShutdownEvent(TKoplServer& server) : server_(&server) {}
  TKoplServer* server_;
  std::shared_ptr<platform::com::IOPCServer> source_;
  DWORD cookie_ = 0;
  HRESULT advise_result_ = platform::com::E_FAIL;
};

class TKoplDataCallback final : public platform::com::IOPCDataCallback,
                                public std::enable_shared_from_this<TKoplDataCallback> {
 public:
  // Made and advised at the group's data-callback point.
  static std::shared_ptr<TKoplDataCallback> Create(TKoplGroup& group);
  HRESULT AdviseResult() const { return advise_result_; }
  // Forgets the group (removing the server's group ends the server's connection).
  void Detach();

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<platform::com::IUnknown>* ppv) override;
  HRESULT OnDataChange(DWORD dwTransid, platform::com::OPCHANDLE hGroup, HRESULT hrMasterquality,
                       HRESULT hrMastererror, DWORD dwCount, const platform::com::OPCHANDLE* phClientItems,
                       const Variant* pvValues, const platform::com::WORD* pwQualities,
                       const FILETIME* pftTimeStamps, const HRESULT* pErrors) override;
  // Results of an asynchronous read reach the program as a data change.
  HRESULT OnReadComplete(DWORD dwTransid, platform::com::OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, const platform::com::OPCHANDLE* phClientItems,
                         const Variant* pvValues, const platform::com::WORD* pwQualities,
                         const FILETIME* pftTimeStamps, const HRESULT* pErrors) override;
  HRESULT OnWriteComplete(DWORD dwTransid, platform::com::OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                          const platform::com::OPCHANDLE* pClienthandles, const HRESULT* pErrors) override;
  HRESULT OnCancelComplete(DWORD dwTransid, platform::com::OPCHANDLE hGroup) override;

 private:
  explicit TKoplDataCallback(TKoplGroup& group) : group_(&group) {}
  // The group when the callback is for it, else nullptr.
  TKoplGroup* Target(platform::com::OPCHANDLE hGroup) const;
  TKoplGroup* group_;
  DWORD cookie_ = 0;
  HRESULT advise_result_ = platform::com::E_FAIL;
};

class TKoplAdviseSink final : public platform::com::IAdviseSink, public std::enable_shared_from_this<TKoplAdviseSink> {
 public:
  // Made and advised at the group's data object: the timed data stream (prime first), and
  // the write completions, which an OPC DA 1.0 server sends only to a connection of their own.
  static std::shared_ptr<TKoplAdviseSink> Create(TKoplGroup& group);
  // The result of the data stream's advise.
  HRESULT AdviseResult() const { return advise_result_; }
  DWORD Connection() const { return connection_; }
  bool Advised() const { return advise_result_ == platform::com::S_OK; }
  // The connection an asynchronous write names: the write completions' one, or the data
  // stream's when the server took no advise for write completions.
  DWORD WriteConnection() const { return write_advised_ ? write_connection_ : connection_; }
  // Data-object unadvise of what is advised; afterwards nothing is.
  void Unadvise();
  void Detach() { group_ = nullptr; }

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<platform::com::IUnknown>* ppv) override;
  void OnDataChange(const platform::com::FORMATETC* pFormatetc, const platform::com::STGMEDIUM* pStgmed) override;
  void OnViewChange(DWORD, platform::com::LONG) override {}
  void OnRename() override {}
  void OnSave() override {}
  void OnClose() override {}

 private:
  explicit TKoplAdviseSink(TKoplGroup& group) : group_(&group) {}
  TKoplGroup* group_;
  std::shared_ptr<platform::com::IOPCItemMgt> source_;
  DWORD connection_ = 0;
  HRESULT advise_result_ = platform::com::E_FAIL;
  DWORD write_connection_ = 0;
  bool write_advised_ = false;
};

}  // namespace kopl
