#include "platform/com/rpc/server_endpoint.h"

#include <fcntl.h>
#include <grpc/grpc.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/server_posix.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <span>
#include <vector>

#include "platform/com/call_cancel.h"
#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
#include "platform/com/data_object.h"
#include "platform/com/opc_common.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/channel.h"
#include "platform/com/rpc/event_queue.h"
#include "platform/com/rpc/opc.grpc.pb.h"
#include "platform/com/rpc/request_guard.h"
#include "platform/com/rpc/unix_listener.h"
#include "platform/com/rpc/wire.h"
#include "platform/com/rpc/worker_pool.h"
#include "platform/runtime_dir.h"

namespace platform::com::rpc {

namespace pb = qar::com;

namespace {

constexpr char kSessionKey[] = "qar-session";

const IID* const kServerIids[] = {&IID_IOPCServer, &IID_IOPCCommon, &IID_IOPCItemProperties,
                                  &IID_IOPCBrowseServerAddressSpace, &IID_IConnectionPointContainer};
const IID* const kGroupIids[] = {&IID_IOPCItemMgt,  &IID_IOPCGroupStateMgt, &IID_IOPCSyncIO,
                                 &IID_IOPCAsyncIO2, &IID_IOPCAsyncIO,       &IID_IDataObject,
                                 &IID_IConnectionPointContainer};
const IID* const kPointIids[] = {&IID_IOPCShutdown, &IID_IOPCDataCallback};

// The interfaces and connection points an object offers, for the client's proxy.
template <class Msg>
void Describe(IUnknown* obj, std::span<const IID* const> iids, Msg* reply) {
  for (const IID* iid : iids) {
    std::shared_ptr<IUnknown> unk;
    if (SUCCEEDED(obj->QueryInterface(*iid, &unk)) && unk) reply->add_interfaces(wire::EncodeGuid(*iid));
  }
  std::shared_ptr<IConnectionPointContainer> cpc;
  if (FAILED(QueryInterface(obj, &cpc))) return;
  for (const IID* iid : kPointIids) {
    std::shared_ptr<IConnectionPoint> cp;
    if (SUCCEEDED(cpc->FindConnectionPoint(*iid, &cp)) && cp) reply->add_connection_points(wire::EncodeGuid(*iid));
  }
}

std::string RandomToken() {
  GUID a = NewGuid(), b = NewGuid();
  return GuidToString(a) + GuidToString(b);
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

class Session;

// The stream of one client connection. Owned by gRPC until OnDone.
class EventStream final : public grpc::ServerWriteReactor<pb::Event> {
 public:
  EventStream(std::shared_ptr<Session> session, std::function<void(std::shared_ptr<Session>)> on_end)
      : session_(std::move(session)), on_end_(std::move(on_end)) {}
  void OnWriteDone(bool ok) override;
  void OnCancel() override;
  void OnDone() override;

 private:
  std::shared_ptr<Session> session_;
  std::function<void(std::shared_ptr<Session>)> on_end_;
};

struct AdviseRecord {
  bool on_group = false;
  OPCHANDLE group = 0;
  std::shared_ptr<IConnectionPoint> point;  // connection-point advise
  std::shared_ptr<IDataObject> data;        // data-object advise
  DWORD cookie = 0;
};

// A client cut off leaves many small blocks freed at once; the allocator keeps such memory
// for the process unless asked to give it back, and the host runs for months.
void ReturnFreedMemory() { malloc_trim(0); }

// What a session has of its server: the bounds of its events, the budget every session of
// the server shares, whom to ask for room in that budget (true when `bytes` fit now), and the
// error log.
struct SessionHost {
  size_t max_events = 0;
  size_t max_bytes = 0;
  EventBudget* budget = nullptr;
  std::function<bool(size_t bytes)> make_room;
  std::function<void(const std::string&)> log;
};

// One client connection: its server object, its groups and advises, its outgoing events.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(std::string token, std::shared_ptr<IUnknown> server, SessionHost host)
      : token_(std::move(token)), server_(std::move(server)), host_(std::move(host)),
        queue_(host_.max_events, host_.max_bytes, *host_.budget) {}

  const std::string& Token() const { return token_; }
  const std::string& Peer() const { return peer_; }  // set by Attach, before anyone shares it

  std::shared_ptr<IUnknown> Server() {
    std::lock_guard lock(mutex_);
    return server_;
  }
  std::shared_ptr<IUnknown> Group(OPCHANDLE h) {
    std::lock_guard lock(mutex_);
    auto it = groups_.find(h);
    return it == groups_.end() ? nullptr : it->second;
  }
  // false when the session has ended meanwhile: the caller undoes what it made.
  bool AddGroup(OPCHANDLE h, std::shared_ptr<IUnknown> group) {
    std::lock_guard lock(mutex_);
    if (ended_) return false;
    groups_[h] = std::move(group);
    return true;
  }
  void ForgetGroup(OPCHANDLE h) {
    std::lock_guard lock(mutex_);
    groups_.erase(h);
    std::erase_if(advises_, [h](const AdviseRecord& a) { return a.on_group && a.group == h; });
  }
  bool AddAdvise(AdviseRecord a) {
    std::lock_guard lock(mutex_);
    if (ended_) return false;
    advises_.push_back(std::move(a));
    return true;
  }
  // Takes the record of (on_group, group, cookie, data-object or not) out; false when none.
  bool TakeAdvise(bool on_group, OPCHANDLE group, DWORD cookie, bool data, AdviseRecord* out) {
    std::lock_guard lock(mutex_);
    for (auto it = advises_.begin(); it != advises_.end(); ++it) {
      if (it->on_group == on_group && (!on_group || it->group == group) && it->cookie == cookie &&
          (it->data != nullptr) == data) {
        *out = std::move(*it);
        advises_.erase(it);
        return true;
      }
    }
    return false;
  }

  // Undoes the client's advises, removes its groups and lets go of its server object. Once.
  void End() {
    std::vector<AdviseRecord> advises;
    std::map<OPCHANDLE, std::shared_ptr<IUnknown>> groups;
    std::shared_ptr<IUnknown> server;
    {
      std::lock_guard lock(mutex_);
      if (ended_) return;
      ended_ = true;
      advises.swap(advises_);
      groups.swap(groups_);
      server.swap(server_);
    }
    for (AdviseRecord& a : advises) {
      if (a.point) a.point->Unadvise(a.cookie);
      if (a.data) a.data->DUnadvise(a.cookie);
    }
    std::shared_ptr<IOPCServer> opc;
    if (server && SUCCEEDED(QueryInterface(server.get(), &opc))) {
      for (auto& [handle, group] : groups) opc->RemoveGroup(handle, TRUE);
    }
  }

  void Attach(EventStream* stream, grpc::CallbackServerContext* ctx) {
    std::lock_guard lock(event_mutex_);
    stream_ = stream;
    ctx_ = ctx;
    peer_ = ctx ? ctx->peer() : std::string();
  }

  // Queues an event; dropped once the stream is closing. A client that lets more pile up than
  // its bounds allow is cut off. An event that would take all clients together past the
  // server's bound first makes room: the clients furthest behind are cut off, this one too
  // when it is among them; when no room can be made, this client is cut off rather than
  // left waiting for an event that never comes.
  void Push(pb::Event event) {
    const size_t bytes = MemoryOf(event);
    for (;;) {
      pb::Event* next = nullptr;
      EventStream* stream = nullptr;
      EventQueue::Fit fit;
      {
        std::lock_guard lock(event_mutex_);
        if (closed_ || finishing_ || !stream_) return;
        fit = queue_.Push(event, bytes);
        if (fit == EventQueue::Fit::kFits && !writing_) {
          writing_ = true;
          next = queue_.Front();
          stream = stream_;
        }
      }
      if (fit == EventQueue::Fit::kFits) {
        if (next) stream->StartWrite(next);
        return;
      }
      if (!Room(fit, bytes)) return;
    }
  }

  // Whether an event of at least `bytes` would be queued now. A client whose bound it would
  // pass is cut off here, before the event is built; room in the server's bound is made as
  // for Push.
  bool Admits(size_t bytes) {
    for (;;) {
      EventQueue::Fit fit;
      {
        std::lock_guard lock(event_mutex_);
        if (closed_ || finishing_ || !stream_) return false;
        fit = queue_.Check(bytes);
      }
      if (fit == EventQueue::Fit::kFits) return true;
      if (!Room(fit, bytes)) return false;
    }
  }

  // The memory its waiting events take, and whether more than the one being written waits.
  size_t WaitingBytes(bool* behind) {
    std::lock_guard lock(event_mutex_);
    *behind = queue_.Count() > 1;
    return queue_.Bytes();
  }

  // Ends the session of a client that does not read its events: what waits is freed at once,
  // the stream is cancelled (which also ends the write that waits for the client), and the
  // client's advises and groups go, so nothing is polled for it any more. Said once in the
  // error log.
  void CutOff(const std::string& why) {
    grpc::CallbackServerContext* ctx = nullptr;
    size_t count, bytes;
    bool finish = false;
    {
      std::lock_guard lock(event_mutex_);
      if (cut_ || !stream_) return;
      cut_ = closed_ = true;
      count = queue_.Count();
      bytes = queue_.Bytes();
      queue_.Drop(/*keep_front=*/writing_);
      if (!finished_) {
        ctx = ctx_;
        cancelling_ = true;
        if (!writing_) finished_ = finish = true;
      }
    }
    if (host_.log) {
      host_.log("the OPC client at " + peer_ + " does not read its events (" + std::to_string(count) + " waiting, " +
                std::to_string((bytes + 1023) / 1024) + " KiB): " + why + "; its connection is ended");
    }
    if (ctx) ctx->TryCancel();
    EndCancelling(finish);
    End();
    ReturnFreedMemory();
  }

  void WriteDone(bool ok) {
    pb::Event* next = nullptr;
    bool finish = false;
    grpc::Status status;
    EventStream* stream;
    {
      std::lock_guard lock(event_mutex_);
      stream = stream_;
      queue_.Pop();
      if (!ok) closed_ = true;
      if (!closed_ && !queue_.Empty()) {
        next = queue_.Front();
      } else {
        writing_ = false;
        if ((closed_ || finishing_) && !finished_) finished_ = finish = true;
        finish = TakeFinish(finish);
        if (finish) status = Status();
      }
    }
    if (next) stream->StartWrite(next);
    if (finish) stream->Finish(status);
  }

  void Close(bool cancelled) {
    EventStream* stream;
    bool finish = false;
    grpc::Status status;
    {
      std::lock_guard lock(event_mutex_);
      stream = stream_;
      if (cancelled) closed_ = true;
      finishing_ = true;
      if (!writing_ && !finished_ && stream_) finished_ = finish = true;
      finish = TakeFinish(finish);
      if (finish) status = Status();
    }
    if (finish) stream->Finish(status);
  }

  void Detach() {
    bool cut;
    {
      std::lock_guard lock(event_mutex_);
      stream_ = nullptr;
      ctx_ = nullptr;
      closed_ = true;
      queue_.Drop(false);
      cut = cut_;
    }
    if (cut) ReturnFreedMemory();  // the event its last write held is gone now too
  }

 private:
  // Lock not held: cutting off other clients takes their locks. Whether to try again; if not,
  // this client has been cut off.
  bool Room(EventQueue::Fit fit, size_t bytes) {
    if (fit == EventQueue::Fit::kOverTotal && host_.make_room(bytes)) return true;
    CutOff(fit == EventQueue::Fit::kOverClient ? "the events waiting for it reached the bound of one client"
                                               : "the events waiting for all clients reached the bound of the server");
    return false;
  }
  // Lock held. While a cut-off cancels the stream, its finish waits: the stream must not end
  // (and take its context with it) under the cancel.
  bool TakeFinish(bool finish) {
    if (finish && cancelling_) {
      finish_deferred_ = true;
      return false;
    }
    return finish;
  }
  void EndCancelling(bool finish) {
    EventStream* stream;
    grpc::Status status;
    {
      std::lock_guard lock(event_mutex_);
      cancelling_ = false;
      finish = finish || finish_deferred_;
      finish_deferred_ = false;
      stream = stream_;
      if (finish) status = Status();
    }
    if (finish && stream) stream->Finish(status);
  }
  // Lock held: a cut-off or a cancel may change what it reads at any time.
  grpc::Status Status() const {
    if (cut_) return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "client does not read its events");
    return closed_ ? grpc::Status::CANCELLED : grpc::Status::OK;
  }

