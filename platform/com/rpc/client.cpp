#include "platform/com/rpc/client.h"

#include <grpcpp/grpcpp.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
#include "platform/com/data_object.h"
#include "platform/com/opc_common.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/channel.h"
#include "platform/com/rpc/local_activation.h"
#include "platform/com/rpc/opc.grpc.pb.h"
#include "platform/com/rpc/pending_change.h"
#include "platform/com/rpc/wire.h"

namespace platform::com::rpc {

namespace pb = qar::com;

namespace {

constexpr char kSessionKey[] = "qar-session";

enum class SinkKind { kPoint, kDataObject };

// What the reader thread and the proxies share: the sinks by number and whether the
// connection still lives. The reader thread never holds the Connection itself.
struct Shared : std::enable_shared_from_this<Shared> {
  struct Sink {
    std::shared_ptr<IUnknown> object;
    bool on_group = false;
    OPCHANDLE group = 0;
  };
  // (kind, on_group, group, cookie) of an advise -> sink number
  using AdviseKey = std::tuple<int, bool, OPCHANDLE, DWORD>;

  explicit Shared(Apartment* a) : apartment(a) {}

  Apartment* const apartment;
  std::mutex mutex;
  std::condition_variable cv;
  bool alive = true;
  bool release_posted = false;
  bool hello_received = false;
  bool stream_ended = false;
  pb::Connected hello;
  std::map<uint32_t, Sink> sinks;
  std::map<AdviseKey, uint32_t> advised;
  uint32_t next_sink = 1;
  // By sink: the data change posted last, while it still waits for the loop and nothing else
  // for that sink was posted after it. Later ordinary changes merge into it.
  std::map<uint32_t, std::shared_ptr<PendingChange>> open;
  // Told on the apartment when the connection ends without the client letting go of it.
  std::vector<std::function<void()>> on_lost;

  bool Alive() {
    std::lock_guard lock(mutex);
    return alive;
  }
  // The connection is gone: calls fail from now on. The sinks are let go on the apartment,
  // after the callbacks that arrived before the end (a shutdown request among them) have run,
  // and then those who watch the connection are told.
  void Die() {
    bool post = false;
    std::vector<std::function<void()>> watchers;
    {
      std::lock_guard lock(mutex);
      alive = false;
      post = !release_posted;
      release_posted = true;
      if (post) watchers.swap(on_lost);
    }
    cv.notify_all();
    if (!post) return;
    std::weak_ptr<Shared> weak = weak_from_this();
    apartment->Post([weak] {
      auto self = weak.lock();
      if (!self) return;
      std::map<uint32_t, Sink> dropped;
      std::lock_guard lock(self->mutex);
      dropped.swap(self->sinks);
      self->advised.clear();
      self->open.clear();
    });
    for (auto& w : watchers) apartment->Post(std::move(w));
  }
  // on_lost runs on the apartment once the connection has ended (at once when it has).
  void Watch(std::function<void()> on_lost_fn) {
    {
      std::lock_guard lock(mutex);
      if (alive) {
        on_lost.push_back(std::move(on_lost_fn));
        return;
      }
    }
    apartment->Post(std::move(on_lost_fn));
  }
  // The client lets go of the connection: nobody is to be told of its end.
  void ForgetWatchers() {
    std::lock_guard lock(mutex);
    on_lost.clear();
  }

