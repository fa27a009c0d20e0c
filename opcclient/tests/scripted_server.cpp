#include "opcclient/tests/scripted_server.h"

#include <algorithm>

namespace kopl::testing {

namespace {

std::vector<IID> Offered(std::initializer_list<std::pair<bool, IID>> list) {
  std::vector<IID> out;
  for (const auto& [on, iid] : list) {
    if (on) out.push_back(iid);
  }
  return out;
}

template <class Self>
HRESULT Answer(Self* self, const IID& riid, std::shared_ptr<IUnknown>* ppv, const std::vector<IID>& offered) {
  if (!ppv) return E_POINTER;
  if (riid != IID_IUnknown && std::find(offered.begin(), offered.end(), riid) == offered.end()) {
    ppv->reset();
    return E_NOINTERFACE;
  }
  *ppv = std::shared_ptr<IUnknown>(self->shared_from_this(), static_cast<IUnknown*>(self));
  return S_OK;
}

}  // namespace

// ---- ScriptedGroup ----

std::shared_ptr<IOPCDataCallback> ScriptedGroup::Callback() const {
  auto sinks = point_->Sinks();
  return sinks.empty() ? nullptr : sinks.front();
}

OPCHANDLE ScriptedGroup::ClientOf(const std::string& item_id) const {
  for (const auto& [h, item] : items) {
    if (item.id == item_id) return item.client;
  }
  return 0xFFFFFFFF;
}

void ScriptedGroup::SendData(DWORD transaction, const std::vector<std::string>& ids, const std::vector<Variant>& values,
                             WORD quality) {
  std::vector<OPCHANDLE> handles;
  for (const std::string& id : ids) handles.push_back(ClientOf(id));
  std::vector<WORD> qualities(ids.size(), quality);
  std::vector<FILETIME> stamps(ids.size(), platform::U64ToFileTime(platform::kFileTimeUnixEpoch + 10'000'000ull * 86400));
  std::vector<HRESULT> errors(ids.size(), S_OK);
  Callback()->OnDataChange(transaction, client, S_OK, S_OK, DWORD(ids.size()), handles.data(), values.data(),
                           qualities.data(), stamps.data(), errors.data());
}

HRESULT ScriptedGroup::QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) {
  const ScriptedServer& s = server_;
  return Answer(this, riid, ppv,
                Offered({{true, IID_IOPCItemMgt},
                         {s.offers_state, IID_IOPCGroupStateMgt},
                         {s.offers_sync, IID_IOPCSyncIO},
                         {s.offers_async2, IID_IOPCAsyncIO2},
                         {s.offers_async1, IID_IOPCAsyncIO},
                         {s.offers_data_object, IID_IDataObject},
                         {s.connection_points, IID_IConnectionPointContainer}}));
}

HRESULT ScriptedGroup::FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) {
  if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
  if (HRESULT hr = server_.Failure("AdviseData")) return hr;
  *ppCP = point_;
  return S_OK;
}

HRESULT ScriptedGroup::ItemCall(const char* name, DWORD count, const OPCITEMDEF* defs, bool add,
                                std::vector<OPCITEMRESULT>* results, std::vector<HRESULT>* errors) {
  std::string line = name;
  for (DWORD i = 0; i < count; ++i) line += " " + defs[i].szItemID;
  server_.Log(line);
  if (HRESULT hr = server_.Failure(name)) return hr;
  results->assign(count, OPCITEMRESULT{});
  errors->assign(count, S_OK);
  HRESULT call = S_OK;
  for (DWORD i = 0; i < count; ++i) {
    auto known = server_.known.find(defs[i].szItemID);
    if (known == server_.known.end()) {
      (*errors)[i] = OPC_E_UNKNOWNITEMID;
      call = S_FALSE;
      continue;
    }
    OPCITEMRESULT& r = (*results)[i];
    r.vtCanonicalDataType = known->second.canonical;
    r.dwAccessRights = known->second.rights;
    if (!add) continue;
    r.hServer = server_.next_item_++;
    items[r.hServer] = {defs[i].szItemID, defs[i].szAccessPath, defs[i].hClient, defs[i].bActive != 0,
                        defs[i].vtRequestedDataType};
  }
  return call;
}

