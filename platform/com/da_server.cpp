#include "platform/com/da_server.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <span>

#include "platform/com/connection_point.h"
#include "platform/com/data_object.h"
#include "platform/com/opc_stream.h"

namespace platform::com {

// Locking: the model's lock guards only its list of server objects and the item properties;
// each server object has a lock for its groups, browse position and settings, and each group
// one for its items, sinks and pending calls. A lock is held only to look at or change that
// state, never across a device read or write and never across a call to a sink, so a group
// waiting for the device keeps nobody else waiting. Where two are held, the server object's
// comes first.

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

// A value that is a number but does not fit the type is out of range; anything else that
// does not convert is of a type the item cannot take.
HRESULT ConversionError(HRESULT hr) { return hr == DISP_E_OVERFLOW ? OPC_E_RANGE : OPC_E_BADTYPE; }

// An ID with an empty part ("", "A..B", ".A", "A.") can name nothing in any address space.
bool WellFormedItemId(const std::string& id) {
  return !id.empty() && id.front() != '.' && id.back() != '.' && id.find("..") == std::string::npos;
}

}  // namespace

class DaServerObject;

struct DaServerModel::State {
  State(const AddressSpace& s, DaBackend& b, platform::Clock& c, DaServerOptions o, std::shared_ptr<const void> k)
      : keep(std::move(k)), space(s), backend(b), clock(c), options(std::move(o)), start(ToFileTime(c.Now())),
        last_update(FileTimeToU64(start)) {}
  const std::shared_ptr<const void> keep;
  const AddressSpace& space;
  DaBackend& backend;
  platform::Clock& clock;
  const DaServerOptions options;
  std::mutex mutex;  // the server objects and the properties below
  std::map<std::string, std::vector<DaProperty>> properties;
  std::vector<std::weak_ptr<DaServerObject>> servers;
  std::atomic<OPCHANDLE> next_handle{1};  // group and item handles
  std::atomic<DWORD> next_id{1};          // cancel ids, transactions, connections, group names
  const FILETIME start;
  std::atomic<uint64_t> last_update;
  std::atomic<bool> stopped{false};  // no more polls or completions

  // Up to the next multiple of the fastest rate; a rate beyond the largest multiple a DWORD
  // holds gets that one, so the order of rates is kept and none wraps to 0.
  DWORD Revise(DWORD requested) const {
    const uint64_t step = std::max<DWORD>(options.fastest_rate_ms, 1);
    const uint64_t up = (uint64_t{requested} + step - 1) / step * step;
    const uint64_t largest = uint64_t{0xFFFFFFFF} / step * step;
    return static_cast<DWORD>(std::clamp(up, step, largest));
  }
  // The clock's millisecond tick without its wrap-around: due times that cannot wrap, even for
  // the largest rate. The clock is read under the lock, so the count never steps back.
  uint64_t Ticks() {
    std::lock_guard lock(tick_mutex);
    const uint32_t now = clock.TickMs();
    if (!ticking) {
      ticking = true;
      ticks = now;
    } else {
      ticks += static_cast<uint32_t>(now - last_tick);
    }
    last_tick = now;
    return ticks;
  }
  std::vector<DaProperty> PropertiesOf(const std::string& id) {
    std::lock_guard lock(mutex);
    auto it = properties.find(id);
    return it == properties.end() ? std::vector<DaProperty>() : it->second;
  }
  void Updated() { last_update = FileTimeToU64(ToFileTime(clock.Now())); }

 private:
  std::mutex tick_mutex;  // the three below
  bool ticking = false;
  uint32_t last_tick = 0;
  uint64_t ticks = 0;
};

namespace {

struct Item {
  const AddressItem* def = nullptr;
  OPCHANDLE client = 0;
  bool active = true;
  VARTYPE requested = VT_EMPTY;
  uint64_t read = 0;  // the device read the cache comes from; 0: never read
  DaBackend::Reading cache;
  bool sent = false;  // reported since the last reason for a full callback
  Variant reported_value;
  WORD reported_quality = 0;
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
struct Presented {
  Variant value;
  WORD quality;
  HRESULT error;
};
Presented Present(const Item& it) {
  if (it.requested == VT_EMPTY) return {it.cache.value, it.cache.quality, S_OK};
  Variant value;
  if (HRESULT hr = VariantChangeType(&value, it.cache.value, 0, it.requested); FAILED(hr)) {
    return {Variant(), OPC_QUALITY_BAD, ConversionError(hr)};
  }
  return {std::move(value), it.cache.quality, S_OK};
}

// The items of one callback, in the form the sinks take.
struct Report {
  std::vector<OPCHANDLE> clients;
  std::vector<Variant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
  void Add(const Item& it) {
    Presented p = Present(it);
    clients.push_back(it.client);
    values.push_back(std::move(p.value));
    qualities.push_back(p.quality);
    stamps.push_back(it.cache.stamp);
    errors.push_back(p.error);
  }
  size_t size() const { return clients.size(); }
  bool AllOk() const { return std::all_of(errors.begin(), errors.end(), [](HRESULT e) { return e == S_OK; }); }
  bool AllGood() const {
    return std::all_of(qualities.begin(), qualities.end(), [](WORD q) { return (q & 0xC0) == 0xC0; });
  }
  std::vector<OpcStreamItem> StreamItems() const {
    std::vector<OpcStreamItem> out;
    out.reserve(size());
    for (size_t i = 0; i < size(); ++i) out.push_back({clients[i], qualities[i], stamps[i], values[i]});
    return out;
  }
};

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
  DaGroup(std::shared_ptr<DaServerModel::State> state, OPCHANDLE handle, std::weak_ptr<DaServerObject> owner)
      : st_(std::move(state)), handle_(handle), owner_(std::move(owner)) {}

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

