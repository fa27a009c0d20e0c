#include "platform/com/da_server.h"

#include <algorithm>
#include <functional>
#include <map>

#include "platform/com/connection_point.h"
#include "platform/com/data_object.h"
#include "platform/com/opc_stream.h"

namespace platform::com {

namespace {

using Calls = std::vector<std::function<void()>>;

constexpr WORD kOutOfService = 0x1C;

// FILETIME as an automation date: days since 1899-12-30 (109205 days after 1601-01-01).
double ToDate(FILETIME ft) { return static_cast<double>(FileTimeToU64(ft)) / 864e9 - 109205.0; }

bool TypeFits(VARTYPE canonical, VARTYPE requested) {
  if (requested == VT_EMPTY || requested == canonical) return true;
  if (!IsKnownType(requested)) return false;
  Variant zero, probe;
  return SUCCEEDED(VariantChangeType(&zero, Variant(), 0, canonical)) &&
         SUCCEEDED(VariantChangeType(&probe, zero, 0, requested));
}

// Tick arithmetic with wrap-around: true when `at` has come.
bool Due(uint32_t now, uint32_t at) { return static_cast<int32_t>(now - at) >= 0; }

}  // namespace

class DaServerObject;

struct DaServerModel::State {
  State(const AddressSpace& s, DaBackend& b, platform::Clock& c, DaServerOptions o)
      : space(s), backend(b), clock(c), options(std::move(o)), start(ToFileTime(c.Now())), last_update(start) {}
  const AddressSpace& space;
  DaBackend& backend;
  platform::Clock& clock;
  const DaServerOptions options;
  std::mutex mutex;  // every group, item and server object of the model
  std::map<std::string, std::vector<DaProperty>> properties;
  std::vector<std::weak_ptr<DaServerObject>> servers;
  OPCHANDLE next_handle = 1;
  DWORD next_id = 1;
  FILETIME start;
  FILETIME last_update;

  DWORD Revise(DWORD requested) const {
    DWORD step = std::max<DWORD>(options.fastest_rate_ms, 1);
    if (requested <= step) return step;
    return (requested + step - 1) / step * step;
  }
};

namespace {

struct Item {
  const AddressItem* def = nullptr;
  OPCHANDLE client = 0;
  bool active = true;
  VARTYPE requested = VT_EMPTY;
  bool has_cache = false;
  DaBackend::Reading cache;
  bool sent = false;  // reported since the last reason for a full callback
  DaBackend::Reading reported;
};

struct Pending {
  enum Kind { kRead2, kWrite2, kRefresh2, kWrite1 } kind;
  DWORD transaction = 0;
  DWORD cancel = 0;
  OPCDATASOURCE source = OPC_DS_CACHE;
  std::vector<OPCHANDLE> handles;
  std::vector<Variant> values;  // writes, in the canonical types
  DWORD connection = 0;         // kWrite1
};

// What one item looks like to its client: the value in the requested type.
void Present(const Item& it, OPCITEMSTATE* st, HRESULT* error) {
  st->hClient = it.client;
  st->wQuality = it.cache.quality;
  st->ftTimeStamp = it.cache.stamp;
  *error = S_OK;
  if (it.requested == VT_EMPTY) {
    st->vDataValue = it.cache.value;
  } else if (HRESULT hr = VariantChangeType(&st->vDataValue, it.cache.value, 0, it.requested); FAILED(hr)) {
    st->vDataValue = Variant();
    st->wQuality = OPC_QUALITY_BAD;
    *error = hr;
  }
}

}  // namespace

class DaGroup final : public IOPCItemMgt,
                      public IOPCGroupStateMgt,
                      public IOPCSyncIO,
                      public IOPCAsyncIO2,
                      public IOPCAsyncIO,
                      public IDataObject,
                      public IConnectionPointContainer,
                      public std::enable_shared_from_this<DaGroup> {
 public:
  DaGroup(std::shared_ptr<DaServerModel::State> state, OPCHANDLE handle) : st_(std::move(state)), handle_(handle) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    if (riid == IID_IConnectionPointContainer && !st_->options.connection_points) {
      if (ppv) ppv->reset();
      return E_NOINTERFACE;
    }
    return AnswerQuery(this, riid, ppv,
                       {IID_IOPCItemMgt, IID_IOPCGroupStateMgt, IID_IOPCSyncIO, IID_IOPCAsyncIO2, IID_IOPCAsyncIO,
                        IID_IDataObject, IID_IConnectionPointContainer});
  }
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override {
    if (!ppCP) return E_POINTER;
    ppCP->reset();
    if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
    *ppCP = data_point_;
    return S_OK;
  }

  // ---- set-up by the server object (lock held) ----
  void Init(const std::string& name, bool active, DWORD rate, OPCHANDLE client, LONG bias, float deadband, LCID lcid) {
    name_ = name;
    active_ = active;
    rate_ = st_->Revise(rate);
    client_ = client;
    bias_ = bias;
    deadband_ = deadband;
    lcid_ = lcid;
    next_due_ = st_->clock.TickMs();
  }
  const std::string& Name() const { return name_; }
  DWORD Rate() const { return rate_; }
  OPCHANDLE Handle() const { return handle_; }
  std::weak_ptr<DaServerObject> owner;
  void Bind() { data_point_->group = weak_from_this(); }
  void Detach() {
    data_point_->Clear();
    streams_.clear();
    pending_.clear();
  }

