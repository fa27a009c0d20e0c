#include "platform/com/testing/fake_opc_server.h"

#include <chrono>
#include <functional>

#include "platform/com/connection_point.h"
#include "platform/com/opc_stream.h"

namespace platform::com::testing {

namespace {

FILETIME Now() { return ToFileTime(std::chrono::system_clock::now()); }

// '*' any run of characters, '?' one character.
bool Matches(const char* pattern, const char* text) {
  if (!*pattern) return !*text;
  if (*pattern == '*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
  return *text && (*pattern == '?' || *pattern == *text) && Matches(pattern + 1, text + 1);
}

using Calls = std::vector<std::function<void()>>;

void Run(Calls& calls) {
  for (auto& c : calls) c();
}

}  // namespace

struct GroupItem {
  std::string id;
  OPCHANDLE client = 0;
  bool active = true;
  VARTYPE requested = VT_EMPTY;
  bool sent = false;  // reported since the last full-callback reason
  Variant last_value;
  WORD last_quality = 0;
  FILETIME last_stamp;
};

struct Pending {
  enum Kind { kWrite2, kRead2, kRefresh2, kWrite1 } kind;
  DWORD transaction = 0;
  DWORD cancel = 0;
  std::vector<OPCHANDLE> handles;
  std::vector<HRESULT> errors;
  DWORD connection = 0;  // kWrite1: the data-object connection
};

class FakeGroup final : public IOPCItemMgt,
                        public IOPCGroupStateMgt,
                        public IOPCSyncIO,
                        public IOPCAsyncIO2,
                        public IOPCAsyncIO,
                        public IDataObject,
                        public IConnectionPointContainer,
                        public std::enable_shared_from_this<FakeGroup> {
 public:
  FakeGroup(std::shared_ptr<FakeDevice> device, OPCHANDLE handle) : device_(std::move(device)), handle_(handle) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    if (riid == IID_IConnectionPointContainer && !device_->connection_points_) {
      ppv->reset();
      return E_NOINTERFACE;
    }
    return AnswerQuery(this, riid, ppv,
                       {IID_IOPCItemMgt, IID_IOPCGroupStateMgt, IID_IOPCSyncIO, IID_IOPCAsyncIO2, IID_IOPCAsyncIO,
                        IID_IDataObject, IID_IConnectionPointContainer});
  }
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override {
    if (!ppCP) return E_POINTER;
    if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
    *ppCP = data_point_;
    return S_OK;
  }

  // ---- IOPCItemMgt ----
  HRESULT AddItems(DWORD dwCount, const OPCITEMDEF* pItemArray, std::vector<OPCITEMRESULT>* ppAddResults,
                   std::vector<HRESULT>* ppErrors) override {
    return Items(dwCount, pItemArray, true, ppAddResults, ppErrors);
  }
  HRESULT ValidateItems(DWORD dwCount, const OPCITEMDEF* pItemArray, BOOL, std::vector<OPCITEMRESULT>* results,
                        std::vector<HRESULT>* errors) override {
    return Items(dwCount, pItemArray, false, results, errors);
  }
  HRESULT RemoveItems(DWORD dwCount, const OPCHANDLE* phServer, std::vector<HRESULT>* ppErrors) override {
    return ForEach(dwCount, phServer, ppErrors, [this](OPCHANDLE h, GroupItem&) {
      items_.erase(h);
      return S_OK;
    });
  }
  HRESULT SetActiveState(DWORD dwCount, const OPCHANDLE* phServer, BOOL bActive,
                         std::vector<HRESULT>* ppErrors) override {
    return ForEach(dwCount, phServer, ppErrors, [bActive](OPCHANDLE, GroupItem& it) {
      if (bActive && !it.active) it.sent = false;  // a newly active item is reported in full
      it.active = bActive != 0;
      return S_OK;
    });
  }
  HRESULT SetDatatypes(DWORD dwCount, const OPCHANDLE* phServer, const VARTYPE* pRequestedDatatypes,
                       std::vector<HRESULT>* ppErrors) override {
    if (dwCount && !pRequestedDatatypes) return E_INVALIDARG;
    size_t i = 0;
    return ForEach(dwCount, phServer, ppErrors, [this, pRequestedDatatypes, &i](OPCHANDLE, GroupItem& it) {
      VARTYPE vt = pRequestedDatatypes[i++];
      if (!Convertible(device_->items_[it.id], vt)) return OPC_E_BADTYPE;
      it.requested = vt;
      return S_OK;
    });
  }

