#include "opcclient/kopl_sinks.h"

#include "opcclient/kopl_group.h"
#include "opcclient/kopl_server.h"
#include "platform/com/opc_stream.h"

namespace kopl {

namespace com = platform::com;

// ---- TKoplShutdownEvent ----

std::shared_ptr<TKoplShutdownEvent> TKoplShutdownEvent::Create(TKoplServer& server) {
  std::shared_ptr<TKoplShutdownEvent> sink(new TKoplShutdownEvent(server));
  sink->source_ = server.ServerRef();
  sink->advise_result_ = ConnectSink(sink->source_, com::IID_IOPCShutdown, sink, sink->cookie_);
  return sink;
}

void TKoplShutdownEvent::Detach() {
  if (advise_result_ == com::S_OK && source_) DisconnectSink(source_, com::IID_IOPCShutdown, cookie_);
  advise_result_ = com::E_FAIL;
  source_.reset();
  server_ = nullptr;
}

HRESULT TKoplShutdownEvent::QueryInterface(const IID& riid, std::shared_ptr<com::IUnknown>* ppv) {
  return com::AnswerQuery(this, riid, ppv, {com::IID_IOPCShutdown});
}

HRESULT TKoplShutdownEvent::ShutdownRequest(const std::string&) {
  if (server_) server_->PostMessage(WM_OPC_SHUTDOWN, 0);
  return com::S_OK;
}

// ---- TKoplDataCallback ----

std::shared_ptr<TKoplDataCallback> TKoplDataCallback::Create(TKoplGroup& group) {
  std::shared_ptr<TKoplDataCallback> sink(new TKoplDataCallback(group));
  sink->advise_result_ = ConnectSink(group.GroupRef(), com::IID_IOPCDataCallback, sink, sink->cookie_);
  return sink;
}

void TKoplDataCallback::Detach() { group_ = nullptr; }

HRESULT TKoplDataCallback::QueryInterface(const IID& riid, std::shared_ptr<com::IUnknown>* ppv) {
  return com::AnswerQuery(this, riid, ppv, {com::IID_IOPCDataCallback});
}

TKoplGroup* TKoplDataCallback::Target(com::OPCHANDLE hGroup) const {
  if (!group_ || hGroup != com::OPCHANDLE(group_->ID())) return nullptr;
  return group_;
}

HRESULT TKoplDataCallback::OnDataChange(DWORD dwTransid, com::OPCHANDLE hGroup, HRESULT, HRESULT, DWORD dwCount,
                                        const com::OPCHANDLE* phClientItems, const Variant* pvValues,
                                        const com::WORD* pwQualities, const FILETIME* pftTimeStamps,
                                        const HRESULT* pErrors) {
  TKoplGroup* group = Target(hGroup);
  if (!group) return com::S_OK;
  group->ClearTransaction(dwTransid);
  auto posted = std::make_unique<TKoplPostedItems>();
  posted->group_id = group->ID();
  if (dwCount && phClientItems && pvValues && pwQualities && pftTimeStamps && pErrors) {
    posted->handles.reserve(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
      TKoplItem* item = group->OPCItems().FindHandle(phClientItems[i]);
      if (!item) {
        group->Server().CountUnknownHandle(*group, phClientItems[i]);
        continue;
      }
      posted->handles.push_back(phClientItems[i]);
      item->SetQuality(pwQualities[i]);
      item->SetValue(pvValues[i]);
      item->SetTimeStamp(FileTimeToDateTime(pftTimeStamps[i]));
      item->ItemErrorCode = pErrors[i];
    }
  }
  group->Server().PostMessage(group->Server().DataChangeMessage(), uintptr_t(hGroup), std::move(posted));
  return com::S_OK;
}

HRESULT TKoplDataCallback::OnReadComplete(DWORD dwTransid, com::OPCHANDLE hGroup, HRESULT hrMasterquality,
                                          HRESULT hrMastererror, DWORD dwCount, const com::OPCHANDLE* phClientItems,
                                          const Variant* pvValues, const com::WORD* pwQualities,
                                          const FILETIME* pftTimeStamps, const HRESULT* pErrors) {
  if (TKoplGroup* group = Target(hGroup)) group->ClearTransaction(dwTransid);
  return OnDataChange(dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems, pvValues,
                      pwQualities, pftTimeStamps, pErrors);
}

HRESULT TKoplDataCallback::OnWriteComplete(DWORD dwTransid, com::OPCHANDLE hGroup, HRESULT, DWORD dwCount,
                                           const com::OPCHANDLE* pClienthandles, const HRESULT* pErrors) {
  TKoplGroup* group = Target(hGroup);
  if (!group) return com::S_OK;
  group->ClearTransaction(dwTransid);
  auto posted = std::make_unique<TKoplPostedItems>();
  posted->group_id = group->ID();
  int failed = 0;
  if (dwCount && pClienthandles && pErrors) {
    for (DWORD i = 0; i < dwCount; ++i) {
      TKoplItem* item = group->OPCItems().FindHandle(pClienthandles[i]);
      if (!item) {
        group->Server().CountUnknownHandle(*group, pClienthandles[i]);
        continue;
      }
      item->ItemErrorCode = pErrors[i];
      // Success codes other than S_OK count as failures too.
      if (pErrors[i] != 0) {
        item->SetQuality(0);
        ++failed;
      }
      posted->handles.push_back(pClienthandles[i]);
    }
  }
  group->Server().PostMessage(failed ? WM_OPC_WRITEERROR : WM_OPC_WRITECOMPLETE, 0, std::move(posted));
  return com::S_OK;
}

HRESULT TKoplDataCallback::OnCancelComplete(DWORD dwTransid, com::OPCHANDLE hGroup) {
  if (TKoplGroup* group = Target(hGroup)) group->ClearTransaction(dwTransid);
  return com::S_OK;
}

// ---- TKoplAdviseSink ----

std::shared_ptr<TKoplAdviseSink> TKoplAdviseSink::Create(TKoplGroup& group) {
  std::shared_ptr<TKoplAdviseSink> sink(new TKoplAdviseSink(group));
  sink->source_ = group.GroupRef();
  sink->advise_result_ = DataObjectAdvise(sink->source_, sink, sink->connection_);
  if (sink->Advised()) {
    // The completions themselves are not reported (see OnDataChange); the connection is what
    // the server checks the write against.
    sink->write_advised_ =
        DataObjectAdvise(sink->source_, sink, sink->write_connection_, FormatWriteComplete(), 0) == com::S_OK;
  }
  return sink;
}

void TKoplAdviseSink::Unadvise() {
  if (write_advised_) DataObjectUnadvise(source_, write_connection_);
  if (Advised()) DataObjectUnadvise(source_, connection_);
  write_advised_ = false;
  advise_result_ = com::E_FAIL;
  source_.reset();
}

HRESULT TKoplAdviseSink::QueryInterface(const IID& riid, std::shared_ptr<com::IUnknown>* ppv) {
  return com::AnswerQuery(this, riid, ppv, {com::IID_IAdviseSink});
}

void TKoplAdviseSink::OnDataChange(const com::FORMATETC* pFormatetc, const com::STGMEDIUM* pStgmed) {
  if (!group_ || !group_->Connected()) {
    Beep();
    return;
  }
  if (!pFormatetc || !pStgmed) return;
  const bool with_time = pFormatetc->cfFormat == FormatDataTime();
  if (!with_time && pFormatetc->cfFormat != FormatData()) return;  // write completions too
  com::OpcStreamHeader header;
  std::vector<com::OpcStreamItem> values;
  // A block that does not hold together is dropped whole.
  if (!com::ParseOpcDataStream(pStgmed->hGlobal, with_time, &header, &values)) return;
  group_->ClearTransaction(header.dwTransactionID);
  if (com::FAILED(header.hrStatus)) return;
  auto posted = std::make_unique<TKoplPostedItems>();
  posted->group_id = group_->ID();
  for (com::OpcStreamItem& v : values) {
    TKoplItem* item = group_->OPCItems().FindHandle(v.hClient);
    if (!item) {
      group_->Server().CountUnknownHandle(*group_, v.hClient);
      continue;
    }
    posted->handles.push_back(v.hClient);
    // This stream keeps only the two quality bits.
    item->SetQuality(v.wQuality & 0xC0);
    item->SetValue(std::move(v.value));
    if (with_time) item->SetTimeStamp(FileTimeToDateTime(v.ftTimeStamp));
  }
  if (posted->handles.empty()) return;
  group_->Server().PostMessage(group_->Server().DataChangeMessage(), uintptr_t(group_->ID()), std::move(posted));
}

}  // namespace kopl