  // ---- IOPCItemMgt ----
  HRESULT AddItems(DWORD n, const OPCITEMDEF* defs, std::vector<OPCITEMRESULT>* results,
                   std::vector<HRESULT>* errors) override {
    return Items(n, defs, true, results, errors);
  }
  HRESULT ValidateItems(DWORD n, const OPCITEMDEF* defs, BOOL, std::vector<OPCITEMRESULT>* results,
                        std::vector<HRESULT>* errors) override {
    return Items(n, defs, false, results, errors);
  }
  HRESULT RemoveItems(DWORD n, const OPCHANDLE* h, std::vector<HRESULT>* errors) override {
    return ForEach(n, h, errors, [this, h](DWORD i, Item&) {
      items_.erase(h[i]);
      return S_OK;
    });
  }
  HRESULT SetActiveState(DWORD n, const OPCHANDLE* h, BOOL active, std::vector<HRESULT>* errors) override {
    return ForEach(n, h, errors, [this, active](DWORD, Item& it) {
      if (active && !it.active) {
        it.sent = false;  // reported in full at its next read
        next_due_ = st_->clock.TickMs();
      }
      it.active = active != 0;
      return S_OK;
    });
  }
  HRESULT SetDatatypes(DWORD n, const OPCHANDLE* h, const VARTYPE* types, std::vector<HRESULT>* errors) override {
    if (n && !types) return E_INVALIDARG;
    return ForEach(n, h, errors, [types](DWORD i, Item& it) {
      VARTYPE vt = types[i];
      if (!TypeFits(it.def->canonical, vt)) return OPC_E_BADTYPE;
      if (vt != it.requested) it.sent = false;
      it.requested = vt;
      return S_OK;
    });
  }

  // ---- IOPCGroupStateMgt ----
  HRESULT GetState(DWORD* rate, BOOL* active, std::string* name, LONG* bias, float* deadband, LCID* lcid,
                   OPCHANDLE* client, OPCHANDLE* server) override {
    if (!rate || !active || !name || !bias || !deadband || !lcid || !client || !server) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    *rate = rate_;
    *active = active_ ? TRUE : FALSE;
    *name = name_;
    *bias = bias_;
    *deadband = deadband_;
    *lcid = lcid_;
    *client = client_;
    *server = handle_;
    return S_OK;
  }
  HRESULT SetState(const DWORD* rate, DWORD* revised, const BOOL* active, const LONG* bias, const float* deadband,
                   const LCID* lcid, const OPCHANDLE* client) override {
    if (!revised) return E_INVALIDARG;
    if (deadband && !(*deadband >= 0 && *deadband <= 100)) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    HRESULT hr = S_OK;
    if (rate) {
      rate_ = st_->Revise(*rate);
      if (rate_ != *rate) hr = OPC_S_UNSUPPORTEDRATE;
    }
    if (active) {
      if (*active && !active_) {
        for (auto& [h, it] : items_) it.sent = false;  // a full callback after activation
        next_due_ = st_->clock.TickMs();
      }
      active_ = *active != 0;
    }
    if (bias) bias_ = *bias;
    if (deadband) deadband_ = *deadband;
    if (lcid) lcid_ = *lcid;
    if (client) client_ = *client;
    *revised = rate_;
    return hr;
  }
  HRESULT SetName(const std::string& name) override;