  // ---- IOPCGroupStateMgt ----
  HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, std::string* ppName, LONG* pTimeBias, float* pPercentDeadband,
                   LCID* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override {
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID || !phClientGroup ||
        !phServerGroup) {
      return E_INVALIDARG;
    }
    std::lock_guard lock(device_->mutex_);
    *pUpdateRate = rate_;
    *pActive = active_ ? TRUE : FALSE;
    *ppName = name_;
    *pTimeBias = time_bias_;
    *pPercentDeadband = deadband_;
    *pLCID = lcid_;
    *phClientGroup = client_;
    *phServerGroup = handle_;
    return S_OK;
  }
  HRESULT SetState(const DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, const BOOL* pActive,
                   const LONG* pTimeBias, const float* pPercentDeadband, const LCID* pLCID,
                   const OPCHANDLE* phClientGroup) override {
    if (!pRevisedUpdateRate) return E_INVALIDARG;
    if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    HRESULT hr = S_OK;
    if (pRequestedUpdateRate) hr = SetRate(*pRequestedUpdateRate);
    if (pActive) {
      if (*pActive && !active_) ResendAll();
      active_ = *pActive != 0;
    }
    if (pTimeBias) time_bias_ = *pTimeBias;
    if (pPercentDeadband) deadband_ = *pPercentDeadband;
    if (pLCID) lcid_ = *pLCID;
    if (phClientGroup) client_ = *phClientGroup;
    *pRevisedUpdateRate = rate_;
    return hr;
  }
  HRESULT SetName(const std::string& szName) override;