  // ---- set-up by the server object, before anyone else sees the group ----
  void Init(const std::string& name, bool active, DWORD rate, OPCHANDLE client, LONG bias, float deadband, LCID lcid) {
    name_ = name;
    active_ = active;
    rate_ = st_->Revise(rate);
    client_ = client;
    bias_ = bias;
    deadband_ = deadband;
    lcid_ = lcid;
    next_due_ = st_->Ticks();
    data_point_->group = weak_from_this();
  }
  DWORD Rate() const { return rate_; }
  OPCHANDLE Handle() const { return handle_; }
  // The server object checked that no other group has the name.
  void Rename(const std::string& name) {
    std::lock_guard lock(mutex_);
    name_ = name;
  }
  // The group is removed: no more polls, sinks or completions.
  void Detach() {
    std::lock_guard lock(mutex_);
    detached_ = true;
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
        next_due_ = st_->Ticks();
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
    std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
    HRESULT hr = S_OK;
    if (rate) {
      rate_ = st_->Revise(*rate);
      if (rate_ != *rate) hr = OPC_S_UNSUPPORTEDRATE;
      next_due_ = std::min(next_due_, st_->Ticks() + rate_);  // a shorter rate counts from now
    }
    if (active) {
      if (*active && !active_) MarkAllUnsent();  // a full callback after activation
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
    const std::vector<OPCHANDLE> handles(h, h + n);
    Fetch(handles, source == OPC_DS_DEVICE ? kEvery : kActiveNeverRead);
    std::lock_guard lock(mutex_);
    states->assign(n, OPCITEMSTATE{});
    errors->assign(n, S_OK);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < n; ++i) {
      auto it = items_.find(h[i]);
      if (it == items_.end()) {
        (*errors)[i] = OPC_E_INVALIDHANDLE;
        hr = S_FALSE;
        continue;
      }
      OPCITEMSTATE& s = (*states)[i];
      s.hClient = it->second.client;
      if (source == OPC_DS_CACHE && (!active_ || !it->second.active)) {
        s.wQuality = kOutOfService;
        continue;
      }
      Presented p = Present(it->second);
      s.vDataValue = std::move(p.value);
      s.wQuality = p.quality;
      s.ftTimeStamp = it->second.cache.stamp;
      (*errors)[i] = p.error;
      if (FAILED(p.error)) hr = S_FALSE;
    }
    return hr;
  }
  HRESULT Write(DWORD n, const OPCHANDLE* h, const Variant* values, std::vector<HRESULT>* errors) override {
    if (!errors || n == 0 || !h || !values) return E_INVALIDARG;
    Batch batch;
    HRESULT hr;
    {
      std::lock_guard lock(mutex_);
      hr = Check(n, h, values, errors, &batch);
    }
    if (batch.handles.empty()) return hr;
    std::vector<HRESULT> results;
    WriteToDevice(batch.library, batch.values, &results);
    for (size_t k = 0; k < batch.where.size(); ++k) {
      (*errors)[batch.where[k]] = results[k];
      if (FAILED(results[k])) hr = S_FALSE;
    }
    return hr;
  }