  const std::string token_;
  std::mutex mutex_;
  std::shared_ptr<IUnknown> server_;
  std::map<OPCHANDLE, std::shared_ptr<IUnknown>> groups_;
  std::vector<AdviseRecord> advises_;
  bool ended_ = false;

  const SessionHost host_;
  std::mutex event_mutex_;
  EventStream* stream_ = nullptr;
  grpc::CallbackServerContext* ctx_ = nullptr;  // until OnDone
  std::string peer_;
  EventQueue queue_;  // front: the event being written
  bool writing_ = false, closed_ = false, finishing_ = false, finished_ = false, cut_ = false;
  bool cancelling_ = false, finish_deferred_ = false;
};

void EventStream::OnWriteDone(bool ok) { session_->WriteDone(ok); }
void EventStream::OnCancel() { session_->Close(/*cancelled=*/true); }
void EventStream::OnDone() {
  session_->Detach();
  on_end_(session_);
  delete this;
}

// The sinks a server object calls: each turns its callback into an event on the session.
class RemoteSink : public IOPCDataCallback,
                   public IOPCShutdown,
                   public IAdviseSink,
                   public std::enable_shared_from_this<RemoteSink> {
 public:
  RemoteSink(const IID& iid, std::weak_ptr<Session> session, uint32_t sink)
      : iid_(iid), session_(std::move(session)), sink_(sink) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {iid_});
  }

  HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                       DWORD dwCount, const OPCHANDLE* phClientItems, const Variant* pvValues,
                       const WORD* pwQualities, const FILETIME* pftTimeStamps, const HRESULT* pErrors) override {
    if (!Admits(DataChangeFloor(dwCount))) return S_OK;
    pb::Event e;
    FillDataChange(e.mutable_data_change(), dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems,
                   pvValues, pwQualities, pftTimeStamps, pErrors);
    return Send(std::move(e));
  }
  HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                         DWORD dwCount, const OPCHANDLE* phClientItems, const Variant* pvValues,
                         const WORD* pwQualities, const FILETIME* pftTimeStamps, const HRESULT* pErrors) override {
    if (!Admits(DataChangeFloor(dwCount))) return S_OK;
    pb::Event e;
    FillDataChange(e.mutable_read_complete(), dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                   phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    return Send(std::move(e));
  }
  HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                          const OPCHANDLE* pClienthandles, const HRESULT* pErrors) override {
    if (dwCount && (!pClienthandles || !pErrors)) return E_INVALIDARG;
    pb::Event e;
    auto* w = e.mutable_write_complete();
    w->set_transaction_id(dwTransid);
    w->set_group(hGroup);
    w->set_master_error(hrMastererr);
    for (DWORD i = 0; i < dwCount; ++i) {
      w->add_client_handles(pClienthandles[i]);
      w->add_errors(pErrors[i]);
    }
    return Send(std::move(e));
  }
  HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
    pb::Event e;
    e.mutable_cancel_complete()->set_transaction_id(dwTransid);
    e.mutable_cancel_complete()->set_group(hGroup);
    return Send(std::move(e));
  }
  HRESULT ShutdownRequest(const std::string& szReason) override {
    pb::Event e;
    e.mutable_shutdown()->set_reason(szReason);
    return Send(std::move(e));
  }
  void OnDataChange(const FORMATETC* pFormatetc, const STGMEDIUM* pStgmed) override {
    if (!pFormatetc || !pStgmed) return;
    std::optional<std::string> name = GetClipboardFormatName(pFormatetc->cfFormat);
    if (!name || !Admits(pStgmed->hGlobal.size())) return;
    pb::Event e;
    e.mutable_stream_data()->set_format(*name);
    e.mutable_stream_data()->set_block(std::string(pStgmed->hGlobal.begin(), pStgmed->hGlobal.end()));
    Send(std::move(e));
  }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename() override {}
  void OnSave() override {}
  void OnClose() override {}

 private:
  bool Admits(size_t bytes) {
    auto s = session_.lock();
    return s && s->Admits(bytes);
  }
  HRESULT Send(pb::Event e) {
    if (auto s = session_.lock()) {
      e.set_sink(sink_);
      s->Push(std::move(e));
    }
    return S_OK;
  }
  static void FillDataChange(pb::DataChange* d, DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                             HRESULT hrMastererror, DWORD dwCount, const OPCHANDLE* phClientItems,
                             const Variant* pvValues, const WORD* pwQualities, const FILETIME* pftTimeStamps,
                             const HRESULT* pErrors) {
    d->set_transaction_id(dwTransid);
    d->set_group(hGroup);
    d->set_master_quality(hrMasterquality);
    d->set_master_error(hrMastererror);
    if (dwCount && (!phClientItems || !pvValues || !pwQualities || !pftTimeStamps || !pErrors)) return;
    for (DWORD i = 0; i < dwCount; ++i) {
      d->add_client_handles(phClientItems[i]);
      wire::EncodeValue(pvValues[i], d->add_values());
      d->add_qualities(pwQualities[i]);
      d->add_time_stamps(wire::EncodeTime(pftTimeStamps[i]));
      d->add_errors(pErrors[i]);
    }
  }

  const IID iid_;
  std::weak_ptr<Session> session_;
  const uint32_t sink_;
};