  // ---- IOPCSyncIO ----
  HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, const OPCHANDLE* phServer,
               std::vector<OPCITEMSTATE>* ppItemValues, std::vector<HRESULT>* ppErrors) override {
    if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) return E_INVALIDARG;
    if (!ppItemValues || !ppErrors || (dwCount && !phServer) || dwCount == 0) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    ppItemValues->assign(dwCount, OPCITEMSTATE{});
    ppErrors->assign(dwCount, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
      auto it = items_.find(phServer[i]);
      if (it == items_.end()) {
        (*ppErrors)[i] = OPC_E_INVALIDHANDLE;
        hr = S_FALSE;
        continue;
      }
      State(it->second, &(*ppItemValues)[i]);
    }
    return hr;
  }
  HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                std::vector<HRESULT>* ppErrors) override {
    if (!ppErrors || dwCount == 0 || !phServer || !pItemValues) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    return DoWrites(dwCount, phServer, pItemValues, ppErrors);
  }

  // ---- IOPCAsyncIO2 ----
  HRESULT Read(DWORD dwCount, const OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
               std::vector<HRESULT>* ppErrors) override {
    if (!pdwCancelID || !ppErrors || dwCount == 0 || !phServer) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    if (data_point_->Sinks().empty()) return CONNECT_E_NOCONNECTION;
    Pending p{Pending::kRead2, dwTransactionID, device_->next_cancel_++, {}, {}, 0};
    ppErrors->assign(dwCount, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
      if (!items_.count(phServer[i])) {
        (*ppErrors)[i] = OPC_E_INVALIDHANDLE;
        hr = S_FALSE;
      } else {
        p.handles.push_back(phServer[i]);
      }
    }
    *pdwCancelID = p.cancel;
    if (!p.handles.empty()) pending_.push_back(std::move(p));
    return hr;
  }
  HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues, DWORD dwTransactionID,
                DWORD* pdwCancelID, std::vector<HRESULT>* ppErrors) override {
    if (!pdwCancelID || !ppErrors || dwCount == 0 || !phServer || !pItemValues) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    if (data_point_->Sinks().empty()) return CONNECT_E_NOCONNECTION;
    return QueueWrite(Pending::kWrite2, 0, dwCount, phServer, pItemValues, dwTransactionID, pdwCancelID, ppErrors);
  }
  HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override {
    if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) return E_INVALIDARG;
    if (!pdwCancelID) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    if (data_point_->Sinks().empty()) return CONNECT_E_NOCONNECTION;
    if (!active_) return E_FAIL;
    Pending p{Pending::kRefresh2, dwTransactionID, device_->next_cancel_++, {}, {}, 0};
    *pdwCancelID = p.cancel;
    pending_.push_back(std::move(p));
    return S_OK;
  }
  HRESULT Cancel2(DWORD dwCancelID) override {
    Calls calls;
    {
      std::lock_guard lock(device_->mutex_);
      auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.cancel == dwCancelID; });
      if (it == pending_.end() || it->kind == Pending::kWrite1) return E_FAIL;
      DWORD transaction = it->transaction;
      pending_.erase(it);
      for (auto& sink : data_point_->Sinks()) {
        calls.push_back([sink, transaction, c = client_] { sink->OnCancelComplete(transaction, c); });
      }
    }
    Run(calls);
    return S_OK;
  }

  // ---- IOPCAsyncIO ----
  HRESULT Write(DWORD dwConnection, DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                DWORD* pTransactionID, std::vector<HRESULT>* ppErrors) override {
    if (!pTransactionID || !ppErrors || dwCount == 0 || !phServer || !pItemValues) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    // As OPC DA 1.0 has it: the connection named is the one advised for write completions.
    auto sink = stream_sinks_.find(dwConnection);
    if (sink == stream_sinks_.end() || sink->second.format != kOpcStmFormatWriteComplete) return CONNECT_E_NOCONNECTION;
    return QueueWrite(Pending::kWrite1, dwConnection, dwCount, phServer, pItemValues, 0, pTransactionID, ppErrors);
  }

  // ---- IDataObject ----
  HRESULT DAdvise(const FORMATETC* pformatetc, DWORD, const std::shared_ptr<IAdviseSink>& pAdvSink,
                  DWORD* pdwConnection) override {
    if (!pformatetc || !pAdvSink || !pdwConnection) return E_INVALIDARG;
    std::optional<std::string> name = GetClipboardFormatName(pformatetc->cfFormat);
    if (!name || (*name != kOpcStmFormatData && *name != kOpcStmFormatDataTime && *name != kOpcStmFormatWriteComplete) ||
        pformatetc->tymed != TYMED_HGLOBAL) {
      return DV_E_FORMATETC;
    }
    std::lock_guard lock(device_->mutex_);
    DWORD connection = next_connection_++;
    stream_sinks_[connection] = {*name, pAdvSink};
    if (*name != kOpcStmFormatWriteComplete) ResendAll();
    *pdwConnection = connection;
    return S_OK;
  }
  HRESULT DUnadvise(DWORD dwConnection) override {
    std::lock_guard lock(device_->mutex_);
    return stream_sinks_.erase(dwConnection) ? S_OK : OLE_E_ADVISENOTSUPPORTED;
  }

  // ---- for the server and the device (device lock held) ----
  void Init(const std::string& name, bool active, DWORD rate, OPCHANDLE client, LONG bias, float deadband, LCID lcid) {
    name_ = name;
    active_ = active;
    SetRate(rate);
    client_ = client;
    time_bias_ = bias;
    deadband_ = deadband;
    lcid_ = lcid;
  }
  HRESULT SetRate(DWORD requested) {
    // This server scans in steps of 100 ms, at least 100 ms.
    rate_ = requested < 100 ? 100 : (requested + 99) / 100 * 100;
    return rate_ == requested ? S_OK : OPC_S_UNSUPPORTEDRATE;
  }
  DWORD Rate() const { return rate_; }
  const std::string& Name() const { return name_; }
  OPCHANDLE Handle() const { return handle_; }
  std::weak_ptr<FakeServer> owner;

  void Tick(Calls* calls);
  void DropSinks() {
    data_point_->Clear();
    stream_sinks_.clear();
  }

 private:
  struct StreamSink {
    std::string format;
    std::shared_ptr<IAdviseSink> sink;
  };

  bool Convertible(const FakeItem& item, VARTYPE vt) {
    if (vt == VT_EMPTY) return true;
    if (!IsKnownType(vt)) return false;
    Variant probe;
    return SUCCEEDED(VariantChangeType(&probe, item.value, 0, vt)) ||
           SUCCEEDED(VariantChangeType(&probe, Variant(), 0, vt));
  }

  HRESULT Items(DWORD dwCount, const OPCITEMDEF* defs, bool add, std::vector<OPCITEMRESULT>* results,
                std::vector<HRESULT>* errors) {
    if (!results || !errors || dwCount == 0 || !defs) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    results->assign(dwCount, OPCITEMRESULT{});
    errors->assign(dwCount, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
      const OPCITEMDEF& d = defs[i];
      HRESULT e = S_OK;
      auto it = device_->items_.find(d.szItemID);
      if (d.szItemID.empty() || d.szItemID.find(' ') != std::string::npos) {
        e = OPC_E_INVALIDITEMID;
      } else if (it == device_->items_.end()) {
        e = OPC_E_UNKNOWNITEMID;
      } else if (!d.szAccessPath.empty()) {
        e = OPC_E_UNKNOWNPATH;
      } else if (!Convertible(it->second, d.vtRequestedDataType)) {
        e = OPC_E_BADTYPE;
      }
      (*errors)[i] = e;
      if (FAILED(e)) {
        hr = S_FALSE;
        continue;
      }
      OPCITEMRESULT& r = (*results)[i];
      r.vtCanonicalDataType = it->second.canonical;
      r.dwAccessRights = it->second.rights;
      if (add) {
        r.hServer = device_->next_handle_++;
        items_[r.hServer] = GroupItem{d.szItemID, d.hClient, d.bActive != 0, d.vtRequestedDataType, false, {}, 0, {}};
      }
    }
    return hr;
  }

  template <class Fn>
  HRESULT ForEach(DWORD dwCount, const OPCHANDLE* phServer, std::vector<HRESULT>* errors, Fn fn) {
    if (!errors || dwCount == 0 || !phServer) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    errors->assign(dwCount, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
      auto it = items_.find(phServer[i]);
      HRESULT e = it == items_.end() ? OPC_E_INVALIDHANDLE : fn(phServer[i], it->second);
      (*errors)[i] = e;
      if (FAILED(e)) hr = S_FALSE;
    }
    return hr;
  }

  void State(const GroupItem& gi, OPCITEMSTATE* st) {
    const FakeItem& item = device_->items_[gi.id];
    st->hClient = gi.client;
    st->wQuality = item.quality;
    st->ftTimeStamp = item.stamp;
    if (gi.requested == VT_EMPTY || FAILED(VariantChangeType(&st->vDataValue, item.value, 0, gi.requested))) {
      st->vDataValue = item.value;
    }
  }

  HRESULT WriteOne(OPCHANDLE h, const Variant& v) {
    auto it = items_.find(h);
    if (it == items_.end()) return OPC_E_INVALIDHANDLE;
    FakeItem& item = device_->items_[it->second.id];
    if (!(item.rights & OPC_WRITEABLE)) return OPC_E_BADRIGHTS;
    Variant converted;
    if (FAILED(VariantChangeType(&converted, v, 0, item.canonical))) return OPC_E_BADTYPE;
    item.value = converted;
    item.stamp = Now();
    return S_OK;
  }

  HRESULT DoWrites(DWORD n, const OPCHANDLE* h, const Variant* v, std::vector<HRESULT>* errors) {
    errors->assign(n, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      (*errors)[i] = WriteOne(h[i], v[i]);
      if (FAILED((*errors)[i])) hr = S_FALSE;
    }
    return hr;
  }

  HRESULT QueueWrite(Pending::Kind kind, DWORD connection, DWORD n, const OPCHANDLE* h, const Variant* v,
                     DWORD transaction, DWORD* id, std::vector<HRESULT>* errors) {
    // Refused items are reported in the call; the others complete at the next tick.
    errors->assign(n, S_OK);
    Pending p{kind, transaction, device_->next_cancel_++, {}, {}, connection};
    if (kind == Pending::kWrite1) p.transaction = p.cancel;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      auto it = items_.find(h[i]);
      HRESULT e = it == items_.end() ? OPC_E_INVALIDHANDLE : S_OK;
      if (SUCCEEDED(e) && !(device_->items_[it->second.id].rights & OPC_WRITEABLE)) e = OPC_E_BADRIGHTS;
      if (SUCCEEDED(e)) {
        e = WriteOne(h[i], v[i]);
        if (SUCCEEDED(e)) {
          p.handles.push_back(h[i]);
          p.errors.push_back(S_OK);
          continue;
        }
      }
      (*errors)[i] = e;
      hr = S_FALSE;
    }
    *id = kind == Pending::kWrite1 ? p.transaction : p.cancel;
    if (!p.handles.empty()) pending_.push_back(std::move(p));
    return hr;
  }

  void ResendAll() {
    for (auto& [h, it] : items_) it.sent = false;
  }

  std::shared_ptr<FakeDevice> device_;
  const OPCHANDLE handle_;
  std::string name_;
  bool active_ = true;
  DWORD rate_ = 1000;
  OPCHANDLE client_ = 0;
  LONG time_bias_ = 0;
  float deadband_ = 0;
  LCID lcid_ = 0;
  std::map<OPCHANDLE, GroupItem> items_;
  std::shared_ptr<ConnectionPoint<IOPCDataCallback>> data_point_ = std::make_shared<ConnectionPoint<IOPCDataCallback>>(1);
  std::map<DWORD, StreamSink> stream_sinks_;
  DWORD next_connection_ = 1;
  std::vector<Pending> pending_;
};