  // ---- merging of waiting data changes ----
  bool TryMerge(uint32_t sink, const PendingChange& change) {
    std::lock_guard lock(mutex);
    auto it = open.find(sink);
    if (it == open.end() || !it->second->Takes(change)) return false;
    it->second->Merge(change);
    return true;
  }
  void Open(uint32_t sink, std::shared_ptr<PendingChange> change) {
    std::lock_guard lock(mutex);
    open[sink] = std::move(change);
  }
  // Nothing merges into the sink's waiting change any more: it is being delivered, or
  // something else for that sink comes after it.
  void Close(uint32_t sink, const std::shared_ptr<PendingChange>& only = nullptr) {
    std::lock_guard lock(mutex);
    auto it = open.find(sink);
    if (it != open.end() && (!only || it->second == only)) open.erase(it);
  }
  uint32_t AddSink(std::shared_ptr<IUnknown> object, bool on_group, OPCHANDLE group) {
    std::lock_guard lock(mutex);
    uint32_t id = next_sink++;
    sinks[id] = {std::move(object), on_group, group};
    return id;
  }
  void DropSink(uint32_t id) {
    Sink dropped;
    std::lock_guard lock(mutex);
    auto it = sinks.find(id);
    if (it == sinks.end()) return;
    dropped = std::move(it->second);
    sinks.erase(it);
    open.erase(id);
  }
  std::shared_ptr<IUnknown> FindSink(uint32_t id) {
    std::lock_guard lock(mutex);
    auto it = sinks.find(id);
    return it == sinks.end() ? nullptr : it->second.object;
  }
  void Advised(const AdviseKey& key, uint32_t id) {
    std::lock_guard lock(mutex);
    advised[key] = id;
  }
  // The sink number of an advise, forgotten; 0 when unknown.
  uint32_t Unadvised(const AdviseKey& key) {
    std::lock_guard lock(mutex);
    auto it = advised.find(key);
    if (it == advised.end()) return 0;
    uint32_t id = it->second;
    advised.erase(it);
    return id;
  }
  void ForgetGroup(OPCHANDLE group) {
    std::vector<Sink> dropped;
    std::lock_guard lock(mutex);
    std::erase_if(advised, [group](const auto& kv) { return std::get<1>(kv.first) && std::get<2>(kv.first) == group; });
    for (auto it = sinks.begin(); it != sinks.end();) {
      if (it->second.on_group && it->second.group == group) {
        dropped.push_back(std::move(it->second));
        open.erase(it->first);
        it = sinks.erase(it);
      } else {
        ++it;
      }
    }
  }
};

template <class T>
const T* Ptr(const std::vector<T>& v) {
  return v.empty() ? nullptr : v.data();
}

// Runs a callback on the apartment if its sink is still advised by then; false when the sink
// is not advised now, and nothing was posted.
template <class I, class Fn>
bool Deliver(const std::shared_ptr<Shared>& shared, uint32_t sink_id, Fn fn) {
  std::shared_ptr<IUnknown> object = shared->FindSink(sink_id);
  std::shared_ptr<I> sink = Query<I>(object);
  if (!sink) return false;
  std::weak_ptr<Shared> weak = shared;
  shared->apartment->Post([weak, sink_id, sink, fn = std::move(fn)] {
    auto s = weak.lock();
    if (!s || Query<I>(s->FindSink(sink_id)) != sink) return;  // unadvised meanwhile
    fn(*sink);
  });
  return true;
}

// An ordinary data change: merged into the one of its sink that still waits for the loop, or
// posted as the one that waits, so that a held-up loop finds at most one change per sink.
void DeliverChange(const std::shared_ptr<Shared>& shared, uint32_t sink_id, PendingChange change) {
  if (shared->TryMerge(sink_id, change)) return;
  auto pending = std::make_shared<PendingChange>(std::move(change));
  // Open before the post: the loop may run it at once, and what merges must go into it.
  shared->Open(sink_id, pending);
  std::weak_ptr<Shared> weak = shared;
  auto take = [weak, sink_id, pending] {
    if (auto s = weak.lock()) s->Close(sink_id, pending);
  };
  bool posted;
  if (pending->IsStream()) {
    posted = Deliver<IAdviseSink>(shared, sink_id, [take, pending](IAdviseSink& cb) {
      take();
      FORMATETC fmt;
      fmt.cfFormat = RegisterClipboardFormat(pending->Format());
      STGMEDIUM medium;
      medium.hGlobal = pending->StreamBlock();
      cb.OnDataChange(&fmt, &medium);
    });
  } else {
    posted = Deliver<IOPCDataCallback>(shared, sink_id, [take, pending](IOPCDataCallback& cb) {
      take();
      const PendingChange& c = *pending;
      cb.OnDataChange(0, c.Group(), c.MasterQuality(), c.MasterError(), static_cast<DWORD>(c.Handles().size()),
                      Ptr(c.Handles()), Ptr(c.Values()), Ptr(c.Qualities()), Ptr(c.Stamps()), Ptr(c.Errors()));
    });
  }
  if (!posted) shared->Close(sink_id, pending);
}

struct DecodedDataChange {
  pb::DataChange msg;
  std::vector<OPCHANDLE> handles;
  std::vector<Variant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
};

bool Decode(const pb::DataChange& m, DecodedDataChange* d) {
  size_t n = m.client_handles_size();
  if (static_cast<size_t>(m.values_size()) != n || static_cast<size_t>(m.qualities_size()) != n ||
      static_cast<size_t>(m.time_stamps_size()) != n || static_cast<size_t>(m.errors_size()) != n) {
    return false;
  }
  d->msg = m;
  d->handles.assign(m.client_handles().begin(), m.client_handles().end());
  for (const pb::Value& v : m.values()) {
    Variant x;
    if (!wire::DecodeValue(v, &x)) return false;
    d->values.push_back(std::move(x));
  }
  for (uint32_t q : m.qualities()) d->qualities.push_back(wire::Narrow16(q));
  for (uint64_t t : m.time_stamps()) d->stamps.push_back(wire::DecodeTime(t));
  d->errors.assign(m.errors().begin(), m.errors().end());
  return true;
}

void HandleEvent(const std::shared_ptr<Shared>& shared, const pb::Event& e) {
  switch (e.kind_case()) {
    case pb::Event::kConnected: {
      std::lock_guard lock(shared->mutex);
      if (!shared->hello_received) {
        shared->hello = e.connected();
        shared->hello_received = true;
      }
      shared->cv.notify_all();
      return;
    }
    case pb::Event::kDataChange:
    case pb::Event::kReadComplete: {
      auto d = std::make_shared<DecodedDataChange>();
      bool read = e.kind_case() == pb::Event::kReadComplete;
      if (!Decode(read ? e.read_complete() : e.data_change(), d.get())) return;
      if (!read && d->msg.transaction_id() == 0) {
        DeliverChange(shared, e.sink(),
                      PendingChange::FromCallback(d->msg.group(), std::move(d->handles), std::move(d->values),
                                                  std::move(d->qualities), std::move(d->stamps), std::move(d->errors)));
        return;
      }
      shared->Close(e.sink());
      Deliver<IOPCDataCallback>(shared, e.sink(), [d, read](IOPCDataCallback& cb) {
        auto n = static_cast<DWORD>(d->handles.size());
        if (read) {
          cb.OnReadComplete(d->msg.transaction_id(), d->msg.group(), d->msg.master_quality(), d->msg.master_error(), n,
                            Ptr(d->handles), Ptr(d->values), Ptr(d->qualities), Ptr(d->stamps), Ptr(d->errors));
        } else {
          cb.OnDataChange(d->msg.transaction_id(), d->msg.group(), d->msg.master_quality(), d->msg.master_error(), n,
                          Ptr(d->handles), Ptr(d->values), Ptr(d->qualities), Ptr(d->stamps), Ptr(d->errors));
        }
      });
      return;
    }
    case pb::Event::kWriteComplete: {
      const pb::WriteComplete& w = e.write_complete();
      if (w.client_handles_size() != w.errors_size()) return;
      std::vector<OPCHANDLE> handles(w.client_handles().begin(), w.client_handles().end());
      std::vector<HRESULT> errors(w.errors().begin(), w.errors().end());
      shared->Close(e.sink());
      Deliver<IOPCDataCallback>(shared, e.sink(), [w, handles, errors](IOPCDataCallback& cb) {
        cb.OnWriteComplete(w.transaction_id(), w.group(), w.master_error(), static_cast<DWORD>(handles.size()),
                           Ptr(handles), Ptr(errors));
      });
      return;
    }
    case pb::Event::kCancelComplete: {
      pb::CancelComplete c = e.cancel_complete();
      shared->Close(e.sink());
      Deliver<IOPCDataCallback>(shared, e.sink(),
                                [c](IOPCDataCallback& cb) { cb.OnCancelComplete(c.transaction_id(), c.group()); });
      return;
    }
    case pb::Event::kShutdown: {
      std::string reason = e.shutdown().reason();
      Deliver<IOPCShutdown>(shared, e.sink(), [reason](IOPCShutdown& cb) { cb.ShutdownRequest(reason); });
      return;
    }
    case pb::Event::kStreamData: {
      const std::vector<uint8_t> block(e.stream_data().block().begin(), e.stream_data().block().end());
      if (std::optional<PendingChange> change = PendingChange::FromStream(e.stream_data().format(), block)) {
        DeliverChange(shared, e.sink(), std::move(*change));
        return;
      }
      shared->Close(e.sink());
      FORMATETC fmt;
      fmt.cfFormat = RegisterClipboardFormat(e.stream_data().format());
      STGMEDIUM medium;
      medium.hGlobal = block;
      Deliver<IAdviseSink>(shared, e.sink(), [fmt, medium](IAdviseSink& cb) { cb.OnDataChange(&fmt, &medium); });
      return;
    }
    default:
      return;
  }
}

// One client connection: channel, session and the event stream's reader thread.
class Connection {
 public:
  Connection(std::shared_ptr<grpc::Channel> channel, Apartment* apartment, uint32_t call_timeout_ms)
      : channel_(std::move(channel)), stub_(pb::OpcServer::NewStub(channel_)),
        shared_(std::make_shared<Shared>(apartment)), call_timeout_ms_(call_timeout_ms) {}