  // ---- IOPCSyncIO ----
  HRESULT Read(OPCDATASOURCE source, DWORD n, const OPCHANDLE* h, std::vector<OPCITEMSTATE>* states,
               std::vector<HRESULT>* errors) override {
    if (source != OPC_DS_CACHE && source != OPC_DS_DEVICE) return E_INVALIDARG;
    if (!states || !errors || n == 0 || !h) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    states->assign(n, OPCITEMSTATE{});
    errors->assign(n, S_OK);
    if (source == OPC_DS_DEVICE) ReadFromDevice(std::vector<OPCHANDLE>(h, h + n));
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      auto it = items_.find(h[i]);
      if (it == items_.end()) {
        (*errors)[i] = OPC_E_INVALIDHANDLE;
        hr = S_FALSE;
        continue;
      }
      OPCITEMSTATE& s = (*states)[i];
      if (source == OPC_DS_CACHE && (!active_ || !it->second.active || !it->second.has_cache)) {
        s.hClient = it->second.client;
        s.wQuality = kOutOfService;
        continue;
      }
      Present(it->second, &s, &(*errors)[i]);
      if (FAILED((*errors)[i])) hr = S_FALSE;
    }
    return hr;
  }
  HRESULT Write(DWORD n, const OPCHANDLE* h, const Variant* values, std::vector<HRESULT>* errors) override {
    if (!errors || n == 0 || !h || !values) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    std::vector<OPCHANDLE> accepted;
    std::vector<Variant> converted;
    std::vector<size_t> where;
    HRESULT hr = Check(n, h, values, errors, &accepted, &converted, &where);
    if (!accepted.empty()) {
      std::vector<HRESULT> results;
      WriteToDevice(accepted, converted, &results);
      for (size_t k = 0; k < where.size(); ++k) {
        (*errors)[where[k]] = results[k];
        if (FAILED(results[k])) hr = S_FALSE;
      }
    }
    return hr;
  }

  // ---- IOPCAsyncIO2 ----
  HRESULT Read(DWORD n, const OPCHANDLE* h, DWORD transaction, DWORD* cancel, std::vector<HRESULT>* errors) override {
    if (!cancel || !errors || n == 0 || !h) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    if (data_point_->Sinks().empty()) return CONNECT_E_NOCONNECTION;
    Pending p{Pending::kRead2, transaction, st_->next_id++, OPC_DS_DEVICE, {}, {}, 0};
    errors->assign(n, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      if (items_.count(h[i])) {
        p.handles.push_back(h[i]);
      } else {
        (*errors)[i] = OPC_E_INVALIDHANDLE;
        hr = S_FALSE;
      }
    }
    *cancel = p.cancel;
    if (!p.handles.empty()) pending_.push_back(std::move(p));
    return hr;
  }
  HRESULT Write(DWORD n, const OPCHANDLE* h, const Variant* values, DWORD transaction, DWORD* cancel,
                std::vector<HRESULT>* errors) override {
    if (!cancel || !errors || n == 0 || !h || !values) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    if (data_point_->Sinks().empty()) return CONNECT_E_NOCONNECTION;
    return QueueWrite(Pending::kWrite2, transaction, 0, n, h, values, cancel, errors);
  }
  HRESULT Refresh2(OPCDATASOURCE source, DWORD transaction, DWORD* cancel) override {
    if ((source != OPC_DS_CACHE && source != OPC_DS_DEVICE) || !cancel) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    if (data_point_->Sinks().empty()) return CONNECT_E_NOCONNECTION;
    bool any_active = std::any_of(items_.begin(), items_.end(), [](const auto& kv) { return kv.second.active; });
    if (!active_ || !any_active) return E_FAIL;
    Pending p{Pending::kRefresh2, transaction, st_->next_id++, source, {}, {}, 0};
    *cancel = p.cancel;
    pending_.push_back(std::move(p));
    return S_OK;
  }
  HRESULT Cancel2(DWORD cancel) override {
    Calls calls;
    {
      std::lock_guard lock(st_->mutex);
      auto it = std::find_if(pending_.begin(), pending_.end(),
                             [&](const Pending& p) { return p.cancel == cancel && p.kind != Pending::kWrite1; });
      if (it == pending_.end()) return E_FAIL;
      DWORD transaction = it->transaction;
      pending_.erase(it);
      for (auto& sink : data_point_->Sinks()) {
        calls.push_back([sink, transaction, c = client_] { sink->OnCancelComplete(transaction, c); });
      }
    }
    for (auto& c : calls) c();
    return S_OK;
  }

  // ---- IOPCAsyncIO ----
  HRESULT Write(DWORD connection, DWORD n, const OPCHANDLE* h, const Variant* values, DWORD* transaction,
                std::vector<HRESULT>* errors) override {
    if (!transaction || !errors || n == 0 || !h || !values) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    auto s = streams_.find(connection);
    if (s == streams_.end() || s->second.format != kOpcStmFormatWriteComplete) return CONNECT_E_NOCONNECTION;
    return QueueWrite(Pending::kWrite1, 0, connection, n, h, values, transaction, errors);
  }

  // ---- IDataObject ----
  HRESULT DAdvise(const FORMATETC* f, DWORD, const std::shared_ptr<IAdviseSink>& sink, DWORD* connection) override {
    if (!f || !sink || !connection) return E_INVALIDARG;
    std::optional<std::string> name = GetClipboardFormatName(f->cfFormat);
    if (!name || f->tymed != TYMED_HGLOBAL ||
        (*name != kOpcStmFormatData && *name != kOpcStmFormatDataTime && *name != kOpcStmFormatWriteComplete)) {
      return DV_E_FORMATETC;
    }
    std::lock_guard lock(st_->mutex);
    DWORD c = st_->next_id++;
    streams_[c] = {*name, sink};
    if (*name != kOpcStmFormatWriteComplete) MarkAllUnsent();
    *connection = c;
    return S_OK;
  }
  HRESULT DUnadvise(DWORD connection) override {
    std::lock_guard lock(st_->mutex);
    return streams_.erase(connection) ? S_OK : OLE_E_ADVISENOTSUPPORTED;
  }

  // ---- polling (lock held); returns ms until this group is due ----
  uint32_t Poll(uint32_t now, Calls* calls);

 private:
  struct Stream {
    std::string format;
    std::shared_ptr<IAdviseSink> sink;
  };

  // The group's IOPCDataCallback point: an advise also asks for a full callback.
  class DataPoint final : public IConnectionPoint, public std::enable_shared_from_this<DataPoint> {
   public:
    HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
      return AnswerQuery(this, riid, ppv, {IID_IConnectionPoint});
    }
    HRESULT GetConnectionInterface(IID* iid) override { return point_.GetConnectionInterface(iid); }
    HRESULT Advise(const std::shared_ptr<IUnknown>& sink, DWORD* cookie) override {
      HRESULT hr = point_.Advise(sink, cookie);
      if (SUCCEEDED(hr)) {
        if (auto g = group.lock()) {
          std::lock_guard lock(g->st_->mutex);
          g->MarkAllUnsent();
        }
      }
      return hr;
    }
    HRESULT Unadvise(DWORD cookie) override { return point_.Unadvise(cookie); }
    std::vector<std::shared_ptr<IOPCDataCallback>> Sinks() const { return point_.Sinks(); }
    void Clear() { point_.Clear(); }
    std::weak_ptr<DaGroup> group;  // a client may hold the point longer than the group lives

   private:
    ConnectionPoint<IOPCDataCallback> point_{1};
  };

  void MarkAllUnsent() {
    for (auto& [h, it] : items_) it.sent = false;
    next_due_ = st_->clock.TickMs();
  }

  HRESULT Items(DWORD n, const OPCITEMDEF* defs, bool add, std::vector<OPCITEMRESULT>* results,
                std::vector<HRESULT>* errors) {
    if (!results || !errors || n == 0 || !defs) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    results->assign(n, OPCITEMRESULT{});
    errors->assign(n, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      const OPCITEMDEF& d = defs[i];
      const AddressItem* def = st_->space.Find(d.szItemID);
      HRESULT e = S_OK;
      if (d.szItemID.empty()) {
        e = OPC_E_INVALIDITEMID;
      } else if (!def) {
        e = OPC_E_UNKNOWNITEMID;
      } else if (!d.szAccessPath.empty()) {
        e = OPC_E_UNKNOWNPATH;
      } else if (!TypeFits(def->canonical, d.vtRequestedDataType)) {
        e = OPC_E_BADTYPE;
      }
      (*errors)[i] = e;
      if (FAILED(e)) {
        hr = S_FALSE;
        continue;
      }
      OPCITEMRESULT& r = (*results)[i];
      r.vtCanonicalDataType = def->canonical;
      r.dwAccessRights = def->access_rights;
      if (add) {
        r.hServer = st_->next_handle++;
        Item it;
        it.def = def;
        it.client = d.hClient;
        it.active = d.bActive != 0;
        it.requested = d.vtRequestedDataType;
        items_[r.hServer] = std::move(it);
        next_due_ = st_->clock.TickMs();  // a full callback after adding items
      }
    }
    return hr;
  }

  // fn(i, item) for each known handle h[i]; i is the position in the call, so per-handle
  // arguments stay with their handle when an earlier one is unknown.
  template <class Fn>
  HRESULT ForEach(DWORD n, const OPCHANDLE* h, std::vector<HRESULT>* errors, Fn fn) {
    if (!errors || n == 0 || !h) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    errors->assign(n, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      auto it = items_.find(h[i]);
      HRESULT e = it == items_.end() ? OPC_E_INVALIDHANDLE : fn(i, it->second);
      (*errors)[i] = e;
      if (FAILED(e)) hr = S_FALSE;
    }
    return hr;
  }

  // Checks writes: handle, rights, a value at all, conversion to the canonical type. The
  // accepted ones and where they came from go out; refused ones get their code.
  HRESULT Check(DWORD n, const OPCHANDLE* h, const Variant* values, std::vector<HRESULT>* errors,
                std::vector<OPCHANDLE>* accepted, std::vector<Variant>* converted, std::vector<size_t>* where) {
    errors->assign(n, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      auto it = items_.find(h[i]);
      HRESULT e = S_OK;
      Variant v;
      if (it == items_.end()) {
        e = OPC_E_INVALIDHANDLE;
      } else if (!(it->second.def->access_rights & OPC_WRITEABLE)) {
        e = OPC_E_BADRIGHTS;
      } else if (values[i].vt() == VT_EMPTY || values[i].vt() == VT_NULL) {
        e = OPC_E_BADTYPE;  // would convert to 0: a blank value must never switch an output
      } else if (FAILED(VariantChangeType(&v, values[i], 0, it->second.def->canonical))) {
        e = OPC_E_BADTYPE;
      }
      (*errors)[i] = e;
      if (FAILED(e)) {
        hr = S_FALSE;
        continue;
      }
      accepted->push_back(h[i]);
      converted->push_back(std::move(v));
      where->push_back(i);
    }
    return hr;
  }

  void WriteToDevice(const std::vector<OPCHANDLE>& handles, const std::vector<Variant>& values,
                     std::vector<HRESULT>* results) {
    std::vector<uint32_t> lib;
    for (OPCHANDLE h : handles) lib.push_back(items_.at(h).def->handle);
    results->clear();
    st_->backend.Write(lib, values, results);
    results->resize(handles.size(), E_FAIL);  // a backend that answers short fails the rest
  }

  void ReadFromDevice(const std::vector<OPCHANDLE>& handles) {
    std::vector<OPCHANDLE> known;
    std::vector<uint32_t> lib;
    for (OPCHANDLE h : handles) {
      auto it = items_.find(h);
      if (it == items_.end()) continue;
      known.push_back(h);
      lib.push_back(it->second.def->handle);
    }
    if (lib.empty()) return;
    std::vector<DaBackend::Reading> readings;
    st_->backend.Read(lib, &readings);
    for (size_t i = 0; i < known.size() && i < readings.size(); ++i) {
      Item& it = items_[known[i]];
      it.cache = readings[i];
      it.has_cache = true;
    }
    st_->last_update = ToFileTime(st_->clock.Now());
  }

  HRESULT QueueWrite(Pending::Kind kind, DWORD transaction, DWORD connection, DWORD n, const OPCHANDLE* h,
                     const Variant* values, DWORD* id, std::vector<HRESULT>* errors) {
    Pending p{kind, transaction, st_->next_id++, OPC_DS_DEVICE, {}, {}, connection};
    std::vector<size_t> where;
    HRESULT hr = Check(n, h, values, errors, &p.handles, &p.values, &where);
    if (kind == Pending::kWrite1) p.transaction = p.cancel;
    *id = kind == Pending::kWrite1 ? p.transaction : p.cancel;
    if (!p.handles.empty()) pending_.push_back(std::move(p));
    return hr;
  }

  void Complete(Pending& p, Calls* calls);

  std::shared_ptr<DaServerModel::State> st_;
  const OPCHANDLE handle_;
  std::string name_;
  bool active_ = true;
  DWORD rate_ = 1000;
  OPCHANDLE client_ = 0;
  LONG bias_ = 0;
  float deadband_ = 0;
  LCID lcid_ = 0;
  uint32_t next_due_ = 0;
  std::map<OPCHANDLE, Item> items_;
  std::shared_ptr<DataPoint> data_point_ = std::make_shared<DataPoint>();
  std::map<DWORD, Stream> streams_;
  std::vector<Pending> pending_;
};