class FakeServer final : public IOPCServer,
                         public IOPCCommon,
                         public IOPCItemProperties,
                         public IOPCBrowseServerAddressSpace,
                         public IConnectionPointContainer,
                         public std::enable_shared_from_this<FakeServer> {
 public:
  explicit FakeServer(std::shared_ptr<FakeDevice> device) : device_(std::move(device)), start_(Now()) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    if (riid == IID_IConnectionPointContainer && !device_->connection_points_) {
      ppv->reset();
      return E_NOINTERFACE;
    }
    return AnswerQuery(this, riid, ppv,
                       {IID_IOPCServer, IID_IOPCCommon, IID_IOPCItemProperties, IID_IOPCBrowseServerAddressSpace,
                        IID_IConnectionPointContainer});
  }
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override {
    if (!ppCP) return E_POINTER;
    if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
    *ppCP = shutdown_point_;
    return S_OK;
  }

  // ---- IOPCServer ----
  HRESULT AddGroup(const std::string& szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                   const LONG* pTimeBias, const float* pPercentDeadband, LCID dwLCID, OPCHANDLE* phServerGroup,
                   DWORD* pRevisedUpdateRate, const IID& riid, std::shared_ptr<IUnknown>* ppUnk) override {
    if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_INVALIDARG;
    if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) return E_INVALIDARG;
    std::shared_ptr<FakeGroup> group;
    HRESULT hr;
    {
      std::lock_guard lock(device_->mutex_);
      std::string name = szName;
      if (name.empty()) name = "Group" + std::to_string(device_->next_handle_);
      for (auto& [h, g] : groups_) {
        if (g->Name() == name) return OPC_E_DUPLICATENAME;
      }
      group = std::make_shared<FakeGroup>(device_, device_->next_handle_++);
      group->owner = weak_from_this();
      group->Init(name, bActive != 0, dwRequestedUpdateRate, hClientGroup, pTimeBias ? *pTimeBias : 0,
                  pPercentDeadband ? *pPercentDeadband : 0, dwLCID);
      hr = group->Rate() == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
    }
    std::shared_ptr<IUnknown> asked;
    if (HRESULT qi = group->QueryInterface(riid, &asked); FAILED(qi)) return qi;
    std::lock_guard lock(device_->mutex_);
    groups_[group->Handle()] = group;
    *phServerGroup = group->Handle();
    *pRevisedUpdateRate = group->Rate();
    *ppUnk = asked;
    return hr;
  }
  HRESULT GetErrorString(HRESULT dwError, LCID, std::string* ppString) override {
    return GetErrorString(dwError, ppString);
  }
  HRESULT GetStatus(OPCSERVERSTATUS* s) override {
    if (!s) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    s->ftStartTime = start_;
    s->ftCurrentTime = Now();
    s->ftLastUpdateTime = start_;
    s->dwServerState = OPC_STATUS_RUNNING;
    s->dwGroupCount = static_cast<DWORD>(groups_.size());
    s->wMajorVersion = 1;
    s->wMinorVersion = 2;
    s->wBuildNumber = 3;
    s->szVendorInfo = "Fake OPC server";
    return S_OK;
  }
  HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL) override {
    std::shared_ptr<FakeGroup> group;
    {
      std::lock_guard lock(device_->mutex_);
      auto it = groups_.find(hServerGroup);
      if (it == groups_.end()) return E_INVALIDARG;
      group = it->second;
      group->DropSinks();
      groups_.erase(it);
    }
    return S_OK;
  }

  // ---- IOPCCommon ----
  HRESULT SetLocaleID(LCID dwLcid) override {
    if (dwLcid != 0 && dwLcid != 0x409) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    lcid_ = dwLcid;
    return S_OK;
  }
  HRESULT GetLocaleID(LCID* pdwLcid) override {
    if (!pdwLcid) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    *pdwLcid = lcid_;
    return S_OK;
  }
  HRESULT QueryAvailableLocaleIDs(std::vector<LCID>* pdwLcid) override {
    if (!pdwLcid) return E_INVALIDARG;
    *pdwLcid = {0, 0x409};
    return S_OK;
  }
  HRESULT GetErrorString(HRESULT dwError, std::string* ppString) override {
    if (!ppString) return E_INVALIDARG;
    std::string text = HResultText(dwError);
    if (text.empty()) return E_INVALIDARG;
    *ppString = text;
    return S_OK;
  }
  HRESULT SetClientName(const std::string& szName) override {
    std::lock_guard lock(device_->mutex_);
    client_name_ = szName;
    return S_OK;
  }

  // ---- IOPCItemProperties ----
  HRESULT QueryAvailableProperties(const std::string& szItemID, DWORD* pdwCount, std::vector<DWORD>* ids,
                                   std::vector<std::string>* descriptions, std::vector<VARTYPE>* types) override {
    if (!pdwCount || !ids || !descriptions || !types) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    auto it = device_->items_.find(szItemID);
    if (it == device_->items_.end()) return OPC_E_UNKNOWNITEMID;
    *ids = {1, 2, 3, 4, 5};
    *descriptions = {"Item Canonical DataType", "Item Value", "Item Quality", "Item Timestamp", "Item Access Rights"};
    *types = {VT_I2, it->second.canonical, VT_I2, VT_DATE, VT_I4};
    if (!it->second.unit.empty()) {
      ids->push_back(5001);
      descriptions->push_back("Item Unit");
      types->push_back(VT_BSTR);
    }
    *pdwCount = static_cast<DWORD>(ids->size());
    return S_OK;
  }
  HRESULT GetItemProperties(const std::string& szItemID, DWORD dwCount, const DWORD* pdwPropertyIDs,
                            std::vector<Variant>* ppvData, std::vector<HRESULT>* ppErrors) override {
    if (!ppvData || !ppErrors || dwCount == 0 || !pdwPropertyIDs) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    auto it = device_->items_.find(szItemID);
    if (it == device_->items_.end()) return OPC_E_UNKNOWNITEMID;
    const FakeItem& item = it->second;
    ppvData->assign(dwCount, Variant());
    ppErrors->assign(dwCount, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
      Variant& v = (*ppvData)[i];
      switch (pdwPropertyIDs[i]) {
        case 1: v = Variant::I2(static_cast<int16_t>(item.canonical)); break;
        case 2: v = item.value; break;
        case 3: v = Variant::I2(static_cast<int16_t>(item.quality)); break;
        case 4: v = Variant::Date(static_cast<double>(FileTimeToU64(item.stamp)) / 864e9 - 109205.0); break;
        case 5: v = Variant::I4(static_cast<int32_t>(item.rights)); break;
        case 5001:
          if (!item.unit.empty()) {
            v = Variant::Str(item.unit);
            break;
          }
          [[fallthrough]];
        default:
          (*ppErrors)[i] = OPC_E_INVALID_PID;
          hr = S_FALSE;
      }
    }
    return hr;
  }

  // ---- IOPCBrowseServerAddressSpace ----
  HRESULT QueryOrganization(OPCNAMESPACETYPE* p) override {
    if (!p) return E_INVALIDARG;
    *p = OPC_NS_HIERARCHIAL;
    return S_OK;
  }
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dir, const std::string& name) override {
    std::lock_guard lock(device_->mutex_);
    switch (dir) {
      case OPC_BROWSE_UP:
        if (position_.empty()) return E_FAIL;
        position_.pop_back();
        return S_OK;
      case OPC_BROWSE_DOWN: {
        std::string prefix = Prefix() + name + ".";
        for (auto& [id, item] : device_->items_) {
          if (!name.empty() && id.rfind(prefix, 0) == 0) {
            position_.push_back(name);
            return S_OK;
          }
        }
        return E_INVALIDARG;
      }
      case OPC_BROWSE_TO: {
        if (name.empty()) {
          position_.clear();
          return S_OK;
        }
        for (auto& [id, item] : device_->items_) {
          if (id.rfind(name + ".", 0) == 0) {
            position_.clear();
            for (size_t s = 0, e; s <= name.size(); s = e + 1) {
              e = name.find('.', s);
              if (e == std::string::npos) e = name.size();
              position_.push_back(name.substr(s, e - s));
            }
            return S_OK;
          }
        }
        return E_INVALIDARG;
      }
    }
    return E_INVALIDARG;
  }
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE type, const std::string& filter, VARTYPE vt, DWORD rights,
                           std::shared_ptr<IEnumString>* out) override {
    if (!out) return E_INVALIDARG;
    if (type != OPC_BRANCH && type != OPC_LEAF && type != OPC_FLAT) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    std::vector<std::string> names;
    std::string prefix = Prefix();
    for (auto& [id, item] : device_->items_) {
      if (vt != VT_EMPTY && type != OPC_BRANCH && item.canonical != vt) continue;
      if (type != OPC_BRANCH && (item.rights & rights) != (rights & 3)) continue;
      std::string name;
      if (type == OPC_FLAT) {
        name = id;
      } else {
        if (id.rfind(prefix, 0) != 0) continue;
        std::string rest = id.substr(prefix.size());
        size_t dot = rest.find('.');
        if ((type == OPC_BRANCH) != (dot != std::string::npos)) continue;
        name = rest.substr(0, dot);
      }
      if (!filter.empty() && !Matches(filter.c_str(), name.c_str())) continue;
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    *out = std::make_shared<StringListEnum>(std::move(names));
    return S_OK;
  }
  HRESULT GetItemID(const std::string& leaf, std::string* id) override {
    if (!id) return E_INVALIDARG;
    std::lock_guard lock(device_->mutex_);
    std::string full = Prefix() + leaf;
    bool known = device_->items_.count(full) > 0;
    for (auto& [item_id, item] : device_->items_) known = known || item_id.rfind(full + ".", 0) == 0;
    if (!known) return OPC_E_UNKNOWNITEMID;
    *id = full;
    return S_OK;
  }

  // ---- for the device (lock held) ----
  std::vector<std::shared_ptr<FakeGroup>> Groups() {
    std::vector<std::shared_ptr<FakeGroup>> out;
    for (auto& [h, g] : groups_) out.push_back(g);
    return out;
  }
  size_t GroupCount() const { return groups_.size(); }
  const std::string& ClientName() const { return client_name_; }
  std::vector<std::shared_ptr<IOPCShutdown>> ShutdownSinks() { return shutdown_point_->Sinks(); }
  bool HasGroupNamed(const std::string& name, OPCHANDLE except) {
    for (auto& [h, g] : groups_) {
      if (h != except && g->Name() == name) return true;
    }
    return false;
  }

 private:
  std::string Prefix() const {
    std::string p;
    for (const std::string& part : position_) p += part + ".";
    return p;
  }

  std::shared_ptr<FakeDevice> device_;
  FILETIME start_;
  std::map<OPCHANDLE, std::shared_ptr<FakeGroup>> groups_;
  std::shared_ptr<ConnectionPoint<IOPCShutdown>> shutdown_point_ = std::make_shared<ConnectionPoint<IOPCShutdown>>();
  std::string client_name_;
  LCID lcid_ = 0;
  std::vector<std::string> position_;
};