bool IsSinkInterface(const IID& iid) {
  return iid == IID_IOPCDataCallback || iid == IID_IOPCShutdown;
}

template <class Reply>
void CopyErrors(const std::vector<HRESULT>& errors, Reply* rep) {
  for (HRESULT e : errors) rep->add_errors(e);
}

bool DecodeValues(const google::protobuf::RepeatedPtrField<pb::Value>& in, std::vector<Variant>* out) {
  out->clear();
  out->reserve(in.size());
  for (const pb::Value& v : in) {
    Variant d;
    if (!wire::DecodeValue(v, &d)) return false;
    out->push_back(std::move(d));
  }
  return true;
}

const OPCHANDLE* Handles(const google::protobuf::RepeatedField<uint32_t>& h) { return h.empty() ? nullptr : h.data(); }

// The transport library stays set up until the process ends. Its last shutdown joins its
// executor, and that thread goes on polling a connection whose client stopped reading until the
// blocked write gives up, which held up a server's stop for many seconds.
void KeepTransportLibraryUp() {
  static const bool kept = (grpc_init(), true);
  (void)kept;
}

}  // namespace

// ---------------------------------------------------------------------------------------

class ServerEndpoint::Impl final : public pb::OpcServer::CallbackService {
 public:
  Impl(const CLSID& clsid, Factory factory, const ServeOptions& options)
      : clsid_(clsid), factory_(std::move(factory)), options_(options),
        pool_(options.worker_threads, options.max_queued_calls), budget_(options.max_queued_event_bytes_total),
        log_(options.error_log ? options.error_log : [](const std::string& line) {
          std::fprintf(stderr, "%s\n", line.c_str());
        }) {}

  ~Impl() override { Stop(std::chrono::milliseconds(2000)); }