  ~Connection() {
    shared_->ForgetWatchers();
    stream_ctx_.TryCancel();
    if (reader_thread_.joinable()) reader_thread_.join();
    shared_->Die();
  }

  // Opens the event stream and waits (real time, bounded) for the server's greeting.
  HRESULT Open(const CLSID& clsid, std::chrono::milliseconds wait, std::string* error) {
    pb::ConnectRequest req;
    req.set_clsid(wire::EncodeGuid(clsid));
    reader_ = stub_->Connect(&stream_ctx_, req);
    std::shared_ptr<Shared> shared = shared_;
    grpc::ClientReader<pb::Event>* reader = reader_.get();
    reader_thread_ = std::thread([shared, reader] {
      pb::Event e;
      while (reader->Read(&e)) HandleEvent(shared, e);
      reader->Finish();
      {
        std::lock_guard lock(shared->mutex);
        shared->stream_ended = true;
      }
      shared->Die();
    });
    std::unique_lock lock(shared_->mutex);
    shared_->cv.wait_for(lock, wait, [&] { return shared_->hello_received || shared_->stream_ended; });
    if (shared_->hello_received) {
      session_ = shared_->hello.session();
      return S_OK;
    }
    lock.unlock();
    *error = shared_->stream_ended ? "the server refused the connection" : "the server did not answer in time";
    return shared_->stream_ended ? RPC_E_DISCONNECTED : RPC_E_TIMEOUT;
  }

  const pb::Connected& Hello() const { return shared_->hello; }
  const std::shared_ptr<Shared>& State() const { return shared_; }

  // One call: the transport's failures become HRESULTs; on success the reply's own hr.
  template <class Req, class Rep>
  HRESULT Invoke(grpc::Status (pb::OpcServer::Stub::*method)(grpc::ClientContext*, const Req&, Rep*), const Req& req,
                 Rep* rep) {
    if (!shared_->Alive()) return RPC_E_DISCONNECTED;
    grpc::ClientContext ctx;
    ctx.AddMetadata(kSessionKey, session_);
    ctx.set_deadline(std::chrono::system_clock::now() + std::chrono::milliseconds(call_timeout_ms_));
    grpc::Status st = (stub_.get()->*method)(&ctx, req, rep);
    if (st.ok()) return rep->hr();
    switch (st.error_code()) {
      case grpc::StatusCode::DEADLINE_EXCEEDED:
        // A server that lets a call run out of time is taken for gone: the program must not
        // wait that long once more for each call that follows.
        Lose();
        return RPC_E_TIMEOUT;
      case grpc::StatusCode::RESOURCE_EXHAUSTED:
        return E_OUTOFMEMORY;
      case grpc::StatusCode::UNAVAILABLE:
      case grpc::StatusCode::CANCELLED:
      case grpc::StatusCode::FAILED_PRECONDITION:
      case grpc::StatusCode::ABORTED:
        Lose();
        return RPC_E_DISCONNECTED;
      default:
        return E_FAIL;
    }
  }

 private:
  // The connection has ended: later calls fail at once, and the event stream is let go.
  void Lose() {
    shared_->Die();
    stream_ctx_.TryCancel();
  }

  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<pb::OpcServer::Stub> stub_;
  std::shared_ptr<Shared> shared_;
  uint32_t call_timeout_ms_;
  grpc::ClientContext stream_ctx_;
  std::unique_ptr<grpc::ClientReader<pb::Event>> reader_;
  std::thread reader_thread_;
  std::string session_;
};

using Stub = pb::OpcServer::Stub;

std::vector<IID> DecodeIids(const google::protobuf::RepeatedPtrField<std::string>& in) {
  std::vector<IID> out;
  for (const std::string& b : in) {
    GUID g;
    if (wire::DecodeGuid(b, &g)) out.push_back(g);
  }
  return out;
}

bool Contains(const std::vector<IID>& v, const IID& iid) { return std::find(v.begin(), v.end(), iid) != v.end(); }

template <class Reply>
void TakeErrors(const Reply& rep, DWORD count, std::vector<HRESULT>* out) {
  if (!out) return;
  out->assign(rep.errors().begin(), rep.errors().end());
  if (out->size() != count) out->assign(count, E_FAIL);  // a reply that does not fit the request
}

// A connection point of a remote object.
class PointProxy final : public IConnectionPoint, public std::enable_shared_from_this<PointProxy> {
 public:
  PointProxy(std::shared_ptr<Connection> conn, bool on_group, OPCHANDLE group, const IID& iid)
      : conn_(std::move(conn)), on_group_(on_group), group_(group), iid_(iid) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IConnectionPoint});
  }
  HRESULT GetConnectionInterface(IID* pIID) override {
    if (!pIID) return E_POINTER;
    *pIID = iid_;
    return S_OK;
  }
  HRESULT Advise(const std::shared_ptr<IUnknown>& pUnkSink, DWORD* pdwCookie) override {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    std::shared_ptr<IUnknown> typed;
    if (FAILED(pUnkSink->QueryInterface(iid_, &typed)) || !typed) return CONNECT_E_CANNOTCONNECT;
    auto& shared = conn_->State();
    uint32_t id = shared->AddSink(pUnkSink, on_group_, group_);
    pb::AdviseRequest req;
    req.set_on_group(on_group_);
    req.set_group(group_);
    req.set_iid(wire::EncodeGuid(iid_));
    req.set_sink(id);
    pb::AdviseReply rep;
    HRESULT hr = conn_->Invoke(&Stub::Advise, req, &rep);
    if (FAILED(hr)) {
      shared->DropSink(id);
      return hr;
    }
    shared->Advised({static_cast<int>(SinkKind::kPoint), on_group_, group_, rep.cookie()}, id);
    *pdwCookie = rep.cookie();
    return hr;
  }
  HRESULT Unadvise(DWORD dwCookie) override {
    pb::UnadviseRequest req;
    req.set_on_group(on_group_);
    req.set_group(group_);
    req.set_cookie(dwCookie);
    pb::HResultReply rep;
    HRESULT hr = conn_->Invoke(&Stub::Unadvise, req, &rep);
    if (uint32_t id = conn_->State()->Unadvised({static_cast<int>(SinkKind::kPoint), on_group_, group_, dwCookie})) {
      conn_->State()->DropSink(id);
    }
    return hr;
  }

 private:
  std::shared_ptr<Connection> conn_;
  bool on_group_;
  OPCHANDLE group_;
  IID iid_;
};