HRESULT FakeGroup::SetName(const std::string& szName) {
  if (szName.empty()) return E_INVALIDARG;
  std::lock_guard lock(device_->mutex_);
  if (auto server = owner.lock(); server && server->HasGroupNamed(szName, handle_)) return OPC_E_DUPLICATENAME;
  name_ = szName;
  return S_OK;
}

void FakeGroup::Tick(Calls* calls) {
  auto data_sinks = data_point_->Sinks();
  // Asynchronous calls complete first, in the order they were made.
  for (Pending& p : pending_) {
    if (p.kind == Pending::kWrite1) {
      auto s = stream_sinks_.find(p.connection);
      if (s == stream_sinks_.end()) continue;
      std::vector<OpcStreamWriteResult> results;
      for (size_t i = 0; i < p.handles.size(); ++i) {
        auto it = items_.find(p.handles[i]);
        results.push_back({it == items_.end() ? 0 : it->second.client, p.errors[i]});
      }
      for (auto& [c, sink] : stream_sinks_) {
        if (sink.format != kOpcStmFormatWriteComplete) continue;
        STGMEDIUM m;
        m.hGlobal = BuildOpcWriteCompleteStream(client_, p.transaction, S_OK, results);
        FORMATETC f;
        f.cfFormat = RegisterClipboardFormat(kOpcStmFormatWriteComplete);
        calls->push_back([s = sink.sink, f, m] { s->OnDataChange(&f, &m); });
      }
      continue;
    }
    std::vector<OPCHANDLE> clients;
    std::vector<Variant> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> stamps;
    std::vector<HRESULT> errors;
    std::vector<OPCHANDLE> handles = p.handles;
    if (p.kind == Pending::kRefresh2) {
      handles.clear();
      for (auto& [h, it] : items_) {
        if (it.active) handles.push_back(h);
      }
    }
    for (size_t i = 0; i < handles.size(); ++i) {
      auto it = items_.find(handles[i]);
      if (it == items_.end()) continue;
      clients.push_back(it->second.client);
      errors.push_back(p.kind == Pending::kWrite2 ? p.errors[i] : S_OK);
      if (p.kind != Pending::kWrite2) {
        OPCITEMSTATE st;
        State(it->second, &st);
        values.push_back(st.vDataValue);
        qualities.push_back(st.wQuality);
        stamps.push_back(st.ftTimeStamp);
      }
    }
    for (auto& sink : data_sinks) {
      calls->push_back([=, c = client_, kind = p.kind, t = p.transaction] {
        auto n = static_cast<DWORD>(clients.size());
        if (kind == Pending::kWrite2) {
          sink->OnWriteComplete(t, c, S_OK, n, clients.data(), errors.data());
        } else if (kind == Pending::kRead2) {
          sink->OnReadComplete(t, c, S_OK, S_OK, n, clients.data(), values.data(), qualities.data(), stamps.data(),
                               errors.data());
        } else {
          sink->OnDataChange(t, c, S_OK, S_OK, n, clients.data(), values.data(), qualities.data(), stamps.data(),
                             errors.data());
        }
      });
    }
  }
  pending_.clear();
  if (!active_) return;

  // Then the changes of the active items: only what changed since it was last reported.
  std::vector<OPCHANDLE> clients;
  std::vector<Variant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<OpcStreamItem> stream_items;
  bool any_sink = !data_sinks.empty() || !stream_sinks_.empty();
  for (auto& [h, gi] : items_) {
    if (!gi.active) continue;
    OPCITEMSTATE st;
    State(gi, &st);
    if (gi.sent && st.vDataValue == gi.last_value && st.wQuality == gi.last_quality && st.ftTimeStamp == gi.last_stamp) {
      continue;
    }
    if (!any_sink) continue;
    gi.sent = true;
    gi.last_value = st.vDataValue;
    gi.last_quality = st.wQuality;
    gi.last_stamp = st.ftTimeStamp;
    clients.push_back(gi.client);
    values.push_back(st.vDataValue);
    qualities.push_back(st.wQuality);
    stamps.push_back(st.ftTimeStamp);
    stream_items.push_back({gi.client, st.wQuality, st.ftTimeStamp, st.vDataValue});
  }
  if (clients.empty()) return;
  std::vector<HRESULT> errors(clients.size(), S_OK);
  for (auto& sink : data_sinks) {
    calls->push_back([=, c = client_] {
      sink->OnDataChange(0, c, S_OK, S_OK, static_cast<DWORD>(clients.size()), clients.data(), values.data(),
                         qualities.data(), stamps.data(), errors.data());
    });
  }
  for (auto& [c, sink] : stream_sinks_) {
    if (sink.format == kOpcStmFormatWriteComplete) continue;
    STGMEDIUM m;
    m.hGlobal = BuildOpcDataStream(sink.format == kOpcStmFormatDataTime, client_, 0, S_OK, stream_items);
    FORMATETC f;
    f.cfFormat = RegisterClipboardFormat(sink.format);
    calls->push_back([s = sink.sink, f, m] { s->OnDataChange(&f, &m); });
  }
}