  HRESULT Start(std::string* error) {
    KeepTransportLibraryUp();
    std::string dir = options_.socket_dir.empty() ? DefaultSocketDir() : options_.socket_dir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (!EnsurePrivateDir(dir, options_.group_access, error)) return E_ACCESSDENIED;
    std::string clsid_text = GuidToString(clsid_);
    socket_path_ = dir + "/" + clsid_text.substr(1, 36) + ".sock";
    if (socket_path_.size() >= sizeof(sockaddr_un{}.sun_path)) {
      *error = "the socket path " + socket_path_ + " is too long";
      return E_INVALIDARG;
    }
    std::string remote_target;
    if (options_.remote && !ListenTarget({options_.remote->address, options_.remote->port}, &remote_target, error)) {
      return E_FAIL;
    }
    std::string lock_path = socket_path_ + ".lock";
    lock_fd_ = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_fd_ < 0) {
      *error = Errno("cannot open the lock file " + lock_path);
      return E_ACCESSDENIED;
    }
    if (flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
      *error = "another process already serves " + clsid_text + " (" + lock_path + " is locked)";
      close(lock_fd_);
      lock_fd_ = -1;
      return E_ACCESSDENIED;
    }
    // We hold the lock, so a socket file here is a dead server's.
    unlink(socket_path_.c_str());
    own_socket_ = true;
    target_ = "unix:" + socket_path_;
    // The socket and its accepting are ours, not the transport library's: it would give up
    // listening for good the first time file descriptors ran out.
    listener_ = UnixListener::Open(socket_path_, options_.group_access ? 0660 : 0600, error);
    if (!listener_) {
      unlink(socket_path_.c_str());
      own_socket_ = false;  // the stop at the end must not take the next server's socket
      ReleaseLock();
      return E_ACCESSDENIED;
    }
    grpc::ServerBuilder builder;
    // Without this a second process could bind the same TCP port and take part of the calls.
    // The channels of the accepted connections take the arguments set here too.
    builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
    // Clients ping to find a hung server within seconds.
    PermitClientPings(builder);
    int remote_port = 0;
    if (options_.remote) {
      builder.AddListeningPort(remote_target, ServerTlsCredentials(options_.remote->tls), &remote_port);
    }
    builder.RegisterService(this);
    std::vector<std::unique_ptr<grpc::experimental::ServerInterceptorFactoryInterface>> interceptors;
    interceptors.push_back(std::make_unique<MalformedRequestAnswer>());
    builder.experimental().SetInterceptorCreators(std::move(interceptors));
    builder.SetMaxReceiveMessageSize(64 << 20);
    builder.SetMaxSendMessageSize(64 << 20);
    server_ = builder.BuildAndStart();
    if (!server_ || (options_.remote && remote_port <= 0)) {
      *error = "cannot serve on " + socket_path_;
      if (options_.remote) {
        *error += " and cannot listen on " + HostPort{options_.remote->address, options_.remote->port}.Text() +
                  " (is the port free, the address one of this computer's, and do certificate and key belong "
                  "together?)";
      }
      if (server_) {
        Stop(std::chrono::milliseconds(0));
      } else {
        listener_.reset();
        unlink(socket_path_.c_str());
        own_socket_ = false;
        ReleaseLock();
      }
      return E_FAIL;
    }
    remote_port_ = static_cast<uint16_t>(remote_port);
    peer_lines_ = SendPeerLinesTo(log_);
    listener_->Start([server = server_.get()](int fd) { grpc::AddInsecureChannelFromFd(server, fd); }, log_,
                     [this](const std::string& why) { ListenerLost(why); });
    if (options_.record_in_registry) {
      platform::Registry reg(options_.registry_file);
      if (!RecordRunningServer(clsid_, {target_, static_cast<uint32_t>(getpid()), remote_port_}, reg)) {
        *error = "cannot record the server in the registry " + options_.registry_file;
        Stop(std::chrono::milliseconds(0));
        return E_FAIL;
      }
    }
    return S_OK;
  }

  void Stop(std::chrono::milliseconds grace) {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return;
      stopped_ = true;
    }
    if (listener_) listener_->Stop();  // no new connections from here on
    if (options_.record_in_registry && server_) {
      platform::Registry reg(options_.registry_file);
      ForgetRunningServer(clsid_, static_cast<uint32_t>(getpid()), reg);
    }
    for (auto& s : SessionsNow()) s->Close(/*cancelled=*/false);
    {
      // Each stream ends once its queued events are out. The server's shutdown would wait for
      // the clients' idle connections up to its deadline, so it is only asked once they ended.
      std::unique_lock lock(mutex_);
      sessions_ended_.wait_for(lock, grace, [this] { return sessions_.empty(); });
    }
    if (server_) {
      server_->Shutdown(std::chrono::system_clock::now());
      server_.reset();
    }
    listener_.reset();
    if (peer_lines_) StopPeerLines(peer_lines_);
    pool_.Stop();
    for (auto& s : SessionsNow()) s->End();
    {
      std::lock_guard lock(mutex_);
      sessions_.clear();
    }
    if (own_socket_) unlink(socket_path_.c_str());  // before the lock goes: never another server's
    ReleaseLock();
  }

  size_t ClientCount() {
    std::lock_guard lock(mutex_);
    return sessions_.size();
  }
  size_t QueuedEventBytes() const { return budget_.Used(); }

  const std::string& Target() const { return target_; }
  const std::string& SocketPath() const { return socket_path_; }
  uint16_t RemotePort() const { return remote_port_; }

  // ---- connection ----

  grpc::ServerWriteReactor<pb::Event>* Connect(grpc::CallbackServerContext* ctx,
                                               const pb::ConnectRequest* req) override {
    GUID asked;
    const std::string peer = ctx->peer();
    std::shared_ptr<IUnknown> server;
    std::string refusal;
    grpc::StatusCode code = grpc::StatusCode::OK;
    if (!wire::DecodeGuid(req->clsid(), &asked) || asked != clsid_) {
      code = grpc::StatusCode::NOT_FOUND, refusal = "this server does not serve that class";
    } else {
      std::lock_guard lock(mutex_);
      if (stopped_) {
        code = grpc::StatusCode::UNAVAILABLE, refusal = "the server is stopping";
      } else if (session_count_ >= options_.max_sessions) {
        code = grpc::StatusCode::RESOURCE_EXHAUSTED, refusal = "the server has as many sessions as it takes";
      } else if (per_connection_[peer] >= options_.max_sessions_per_connection) {
        code = grpc::StatusCode::RESOURCE_EXHAUSTED, refusal = "the connection has as many sessions as it may";
      } else {
        ++session_count_;
        ++per_connection_[peer];
        trim_mark_ = std::max(trim_mark_, session_count_);
      }
    }
    if (code == grpc::StatusCode::OK) {
      server = factory_();
      if (!server) {
        code = grpc::StatusCode::UNAVAILABLE, refusal = "the server could not create its object";
        Release(peer);
      }
    }
    if (code != grpc::StatusCode::OK) {
      class Refusal final : public grpc::ServerWriteReactor<pb::Event> {
       public:
        explicit Refusal(grpc::Status s) { Finish(s); }
        void OnDone() override { delete this; }
      };
      return new Refusal(grpc::Status(code, refusal));
    }
    SessionHost host;
    host.max_events = options_.max_queued_events;
    host.max_bytes = options_.max_queued_event_bytes;
    host.budget = &budget_;
    host.make_room = [this](size_t bytes) { return MakeRoom(bytes); };
    host.log = log_;
    auto session = std::make_shared<Session>(RandomToken(), server, std::move(host));
    auto* stream = new EventStream(session, [this](std::shared_ptr<Session> s) { EndSession(std::move(s)); });
    session->Attach(stream, ctx);
    {
      std::lock_guard lock(mutex_);
      sessions_[session->Token()] = session;
    }
    pb::Event first;
    auto* c = first.mutable_connected();
    c->set_session(session->Token());
    Describe(server.get(), kServerIids, c);
    session->Push(std::move(first));
    return stream;
  }

  // ---- unary calls ----