// What server and group proxies share: the interfaces and connection points the remote
// object offers.
class RemoteObject {
 public:
  const std::shared_ptr<Connection>& Conn() const { return conn_; }

 protected:
  RemoteObject(std::shared_ptr<Connection> conn, std::vector<IID> iids, std::vector<IID> points, bool on_group,
               OPCHANDLE group)
      : conn_(std::move(conn)), iids_(std::move(iids)), points_(std::move(points)), on_group_(on_group),
        group_(group) {}

  template <class Self>
  HRESULT Answer(Self* self, const IID& riid, std::shared_ptr<IUnknown>* ppv) {
    if (!ppv) return E_POINTER;
    if (riid != IID_IUnknown && !Contains(iids_, riid)) {
      ppv->reset();
      return E_NOINTERFACE;
    }
    *ppv = std::shared_ptr<IUnknown>(self->shared_from_this(), static_cast<IUnknown*>(self));
    return S_OK;
  }

  HRESULT FindPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) {
    if (!ppCP) return E_POINTER;
    ppCP->reset();
    if (!Contains(points_, riid)) return CONNECT_E_NOCONNECTION;
    *ppCP = std::make_shared<PointProxy>(conn_, on_group_, group_, riid);
    return S_OK;
  }

  std::shared_ptr<Connection> conn_;
  std::vector<IID> iids_;
  std::vector<IID> points_;
  bool on_group_;
  OPCHANDLE group_;
};

HRESULT CheckArray(DWORD count, const void* array) { return count && !array ? E_INVALIDARG : S_OK; }