// ---------------------------------------------------------------------------------------

FakeDevice::FakeDevice() {
  FILETIME t = Now();
  items_["Zentrale.Station1.AE1"] = {VT_R8, OPC_READABLE, Variant::R8(12.5), OPC_QUALITY_GOOD, t, "mA"};
  items_["Zentrale.Station1.BA1"] = {VT_I4, OPC_READABLE | OPC_WRITEABLE, Variant::I4(0), OPC_QUALITY_GOOD, t, ""};
  items_["Zentrale.Station1.Name"] = {VT_BSTR, OPC_READABLE, Variant::Str("Pumpwerk S\xC3\xBC" "d"), OPC_QUALITY_GOOD, t, ""};
  items_["Zentrale.Station2.AE1"] = {VT_R8, OPC_READABLE, Variant::R8(-1), OPC_QUALITY_NOT_CONNECTED, t, "bar"};
  items_["Zentrale.Status"] = {VT_I4, OPC_READABLE, Variant::I4(1), OPC_QUALITY_GOOD, t, ""};
}

std::shared_ptr<IUnknown> FakeDevice::NewServer() {
  auto server = std::make_shared<FakeServer>(shared_from_this());
  std::lock_guard lock(mutex_);
  std::erase_if(servers_, [](const std::weak_ptr<FakeServer>& w) { return w.expired(); });
  servers_.push_back(server);
  return std::static_pointer_cast<IOPCServer>(server);
}