void DaGroup::Complete(Pending& p, Calls* calls) {
  auto data_sinks = data_point_->Sinks();
  if (p.kind == Pending::kWrite1 || p.kind == Pending::kWrite2) {
    std::vector<HRESULT> results;
    // Items removed meanwhile are left out.
    std::vector<OPCHANDLE> handles;
    std::vector<Variant> values;
    for (size_t i = 0; i < p.handles.size(); ++i) {
      if (!items_.count(p.handles[i])) continue;
      handles.push_back(p.handles[i]);
      values.push_back(p.values[i]);
    }
    if (handles.empty()) return;
    WriteToDevice(handles, values, &results);
    std::vector<OPCHANDLE> clients;
    for (OPCHANDLE h : handles) clients.push_back(items_[h].client);
    HRESULT master = std::all_of(results.begin(), results.end(), [](HRESULT r) { return r == S_OK; }) ? S_OK : S_FALSE;
    if (p.kind == Pending::kWrite2) {
      for (auto& sink : data_sinks) {
        calls->push_back([=, t = p.transaction, c = client_] {
          sink->OnWriteComplete(t, c, master, static_cast<DWORD>(clients.size()), clients.data(), results.data());
        });
      }
      return;
    }
    auto s = streams_.find(p.connection);
    if (s == streams_.end()) return;
    std::vector<OpcStreamWriteResult> rows;
    for (size_t i = 0; i < clients.size(); ++i) rows.push_back({clients[i], results[i]});
    STGMEDIUM m;
    m.hGlobal = BuildOpcWriteCompleteStream(client_, p.transaction, master, rows);
    FORMATETC f;
    f.cfFormat = RegisterClipboardFormat(kOpcStmFormatWriteComplete);
    calls->push_back([sink = s->second.sink, f, m] { sink->OnDataChange(&f, &m); });
    return;
  }
  std::vector<OPCHANDLE> handles = p.handles;
  if (p.kind == Pending::kRefresh2) {
    handles.clear();
    for (auto& [h, it] : items_) {
      if (it.active) handles.push_back(h);
    }
  }
  if (p.source == OPC_DS_DEVICE) ReadFromDevice(handles);
  std::vector<OPCHANDLE> clients;
  std::vector<Variant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
  for (OPCHANDLE h : handles) {
    auto it = items_.find(h);
    if (it == items_.end()) continue;
    OPCITEMSTATE st;
    HRESULT e;
    Present(it->second, &st, &e);
    clients.push_back(st.hClient);
    values.push_back(std::move(st.vDataValue));
    qualities.push_back(st.wQuality);
    stamps.push_back(st.ftTimeStamp);
    errors.push_back(e);
  }
  if (clients.empty()) return;
  bool read = p.kind == Pending::kRead2;
  for (auto& sink : data_sinks) {
    calls->push_back([=, t = p.transaction, c = client_] {
      auto n = static_cast<DWORD>(clients.size());
      if (read) {
        sink->OnReadComplete(t, c, S_OK, S_OK, n, clients.data(), values.data(), qualities.data(), stamps.data(),
                             errors.data());
      } else {
        sink->OnDataChange(t, c, S_OK, S_OK, n, clients.data(), values.data(), qualities.data(), stamps.data(),
                           errors.data());
      }
    });
  }
}