class GroupProxy final : public RemoteObject,
                         public IOPCItemMgt,
                         public IOPCGroupStateMgt,
                         public IOPCSyncIO,
                         public IOPCAsyncIO2,
                         public IOPCAsyncIO,
                         public IDataObject,
                         public IConnectionPointContainer,
                         public std::enable_shared_from_this<GroupProxy> {
 public:
  GroupProxy(std::shared_ptr<Connection> conn, OPCHANDLE handle, std::vector<IID> iids, std::vector<IID> points)
      : RemoteObject(std::move(conn), std::move(iids), std::move(points), true, handle) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override { return Answer(this, riid, ppv); }
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override {
    return FindPoint(riid, ppCP);
  }

  // IOPCItemMgt
  HRESULT AddItems(DWORD dwCount, const OPCITEMDEF* pItemArray, std::vector<OPCITEMRESULT>* ppAddResults,
                   std::vector<HRESULT>* ppErrors) override {
    return Items(&Stub::AddItems, dwCount, pItemArray, FALSE, ppAddResults, ppErrors);
  }
  HRESULT ValidateItems(DWORD dwCount, const OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                        std::vector<OPCITEMRESULT>* ppValidationResults, std::vector<HRESULT>* ppErrors) override {
    return Items(&Stub::ValidateItems, dwCount, pItemArray, bBlobUpdate, ppValidationResults, ppErrors);
  }
  HRESULT RemoveItems(DWORD dwCount, const OPCHANDLE* phServer, std::vector<HRESULT>* ppErrors) override {
    pb::HandlesRequest req;
    if (HRESULT hr = HandlesReq(dwCount, phServer, ppErrors, &req); FAILED(hr)) return hr;
    return HandlesCall(&Stub::RemoveItems, req, dwCount, ppErrors);
  }
  HRESULT SetActiveState(DWORD dwCount, const OPCHANDLE* phServer, BOOL bActive,
                         std::vector<HRESULT>* ppErrors) override {
    pb::HandlesRequest req;
    if (HRESULT hr = HandlesReq(dwCount, phServer, ppErrors, &req); FAILED(hr)) return hr;
    req.set_active(bActive != 0);
    return HandlesCall(&Stub::SetActiveState, req, dwCount, ppErrors);
  }
  HRESULT SetDatatypes(DWORD dwCount, const OPCHANDLE* phServer, const VARTYPE* pRequestedDatatypes,
                       std::vector<HRESULT>* ppErrors) override {
    pb::HandlesRequest req;
    if (HRESULT hr = HandlesReq(dwCount, phServer, ppErrors, &req); FAILED(hr)) return hr;
    if (FAILED(CheckArray(dwCount, pRequestedDatatypes))) return E_INVALIDARG;
    for (DWORD i = 0; i < dwCount; ++i) req.add_data_types(pRequestedDatatypes[i]);
    return HandlesCall(&Stub::SetDatatypes, req, dwCount, ppErrors);
  }

  // IOPCGroupStateMgt
  HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, std::string* ppName, LONG* pTimeBias, float* pPercentDeadband,
                   LCID* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override {
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID || !phClientGroup ||
        !phServerGroup) {
      return E_INVALIDARG;
    }
    pb::GroupRequest req;
    req.set_group(group_);
    pb::GroupStateReply rep;
    HRESULT hr = conn_->Invoke(&Stub::GetState, req, &rep);
    if (FAILED(hr)) return hr;
    *pUpdateRate = rep.update_rate();
    *pActive = rep.active() ? TRUE : FALSE;
    *ppName = rep.name();
    *pTimeBias = rep.time_bias();
    *pPercentDeadband = rep.percent_deadband();
    *pLCID = rep.lcid();
    *phClientGroup = rep.client_group();
    *phServerGroup = rep.server_group();
    return hr;
  }
  HRESULT SetState(const DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, const BOOL* pActive,
                   const LONG* pTimeBias, const float* pPercentDeadband, const LCID* pLCID,
                   const OPCHANDLE* phClientGroup) override {
    pb::SetStateRequest req;
    req.set_group(group_);
    if (pRequestedUpdateRate) req.set_requested_update_rate(*pRequestedUpdateRate);
    if (pActive) req.set_active(*pActive != 0);
    if (pTimeBias) req.set_time_bias(*pTimeBias);
    if (pPercentDeadband) req.set_percent_deadband(*pPercentDeadband);
    if (pLCID) req.set_lcid(*pLCID);
    if (phClientGroup) req.set_client_group(*phClientGroup);
    pb::SetStateReply rep;
    HRESULT hr = conn_->Invoke(&Stub::SetState, req, &rep);
    if (SUCCEEDED(hr) && pRevisedUpdateRate) *pRevisedUpdateRate = rep.revised_update_rate();
    return hr;
  }
  HRESULT SetName(const std::string& szName) override {
    pb::SetNameRequest req;
    req.set_group(group_);
    req.set_name(szName);
    pb::HResultReply rep;
    return conn_->Invoke(&Stub::SetName, req, &rep);
  }

  // IOPCSyncIO
  HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, const OPCHANDLE* phServer,
               std::vector<OPCITEMSTATE>* ppItemValues, std::vector<HRESULT>* ppErrors) override {
    if (!ppItemValues || !ppErrors || FAILED(CheckArray(dwCount, phServer))) return E_INVALIDARG;
    pb::ReadRequest req;
    req.set_group(group_);
    req.set_source(dwSource);
    req.set_count(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) req.add_server_handles(phServer[i]);
    pb::ItemStatesReply rep;
    HRESULT hr = conn_->Invoke(&Stub::SyncRead, req, &rep);
    ppItemValues->clear();
    ppErrors->clear();
    if (FAILED(hr)) return hr;
    if (rep.states_size() != static_cast<int>(dwCount) || rep.errors_size() != static_cast<int>(dwCount)) return E_FAIL;
    for (const pb::ItemState& st : rep.states()) {
      OPCITEMSTATE s;
      if (!wire::DecodeItemState(st, &s)) return E_FAIL;
      ppItemValues->push_back(std::move(s));
    }
    TakeErrors(rep, dwCount, ppErrors);
    return hr;
  }
  HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                std::vector<HRESULT>* ppErrors) override {
    pb::WriteRequest req;
    if (HRESULT hr = WriteReq(dwCount, phServer, pItemValues, ppErrors, &req); FAILED(hr)) return hr;
    pb::ErrorsReply rep;
    HRESULT hr = conn_->Invoke(&Stub::SyncWrite, req, &rep);
    if (FAILED(hr)) return hr;
    TakeErrors(rep, dwCount, ppErrors);
    return hr;
  }

  // IOPCAsyncIO2
  HRESULT Read(DWORD dwCount, const OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
               std::vector<HRESULT>* ppErrors) override {
    if (!pdwCancelID || !ppErrors || FAILED(CheckArray(dwCount, phServer))) return E_INVALIDARG;
    pb::ReadRequest req;
    req.set_group(group_);
    req.set_count(dwCount);
    req.set_transaction_id(dwTransactionID);
    for (DWORD i = 0; i < dwCount; ++i) req.add_server_handles(phServer[i]);
    return AsyncCall(&Stub::AsyncRead2, req, dwCount, pdwCancelID, ppErrors);
  }
  HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues, DWORD dwTransactionID,
                DWORD* pdwCancelID, std::vector<HRESULT>* ppErrors) override {
    if (!pdwCancelID) return E_INVALIDARG;
    pb::WriteRequest req;
    if (HRESULT hr = WriteReq(dwCount, phServer, pItemValues, ppErrors, &req); FAILED(hr)) return hr;
    req.set_transaction_id(dwTransactionID);
    return AsyncCall(&Stub::AsyncWrite2, req, dwCount, pdwCancelID, ppErrors);
  }
  HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override {
    if (!pdwCancelID) return E_INVALIDARG;
    pb::RefreshRequest req;
    req.set_group(group_);
    req.set_source(dwSource);
    req.set_transaction_id(dwTransactionID);
    return AsyncCall(&Stub::Refresh2, req, 0, pdwCancelID, nullptr);
  }
  HRESULT Cancel2(DWORD dwCancelID) override {
    pb::CancelRequest req;
    req.set_group(group_);
    req.set_cancel_id(dwCancelID);
    pb::HResultReply rep;
    return conn_->Invoke(&Stub::Cancel2, req, &rep);
  }

  // IOPCAsyncIO
  HRESULT Write(DWORD dwConnection, DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                DWORD* pTransactionID, std::vector<HRESULT>* ppErrors) override {
    if (!pTransactionID) return E_INVALIDARG;
    pb::WriteRequest req;
    if (HRESULT hr = WriteReq(dwCount, phServer, pItemValues, ppErrors, &req); FAILED(hr)) return hr;
    req.set_connection(dwConnection);
    return AsyncCall(&Stub::AsyncWrite, req, dwCount, pTransactionID, ppErrors);
  }

  // IDataObject
  HRESULT DAdvise(const FORMATETC* pformatetc, DWORD advf, const std::shared_ptr<IAdviseSink>& pAdvSink,
                  DWORD* pdwConnection) override {
    if (!pformatetc || !pAdvSink || !pdwConnection) return E_INVALIDARG;
    *pdwConnection = 0;
    std::optional<std::string> format = GetClipboardFormatName(pformatetc->cfFormat);
    if (!format) return DV_E_FORMATETC;
    auto& shared = conn_->State();
    uint32_t id = shared->AddSink(pAdvSink, true, group_);
    pb::DAdviseRequest req;
    req.set_group(group_);
    req.set_format(*format);
    req.set_aspect(pformatetc->dwAspect);
    req.set_lindex(pformatetc->lindex);
    req.set_tymed(pformatetc->tymed);
    req.set_advf(advf);
    req.set_sink(id);
    pb::AdviseReply rep;
    HRESULT hr = conn_->Invoke(&Stub::DAdvise, req, &rep);
    if (FAILED(hr)) {
      shared->DropSink(id);
      return hr;
    }
    shared->Advised({static_cast<int>(SinkKind::kDataObject), true, group_, rep.cookie()}, id);
    *pdwConnection = rep.cookie();
    return hr;
  }
  HRESULT DUnadvise(DWORD dwConnection) override {
    pb::UnadviseRequest req;
    req.set_on_group(true);
    req.set_group(group_);
    req.set_cookie(dwConnection);
    pb::HResultReply rep;
    HRESULT hr = conn_->Invoke(&Stub::DUnadvise, req, &rep);
    if (uint32_t id = conn_->State()->Unadvised({static_cast<int>(SinkKind::kDataObject), true, group_, dwConnection})) {
      conn_->State()->DropSink(id);
    }
    return hr;
  }

 private:
  HRESULT Items(grpc::Status (Stub::*method)(grpc::ClientContext*, const pb::ItemsRequest&, pb::ItemResultsReply*),
                DWORD dwCount, const OPCITEMDEF* defs, BOOL blob_update, std::vector<OPCITEMRESULT>* results,
                std::vector<HRESULT>* errors) {
    if (!results || !errors || FAILED(CheckArray(dwCount, defs))) return E_INVALIDARG;
    pb::ItemsRequest req;
    req.set_group(group_);
    req.set_count(dwCount);
    req.set_blob_update(blob_update != 0);
    for (DWORD i = 0; i < dwCount; ++i) wire::EncodeItemDef(defs[i], req.add_items());
    pb::ItemResultsReply rep;
    HRESULT hr = conn_->Invoke(method, req, &rep);
    results->clear();
    errors->clear();
    if (FAILED(hr)) return hr;
    if (rep.results_size() != static_cast<int>(dwCount)) return E_FAIL;
    for (const pb::ItemResult& r : rep.results()) results->push_back(wire::DecodeItemResult(r));
    TakeErrors(rep, dwCount, errors);
    return hr;
  }

  HRESULT HandlesReq(DWORD dwCount, const OPCHANDLE* phServer, std::vector<HRESULT>* ppErrors,
                     pb::HandlesRequest* req) {
    if (!ppErrors || FAILED(CheckArray(dwCount, phServer))) return E_INVALIDARG;
    req->set_group(group_);
    req->set_count(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) req->add_server_handles(phServer[i]);
    return S_OK;
  }

  HRESULT HandlesCall(grpc::Status (Stub::*method)(grpc::ClientContext*, const pb::HandlesRequest&, pb::ErrorsReply*),
                      const pb::HandlesRequest& req, DWORD count, std::vector<HRESULT>* errors) {
    pb::ErrorsReply rep;
    HRESULT hr = conn_->Invoke(method, req, &rep);
    errors->clear();
    if (FAILED(hr)) return hr;
    TakeErrors(rep, count, errors);
    return hr;
  }

  HRESULT WriteReq(DWORD dwCount, const OPCHANDLE* phServer, const Variant* values, std::vector<HRESULT>* ppErrors,
                   pb::WriteRequest* req) {
    if (!ppErrors || FAILED(CheckArray(dwCount, phServer)) || FAILED(CheckArray(dwCount, values))) return E_INVALIDARG;
    ppErrors->clear();
    req->set_group(group_);
    req->set_count(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
      if (!values[i].Valid()) return E_INVALIDARG;
      req->add_server_handles(phServer[i]);
      wire::EncodeValue(values[i], req->add_values());
    }
    return S_OK;
  }

  template <class Req>
  HRESULT AsyncCall(grpc::Status (Stub::*method)(grpc::ClientContext*, const Req&, pb::AsyncReply*), const Req& req,
                    DWORD count, DWORD* id, std::vector<HRESULT>* errors) {
    pb::AsyncReply rep;
    HRESULT hr = conn_->Invoke(method, req, &rep);
    if (errors) errors->clear();
    if (FAILED(hr)) return hr;
    *id = rep.id();
    TakeErrors(rep, count, errors);
    return hr;
  }
};