  // ---- IOPCAsyncIO2 ----
  HRESULT Read(DWORD n, const OPCHANDLE* h, DWORD transaction, DWORD* cancel, std::vector<HRESULT>* errors) override {
    if (!cancel || !errors || n == 0 || !h) return E_INVALIDARG;
    if (st_->stopped) return E_FAIL;  // it would never be completed
    std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
    if (data_point_->Sinks().empty()) return CONNECT_E_NOCONNECTION;
    return QueueWrite(Pending::kWrite2, transaction, 0, n, h, values, cancel, errors);
  }
  HRESULT Refresh2(OPCDATASOURCE source, DWORD transaction, DWORD* cancel) override {
    if ((source != OPC_DS_CACHE && source != OPC_DS_DEVICE) || !cancel) return E_INVALIDARG;
    if (st_->stopped) return E_FAIL;
    std::lock_guard lock(mutex_);
    if (data_point_->Sinks().empty()) return CONNECT_E_NOCONNECTION;
    bool any_active = std::any_of(items_.begin(), items_.end(), [](const auto& kv) { return kv.second.active; });
    if (!active_ || !any_active) return E_FAIL;
    // Each waiting refresh becomes a completion of the whole group: only so many may wait.
    const auto refreshes = std::count_if(pending_.begin(), pending_.end(),
                                         [](const Pending& p) { return p.kind == Pending::kRefresh2; });
    if (static_cast<size_t>(refreshes) >= DaServerModel::kMaxPendingRefreshes) return OPC_E_REFRESHINPROGRESS;
    Pending p{Pending::kRefresh2, transaction, st_->next_id++, source, {}, {}, 0};
    *cancel = p.cancel;
    pending_.push_back(std::move(p));
    return S_OK;
  }
  HRESULT Cancel2(DWORD cancel) override {
    Calls calls;
    {
      std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
    DWORD c = st_->next_id++;
    streams_[c] = {*name, sink};
    if (*name != kOpcStmFormatWriteComplete) MarkAllUnsent();
    *connection = c;
    return S_OK;
  }
  HRESULT DUnadvise(DWORD connection) override {
    std::lock_guard lock(mutex_);
    return streams_.erase(connection) ? S_OK : OLE_E_ADVISENOTSUPPORTED;
  }

  // ---- polling at `now` (State::Ticks); returns ms until this group is due. Calls the sinks. ----
  uint64_t Poll(uint64_t now);

 private:
  struct Stream {
    std::string format;
    std::shared_ptr<IAdviseSink> sink;
  };

  // The group's IOPCDataCallback point: an advise also asks for a full callback, in one step
  // with the advise, so that no poll in between reports to the new sink first.
  class DataPoint final : public IConnectionPoint, public std::enable_shared_from_this<DataPoint> {
   public:
    HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
      return AnswerQuery(this, riid, ppv, {IID_IConnectionPoint});
    }
    HRESULT GetConnectionInterface(IID* iid) override { return point_.GetConnectionInterface(iid); }
    HRESULT Advise(const std::shared_ptr<IUnknown>& sink, DWORD* cookie) override {
      auto g = group.lock();
      if (!g) return point_.Advise(sink, cookie);
      std::lock_guard lock(g->mutex_);
      HRESULT hr = point_.Advise(sink, cookie);
      if (SUCCEEDED(hr)) g->MarkAllUnsent();
      return hr;
    }
    HRESULT Unadvise(DWORD cookie) override { return point_.Unadvise(cookie); }
    std::vector<std::shared_ptr<IOPCDataCallback>> Sinks() const { return point_.Sinks(); }
    void Clear() { point_.Clear(); }
    std::weak_ptr<DaGroup> group;  // a client may hold the point longer than the group lives

   private:
    ConnectionPoint<IOPCDataCallback> point_{1};
  };

  // Writes that passed their checks: server and library handles, converted values, and where
  // in the call each came from.
  struct Batch {
    std::vector<OPCHANDLE> handles;
    std::vector<uint32_t> library;
    std::vector<Variant> values;
    std::vector<size_t> where;
  };

  enum Which { kEvery, kActiveNeverRead };

  void MarkAllUnsent() {
    for (auto& [h, it] : items_) it.sent = false;
    next_due_ = st_->Ticks();
  }

  HRESULT Items(DWORD n, const OPCITEMDEF* defs, bool add, std::vector<OPCITEMRESULT>* results,
                std::vector<HRESULT>* errors) {
    if (!results || !errors || n == 0 || !defs) return E_INVALIDARG;
    results->assign(n, OPCITEMRESULT{});
    errors->assign(n, S_OK);
    HRESULT hr = S_OK;
    // The address space does not change while served: the checks need no lock.
    std::vector<std::pair<OPCHANDLE, Item>> added;
    for (DWORD i = 0; i < n; ++i) {
      const OPCITEMDEF& d = defs[i];
      const AddressItem* def = st_->space.Find(d.szItemID);
      HRESULT e = S_OK;
      if (!WellFormedItemId(d.szItemID)) {
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
        added.emplace_back(r.hServer, std::move(it));
      }
    }
    if (!added.empty()) {
      std::lock_guard lock(mutex_);
      for (auto& [h, it] : added) items_.emplace_hint(items_.end(), h, std::move(it));
      next_due_ = st_->Ticks();  // a full callback after adding items
    }
    return hr;
  }