uint32_t DaGroup::Poll(uint32_t now, Calls* calls) {
  for (Pending& p : pending_) Complete(p, calls);
  pending_.clear();
  if (!active_) return st_->options.fastest_rate_ms;
  if (!Due(now, next_due_)) return next_due_ - now;
  next_due_ = now + rate_;

  std::vector<OPCHANDLE> active;
  for (auto& [h, it] : items_) {
    if (it.active) active.push_back(h);
  }
  ReadFromDevice(active);

  auto data_sinks = data_point_->Sinks();
  bool streams = std::any_of(streams_.begin(), streams_.end(),
                             [](const auto& kv) { return kv.second.format != kOpcStmFormatWriteComplete; });
  if (data_sinks.empty() && !streams) return rate_;
  std::vector<OPCHANDLE> clients;
  std::vector<Variant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
  std::vector<OpcStreamItem> stream_items;
  for (OPCHANDLE h : active) {
    Item& it = items_[h];
    if (it.sent && it.cache.value == it.reported.value && it.cache.quality == it.reported.quality &&
        it.cache.stamp == it.reported.stamp) {
      continue;
    }
    it.sent = true;
    it.reported = it.cache;
    OPCITEMSTATE st;
    HRESULT e;
    Present(it, &st, &e);
    stream_items.push_back({st.hClient, st.wQuality, st.ftTimeStamp, st.vDataValue});
    clients.push_back(st.hClient);
    values.push_back(std::move(st.vDataValue));
    qualities.push_back(st.wQuality);
    stamps.push_back(st.ftTimeStamp);
    errors.push_back(e);
  }
  if (clients.empty()) return rate_;
  bool all_ok = std::all_of(errors.begin(), errors.end(), [](HRESULT e) { return e == S_OK; });
  bool all_good = std::all_of(qualities.begin(), qualities.end(), [](WORD q) { return (q & 0xC0) == 0xC0; });
  for (auto& sink : data_sinks) {
    calls->push_back([=, c = client_] {
      sink->OnDataChange(0, c, all_good ? S_OK : S_FALSE, all_ok ? S_OK : S_FALSE, static_cast<DWORD>(clients.size()),
                         clients.data(), values.data(), qualities.data(), stamps.data(), errors.data());
    });
  }
  for (auto& [c, s] : streams_) {
    if (s.format == kOpcStmFormatWriteComplete) continue;
    STGMEDIUM m;
    m.hGlobal = BuildOpcDataStream(s.format == kOpcStmFormatDataTime, client_, 0, S_OK, stream_items);
    FORMATETC f;
    f.cfFormat = RegisterClipboardFormat(s.format);
    calls->push_back([sink = s.sink, f, m] { sink->OnDataChange(&f, &m); });
  }
  return rate_;
}