class ServerProxy final : public RemoteObject,
                          public IOPCServer,
                          public IOPCCommon,
                          public IOPCItemProperties,
                          public IOPCBrowseServerAddressSpace,
                          public IConnectionPointContainer,
                          public std::enable_shared_from_this<ServerProxy> {
 public:
  ServerProxy(std::shared_ptr<Connection> conn, std::vector<IID> iids, std::vector<IID> points)
      : RemoteObject(std::move(conn), std::move(iids), std::move(points), false, 0) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override { return Answer(this, riid, ppv); }
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override {
    return FindPoint(riid, ppCP);
  }

  // IOPCServer
  HRESULT AddGroup(const std::string& szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                   const LONG* pTimeBias, const float* pPercentDeadband, LCID dwLCID, OPCHANDLE* phServerGroup,
                   DWORD* pRevisedUpdateRate, const IID& riid, std::shared_ptr<IUnknown>* ppUnk) override {
    if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_INVALIDARG;
    ppUnk->reset();
    pb::AddGroupRequest req;
    req.set_name(szName);
    req.set_active(bActive != 0);
    req.set_requested_update_rate(dwRequestedUpdateRate);
    req.set_client_group(hClientGroup);
    if (pTimeBias) req.set_time_bias(*pTimeBias);
    if (pPercentDeadband) req.set_percent_deadband(*pPercentDeadband);
    req.set_lcid(dwLCID);
    pb::AddGroupReply rep;
    HRESULT hr = conn_->Invoke(&Stub::AddGroup, req, &rep);
    if (FAILED(hr)) return hr;
    auto group = std::make_shared<GroupProxy>(conn_, rep.server_group(), DecodeIids(rep.interfaces()),
                                              DecodeIids(rep.connection_points()));
    std::shared_ptr<IUnknown> asked;
    if (FAILED(group->QueryInterface(riid, &asked))) {
      // The group exists on the server but not with the interface asked for: undo it.
      pb::RemoveGroupRequest rm;
      rm.set_server_group(rep.server_group());
      rm.set_force(true);
      pb::HResultReply ignored;
      conn_->Invoke(&Stub::RemoveGroup, rm, &ignored);
      return E_NOINTERFACE;
    }
    *phServerGroup = rep.server_group();
    *pRevisedUpdateRate = rep.revised_update_rate();
    *ppUnk = std::move(asked);
    return hr;
  }
  HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, std::string* ppString) override {
    if (!ppString) return E_INVALIDARG;
    pb::GetErrorStringRequest req;
    req.set_error(dwError);
    req.set_locale(dwLocale);
    pb::TextReply rep;
    HRESULT hr = conn_->Invoke(&Stub::GetErrorString, req, &rep);
    if (SUCCEEDED(hr)) *ppString = rep.text();
    return hr;
  }
  HRESULT GetStatus(OPCSERVERSTATUS* ppServerStatus) override {
    if (!ppServerStatus) return E_INVALIDARG;
    pb::GetStatusReply rep;
    HRESULT hr = conn_->Invoke(&Stub::GetStatus, pb::Empty(), &rep);
    if (FAILED(hr)) return hr;
    const pb::ServerStatus& s = rep.status();
    OPCSERVERSTATUS& o = *ppServerStatus;
    o.ftStartTime = wire::DecodeTime(s.start_time());
    o.ftCurrentTime = wire::DecodeTime(s.current_time());
    o.ftLastUpdateTime = wire::DecodeTime(s.last_update_time());
    o.dwServerState = static_cast<OPCSERVERSTATE>(s.server_state());
    o.dwGroupCount = s.group_count();
    o.dwBandWidth = s.band_width();
    o.wMajorVersion = wire::Narrow16(s.major_version());
    o.wMinorVersion = wire::Narrow16(s.minor_version());
    o.wBuildNumber = wire::Narrow16(s.build_number());
    o.szVendorInfo = s.vendor_info();
    return hr;
  }
  HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
    pb::RemoveGroupRequest req;
    req.set_server_group(hServerGroup);
    req.set_force(bForce != 0);
    pb::HResultReply rep;
    HRESULT hr = conn_->Invoke(&Stub::RemoveGroup, req, &rep);
    if (SUCCEEDED(hr)) conn_->State()->ForgetGroup(hServerGroup);
    return hr;
  }

  // IOPCCommon
  HRESULT SetLocaleID(LCID dwLcid) override {
    pb::LocaleRequest req;
    req.set_lcid(dwLcid);
    pb::HResultReply rep;
    return conn_->Invoke(&Stub::SetLocaleID, req, &rep);
  }
  HRESULT GetLocaleID(LCID* pdwLcid) override {
    if (!pdwLcid) return E_INVALIDARG;
    pb::LocalesReply rep;
    HRESULT hr = conn_->Invoke(&Stub::GetLocaleID, pb::Empty(), &rep);
    if (SUCCEEDED(hr)) *pdwLcid = rep.lcids_size() ? rep.lcids(0) : 0;
    return hr;
  }
  HRESULT QueryAvailableLocaleIDs(std::vector<LCID>* pdwLcid) override {
    if (!pdwLcid) return E_INVALIDARG;
    pb::LocalesReply rep;
    HRESULT hr = conn_->Invoke(&Stub::QueryAvailableLocaleIDs, pb::Empty(), &rep);
    if (SUCCEEDED(hr)) pdwLcid->assign(rep.lcids().begin(), rep.lcids().end());
    return hr;
  }
  HRESULT GetErrorString(HRESULT dwError, std::string* ppString) override {
    if (!ppString) return E_INVALIDARG;
    pb::GetErrorStringRequest req;
    req.set_error(dwError);
    req.set_common(true);
    pb::TextReply rep;
    HRESULT hr = conn_->Invoke(&Stub::GetErrorString, req, &rep);
    if (SUCCEEDED(hr)) *ppString = rep.text();
    return hr;
  }
  HRESULT SetClientName(const std::string& szName) override {
    pb::TextRequest req;
    req.set_text(szName);
    pb::HResultReply rep;
    return conn_->Invoke(&Stub::SetClientName, req, &rep);
  }

  // IOPCItemProperties
  HRESULT QueryAvailableProperties(const std::string& szItemID, DWORD* pdwCount, std::vector<DWORD>* ppPropertyIDs,
                                   std::vector<std::string>* ppDescriptions,
                                   std::vector<VARTYPE>* ppvtDataTypes) override {
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_INVALIDARG;
    pb::TextRequest req;
    req.set_text(szItemID);
    pb::PropertiesReply rep;
    HRESULT hr = conn_->Invoke(&Stub::QueryAvailableProperties, req, &rep);
    *pdwCount = 0;
    ppPropertyIDs->clear();
    ppDescriptions->clear();
    ppvtDataTypes->clear();
    if (FAILED(hr)) return hr;
    auto n = static_cast<int>(rep.count());
    if (rep.property_ids_size() != n || rep.descriptions_size() != n || rep.data_types_size() != n) return E_FAIL;
    *pdwCount = rep.count();
    ppPropertyIDs->assign(rep.property_ids().begin(), rep.property_ids().end());
    ppDescriptions->assign(rep.descriptions().begin(), rep.descriptions().end());
    for (uint32_t t : rep.data_types()) ppvtDataTypes->push_back(wire::Narrow16(t));
    return hr;
  }
  HRESULT GetItemProperties(const std::string& szItemID, DWORD dwCount, const DWORD* pdwPropertyIDs,
                            std::vector<Variant>* ppvData, std::vector<HRESULT>* ppErrors) override {
    if (!ppvData || !ppErrors || FAILED(CheckArray(dwCount, pdwPropertyIDs))) return E_INVALIDARG;
    pb::GetItemPropertiesRequest req;
    req.set_item_id(szItemID);
    req.set_count(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) req.add_property_ids(pdwPropertyIDs[i]);
    pb::ValuesReply rep;
    HRESULT hr = conn_->Invoke(&Stub::GetItemProperties, req, &rep);
    ppvData->clear();
    ppErrors->clear();
    if (FAILED(hr)) return hr;
    if (rep.values_size() != static_cast<int>(dwCount)) return E_FAIL;
    for (const pb::Value& v : rep.values()) {
      Variant x;
      if (!wire::DecodeValue(v, &x)) return E_FAIL;
      ppvData->push_back(std::move(x));
    }
    TakeErrors(rep, dwCount, ppErrors);
    return hr;
  }

  // IOPCBrowseServerAddressSpace
  HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
    if (!pNameSpaceType) return E_INVALIDARG;
    pb::OrganizationReply rep;
    HRESULT hr = conn_->Invoke(&Stub::QueryOrganization, pb::Empty(), &rep);
    if (SUCCEEDED(hr)) *pNameSpaceType = static_cast<OPCNAMESPACETYPE>(rep.organization());
    return hr;
  }
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, const std::string& szString) override {
    pb::BrowsePositionRequest req;
    req.set_direction(dwBrowseDirection);
    req.set_name(szString);
    pb::HResultReply rep;
    return conn_->Invoke(&Stub::ChangeBrowsePosition, req, &rep);
  }
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, const std::string& szFilterCriteria,
                           VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                           std::shared_ptr<IEnumString>* ppIEnumString) override {
    if (!ppIEnumString) return E_INVALIDARG;
    ppIEnumString->reset();
    pb::BrowseRequest req;
    req.set_browse_type(dwBrowseFilterType);
    req.set_filter(szFilterCriteria);
    req.set_data_type(vtDataTypeFilter);
    req.set_access_rights(dwAccessRightsFilter);
    pb::StringsReply rep;
    HRESULT hr = conn_->Invoke(&Stub::BrowseOPCItemIDs, req, &rep);
    if (SUCCEEDED(hr) && rep.has_enumerator()) {
      *ppIEnumString = std::make_shared<StringListEnum>(std::vector<std::string>(rep.strings().begin(), rep.strings().end()));
    }
    return hr;
  }
  HRESULT GetItemID(const std::string& szItemDataID, std::string* szItemID) override {
    if (!szItemID) return E_INVALIDARG;
    pb::TextRequest req;
    req.set_text(szItemDataID);
    pb::TextReply rep;
    HRESULT hr = conn_->Invoke(&Stub::GetItemID, req, &rep);
    if (SUCCEEDED(hr)) *szItemID = rep.text();
    return hr;
  }
};