HRESULT ScriptedGroup::AddItems(DWORD dwCount, const OPCITEMDEF* pItemArray, std::vector<OPCITEMRESULT>* ppAddResults,
                                std::vector<HRESULT>* ppErrors) {
  return ItemCall("AddItems", dwCount, pItemArray, true, ppAddResults, ppErrors);
}

HRESULT ScriptedGroup::ValidateItems(DWORD dwCount, const OPCITEMDEF* pItemArray, BOOL,
                                     std::vector<OPCITEMRESULT>* ppValidationResults, std::vector<HRESULT>* ppErrors) {
  return ItemCall("ValidateItems", dwCount, pItemArray, false, ppValidationResults, ppErrors);
}

HRESULT ScriptedGroup::PerHandle(const char* name, DWORD count, const OPCHANDLE* handles,
                                 std::vector<HRESULT>* errors, const std::function<HRESULT(ScriptedItem&)>& each) {
  server_.Log(std::string(name) + " " + std::to_string(count));
  if (HRESULT hr = server_.Failure(name)) return hr;
  errors->assign(count, S_OK);
  HRESULT call = S_OK;
  for (DWORD i = 0; i < count; ++i) {
    auto it = items.find(handles[i]);
    HRESULT e = it == items.end() ? OPC_E_INVALIDHANDLE : each(it->second);
    (*errors)[i] = e;
    if (FAILED(e)) call = S_FALSE;
  }
  return call;
}

HRESULT ScriptedGroup::RemoveItems(DWORD dwCount, const OPCHANDLE* phServer, std::vector<HRESULT>* ppErrors) {
  std::vector<OPCHANDLE> gone;
  HRESULT hr = PerHandle("RemoveItems", dwCount, phServer, ppErrors, [&](ScriptedItem& item) {
    HRESULT e = server_.known.count(item.id) ? server_.known[item.id].remove_error : S_OK;
    return e;
  });
  for (DWORD i = 0; i < dwCount && SUCCEEDED(hr); ++i) items.erase(phServer[i]);
  return hr;
}

HRESULT ScriptedGroup::SetActiveState(DWORD dwCount, const OPCHANDLE* phServer, BOOL bActive,
                                      std::vector<HRESULT>* ppErrors) {
  return PerHandle("SetActiveState", dwCount, phServer, ppErrors, [&](ScriptedItem& item) {
    item.active = bActive != 0;
    return S_OK;
  });
}

HRESULT ScriptedGroup::SetDatatypes(DWORD dwCount, const OPCHANDLE* phServer, const VARTYPE* pRequestedDatatypes,
                                    std::vector<HRESULT>* ppErrors) {
  size_t i = 0;
  return PerHandle("SetDatatypes", dwCount, phServer, ppErrors, [&](ScriptedItem& item) {
    VARTYPE vt = pRequestedDatatypes[i++];
    if (vt == VT_ERROR) return OPC_E_BADTYPE;
    item.requested = vt;
    return S_OK;
  });
}

HRESULT ScriptedGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, std::string* ppName, LONG* pTimeBias,
                                float* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup,
                                OPCHANDLE* phServerGroup) {
  server_.Log("GetState " + name);
  if (HRESULT hr = server_.Failure("GetState")) return hr;
  *pUpdateRate = rate;
  *pActive = active ? 1 : 0;
  *ppName = name;
  *pTimeBias = time_bias;
  *pPercentDeadband = dead_band;
  *pLCID = lcid;
  *phClientGroup = client;
  *phServerGroup = handle;
  return S_OK;
}