class DaServerObject final : public IOPCServer,
                             public IOPCCommon,
                             public IOPCItemProperties,
                             public IOPCBrowseServerAddressSpace,
                             public IConnectionPointContainer,
                             public std::enable_shared_from_this<DaServerObject> {
 public:
  explicit DaServerObject(std::shared_ptr<DaServerModel::State> state) : st_(std::move(state)), browser_(st_->space) {}
  ~DaServerObject() override {
    // The client is gone: its groups go with it.
    std::lock_guard lock(st_->mutex);
    for (auto& [h, g] : groups_) g->Detach();
  }

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    if (riid == IID_IConnectionPointContainer && !st_->options.connection_points) {
      if (ppv) ppv->reset();
      return E_NOINTERFACE;
    }
    return AnswerQuery(this, riid, ppv,
                       {IID_IOPCServer, IID_IOPCCommon, IID_IOPCItemProperties, IID_IOPCBrowseServerAddressSpace,
                        IID_IConnectionPointContainer});
  }
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override {
    if (!ppCP) return E_POINTER;
    ppCP->reset();
    if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
    *ppCP = shutdown_;
    return S_OK;
  }

  // ---- IOPCServer ----
  HRESULT AddGroup(const std::string& name, BOOL active, DWORD rate, OPCHANDLE client, const LONG* bias,
                   const float* deadband, LCID lcid, OPCHANDLE* handle, DWORD* revised, const IID& riid,
                   std::shared_ptr<IUnknown>* unk) override {
    if (!handle || !revised || !unk) return E_INVALIDARG;
    if (deadband && !(*deadband >= 0 && *deadband <= 100)) return E_INVALIDARG;
    // Name check and insert in one step: two calls with one name must not both succeed.
    std::lock_guard lock(st_->mutex);
    std::string unique = name;
    if (unique.empty()) {
      do unique = "Group" + std::to_string(st_->next_id++);
      while (NamedLocked(unique, 0));
    } else if (NamedLocked(unique, 0)) {
      return OPC_E_DUPLICATENAME;
    }
    auto group = std::make_shared<DaGroup>(st_, st_->next_handle++);
    group->owner = weak_from_this();
    group->Bind();
    group->Init(unique, active != 0, rate, client, bias ? *bias : 0, deadband ? *deadband : 0, lcid);
    std::shared_ptr<IUnknown> asked;
    if (HRESULT hr = group->QueryInterface(riid, &asked); FAILED(hr)) return hr;
    groups_[group->Handle()] = group;
    *handle = group->Handle();
    *revised = group->Rate();
    *unk = std::move(asked);
    return group->Rate() == rate ? S_OK : OPC_S_UNSUPPORTEDRATE;
  }
  HRESULT GetErrorString(HRESULT error, LCID, std::string* text) override { return GetErrorString(error, text); }
  HRESULT GetStatus(OPCSERVERSTATUS* s) override {
    if (!s) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    s->ftStartTime = st_->start;
    s->ftCurrentTime = ToFileTime(st_->clock.Now());
    s->ftLastUpdateTime = st_->last_update;
    s->dwServerState = OPC_STATUS_RUNNING;
    s->dwGroupCount = static_cast<DWORD>(groups_.size());
    s->dwBandWidth = 0;
    s->wMajorVersion = st_->options.major_version;
    s->wMinorVersion = st_->options.minor_version;
    s->wBuildNumber = st_->options.build_number;
    s->szVendorInfo = st_->options.vendor_info;
    return S_OK;
  }
  HRESULT RemoveGroup(OPCHANDLE handle, BOOL) override {
    std::lock_guard lock(st_->mutex);
    auto it = groups_.find(handle);
    if (it == groups_.end()) return E_INVALIDARG;
    it->second->Detach();
    groups_.erase(it);
    return S_OK;
  }

  // ---- IOPCCommon ----
  HRESULT SetLocaleID(LCID lcid) override {
    if (lcid != 0 && lcid != 0x409) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    lcid_ = lcid;
    return S_OK;
  }
  HRESULT GetLocaleID(LCID* lcid) override {
    if (!lcid) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    *lcid = lcid_;
    return S_OK;
  }
  HRESULT QueryAvailableLocaleIDs(std::vector<LCID>* lcids) override {
    if (!lcids) return E_INVALIDARG;
    *lcids = {0, 0x409};
    return S_OK;
  }
  HRESULT GetErrorString(HRESULT error, std::string* text) override {
    if (!text) return E_INVALIDARG;
    std::string t = HResultText(error);
    if (t.empty()) return E_INVALIDARG;
    *text = t;
    return S_OK;
  }
  HRESULT SetClientName(const std::string& name) override {
    std::lock_guard lock(st_->mutex);
    client_name_ = name;
    return S_OK;
  }

  // ---- IOPCItemProperties ----
  HRESULT QueryAvailableProperties(const std::string& id, DWORD* count, std::vector<DWORD>* ids,
                                   std::vector<std::string>* descriptions, std::vector<VARTYPE>* types) override {
    if (!count || !ids || !descriptions || !types) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    const AddressItem* item = st_->space.Find(id);
    if (!item) return OPC_E_UNKNOWNITEMID;
    *ids = {1, 2, 3, 4, 5, 6};
    *descriptions = {"Item Canonical DataType", "Item Value", "Item Quality", "Item Timestamp",
                     "Item Access Rights", "Server Scan Rate"};
    *types = {VT_I2, item->canonical, VT_I2, VT_DATE, VT_I4, VT_R4};
    auto extra = st_->properties.find(id);
    if (extra != st_->properties.end()) {
      for (const DaProperty& p : extra->second) {
        ids->push_back(p.id);
        descriptions->push_back(p.description);
        types->push_back(p.type);
      }
    }
    *count = static_cast<DWORD>(ids->size());
    return S_OK;
  }
  HRESULT GetItemProperties(const std::string& id, DWORD n, const DWORD* pids, std::vector<Variant>* values,
                            std::vector<HRESULT>* errors) override {
    if (!values || !errors || n == 0 || !pids) return E_INVALIDARG;
    std::lock_guard lock(st_->mutex);
    const AddressItem* item = st_->space.Find(id);
    if (!item) return OPC_E_UNKNOWNITEMID;
    values->assign(n, Variant());
    errors->assign(n, S_OK);
    DaBackend::Reading reading;
    bool read = false;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      DWORD pid = pids[i];
      if ((pid == 2 || pid == 3 || pid == 4) && !read) {
        std::vector<DaBackend::Reading> readings;
        st_->backend.Read({item->handle}, &readings);
        if (!readings.empty()) reading = readings[0];
        read = true;
      }
      Variant& v = (*values)[i];
      switch (pid) {
        case 1: v = Variant::I2(static_cast<int16_t>(item->canonical)); continue;
        case 2: v = reading.value; continue;
        case 3: v = Variant::I2(static_cast<int16_t>(reading.quality)); continue;
        case 4: v = Variant::Date(ToDate(reading.stamp)); continue;
        case 5: v = Variant::I4(static_cast<int32_t>(item->access_rights)); continue;
        case 6: v = Variant::R4(static_cast<float>(st_->options.fastest_rate_ms)); continue;
        default: break;
      }
      auto extra = st_->properties.find(id);
      const DaProperty* p = nullptr;
      if (extra != st_->properties.end()) {
        for (const DaProperty& q : extra->second) {
          if (q.id == pid) p = &q;
        }
      }
      if (p) {
        v = p->value;
      } else {
        (*errors)[i] = OPC_E_INVALID_PID;
        hr = S_FALSE;
      }
    }
    return hr;
  }

  // ---- IOPCBrowseServerAddressSpace ----
  HRESULT QueryOrganization(OPCNAMESPACETYPE* type) override { return browser_.QueryOrganization(type); }
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const std::string& name) override {
    std::lock_guard lock(st_->mutex);
    return browser_.ChangeBrowsePosition(direction, name);
  }
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE type, const std::string& filter, VARTYPE vt, DWORD rights,
                           std::shared_ptr<IEnumString>* out) override {
    if (!out) return E_INVALIDARG;
    std::vector<std::string> names;
    HRESULT hr;
    {
      std::lock_guard lock(st_->mutex);
      hr = browser_.Browse(type, filter, vt, rights, &names);
    }
    if (FAILED(hr)) return hr;
    bool empty = names.empty();
    *out = std::make_shared<StringListEnum>(std::move(names));
    return empty ? S_FALSE : S_OK;
  }
  HRESULT GetItemID(const std::string& name, std::string* id) override {
    std::lock_guard lock(st_->mutex);
    return browser_.GetItemID(name, id);
  }

  // ---- for the model (lock held) ----
  std::vector<std::shared_ptr<DaGroup>> Groups() const {
    std::vector<std::shared_ptr<DaGroup>> out;
    for (auto& [h, g] : groups_) out.push_back(g);
    return out;
  }
  size_t GroupCount() const { return groups_.size(); }
  std::vector<std::shared_ptr<IOPCShutdown>> ShutdownSinks() const { return shutdown_->Sinks(); }
  bool NamedLocked(const std::string& name, OPCHANDLE except) const {
    for (auto& [h, g] : groups_) {
      if (h != except && g->Name() == name) return true;
    }
    return false;
  }

 private:
  std::shared_ptr<DaServerModel::State> st_;
  std::map<OPCHANDLE, std::shared_ptr<DaGroup>> groups_;
  std::shared_ptr<ConnectionPoint<IOPCShutdown>> shutdown_ = std::make_shared<ConnectionPoint<IOPCShutdown>>();
  AddressBrowser browser_;
  std::string client_name_;
  LCID lcid_ = 0;
};