HRESULT Connect(const std::string& target, const CLSID& clsid, const ActivationOptions& options,
                std::chrono::milliseconds wait, bool fail_fast, const RemoteSecurity* security,
                std::shared_ptr<IUnknown>* out, std::string* error) {
  auto channel = MakeChannel(target, security);
  if (fail_fast && !ChannelReady(channel.get(), wait)) {
    *error = "nothing answers at " + target;
    return RPC_E_DISCONNECTED;
  }
  Apartment* apartment = options.apartment ? options.apartment : &MainApartment();
  auto conn = std::make_shared<Connection>(channel, apartment, options.call_timeout_ms);
  if (HRESULT hr = conn->Open(clsid, wait, error); FAILED(hr)) {
    *error = *error + " (" + target + ")";
    return hr;
  }
  const pb::Connected& hello = conn->Hello();
  auto proxy = std::make_shared<ServerProxy>(conn, DecodeIids(hello.interfaces()), DecodeIids(hello.connection_points()));
  *out = std::static_pointer_cast<IOPCServer>(proxy);
  return S_OK;
}

// Activation on another computer: its OPC service starts (or finds) the server and names the
// port where it takes calls from other computers; the connection then goes there directly.
HRESULT CreateRemoteServer(const CLSID& clsid, const ActivationOptions& options, std::shared_ptr<IUnknown>* out,
                           std::string* error) {
  HostPort service;
  RemoteSecurity security;
  if (HRESULT hr = PrepareRemote(options.remote_config_file, options.computer_name, &service, &security, error);
      FAILED(hr)) {
    return hr;
  }
  auto stub = pb::OpcService::NewStub(MakeChannel(service.Target(), &security));
  grpc::ClientContext ctx;
  // The service may have to start the server and wait for it.
  ctx.set_deadline(std::chrono::system_clock::now() +
                   std::chrono::milliseconds(options.start_timeout_ms + options.call_timeout_ms));
  pb::ClassRequest req;
  req.set_clsid(wire::EncodeGuid(clsid));
  pb::ActivateReply rep;
  grpc::Status st = stub->Activate(&ctx, req, &rep);
  if (!st.ok()) return RemoteFailure(st, security.computer_name, service.Text(), error);
  if (FAILED(rep.hr())) {
    *error = "computer " + security.computer_name + ": " + rep.error();
    return rep.hr();
  }
  if (rep.port() == 0 || rep.port() > 0xFFFF) {
    *error = "computer " + security.computer_name + " named no port for server " + GuidToString(clsid);
    return RPC_S_SERVER_UNAVAILABLE;
  }
  HostPort server{service.host, static_cast<uint16_t>(rep.port())};
  return Connect(server.Target(), clsid, options, std::chrono::milliseconds(options.start_timeout_ms), false,
                 &security, out, error);
}

}  // namespace