  // fn(i, item) for each known handle h[i]; i is the position in the call, so per-handle
  // arguments stay with their handle when an earlier one is unknown.
  template <class Fn>
  HRESULT ForEach(DWORD n, const OPCHANDLE* h, std::vector<HRESULT>* errors, Fn fn) {
    if (!errors || n == 0 || !h) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
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

  // Checks writes (lock held): handle, rights, a value at all, conversion to the canonical
  // type. The accepted ones go into *batch; refused ones get their code.
  HRESULT Check(DWORD n, const OPCHANDLE* h, const Variant* values, std::vector<HRESULT>* errors, Batch* batch) {
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
      } else if (HRESULT c = VariantChangeType(&v, values[i], 0, it->second.def->canonical); FAILED(c)) {
        e = ConversionError(c);
      }
      (*errors)[i] = e;
      if (FAILED(e)) {
        hr = S_FALSE;
        continue;
      }
      batch->handles.push_back(h[i]);
      batch->library.push_back(it->second.def->handle);
      batch->values.push_back(std::move(v));
      batch->where.push_back(i);
    }
    return hr;
  }

  void WriteToDevice(const std::vector<uint32_t>& library, const std::vector<Variant>& values,
                     std::vector<HRESULT>* results) {
    results->clear();
    st_->backend.Write(library, values, results);
    results->resize(library.size(), E_FAIL);  // a backend that answers short fails the rest
  }

  // Brings the cache of the items up to date from the device: every one of them, or the active
  // ones never read. The read runs outside the lock; a reading lands only on an item still
  // there whose cache is not from a later read.
  void Fetch(const std::vector<OPCHANDLE>& handles, Which which) {
    std::vector<OPCHANDLE> known;
    std::vector<uint32_t> library;
    uint64_t read;
    {
      std::lock_guard lock(mutex_);
      for (OPCHANDLE h : handles) {
        auto it = items_.find(h);
        if (it == items_.end()) continue;
        if (which == kActiveNeverRead && (!active_ || !it->second.active || it->second.read)) continue;
        known.push_back(h);
        library.push_back(it->second.def->handle);
      }
      if (library.empty()) return;
      read = ++reads_;
    }
    std::vector<DaBackend::Reading> readings;
    st_->backend.Read(library, &readings);
    std::lock_guard lock(mutex_);
    Store(known, readings, read);
  }

  // Lock held. Handles in the items' order find their items in one pass.
  void Store(const std::vector<OPCHANDLE>& handles, std::vector<DaBackend::Reading>& readings, uint64_t read) {
    auto it = items_.begin();
    for (size_t i = 0; i < handles.size() && i < readings.size(); ++i) {
      if (it == items_.end() || it->first != handles[i]) it = items_.find(handles[i]);
      if (it == items_.end()) continue;  // removed meanwhile
      Item& item = it->second;
      if (item.read < read) {
        item.cache = std::move(readings[i]);
        item.read = read;
      }
      ++it;
    }
    st_->Updated();
  }

  HRESULT QueueWrite(Pending::Kind kind, DWORD transaction, DWORD connection, DWORD n, const OPCHANDLE* h,
                     const Variant* values, DWORD* id, std::vector<HRESULT>* errors) {
    // Once stopped no poll takes it: refused, never taken and then left unwritten.
    if (st_->stopped) return E_FAIL;
    Pending p{kind, transaction, st_->next_id++, OPC_DS_DEVICE, {}, {}, connection};
    Batch batch;
    HRESULT hr = Check(n, h, values, errors, &batch);
    p.handles = std::move(batch.handles);
    p.values = std::move(batch.values);
    if (kind == Pending::kWrite1) p.transaction = p.cancel;
    *id = kind == Pending::kWrite1 ? p.transaction : p.cancel;
    if (!p.handles.empty()) pending_.push_back(std::move(p));
    return hr;
  }

  // Still to be served: neither removed nor the model stopped.
  bool Live() {
    std::lock_guard lock(mutex_);
    return !detached_ && !st_->stopped;
  }
  // A stop leaves out what only reads; a write taken for the poll under way still goes out.
  bool Serves(const Pending& p) {
    std::lock_guard lock(mutex_);
    const bool write = p.kind == Pending::kWrite1 || p.kind == Pending::kWrite2;
    return !detached_ && (write || !st_->stopped);
  }
  // Each completion reaches its sinks before the next is made, so what a client has waiting
  // is bounded where its events are, and a group that goes or a stop ends the work at once.
  void Complete(std::vector<Pending>& pending);
  void CompleteRead(Pending& p, Calls* calls);
  void CompleteWrite(Pending& p, Calls* calls);
  // One device (or cache) read for the refreshes that `pending` starts with; the items to report.
  Report Refreshed(std::span<const Pending> pending);
  void CompleteRefresh(const Pending& p, const Report& r, Calls* calls);
  void ReportChanges(const std::vector<OPCHANDLE>& handles, Calls* calls);