HRESULT DaGroup::SetName(const std::string& name) {
  if (name.empty()) return E_INVALIDARG;
  // Taken before the lock and so released after it: if this is the last reference, the
  // server object's destructor takes the lock itself.
  const std::shared_ptr<DaServerObject> server = owner.lock();
  std::lock_guard lock(st_->mutex);
  if (server && server->NamedLocked(name, handle_)) return OPC_E_DUPLICATENAME;
  name_ = name;
  return S_OK;
}

// ---------------------------------------------------------------------------------------

DaServerModel::DaServerModel(const AddressSpace& space, DaBackend& backend, platform::Clock& clock,
                             DaServerOptions options)
    : state_(std::make_shared<State>(space, backend, clock, std::move(options))) {}

std::shared_ptr<DaServerModel> DaServerModel::Create(const AddressSpace& space, DaBackend& backend,
                                                     platform::Clock& clock, DaServerOptions options) {
  return std::shared_ptr<DaServerModel>(new DaServerModel(space, backend, clock, std::move(options)));
}

std::shared_ptr<IUnknown> DaServerModel::NewServer() {
  auto server = std::make_shared<DaServerObject>(state_);
  std::lock_guard lock(state_->mutex);
  std::erase_if(state_->servers, [](const std::weak_ptr<DaServerObject>& w) { return w.expired(); });
  state_->servers.push_back(server);
  return std::static_pointer_cast<IOPCServer>(server);
}