HRESULT ScriptedGroup::SetState(const DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, const BOOL* pActive,
                                const LONG* pTimeBias, const float* pPercentDeadband, const LCID* pLCID,
                                const OPCHANDLE* phClientGroup) {
  ++set_state_calls;
  server_.Log("SetState " + name);
  if (HRESULT hr = server_.Failure("SetState")) return hr;
  if (pRequestedUpdateRate) rate = server_.revise(*pRequestedUpdateRate);
  if (pActive) active = *pActive != 0;
  if (pTimeBias) time_bias = *pTimeBias;
  if (pPercentDeadband) dead_band = *pPercentDeadband;
  if (pLCID) lcid = *pLCID;
  if (phClientGroup) client = *phClientGroup;
  if (pRevisedUpdateRate) *pRevisedUpdateRate = rate;
  return pRequestedUpdateRate && rate != *pRequestedUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
}

HRESULT ScriptedGroup::SetName(const std::string& szName) {
  server_.Log("SetName " + szName);
  if (HRESULT hr = server_.Failure("SetName")) return hr;
  name = szName;
  return S_OK;
}

HRESULT ScriptedGroup::Writes(const char* method, DWORD count, const OPCHANDLE* handles, const Variant* values,
                              std::vector<HRESULT>* errors, ScriptedWrite w) {
  server_.Log(std::string(method) + " " + std::to_string(count));
  if (server_.while_writing) server_.while_writing();
  if (HRESULT hr = server_.Failure(method)) return hr;
  errors->assign(count, S_OK);
  HRESULT call = S_OK;
  for (DWORD i = 0; i < count; ++i) {
    auto it = items.find(handles[i]);
    HRESULT e = it == items.end() ? OPC_E_INVALIDHANDLE : server_.known[it->second.id].write_error;
    (*errors)[i] = e;
    if (FAILED(e)) call = S_FALSE;
    w.handles.push_back(handles[i]);
    w.values.push_back(values[i]);
  }
  writes.push_back(std::move(w));
  return call;
}

HRESULT ScriptedGroup::Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                             std::vector<HRESULT>* ppErrors) {
  return Writes("SyncWrite", dwCount, phServer, pItemValues, ppErrors, {});
}

HRESULT ScriptedGroup::Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                             DWORD dwTransactionID, DWORD* pdwCancelID, std::vector<HRESULT>* ppErrors) {
  *pdwCancelID = 900 + DWORD(writes.size());
  return Writes("AsyncWrite2", dwCount, phServer, pItemValues, ppErrors, {true, dwTransactionID, 0, {}, {}});
}

HRESULT ScriptedGroup::Write(DWORD dwConnection, DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                             DWORD* pTransactionID, std::vector<HRESULT>* ppErrors) {
  // As a DA 1.0 server has it: the completion goes to the connection the write names.
  if (!write_sink_ || dwConnection != write_connection_) return CONNECT_E_NOCONNECTION;
  *pTransactionID = 700 + DWORD(writes.size());
  return Writes("AsyncWrite1", dwCount, phServer, pItemValues, ppErrors, {true, 0, dwConnection, {}, {}});
}

HRESULT ScriptedGroup::DAdvise(const FORMATETC* pformatetc, DWORD advf, const std::shared_ptr<IAdviseSink>& pAdvSink,
                               DWORD* pdwConnection) {
  server_.Log("DAdvise " + GetClipboardFormatName(pformatetc->cfFormat).value_or("?") + " " + std::to_string(advf));
  if (HRESULT hr = server_.Failure("DAdvise")) return hr;
  if (pformatetc->cfFormat == RegisterClipboardFormat(kOpcStmFormatWriteComplete)) {
    write_sink_ = pAdvSink;
    write_connection_ = 32;
    *pdwConnection = write_connection_;
    return S_OK;
  }
  stream_sink_ = pAdvSink;
  stream_connection_ = 31;
  *pdwConnection = stream_connection_;
  return S_OK;
}

HRESULT ScriptedGroup::DUnadvise(DWORD dwConnection) {
  server_.Log("DUnadvise " + std::to_string(dwConnection));
  if (write_sink_ && dwConnection == write_connection_) {
    write_sink_.reset();
    return S_OK;
  }
  if (dwConnection != stream_connection_ || !stream_sink_) return OLE_E_ADVISENOTSUPPORTED;
  stream_sink_.reset();
  return S_OK;
}