  std::shared_ptr<DaServerModel::State> st_;
  const OPCHANDLE handle_;
  const std::weak_ptr<DaServerObject> owner_;
  const std::shared_ptr<DataPoint> data_point_ = std::make_shared<DataPoint>();

  std::mutex mutex_;  // everything below
  std::string name_;
  bool active_ = true;
  DWORD rate_ = 1000;
  OPCHANDLE client_ = 0;
  LONG bias_ = 0;
  float deadband_ = 0;
  LCID lcid_ = 0;
  uint64_t next_due_ = 0;
  uint64_t reads_ = 0;
  bool detached_ = false;
  std::map<OPCHANDLE, Item> items_;
  std::map<DWORD, Stream> streams_;
  std::vector<Pending> pending_;
};

void DaGroup::CompleteWrite(Pending& p, Calls* calls) {
  std::vector<uint32_t> library;
  std::vector<Variant> values;
  std::vector<OPCHANDLE> clients;
  {
    std::lock_guard lock(mutex_);
    // Items removed meanwhile are left out.
    for (size_t i = 0; i < p.handles.size(); ++i) {
      auto it = items_.find(p.handles[i]);
      if (it == items_.end()) continue;
      library.push_back(it->second.def->handle);
      values.push_back(std::move(p.values[i]));
      clients.push_back(it->second.client);
    }
  }
  if (library.empty()) return;
  std::vector<HRESULT> results;
  WriteToDevice(library, values, &results);
  HRESULT master = std::all_of(results.begin(), results.end(), [](HRESULT r) { return r == S_OK; }) ? S_OK : S_FALSE;
  std::lock_guard lock(mutex_);
  if (detached_) return;
  if (p.kind == Pending::kWrite2) {
    for (auto& sink : data_point_->Sinks()) {
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
}

void DaGroup::Complete(std::vector<Pending>& pending) {
  // Refreshes next to each other share one read; a read or write between them ends that run,
  // so no refresh reports values older than a completion its client already has.
  std::optional<Report> refreshed;
  for (size_t i = 0; i < pending.size(); ++i) {
    Pending& p = pending[i];
    if (!Serves(p)) continue;
    Calls calls;
    if (p.kind == Pending::kWrite1 || p.kind == Pending::kWrite2) {
      CompleteWrite(p, &calls);
      refreshed.reset();
    } else if (p.kind == Pending::kRead2) {
      CompleteRead(p, &calls);
      refreshed.reset();
    } else {
      if (!refreshed) refreshed = Refreshed(std::span(pending).subspan(i));
      CompleteRefresh(p, *refreshed, &calls);
    }
    for (auto& c : calls) c();
  }
}

void DaGroup::CompleteRead(Pending& p, Calls* calls) {
  Fetch(p.handles, kEvery);
  std::lock_guard lock(mutex_);
  if (detached_) return;
  auto r = std::make_shared<Report>();
  for (OPCHANDLE h : p.handles) {
    auto it = items_.find(h);
    if (it != items_.end()) r->Add(it->second);
  }
  if (r->size() == 0) return;
  for (auto& sink : data_point_->Sinks()) {
    calls->push_back([=, t = p.transaction, c = client_] {
      sink->OnReadComplete(t, c, S_OK, S_OK, static_cast<DWORD>(r->size()), r->clients.data(), r->values.data(),
                           r->qualities.data(), r->stamps.data(), r->errors.data());
    });
  }
}

Report DaGroup::Refreshed(std::span<const Pending> pending) {
  bool device = false;
  for (const Pending& p : pending) {
    if (p.kind != Pending::kRefresh2) break;
    device = device || p.source == OPC_DS_DEVICE;
  }
  std::vector<OPCHANDLE> handles;
  {
    std::lock_guard lock(mutex_);
    for (auto& [h, it] : items_) {
      if (it.active) handles.push_back(h);
    }
  }
  Fetch(handles, device ? kEvery : kActiveNeverRead);
  Report r;
  std::lock_guard lock(mutex_);
  auto it = items_.begin();
  for (OPCHANDLE h : handles) {
    if (it == items_.end() || it->first != h) it = items_.find(h);
    if (it != items_.end()) r.Add((it++)->second);
  }
  return r;
}

void DaGroup::CompleteRefresh(const Pending& p, const Report& r, Calls* calls) {
  std::lock_guard lock(mutex_);
  if (detached_ || r.size() == 0) return;
  // The calls run before `r` goes: one report for every refresh of the poll.
  for (auto& sink : data_point_->Sinks()) {
    calls->push_back([&r, sink, t = p.transaction, c = client_] {
      sink->OnDataChange(t, c, S_OK, S_OK, static_cast<DWORD>(r.size()), r.clients.data(), r.values.data(),
                         r.qualities.data(), r.stamps.data(), r.errors.data());
    });
  }
}

uint64_t DaGroup::Poll(uint64_t now) {
  std::vector<Pending> pending;
  std::vector<OPCHANDLE> handles;
  std::vector<uint32_t> library;
  uint64_t read = 0;
  uint64_t wait;
  {
    std::lock_guard lock(mutex_);
    if (detached_) return st_->options.fastest_rate_ms;
    pending.swap(pending_);
    if (!active_ || st_->stopped) {
      wait = st_->options.fastest_rate_ms;
    } else if (now < next_due_) {
      wait = next_due_ - now;
    } else {
      next_due_ = now + rate_;
      wait = rate_;
      for (auto& [h, it] : items_) {
        if (!it.active) continue;
        handles.push_back(h);
        library.push_back(it.def->handle);
      }
      read = ++reads_;
    }
  }
  Complete(pending);
  if (!read || !Live()) return wait;

  std::vector<DaBackend::Reading> readings;
  if (!library.empty()) st_->backend.Read(library, &readings);
  Calls calls;
  {
    std::lock_guard lock(mutex_);
    if (detached_) return wait;
    Store(handles, readings, read);
    if (!active_) return wait;  // switched off while the device was read
    ReportChanges(handles, &calls);
  }
  for (auto& c : calls) c();
  return wait;
}

// Lock held.
void DaGroup::ReportChanges(const std::vector<OPCHANDLE>& handles, Calls* calls) {
  auto data_sinks = data_point_->Sinks();
  bool streams = std::any_of(streams_.begin(), streams_.end(),
                             [](const auto& kv) { return kv.second.format != kOpcStmFormatWriteComplete; });
  if (data_sinks.empty() && !streams) return;
  // Only what changed in value or quality since it was last reported: the device stamps a
  // register at every answer, so a new time stamp alone is no change.
  auto r = std::make_shared<Report>();
  auto it = items_.begin();
  for (OPCHANDLE h : handles) {
    if (it == items_.end() || it->first != h) it = items_.find(h);
    if (it == items_.end()) continue;
    Item& item = (it++)->second;
    if (!item.active || !item.read) continue;
    if (item.sent && item.cache.value == item.reported_value && item.cache.quality == item.reported_quality) continue;
    item.sent = true;
    item.reported_value = item.cache.value;
    item.reported_quality = item.cache.quality;
    r->Add(item);
  }
  if (r->size() == 0) return;
  const HRESULT quality = r->AllGood() ? S_OK : S_FALSE, error = r->AllOk() ? S_OK : S_FALSE;
  for (auto& sink : data_sinks) {
    calls->push_back([=, c = client_] {
      sink->OnDataChange(0, c, quality, error, static_cast<DWORD>(r->size()), r->clients.data(), r->values.data(),
                         r->qualities.data(), r->stamps.data(), r->errors.data());
    });
  }
  if (!streams) return;
  const auto stream_items = std::make_shared<const std::vector<OpcStreamItem>>(r->StreamItems());
  for (auto& [c, s] : streams_) {
    if (s.format == kOpcStmFormatWriteComplete) continue;
    const bool with_time = s.format == kOpcStmFormatDataTime;
    // The block is built when its turn comes, not all of them before the first goes out.
    calls->push_back([=, sink = s.sink, group = client_, format = s.format] {
      STGMEDIUM m;
      m.hGlobal = BuildOpcDataStream(with_time, group, 0, S_OK, *stream_items);
      FORMATETC f;
      f.cfFormat = RegisterClipboardFormat(format);
      sink->OnDataChange(&f, &m);
    });
  }
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
    // The client is gone: its groups go with it. Nobody else holds this object now.
    for (auto& [h, g] : groups_) g.group->Detach();
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
    auto group = std::make_shared<DaGroup>(st_, st_->next_handle++, weak_from_this());
    std::shared_ptr<IUnknown> asked;
    if (HRESULT hr = group->QueryInterface(riid, &asked); FAILED(hr)) return hr;
    // Name check and insert in one step: two calls with one name must not both succeed.
    std::lock_guard lock(mutex_);
    std::string unique = name;
    if (unique.empty()) {
      do unique = "Group" + std::to_string(st_->next_id++);
      while (NamedLocked(unique, 0));
    } else if (NamedLocked(unique, 0)) {
      return OPC_E_DUPLICATENAME;
    }
    group->Init(unique, active != 0, rate, client, bias ? *bias : 0, deadband ? *deadband : 0, lcid);
    groups_[group->Handle()] = {group, unique};
    *handle = group->Handle();
    *revised = group->Rate();
    *unk = std::move(asked);
    return group->Rate() == rate ? S_OK : OPC_S_UNSUPPORTEDRATE;
  }
  HRESULT GetErrorString(HRESULT error, LCID, std::string* text) override { return GetErrorString(error, text); }
  HRESULT GetStatus(OPCSERVERSTATUS* s) override {
    if (!s) return E_INVALIDARG;
    {
      std::lock_guard lock(mutex_);
      s->dwGroupCount = static_cast<DWORD>(groups_.size());
    }
    s->ftStartTime = st_->start;
    s->ftCurrentTime = ToFileTime(st_->clock.Now());
    s->ftLastUpdateTime = U64ToFileTime(st_->last_update);
    s->dwServerState = OPC_STATUS_RUNNING;
    s->dwBandWidth = 0;
    s->wMajorVersion = st_->options.major_version;
    s->wMinorVersion = st_->options.minor_version;
    s->wBuildNumber = st_->options.build_number;
    s->szVendorInfo = st_->options.vendor_info;
    return S_OK;
  }
  HRESULT RemoveGroup(OPCHANDLE handle, BOOL) override {
    std::shared_ptr<DaGroup> group;
    {
      std::lock_guard lock(mutex_);
      auto it = groups_.find(handle);
      if (it == groups_.end()) return E_INVALIDARG;
      group = std::move(it->second.group);
      groups_.erase(it);
    }
    group->Detach();
    return S_OK;
  }

  // ---- IOPCCommon ----
  HRESULT SetLocaleID(LCID lcid) override {
    if (lcid != 0 && lcid != 0x409) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    lcid_ = lcid;
    return S_OK;
  }
  HRESULT GetLocaleID(LCID* lcid) override {
    if (!lcid) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
    client_name_ = name;
    return S_OK;
  }

  // ---- IOPCItemProperties ----
  HRESULT QueryAvailableProperties(const std::string& id, DWORD* count, std::vector<DWORD>* ids,
                                   std::vector<std::string>* descriptions, std::vector<VARTYPE>* types) override {
    if (!count || !ids || !descriptions || !types) return E_INVALIDARG;
    const AddressItem* item = st_->space.Find(id);
    if (!item) return OPC_E_UNKNOWNITEMID;
    *ids = {1, 2, 3, 4, 5, 6};
    *descriptions = {"Item Canonical DataType", "Item Value", "Item Quality", "Item Timestamp",
                     "Item Access Rights", "Server Scan Rate"};
    *types = {VT_I2, item->canonical, VT_I2, VT_DATE, VT_I4, VT_R4};
    for (const DaProperty& p : st_->PropertiesOf(id)) {
      ids->push_back(p.id);
      descriptions->push_back(p.description);
      types->push_back(p.type);
    }
    *count = static_cast<DWORD>(ids->size());
    return S_OK;
  }
  HRESULT GetItemProperties(const std::string& id, DWORD n, const DWORD* pids, std::vector<Variant>* values,
                            std::vector<HRESULT>* errors) override {
    if (!values || !errors || n == 0 || !pids) return E_INVALIDARG;
    const AddressItem* item = st_->space.Find(id);
    if (!item) return OPC_E_UNKNOWNITEMID;
    const std::vector<DaProperty> extra = st_->PropertiesOf(id);
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
      auto p = std::find_if(extra.begin(), extra.end(), [pid](const DaProperty& q) { return q.id == pid; });
      if (p != extra.end()) {
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
    std::lock_guard lock(mutex_);
    return browser_.ChangeBrowsePosition(direction, name);
  }
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE type, const std::string& filter, VARTYPE vt, DWORD rights,
                           std::shared_ptr<IEnumString>* out) override {
    if (!out) return E_INVALIDARG;
    std::vector<std::string> names;
    HRESULT hr;
    {
      std::lock_guard lock(mutex_);
      hr = browser_.Browse(type, filter, vt, rights, &names);
    }
    if (FAILED(hr)) return hr;
    bool empty = names.empty();
    *out = std::make_shared<StringListEnum>(std::move(names));
    return empty ? S_FALSE : S_OK;
  }
  HRESULT GetItemID(const std::string& name, std::string* id) override {
    std::lock_guard lock(mutex_);
    return browser_.GetItemID(name, id);
  }

  // ---- for the model and the groups ----
  std::vector<std::shared_ptr<DaGroup>> Groups() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<DaGroup>> out;
    out.reserve(groups_.size());
    for (auto& [h, g] : groups_) out.push_back(g.group);
    return out;
  }
  size_t GroupCount() {
    std::lock_guard lock(mutex_);
    return groups_.size();
  }
  std::string ClientName() {
    std::lock_guard lock(mutex_);
    return client_name_;
  }
  std::vector<std::shared_ptr<IOPCShutdown>> ShutdownSinks() const { return shutdown_->Sinks(); }
  HRESULT RenameGroup(OPCHANDLE handle, const std::string& name) {
    std::lock_guard lock(mutex_);
    auto it = groups_.find(handle);
    if (it == groups_.end()) return E_INVALIDARG;
    if (NamedLocked(name, handle)) return OPC_E_DUPLICATENAME;
    it->second.name = name;
    it->second.group->Rename(name);
    return S_OK;
  }

 private:
  struct Entry {
    std::shared_ptr<DaGroup> group;
    std::string name;
  };
  bool NamedLocked(const std::string& name, OPCHANDLE except) const {
    return std::any_of(groups_.begin(), groups_.end(),
                       [&](const auto& kv) { return kv.first != except && kv.second.name == name; });
  }

  std::shared_ptr<DaServerModel::State> st_;
  const std::shared_ptr<ConnectionPoint<IOPCShutdown>> shutdown_ = std::make_shared<ConnectionPoint<IOPCShutdown>>();
  std::mutex mutex_;  // everything below
  std::map<OPCHANDLE, Entry> groups_;
  AddressBrowser browser_;
  std::string client_name_;
  LCID lcid_ = 0;
};