void DaServerModel::SetProperties(const std::string& item_id, std::vector<DaProperty> properties) {
  std::lock_guard lock(state_->mutex);
  state_->properties[item_id] = std::move(properties);
}

uint32_t DaServerModel::Poll() {
  Calls calls;
  uint32_t next = state_->options.fastest_rate_ms;
  std::vector<std::shared_ptr<DaServerObject>> alive;  // released after the lock
  {
    std::lock_guard lock(state_->mutex);
    uint32_t now = state_->clock.TickMs();
    for (auto& w : state_->servers) {
      if (auto s = w.lock()) alive.push_back(std::move(s));
    }
    for (auto& s : alive) {
      for (auto& g : s->Groups()) next = std::min(next, g->Poll(now, &calls));
    }
  }
  for (auto& c : calls) c();
  return next;
}

void DaServerModel::Shutdown(const std::string& reason) {
  std::vector<std::shared_ptr<IOPCShutdown>> sinks;
  std::vector<std::shared_ptr<DaServerObject>> alive;
  {
    std::lock_guard lock(state_->mutex);
    for (auto& w : state_->servers) {
      if (auto s = w.lock()) {
        auto more = s->ShutdownSinks();
        sinks.insert(sinks.end(), more.begin(), more.end());
        alive.push_back(std::move(s));
      }
    }
  }
  for (auto& sink : sinks) sink->ShutdownRequest(reason);
}

size_t DaServerModel::GroupCount() {
  std::vector<std::shared_ptr<DaServerObject>> alive;  // released after the lock
  std::lock_guard lock(state_->mutex);
  size_t n = 0;
  for (auto& w : state_->servers) {
    if (auto s = w.lock()) {
      n += s->GroupCount();
      alive.push_back(std::move(s));
    }
  }
  return n;
}

}  // namespace platform::com