void FakeDevice::Set(const std::string& item_id, Variant value, WORD quality) {
  std::lock_guard lock(mutex_);
  FakeItem& item = items_.at(item_id);
  item.value = std::move(value);
  item.quality = quality;
  FILETIME now = Now();
  // Each change gets a time stamp of its own, even within one clock step.
  if (FileTimeToU64(now) <= FileTimeToU64(item.stamp)) now = U64ToFileTime(FileTimeToU64(item.stamp) + 1);
  item.stamp = now;
}

Variant FakeDevice::Value(const std::string& item_id) {
  std::lock_guard lock(mutex_);
  return items_.at(item_id).value;
}

void FakeDevice::Tick() {
  Calls calls;
  {
    std::lock_guard lock(mutex_);
    for (auto& w : servers_) {
      if (auto s = w.lock()) {
        for (auto& g : s->Groups()) g->Tick(&calls);
      }
    }
  }
  Run(calls);
}

void FakeDevice::Shutdown(const std::string& reason) {
  std::vector<std::shared_ptr<IOPCShutdown>> sinks;
  {
    std::lock_guard lock(mutex_);
    for (auto& w : servers_) {
      if (auto s = w.lock()) {
        auto more = s->ShutdownSinks();
        sinks.insert(sinks.end(), more.begin(), more.end());
      }
    }
  }
  for (auto& sink : sinks) sink->ShutdownRequest(reason);
}

size_t FakeDevice::ServerCount() {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (auto& w : servers_) n += !w.expired();
  return n;
}

size_t FakeDevice::GroupCount() {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (auto& w : servers_) {
    if (auto s = w.lock()) n += s->GroupCount();
  }
  return n;
}

std::vector<std::string> FakeDevice::ClientNames() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (auto& w : servers_) {
    if (auto s = w.lock()) out.push_back(s->ClientName());
  }
  return out;
}

void FakeDevice::SetConnectionPoints(bool offered) {
  std::lock_guard lock(mutex_);
  connection_points_ = offered;
}

}  // namespace platform::com::testing