bool NamesThisComputer(const std::string& computer_name, const std::string& host_name) {
  const std::string name = TrimComputerName(computer_name);
  if (name.empty()) return true;
  if (host_name.empty()) return false;
  if (strcasecmp(name.c_str(), host_name.c_str()) == 0) return true;
  // A short name and the full name that begins with it are one computer, whichever is whose.
  const bool name_full = name.find('.') != std::string::npos;
  const bool host_full = host_name.find('.') != std::string::npos;
  if (name_full == host_full) return false;
  const std::string& full = name_full ? name : host_name;
  const std::string& short_name = name_full ? host_name : name;
  return strcasecmp(full.substr(0, full.find('.')).c_str(), short_name.c_str()) == 0;
}

bool WatchConnection(const std::shared_ptr<IUnknown>& object, std::function<void()> on_lost) {
  const RemoteObject* remote = nullptr;
  if (auto* server = dynamic_cast<ServerProxy*>(object.get())) {
    remote = server;
  } else if (auto* group = dynamic_cast<GroupProxy*>(object.get())) {
    remote = group;
  }
  if (!remote) return false;
  remote->Conn()->State()->Watch(std::move(on_lost));
  return true;
}

bool IsLocalComputer(const std::string& computer_name) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return TrimComputerName(computer_name).empty();
  return NamesThisComputer(computer_name, host);
}

HRESULT ConnectServer(const std::string& target, const CLSID& clsid, const ActivationOptions& options,
                      std::shared_ptr<IUnknown>* out, std::string* error_text) {
  if (!out) return E_POINTER;
  out->reset();
  std::string error;
  HRESULT hr = Connect(target, clsid, options, std::chrono::milliseconds(options.start_timeout_ms), false, nullptr,
                       out, &error);
  if (FAILED(hr) && error_text) *error_text = error;
  return hr;
}

HRESULT CreateServer(const CLSID& clsid, const ActivationOptions& options, std::shared_ptr<IUnknown>* out,
                     std::string* error_text) {
  if (!out) return E_POINTER;
  out->reset();
  std::string error;
  HRESULT hr;
  if (!IsLocalComputer(options.computer_name)) {
    hr = CreateRemoteServer(clsid, options, out, &error);
  } else {
    platform::Registry reg(options.registry_file);
    // A dead server's endpoint refuses at once; a live one may be slow on a loaded machine.
    const auto wait = std::chrono::milliseconds(options.start_timeout_ms);
    platform::Clock& clock = options.clock ? *options.clock : platform::DefaultClock();
    hr = FindOrStartServer(clsid, reg, clock, options.start_timeout_ms,
                           [&](const RunningServer& running, std::string* why) {
                             // Whatever keeps this one from serving, a fresh program may do better.
                             return SUCCEEDED(Connect(running.endpoint, clsid, options, wait, true, nullptr, out, why))
                                        ? S_OK
                                        : RPC_E_DISCONNECTED;
                           },
                           &error);
  }
  if (FAILED(hr)) {
    out->reset();
    if (error_text) *error_text = error;
  }
  return hr;
}

HRESULT CreateServerByName(const std::string& name, const ActivationOptions& options, std::shared_ptr<IUnknown>* out,
                           std::string* error_text) {
  if (!out) return E_POINTER;
  out->reset();
  CLSID clsid;
  platform::Registry reg(options.registry_file);
  if (HRESULT hr = CLSIDFromString(name, &clsid, reg); FAILED(hr)) {
    if (error_text) *error_text = "\"" + name + "\" is neither a registered ProgID nor a class text";
    return hr;
  }
  return CreateServer(clsid, options, out, error_text);
}

}  // namespace platform::com::rpc