HRESULT DaGroup::SetName(const std::string& name) {
  if (name.empty()) return E_INVALIDARG;
  // Held until the call returns: if this is the last reference, the server object goes here,
  // with no lock held.
  const std::shared_ptr<DaServerObject> server = owner_.lock();
  if (!server) {
    Rename(name);
    return S_OK;
  }
  HRESULT hr = server->RenameGroup(handle_, name);
  if (hr == E_INVALIDARG) {
    Rename(name);  // removed from its server meanwhile: no other group to clash with
    return S_OK;
  }
  return hr;
}

// ---------------------------------------------------------------------------------------

DaServerModel::DaServerModel(const AddressSpace& space, DaBackend& backend, platform::Clock& clock,
                             DaServerOptions options, std::shared_ptr<const void> keep)
    : state_(std::make_shared<State>(space, backend, clock, std::move(options), std::move(keep))) {}

std::shared_ptr<DaServerModel> DaServerModel::Create(const AddressSpace& space, DaBackend& backend,
                                                     platform::Clock& clock, DaServerOptions options,
                                                     std::shared_ptr<const void> keep) {
  return std::shared_ptr<DaServerModel>(new DaServerModel(space, backend, clock, std::move(options), std::move(keep)));
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

namespace {

// The server objects still in use. The caller lets go of them with no lock held, as a server
// object may go with its last reference.
std::vector<std::shared_ptr<DaServerObject>> Servers(DaServerModel::State& st) {
  std::vector<std::shared_ptr<DaServerObject>> alive;
  std::lock_guard lock(st.mutex);
  for (auto& w : st.servers) {
    if (auto s = w.lock()) alive.push_back(std::move(s));
  }
  return alive;
}

}  // namespace

uint32_t DaServerModel::Poll() {
  uint64_t next = state_->options.fastest_rate_ms;
  const uint64_t now = state_->Ticks();
  const std::vector<std::shared_ptr<DaServerObject>> alive = Servers(*state_);
  // Once stopped, a group's poll performs only the writes it has taken: a write a client was
  // told is taken still goes to the device, and nothing else costs time.
  for (auto& s : alive) {
    for (auto& g : s->Groups()) next = std::min(next, g->Poll(now));
  }
  return static_cast<uint32_t>(next);
}

void DaServerModel::StopPolling() { state_->stopped = true; }

void DaServerModel::Shutdown(const std::string& reason) {
  const std::vector<std::shared_ptr<DaServerObject>> alive = Servers(*state_);
  for (auto& s : alive) {
    for (auto& sink : s->ShutdownSinks()) sink->ShutdownRequest(reason);
  }
}

size_t DaServerModel::GroupCount() {
  size_t n = 0;
  for (auto& s : Servers(*state_)) n += s->GroupCount();
  return n;
}

size_t DaServerModel::ClientCount() { return Servers(*state_).size(); }

std::vector<std::string> DaServerModel::ClientNames() {
  std::vector<std::string> names;
  for (auto& s : Servers(*state_)) names.push_back(s->ClientName());
  return names;
}

}  // namespace platform::com