// ---- ScriptedServer ----

ScriptedGroup* ScriptedServer::Group(const std::string& name) {
  for (auto& g : groups) {
    if (g->name == name && !g->removed) return g.get();
  }
  return nullptr;
}

size_t ScriptedServer::LiveGroups() const {
  return size_t(std::count_if(groups.begin(), groups.end(), [](const auto& g) { return !g->removed; }));
}

std::shared_ptr<IOPCShutdown> ScriptedServer::ShutdownSink() const {
  auto sinks = shutdown_point_->Sinks();
  return sinks.empty() ? nullptr : sinks.front();
}

HRESULT ScriptedServer::Failure(const char* method) const {
  auto it = fail.find(method);
  return it == fail.end() ? S_OK : it->second;
}

size_t ScriptedServer::CountCalls(const std::string& prefix) const {
  return size_t(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) { return c.starts_with(prefix); }));
}

HRESULT ScriptedServer::QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) {
  return Answer(this, riid, ppv,
                Offered({{true, IID_IOPCServer},
                         {offers_common, IID_IOPCCommon},
                         {offers_item_properties, IID_IOPCItemProperties},
                         {offers_browse, IID_IOPCBrowseServerAddressSpace},
                         {connection_points, IID_IConnectionPointContainer}}));
}

HRESULT ScriptedServer::FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) {
  if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
  *ppCP = shutdown_point_;
  return S_OK;
}