#define QAR_UNARY(Method, Req, Rep)                                                                    \
  grpc::ServerUnaryReactor* Method(grpc::CallbackServerContext* ctx, const pb::Req* req, pb::Rep* rep) \
      override {                                                                                       \
    return Dispatch(ctx, ItemCount(*req), [this, req, rep](Session& s) { Do##Method(s, *req, rep); });\
  }

  QAR_UNARY(Advise, AdviseRequest, AdviseReply)
  QAR_UNARY(Unadvise, UnadviseRequest, HResultReply)
  QAR_UNARY(AddGroup, AddGroupRequest, AddGroupReply)
  QAR_UNARY(RemoveGroup, RemoveGroupRequest, HResultReply)
  QAR_UNARY(GetStatus, Empty, GetStatusReply)
  QAR_UNARY(GetErrorString, GetErrorStringRequest, TextReply)
  QAR_UNARY(SetLocaleID, LocaleRequest, HResultReply)
  QAR_UNARY(GetLocaleID, Empty, LocalesReply)
  QAR_UNARY(QueryAvailableLocaleIDs, Empty, LocalesReply)
  QAR_UNARY(SetClientName, TextRequest, HResultReply)
  QAR_UNARY(QueryOrganization, Empty, OrganizationReply)
  QAR_UNARY(ChangeBrowsePosition, BrowsePositionRequest, HResultReply)
  QAR_UNARY(BrowseOPCItemIDs, BrowseRequest, StringsReply)
  QAR_UNARY(GetItemID, TextRequest, TextReply)
  QAR_UNARY(QueryAvailableProperties, TextRequest, PropertiesReply)
  QAR_UNARY(GetItemProperties, GetItemPropertiesRequest, ValuesReply)
  QAR_UNARY(AddItems, ItemsRequest, ItemResultsReply)
  QAR_UNARY(ValidateItems, ItemsRequest, ItemResultsReply)
  QAR_UNARY(RemoveItems, HandlesRequest, ErrorsReply)
  QAR_UNARY(SetActiveState, HandlesRequest, ErrorsReply)
  QAR_UNARY(SetDatatypes, HandlesRequest, ErrorsReply)
  QAR_UNARY(GetState, GroupRequest, GroupStateReply)
  QAR_UNARY(SetState, SetStateRequest, SetStateReply)
  QAR_UNARY(SetName, SetNameRequest, HResultReply)
  QAR_UNARY(SyncRead, ReadRequest, ItemStatesReply)
  QAR_UNARY(SyncWrite, WriteRequest, ErrorsReply)
  QAR_UNARY(AsyncRead2, ReadRequest, AsyncReply)
  QAR_UNARY(AsyncWrite2, WriteRequest, AsyncReply)
  QAR_UNARY(Refresh2, RefreshRequest, AsyncReply)
  QAR_UNARY(Cancel2, CancelRequest, HResultReply)
  QAR_UNARY(AsyncWrite, WriteRequest, AsyncReply)
  QAR_UNARY(DAdvise, DAdviseRequest, AdviseReply)
  QAR_UNARY(DUnadvise, UnadviseRequest, HResultReply)
#undef QAR_UNARY

 private:
  // The socket takes no connections any more: clients must not be sent here, so the record
  // goes now, and the owner hears of it.
  void ListenerLost(const std::string& why) {
    if (options_.record_in_registry) {
      platform::Registry reg(options_.registry_file);
      ForgetRunningServer(clsid_, static_cast<uint32_t>(getpid()), reg);
    }
    log_(why + "; this server is no longer recorded as running");
    if (options_.serving_lost) options_.serving_lost(why);
  }

  std::vector<std::shared_ptr<Session>> SessionsNow() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Session>> out;
    for (auto& [token, s] : sessions_) out.push_back(s);
    return out;
  }

  std::shared_ptr<Session> FindSession(grpc::CallbackServerContext* ctx) {
    const auto& md = ctx->client_metadata();
    auto it = md.find(kSessionKey);
    if (it == md.end()) return nullptr;
    std::string token(it->second.data(), it->second.size());
    std::lock_guard lock(mutex_);
    auto s = sessions_.find(token);
    return s == sessions_.end() ? nullptr : s->second;
  }

  // The session ends with its stream. Its clean-up runs here and now: the server objects
  // never keep a call waiting for long, so it needs no turn in the pool behind other calls.
  void EndSession(std::shared_ptr<Session> s) {
    {
      std::lock_guard lock(mutex_);
      sessions_.erase(s->Token());
    }
    sessions_ended_.notify_all();
    try {
      s->End();
    } catch (...) {
      // The object failed while letting go of the client; nothing is left to tell.
    }
    if (Release(s->Peer())) ReturnFreedMemory();
  }

  // Gives back a session's place in the bounds; true when the sessions have halved since the
  // memory was last returned (so many ending at once return it a few times, not each time).
  bool Release(const std::string& peer) {
    std::lock_guard lock(mutex_);
    --session_count_;
    auto it = per_connection_.find(peer);
    if (it != per_connection_.end() && --it->second == 0) per_connection_.erase(it);
    if (session_count_ > trim_mark_ / 2) return false;
    trim_mark_ = session_count_;
    return true;
  }

  // Until `bytes` more fit into the budget, the client furthest behind (most memory waiting,
  // more than one event) is cut off. False when no client is behind and they still do not fit.
  bool MakeRoom(size_t bytes) {
    while (!budget_.Fits(bytes)) {
      if (!CutOffTheFurthestBehind()) return false;
    }
    return true;
  }
  bool CutOffTheFurthestBehind() {
    std::shared_ptr<Session> worst;
    size_t most = 0;
    for (auto& s : SessionsNow()) {
      bool behind = false;
      size_t bytes = s->WaitingBytes(&behind);
      if (behind && bytes > most) most = bytes, worst = s;
    }
    if (!worst) return false;
    worst->CutOff("the events waiting for all clients reached the bound of the server");
    return true;
  }

  // Short calls run at once on the transport's thread: the hop to a worker costs more than
  // they do. Calls with many items, and browsing (its answer may be the whole address
  // space), take their turn in the pool.
  static constexpr size_t kShortCallItems = 16;
  template <class Req>
  static size_t ItemCount(const Req&) {
    return 0;
  }
  static size_t ItemCount(const pb::ItemsRequest& r) { return r.items_size(); }
  static size_t ItemCount(const pb::HandlesRequest& r) { return r.server_handles_size(); }
  static size_t ItemCount(const pb::ReadRequest& r) { return r.server_handles_size(); }
  static size_t ItemCount(const pb::WriteRequest& r) { return r.server_handles_size(); }
  static size_t ItemCount(const pb::GetItemPropertiesRequest& r) { return r.property_ids_size(); }
  static size_t ItemCount(const pb::BrowseRequest&) { return SIZE_MAX; }

  template <class Fn>
  grpc::ServerUnaryReactor* Dispatch(grpc::CallbackServerContext* ctx, size_t items, Fn fn) {
    grpc::ServerUnaryReactor* reactor = ctx->DefaultReactor();
    std::shared_ptr<Session> s = FindSession(ctx);
    if (!s) {
      reactor->Finish(grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, "unknown session"));
      return reactor;
    }
    auto run = [s, ctx, reactor, fn = std::move(fn)] {
      // A call whose client went while it waited for a worker is not run; one that runs can
      // see the client go (CoTestCancel) and stop.
      if (ctx->IsCancelled()) {
        reactor->Finish(grpc::Status(grpc::StatusCode::CANCELLED, "the client has gone"));
        return;
      }
      // A server object that throws fails this call only, never the server.
      try {
        CallCancelScope scope([ctx] { return ctx->IsCancelled(); });
        fn(*s);
      } catch (...) {
        reactor->Finish(grpc::Status(grpc::StatusCode::INTERNAL, "the server object failed"));
        return;
      }
      reactor->Finish(grpc::Status::OK);
    };
    if (items <= kShortCallItems) {
      run();
    } else if (!pool_.Submit(std::move(run))) {
      reactor->Finish(grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "server busy"));
    }
    return reactor;
  }

  template <class I>
  static std::shared_ptr<I> ServerAs(Session& s) {
    std::shared_ptr<I> out;
    auto server = s.Server();
    if (server) QueryInterface(server.get(), &out);
    return out;
  }

  // The group's interface I; sets *hr when the group is unknown or lacks I.
  template <class I>
  static std::shared_ptr<I> GroupAs(Session& s, OPCHANDLE h, HRESULT* hr) {
    std::shared_ptr<IUnknown> group = s.Group(h);
    if (!group) {
      *hr = E_INVALIDARG;
      return nullptr;
    }
    std::shared_ptr<I> out;
    *hr = QueryInterface(group.get(), &out);
    return out;
  }

  // ---- connection points ----

  void DoAdvise(Session& s, const pb::AdviseRequest& req, pb::AdviseReply* rep) {
    GUID iid;
    if (!wire::DecodeGuid(req.iid(), &iid)) return rep->set_hr(E_INVALIDARG);
    std::shared_ptr<IUnknown> obj = req.on_group() ? s.Group(req.group()) : s.Server();
    if (!obj) return rep->set_hr(E_INVALIDARG);
    std::shared_ptr<IConnectionPointContainer> cpc;
    if (HRESULT hr = QueryInterface(obj.get(), &cpc); FAILED(hr)) return rep->set_hr(hr);
    std::shared_ptr<IConnectionPoint> cp;
    if (HRESULT hr = cpc->FindConnectionPoint(iid, &cp); FAILED(hr) || !cp) {
      return rep->set_hr(FAILED(hr) ? hr : CONNECT_E_NOCONNECTION);
    }
    if (!IsSinkInterface(iid)) return rep->set_hr(CONNECT_E_CANNOTCONNECT);
    auto sink = std::make_shared<RemoteSink>(iid, s.weak_from_this(), req.sink());
    DWORD cookie = 0;
    HRESULT hr = cp->Advise(std::static_pointer_cast<IUnknown>(std::static_pointer_cast<IOPCShutdown>(sink)), &cookie);
    if (SUCCEEDED(hr) && !s.AddAdvise({req.on_group(), req.group(), cp, nullptr, cookie})) {
      cp->Unadvise(cookie);
      hr = RPC_E_DISCONNECTED;
    }
    rep->set_hr(hr);
    rep->set_cookie(cookie);
  }

  void DoUnadvise(Session& s, const pb::UnadviseRequest& req, pb::HResultReply* rep) {
    AdviseRecord a;
    if (!s.TakeAdvise(req.on_group(), req.group(), req.cookie(), false, &a)) return rep->set_hr(CONNECT_E_NOCONNECTION);
    rep->set_hr(a.point->Unadvise(a.cookie));
  }

  void DoDAdvise(Session& s, const pb::DAdviseRequest& req, pb::AdviseReply* rep) {
    HRESULT hr;
    auto data = GroupAs<IDataObject>(s, req.group(), &hr);
    if (!data) return rep->set_hr(hr);
    FORMATETC fmt;
    // Looked up, not registered: a name that the process does not know is no format it sends.
    fmt.cfFormat = FindClipboardFormat(req.format());
    if (!fmt.cfFormat) return rep->set_hr(DV_E_FORMATETC);
    fmt.dwAspect = req.aspect();
    fmt.lindex = req.lindex();
    fmt.tymed = req.tymed();
    auto sink = std::make_shared<RemoteSink>(IID_IAdviseSink, s.weak_from_this(), req.sink());
    DWORD connection = 0;
    hr = data->DAdvise(&fmt, req.advf(), std::static_pointer_cast<IAdviseSink>(sink), &connection);
    if (SUCCEEDED(hr) && !s.AddAdvise({true, req.group(), nullptr, data, connection})) {
      data->DUnadvise(connection);
      hr = RPC_E_DISCONNECTED;
    }
    rep->set_hr(hr);
    rep->set_cookie(connection);
  }

  void DoDUnadvise(Session& s, const pb::UnadviseRequest& req, pb::HResultReply* rep) {
    AdviseRecord a;
    if (!s.TakeAdvise(true, req.group(), req.cookie(), true, &a)) return rep->set_hr(OLE_E_ADVISENOTSUPPORTED);
    rep->set_hr(a.data->DUnadvise(a.cookie));
  }

  // ---- IOPCServer, IOPCCommon ----

  void DoAddGroup(Session& s, const pb::AddGroupRequest& req, pb::AddGroupReply* rep) {
    auto server = ServerAs<IOPCServer>(s);
    if (!server) return rep->set_hr(E_NOINTERFACE);
    LONG time_bias = req.time_bias();
    float deadband = req.percent_deadband();
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    std::shared_ptr<IUnknown> group;
    HRESULT hr = server->AddGroup(req.name(), req.active() ? TRUE : FALSE, req.requested_update_rate(),
                                  req.client_group(), req.has_time_bias() ? &time_bias : nullptr,
                                  req.has_percent_deadband() ? &deadband : nullptr, req.lcid(), &handle, &revised,
                                  IID_IUnknown, &group);
    if (SUCCEEDED(hr) && !group) hr = E_FAIL;
    if (SUCCEEDED(hr) && !s.AddGroup(handle, group)) {
      server->RemoveGroup(handle, TRUE);
      hr = RPC_E_DISCONNECTED;
    }
    rep->set_hr(hr);
    if (FAILED(hr)) return;
    rep->set_server_group(handle);
    rep->set_revised_update_rate(revised);
    Describe(group.get(), kGroupIids, rep);
  }

  void DoRemoveGroup(Session& s, const pb::RemoveGroupRequest& req, pb::HResultReply* rep) {
    // Only the client's own groups: another client's handle is unknown here.
    if (!s.Group(req.server_group())) return rep->set_hr(E_INVALIDARG);
    auto server = ServerAs<IOPCServer>(s);
    if (!server) return rep->set_hr(E_NOINTERFACE);
    HRESULT hr = server->RemoveGroup(req.server_group(), req.force() ? TRUE : FALSE);
    if (SUCCEEDED(hr)) s.ForgetGroup(req.server_group());
    rep->set_hr(hr);
  }

  void DoGetStatus(Session& s, const pb::Empty&, pb::GetStatusReply* rep) {
    auto server = ServerAs<IOPCServer>(s);
    if (!server) return rep->set_hr(E_NOINTERFACE);
    OPCSERVERSTATUS st;
    HRESULT hr = server->GetStatus(&st);
    rep->set_hr(hr);
    if (FAILED(hr)) return;
    auto* o = rep->mutable_status();
    o->set_start_time(wire::EncodeTime(st.ftStartTime));
    o->set_current_time(wire::EncodeTime(st.ftCurrentTime));
    o->set_last_update_time(wire::EncodeTime(st.ftLastUpdateTime));
    o->set_server_state(st.dwServerState);
    o->set_group_count(st.dwGroupCount);
    o->set_band_width(st.dwBandWidth);
    o->set_major_version(st.wMajorVersion);
    o->set_minor_version(st.wMinorVersion);
    o->set_build_number(st.wBuildNumber);
    o->set_vendor_info(st.szVendorInfo);
  }

  void DoGetErrorString(Session& s, const pb::GetErrorStringRequest& req, pb::TextReply* rep) {
    std::string text;
    HRESULT hr;
    if (req.common()) {
      auto common = ServerAs<IOPCCommon>(s);
      hr = common ? common->GetErrorString(req.error(), &text) : E_NOINTERFACE;
    } else {
      auto server = ServerAs<IOPCServer>(s);
      hr = server ? server->GetErrorString(req.error(), req.locale(), &text) : E_NOINTERFACE;
    }
    rep->set_hr(hr);
    rep->set_text(text);
  }

  void DoSetLocaleID(Session& s, const pb::LocaleRequest& req, pb::HResultReply* rep) {
    auto common = ServerAs<IOPCCommon>(s);
    rep->set_hr(common ? common->SetLocaleID(req.lcid()) : E_NOINTERFACE);
  }

  void DoGetLocaleID(Session& s, const pb::Empty&, pb::LocalesReply* rep) {
    auto common = ServerAs<IOPCCommon>(s);
    LCID lcid = 0;
    rep->set_hr(common ? common->GetLocaleID(&lcid) : E_NOINTERFACE);
    rep->add_lcids(lcid);
  }

  void DoQueryAvailableLocaleIDs(Session& s, const pb::Empty&, pb::LocalesReply* rep) {
    auto common = ServerAs<IOPCCommon>(s);
    std::vector<LCID> lcids;
    rep->set_hr(common ? common->QueryAvailableLocaleIDs(&lcids) : E_NOINTERFACE);
    for (LCID l : lcids) rep->add_lcids(l);
  }

  void DoSetClientName(Session& s, const pb::TextRequest& req, pb::HResultReply* rep) {
    auto common = ServerAs<IOPCCommon>(s);
    rep->set_hr(common ? common->SetClientName(req.text()) : E_NOINTERFACE);
  }

  // ---- browsing, properties ----

  void DoQueryOrganization(Session& s, const pb::Empty&, pb::OrganizationReply* rep) {
    auto browse = ServerAs<IOPCBrowseServerAddressSpace>(s);
    OPCNAMESPACETYPE org = OPC_NS_FLAT;
    rep->set_hr(browse ? browse->QueryOrganization(&org) : E_NOINTERFACE);
    rep->set_organization(org);
  }

  void DoChangeBrowsePosition(Session& s, const pb::BrowsePositionRequest& req, pb::HResultReply* rep) {
    auto browse = ServerAs<IOPCBrowseServerAddressSpace>(s);
    if (!browse) return rep->set_hr(E_NOINTERFACE);
    rep->set_hr(browse->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(req.direction()), req.name()));
  }

  void DoBrowseOPCItemIDs(Session& s, const pb::BrowseRequest& req, pb::StringsReply* rep) {
    auto browse = ServerAs<IOPCBrowseServerAddressSpace>(s);
    if (!browse) return rep->set_hr(E_NOINTERFACE);
    std::shared_ptr<IEnumString> e;
    HRESULT hr = browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(req.browse_type()), req.filter(),
                                          wire::Narrow16(req.data_type()), req.access_rights(), &e);
    rep->set_hr(hr);
    if (SUCCEEDED(hr) && e) {
      rep->set_has_enumerator(true);
      for (std::string& name : ReadAll<std::string>(e.get())) rep->add_strings(std::move(name));
    }
  }

  void DoGetItemID(Session& s, const pb::TextRequest& req, pb::TextReply* rep) {
    auto browse = ServerAs<IOPCBrowseServerAddressSpace>(s);
    std::string id;
    rep->set_hr(browse ? browse->GetItemID(req.text(), &id) : E_NOINTERFACE);
    rep->set_text(id);
  }

  void DoQueryAvailableProperties(Session& s, const pb::TextRequest& req, pb::PropertiesReply* rep) {
    auto props = ServerAs<IOPCItemProperties>(s);
    if (!props) return rep->set_hr(E_NOINTERFACE);
    DWORD count = 0;
    std::vector<DWORD> ids;
    std::vector<std::string> descriptions;
    std::vector<VARTYPE> types;
    HRESULT hr = props->QueryAvailableProperties(req.text(), &count, &ids, &descriptions, &types);
    rep->set_hr(hr);
    if (FAILED(hr)) return;
    if (ids.size() != count || descriptions.size() != count || types.size() != count) return rep->set_hr(E_FAIL);
    rep->set_count(count);
    for (DWORD i = 0; i < count; ++i) {
      rep->add_property_ids(ids[i]);
      rep->add_descriptions(descriptions[i]);
      rep->add_data_types(types[i]);
    }
  }

  void DoGetItemProperties(Session& s, const pb::GetItemPropertiesRequest& req, pb::ValuesReply* rep) {
    auto props = ServerAs<IOPCItemProperties>(s);
    if (!props) return rep->set_hr(E_NOINTERFACE);
    if (req.count() != static_cast<uint32_t>(req.property_ids_size())) return rep->set_hr(E_INVALIDARG);
    std::vector<Variant> values;
    std::vector<HRESULT> errors;
    HRESULT hr = props->GetItemProperties(req.item_id(), req.count(), Handles(req.property_ids()), &values, &errors);
    rep->set_hr(hr);
    if (FAILED(hr)) return;
    for (const Variant& v : values) wire::EncodeValue(v, rep->add_values());
    CopyErrors(errors, rep);
  }

  // ---- groups ----

  void DoAddItems(Session& s, const pb::ItemsRequest& req, pb::ItemResultsReply* rep) { Items(s, req, rep, true); }
  void DoValidateItems(Session& s, const pb::ItemsRequest& req, pb::ItemResultsReply* rep) {
    Items(s, req, rep, false);
  }

  void Items(Session& s, const pb::ItemsRequest& req, pb::ItemResultsReply* rep, bool add) {
    HRESULT hr;
    auto mgt = GroupAs<IOPCItemMgt>(s, req.group(), &hr);
    if (!mgt) return rep->set_hr(hr);
    if (req.count() != static_cast<uint32_t>(req.items_size())) return rep->set_hr(E_INVALIDARG);
    std::vector<OPCITEMDEF> defs;
    defs.reserve(req.items_size());
    for (const pb::ItemDef& d : req.items()) defs.push_back(wire::DecodeItemDef(d));
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    const OPCITEMDEF* arr = defs.empty() ? nullptr : defs.data();
    hr = add ? mgt->AddItems(req.count(), arr, &results, &errors)
             : mgt->ValidateItems(req.count(), arr, req.blob_update() ? TRUE : FALSE, &results, &errors);
    rep->set_hr(hr);
    if (FAILED(hr)) return;
    for (const OPCITEMRESULT& r : results) wire::EncodeItemResult(r, rep->add_results());
    CopyErrors(errors, rep);
  }

  void DoRemoveItems(Session& s, const pb::HandlesRequest& req, pb::ErrorsReply* rep) {
    HRESULT hr;
    auto mgt = GroupAs<IOPCItemMgt>(s, req.group(), &hr);
    if (!mgt) return rep->set_hr(hr);
    if (req.count() != static_cast<uint32_t>(req.server_handles_size())) return rep->set_hr(E_INVALIDARG);
    std::vector<HRESULT> errors;
    rep->set_hr(mgt->RemoveItems(req.count(), Handles(req.server_handles()), &errors));
    CopyErrors(errors, rep);
  }

  void DoSetActiveState(Session& s, const pb::HandlesRequest& req, pb::ErrorsReply* rep) {
    HRESULT hr;
    auto mgt = GroupAs<IOPCItemMgt>(s, req.group(), &hr);
    if (!mgt) return rep->set_hr(hr);
    if (req.count() != static_cast<uint32_t>(req.server_handles_size())) return rep->set_hr(E_INVALIDARG);
    std::vector<HRESULT> errors;
    rep->set_hr(mgt->SetActiveState(req.count(), Handles(req.server_handles()), req.active() ? TRUE : FALSE, &errors));
    CopyErrors(errors, rep);
  }

  void DoSetDatatypes(Session& s, const pb::HandlesRequest& req, pb::ErrorsReply* rep) {
    HRESULT hr;
    auto mgt = GroupAs<IOPCItemMgt>(s, req.group(), &hr);
    if (!mgt) return rep->set_hr(hr);
    if (req.count() != static_cast<uint32_t>(req.server_handles_size()) ||
        req.count() != static_cast<uint32_t>(req.data_types_size())) {
      return rep->set_hr(E_INVALIDARG);
    }
    std::vector<VARTYPE> types;
    for (uint32_t t : req.data_types()) types.push_back(wire::Narrow16(t));
    std::vector<HRESULT> errors;
    rep->set_hr(mgt->SetDatatypes(req.count(), Handles(req.server_handles()), types.empty() ? nullptr : types.data(),
                                  &errors));
    CopyErrors(errors, rep);
  }

  void DoGetState(Session& s, const pb::GroupRequest& req, pb::GroupStateReply* rep) {
    HRESULT hr;
    auto state = GroupAs<IOPCGroupStateMgt>(s, req.group(), &hr);
    if (!state) return rep->set_hr(hr);
    DWORD rate = 0;
    BOOL active = FALSE;
    std::string name;
    LONG bias = 0;
    float deadband = 0;
    LCID lcid = 0;
    OPCHANDLE client = 0, server = 0;
    rep->set_hr(state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &server));
    rep->set_update_rate(rate);
    rep->set_active(active != 0);
    rep->set_name(name);
    rep->set_time_bias(bias);
    rep->set_percent_deadband(deadband);
    rep->set_lcid(lcid);
    rep->set_client_group(client);
    rep->set_server_group(server);
  }

  void DoSetState(Session& s, const pb::SetStateRequest& req, pb::SetStateReply* rep) {
    HRESULT hr;
    auto state = GroupAs<IOPCGroupStateMgt>(s, req.group(), &hr);
    if (!state) return rep->set_hr(hr);
    DWORD rate = req.requested_update_rate();
    BOOL active = req.active() ? TRUE : FALSE;
    LONG bias = req.time_bias();
    float deadband = req.percent_deadband();
    LCID lcid = req.lcid();
    OPCHANDLE client = req.client_group();
    DWORD revised = 0;
    rep->set_hr(state->SetState(req.has_requested_update_rate() ? &rate : nullptr, &revised,
                                req.has_active() ? &active : nullptr, req.has_time_bias() ? &bias : nullptr,
                                req.has_percent_deadband() ? &deadband : nullptr, req.has_lcid() ? &lcid : nullptr,
                                req.has_client_group() ? &client : nullptr));
    rep->set_revised_update_rate(revised);
  }

  void DoSetName(Session& s, const pb::SetNameRequest& req, pb::HResultReply* rep) {
    HRESULT hr;
    auto state = GroupAs<IOPCGroupStateMgt>(s, req.group(), &hr);
    rep->set_hr(state ? state->SetName(req.name()) : hr);
  }

  void DoSyncRead(Session& s, const pb::ReadRequest& req, pb::ItemStatesReply* rep) {
    HRESULT hr;
    auto io = GroupAs<IOPCSyncIO>(s, req.group(), &hr);
    if (!io) return rep->set_hr(hr);
    if (req.count() != static_cast<uint32_t>(req.server_handles_size())) return rep->set_hr(E_INVALIDARG);
    std::vector<OPCITEMSTATE> states;
    std::vector<HRESULT> errors;
    hr = io->Read(static_cast<OPCDATASOURCE>(req.source()), req.count(), Handles(req.server_handles()), &states,
                  &errors);
    rep->set_hr(hr);
    if (FAILED(hr)) return;
    for (const OPCITEMSTATE& st : states) wire::EncodeItemState(st, rep->add_states());
    CopyErrors(errors, rep);
  }

  // Checks a write's counts and decodes its values; false (E_INVALIDARG set) when they disagree.
  template <class Reply>
  static bool WriteArgs(const pb::WriteRequest& req, std::vector<Variant>* values, Reply* rep) {
    if (req.count() != static_cast<uint32_t>(req.server_handles_size()) ||
        req.count() != static_cast<uint32_t>(req.values_size()) || !DecodeValues(req.values(), values)) {
      rep->set_hr(E_INVALIDARG);
      return false;
    }
    return true;
  }

  void DoSyncWrite(Session& s, const pb::WriteRequest& req, pb::ErrorsReply* rep) {
    HRESULT hr;
    auto io = GroupAs<IOPCSyncIO>(s, req.group(), &hr);
    if (!io) return rep->set_hr(hr);
    std::vector<Variant> values;
    if (!WriteArgs(req, &values, rep)) return;
    std::vector<HRESULT> errors;
    rep->set_hr(io->Write(req.count(), Handles(req.server_handles()), values.empty() ? nullptr : values.data(), &errors));
    CopyErrors(errors, rep);
  }

  void DoAsyncRead2(Session& s, const pb::ReadRequest& req, pb::AsyncReply* rep) {
    HRESULT hr;
    auto io = GroupAs<IOPCAsyncIO2>(s, req.group(), &hr);
    if (!io) return rep->set_hr(hr);
    if (req.count() != static_cast<uint32_t>(req.server_handles_size())) return rep->set_hr(E_INVALIDARG);
    DWORD cancel = 0;
    std::vector<HRESULT> errors;
    rep->set_hr(io->Read(req.count(), Handles(req.server_handles()), req.transaction_id(), &cancel, &errors));
    rep->set_id(cancel);
    CopyErrors(errors, rep);
  }

  void DoAsyncWrite2(Session& s, const pb::WriteRequest& req, pb::AsyncReply* rep) {
    HRESULT hr;
    auto io = GroupAs<IOPCAsyncIO2>(s, req.group(), &hr);
    if (!io) return rep->set_hr(hr);
    std::vector<Variant> values;
    if (!WriteArgs(req, &values, rep)) return;
    DWORD cancel = 0;
    std::vector<HRESULT> errors;
    rep->set_hr(io->Write(req.count(), Handles(req.server_handles()), values.empty() ? nullptr : values.data(),
                          req.transaction_id(), &cancel, &errors));
    rep->set_id(cancel);
    CopyErrors(errors, rep);
  }

  void DoRefresh2(Session& s, const pb::RefreshRequest& req, pb::AsyncReply* rep) {
    HRESULT hr;
    auto io = GroupAs<IOPCAsyncIO2>(s, req.group(), &hr);
    if (!io) return rep->set_hr(hr);
    DWORD cancel = 0;
    rep->set_hr(io->Refresh2(static_cast<OPCDATASOURCE>(req.source()), req.transaction_id(), &cancel));
    rep->set_id(cancel);
  }

  void DoCancel2(Session& s, const pb::CancelRequest& req, pb::HResultReply* rep) {
    HRESULT hr;
    auto io = GroupAs<IOPCAsyncIO2>(s, req.group(), &hr);
    rep->set_hr(io ? io->Cancel2(req.cancel_id()) : hr);
  }

  void DoAsyncWrite(Session& s, const pb::WriteRequest& req, pb::AsyncReply* rep) {
    HRESULT hr;
    auto io = GroupAs<IOPCAsyncIO>(s, req.group(), &hr);
    if (!io) return rep->set_hr(hr);
    std::vector<Variant> values;
    if (!WriteArgs(req, &values, rep)) return;
    DWORD transaction = 0;
    std::vector<HRESULT> errors;
    rep->set_hr(io->Write(req.connection(), req.count(), Handles(req.server_handles()),
                          values.empty() ? nullptr : values.data(), &transaction, &errors));
    rep->set_id(transaction);
    CopyErrors(errors, rep);
  }

  void ReleaseLock() {
    if (lock_fd_ >= 0) {
      close(lock_fd_);
      lock_fd_ = -1;
    }
  }

  const CLSID clsid_;
  Factory factory_;
  ServeOptions options_;
  WorkerPool pool_;
  EventBudget budget_;
  const std::function<void(const std::string&)> log_;
  std::unique_ptr<grpc::Server> server_;
  std::unique_ptr<UnixListener> listener_;
  int peer_lines_ = 0;  // the error log takes the transport library's lines about peers
  std::string socket_path_;
  std::string target_;
  uint16_t remote_port_ = 0;
  int lock_fd_ = -1;
  bool own_socket_ = false;
  std::mutex mutex_;
  bool stopped_ = false;
  std::map<std::string, std::shared_ptr<Session>> sessions_;
  // Sessions by connection (the transport's peer text) and in all, counted from the start of
  // Connect; the count when the memory was last returned, or the highest since.
  std::map<std::string, size_t> per_connection_;
  size_t session_count_ = 0;
  size_t trim_mark_ = 0;
  std::condition_variable sessions_ended_;
};