HRESULT ScriptedServer::AddGroup(const std::string& szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                 OPCHANDLE hClientGroup, const LONG* pTimeBias, const float* pPercentDeadband,
                                 LCID dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, const IID& riid,
                                 std::shared_ptr<IUnknown>* ppUnk) {
  Log("AddGroup " + szName);
  if (HRESULT hr = Failure("AddGroup")) return hr;
  if (Group(szName)) return OPC_E_DUPLICATENAME;
  auto g = std::make_shared<ScriptedGroup>(*this);
  g->name = szName;
  g->active = bActive != 0;
  g->rate = revise(dwRequestedUpdateRate);
  g->client = hClientGroup;
  g->handle = next_group_++;
  g->time_bias = pTimeBias ? *pTimeBias : 0;
  g->dead_band = pPercentDeadband ? *pPercentDeadband : 0;
  g->lcid = dwLCID;
  groups.push_back(g);
  *phServerGroup = g->handle;
  *pRevisedUpdateRate = g->rate;
  std::shared_ptr<IUnknown> unk;
  HRESULT hr = g->QueryInterface(riid, &unk);
  if (FAILED(hr)) return hr;
  *ppUnk = unk;
  return g->rate == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT ScriptedServer::GetErrorString(HRESULT dwError, LCID, std::string* ppString) {
  auto it = error_texts.find(dwError);
  if (it == error_texts.end()) return E_INVALIDARG;
  *ppString = it->second;
  return S_OK;
}

HRESULT ScriptedServer::GetStatus(OPCSERVERSTATUS* ppServerStatus) {
  if (HRESULT hr = Failure("GetStatus")) return hr;
  *ppServerStatus = status;
  ppServerStatus->dwGroupCount = DWORD(LiveGroups());
  return S_OK;
}

HRESULT ScriptedServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  Log("RemoveGroup " + std::to_string(hServerGroup) + (bForce ? " force" : ""));
  for (auto& g : groups) {
    if (g->handle == hServerGroup && !g->removed) {
      g->removed = true;
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

HRESULT ScriptedServer::SetClientName(const std::string& szName) {
  Log("SetClientName " + szName);
  client_name = szName;
  return S_OK;
}

HRESULT ScriptedServer::QueryAvailableProperties(const std::string& szItemID, DWORD* pdwCount,
                                                 std::vector<DWORD>* ppPropertyIDs,
                                                 std::vector<std::string>* ppDescriptions,
                                                 std::vector<VARTYPE>* ppvtDataTypes) {
  Log("QueryAvailableProperties " + szItemID);
  if (HRESULT hr = Failure("QueryAvailableProperties")) return hr;
  ppPropertyIDs->clear();
  ppDescriptions->clear();
  ppvtDataTypes->clear();
  for (const Property& p : properties[szItemID]) {
    ppPropertyIDs->push_back(p.id);
    ppDescriptions->push_back(p.description);
    ppvtDataTypes->push_back(p.vt);
  }
  *pdwCount = DWORD(ppPropertyIDs->size());
  return S_OK;
}

HRESULT ScriptedServer::GetItemProperties(const std::string& szItemID, DWORD dwCount, const DWORD* pdwPropertyIDs,
                                          std::vector<Variant>* ppvData, std::vector<HRESULT>* ppErrors) {
  Log("GetItemProperties " + szItemID + " " + std::to_string(dwCount));
  if (HRESULT hr = Failure("GetItemProperties")) return hr;
  ppvData->assign(dwCount, Variant());
  ppErrors->assign(dwCount, OPC_E_INVALID_PID);
  HRESULT call = S_OK;
  for (DWORD i = 0; i < dwCount; ++i) {
    for (const Property& p : properties[szItemID]) {
      if (p.id != pdwPropertyIDs[i]) continue;
      (*ppErrors)[i] = p.error;
      if (SUCCEEDED(p.error)) (*ppvData)[i] = p.value;
    }
    if (FAILED((*ppErrors)[i])) call = S_FALSE;
  }
  return call;
}

HRESULT ScriptedServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  Log("QueryOrganization");
  if (HRESULT hr = Failure("QueryOrganization")) return hr;
  *pNameSpaceType = flat ? OPC_NS_FLAT : OPC_NS_HIERARCHIAL;
  return S_OK;
}

std::string ScriptedServer::PathText() const {
  std::string out;
  for (const std::string& p : position) out += (out.empty() ? "" : ".") + p;
  return out;
}

HRESULT ScriptedServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, const std::string& szString) {
  Log("ChangeBrowsePosition " + std::to_string(dwBrowseDirection) + " " + szString);
  if (HRESULT hr = Failure("ChangeBrowsePosition")) return hr;
  if (flat) return E_FAIL;
  switch (dwBrowseDirection) {
    case OPC_BROWSE_UP:
      if (!position.empty()) position.pop_back();
      return S_OK;
    case OPC_BROWSE_DOWN: {
      const auto& children = branches[PathText()];
      if (std::find(children.begin(), children.end(), szString) == children.end()) return E_INVALIDARG;
      position.push_back(szString);
      return S_OK;
    }
    case OPC_BROWSE_TO:
      position.clear();
      return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT ScriptedServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, const std::string& szFilterCriteria,
                                         VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                         std::shared_ptr<IEnumString>* ppIEnumString) {
  last_browse = {std::to_string(dwBrowseFilterType), szFilterCriteria, std::to_string(vtDataTypeFilter),
                 std::to_string(dwAccessRightsFilter)};
  Log("BrowseOPCItemIDs " + std::to_string(dwBrowseFilterType));
  if (HRESULT hr = Failure("BrowseOPCItemIDs")) return hr;
  std::vector<std::string> out;
  if (dwBrowseFilterType == OPC_FLAT) {
    for (const auto& [path, names] : leaves) {
      for (const std::string& n : names) out.push_back(path.empty() ? n : path + "." + n);
    }
  } else {
    out = dwBrowseFilterType == OPC_BRANCH ? branches[PathText()] : leaves[PathText()];
  }
  if (!szFilterCriteria.empty()) {
    std::erase_if(out, [&](const std::string& s) { return s.find(szFilterCriteria) == std::string::npos; });
  }
  *ppIEnumString = std::make_shared<StringListEnum>(std::move(out));
  return S_OK;
}

HRESULT ScriptedServer::GetItemID(const std::string& szItemDataID, std::string* szItemID) {
  if (HRESULT hr = Failure("GetItemID")) return hr;
  std::string path = PathText();
  *szItemID = path.empty() ? szItemDataID : path + "." + szItemDataID;
  return S_OK;
}

}  // namespace kopl::testing