// ---------------------------------------------------------------------------------------

ServerEndpoint::ServerEndpoint(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ServerEndpoint::~ServerEndpoint() { Stop(); }

HRESULT ServerEndpoint::Start(const CLSID& clsid, Factory factory, const ServeOptions& options,
                              std::unique_ptr<ServerEndpoint>* out, std::string* error_text) {
  if (!out) return E_POINTER;
  out->reset();
  if (!factory) return E_INVALIDARG;
  std::string error;
  ServeOptions settled = options;
  if (!settled.remote && !settled.remote_config_file.empty() &&
      !ConfigureRemoteAccess(&settled, &error, settled.remote_config_file)) {
    if (error_text) *error_text = error;
    return E_ACCESSDENIED;
  }
  auto impl = std::make_unique<Impl>(clsid, std::move(factory), settled);
  HRESULT hr = impl->Start(&error);
  if (FAILED(hr)) {
    if (error_text) *error_text = error;
    return hr;
  }
  out->reset(new ServerEndpoint(std::move(impl)));
  return S_OK;
}

const std::string& ServerEndpoint::Target() const { return impl_->Target(); }
const std::string& ServerEndpoint::SocketPath() const { return impl_->SocketPath(); }
size_t ServerEndpoint::ClientCount() const { return impl_->ClientCount(); }
size_t ServerEndpoint::QueuedEventBytes() const { return impl_->QueuedEventBytes(); }
uint16_t ServerEndpoint::RemotePort() const { return impl_->RemotePort(); }
void ServerEndpoint::Stop(std::chrono::milliseconds grace) { impl_->Stop(grace); }

bool ConfigureRemoteAccess(ServeOptions* options, std::string* error, const std::string& config_file) {
  options->remote.reset();
  RemoteConfig config;
  if (!LoadRemoteConfig(config_file, &config, error)) return false;
  if (!config.Listens()) return true;
  RemoteListen remote;
  if (!LoadTlsMaterial(config, &remote.tls, error)) return false;
  remote.address = config.address;
  remote.port = config.server_port;
  options->remote = std::move(remote);
  return true;
}

std::string DefaultSocketDir() { return UserRuntimeDir(); }

}  // namespace platform::com::rpc
