#include "host/service/opc_service.h"

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <mutex>

#include "platform/com/class_registry.h"
#include "platform/com/enum.h"
#include "platform/com/rpc/channel.h"
#include "platform/com/rpc/local_activation.h"
#include "platform/com/rpc/opc.grpc.pb.h"
#include "platform/com/rpc/wire.h"
#include "platform/com/server_list.h"
#include "platform/debug_output.h"

namespace host {

namespace com = platform::com;
namespace rpc = platform::com::rpc;
namespace pb = qar::com;

namespace {

// The categories of a request; false when one is not a GUID.
bool DecodeCategories(const google::protobuf::RepeatedPtrField<std::string>& in, std::vector<com::CATID>* out) {
  for (const std::string& bytes : in) {
    com::GUID g;
    if (!com::wire::DecodeGuid(bytes, &g)) return false;
    out->push_back(g);
  }
  return true;
}

template <class T>
const T* Data(const std::vector<T>& v) {
  return v.empty() ? nullptr : v.data();
}

}  // namespace

bool OpcServiceOptionsFromConfig(const std::string& config_file, OpcServiceOptions* out, std::string* error) {
  rpc::RemoteConfig config;
  if (!rpc::LoadRemoteConfig(config_file, &config, error)) return false;
  if (!config.Listens()) {
    *error = "remote access is off: " +
             (config.exists ? "[Remote] of " + config.file + " names no Address"
                            : (config.file.empty() ? std::string("no configuration file") : config.file + " does not exist"));
    return false;
  }
  if (!rpc::LoadTlsMaterial(config, &out->tls, error)) return false;
  out->address = config.address;
  out->port = config.service_port;
  return true;
}

class OpcService::Impl final : public pb::OpcService::Service {
 public:
  explicit Impl(OpcServiceOptions options) : options_(std::move(options)), reg_(options_.registry_file) {}
  ~Impl() override { Stop(); }

  com::HRESULT Start(std::string* error) {
    const rpc::HostPort where{options_.address, options_.port};
    std::string target;
    if (!rpc::ListenTarget(where, &target, error)) return com::E_FAIL;
    grpc::ServerBuilder builder;
    // Without this a second service could bind the same port and take part of the calls.
    builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
    // Clients ping to find a hung service within seconds.
    rpc::PermitClientPings(builder);
    int port = 0;
    builder.AddListeningPort(target, rpc::ServerTlsCredentials(options_.tls), &port);
    builder.RegisterService(this);
    server_ = builder.BuildAndStart();
    if (!server_ || port <= 0) {
      *error = "cannot listen on " + where.Text() +
               " (is the port free, the address one of this computer's, and do certificate and key belong together?)";
      if (server_) Stop();
      return com::E_FAIL;
    }
    port_ = static_cast<uint16_t>(port);
    return com::S_OK;
  }

  void Stop() {
    std::lock_guard lock(stop_mutex_);
    if (!server_) return;
    server_->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(2));
    server_.reset();
  }

  uint16_t Port() const { return port_; }

  grpc::Status CreateServerList(grpc::ServerContext*, const pb::Empty*, pb::HResultReply* rep) override {
    rep->set_hr(com::S_OK);
    return grpc::Status::OK;
  }

  grpc::Status EnumClassesOfCategories(grpc::ServerContext*, const pb::CategoriesRequest* req,
                                       pb::ClassesReply* rep) override {
    std::vector<com::CATID> implemented, required;
    if (!DecodeCategories(req->implemented(), &implemented) || !DecodeCategories(req->required(), &required)) {
      rep->set_hr(com::E_INVALIDARG);
      return grpc::Status::OK;
    }
    std::shared_ptr<com::IEnumGUID> classes;
    com::HRESULT hr = com::NewRegistryServerList(reg_)->EnumClassesOfCategories(
        static_cast<com::ULONG>(implemented.size()), Data(implemented), static_cast<com::ULONG>(required.size()),
        Data(required), &classes);
    rep->set_hr(hr);
    if (com::SUCCEEDED(hr) && classes) {
      for (const com::GUID& g : com::ReadAll<com::GUID>(classes.get())) rep->add_clsids(com::wire::EncodeGuid(g));
    }
    return grpc::Status::OK;
  }

  grpc::Status GetClassDetails(grpc::ServerContext*, const pb::ClassRequest* req, pb::ClassDetailsReply* rep) override {
    com::CLSID clsid;
    if (!com::wire::DecodeGuid(req->clsid(), &clsid)) {
      rep->set_hr(com::E_INVALIDARG);
      return grpc::Status::OK;
    }
    std::string prog_id, user_type;
    rep->set_hr(com::NewRegistryServerList(reg_)->GetClassDetails(clsid, &prog_id, &user_type));
    rep->set_prog_id(prog_id);
    rep->set_user_type(user_type);
    return grpc::Status::OK;
  }

  grpc::Status Activate(grpc::ServerContext*, const pb::ClassRequest* req, pb::ActivateReply* rep) override {
    com::CLSID clsid;
    if (!com::wire::DecodeGuid(req->clsid(), &clsid)) {
      rep->set_hr(com::E_INVALIDARG);
      rep->set_error("the class is no GUID");
      return grpc::Status::OK;
    }
    const std::string clsid_text = com::GuidToString(clsid);
    const auto wait = std::chrono::milliseconds(options_.start_timeout_ms);
    platform::Clock& clock = options_.clock ? *options_.clock : platform::DefaultClock();
    uint16_t port = 0;
    std::string error;
    com::HRESULT hr = rpc::FindOrStartServer(
        clsid, reg_, clock, options_.start_timeout_ms,
        [&](const com::RunningServer& running, std::string* why) {
          if (!rpc::ChannelReady(rpc::MakeChannel(running.endpoint).get(), wait)) {
            *why = "nothing answers at " + running.endpoint;
            return com::RPC_E_DISCONNECTED;
          }
          if (running.remote_port == 0) {
            *why = "server " + clsid_text + " runs without remote access (it was started before remote access was "
                   "configured; it takes calls from other computers once restarted)";
            return com::RPC_S_SERVER_UNAVAILABLE;
          }
          port = running.remote_port;
          return com::S_OK;
        },
        &error);
    rep->set_hr(hr);
    if (com::FAILED(hr)) {
      rep->set_error(error);
      platform::OutputDebugString("qar-opcservice: activation of " + clsid_text + " failed: " + error + "\n");
    } else {
      rep->set_port(port);
    }
    return grpc::Status::OK;
  }

 private:
  const OpcServiceOptions options_;
  const platform::Registry reg_;
  std::mutex stop_mutex_;
  std::unique_ptr<grpc::Server> server_;
  uint16_t port_ = 0;
};

OpcService::OpcService(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
OpcService::~OpcService() { Stop(); }

com::HRESULT OpcService::Start(const OpcServiceOptions& options, std::unique_ptr<OpcService>* out,
                               std::string* error) {
  if (!out) return com::E_POINTER;
  out->reset();
  auto impl = std::make_unique<Impl>(options);
  if (com::HRESULT hr = impl->Start(error); com::FAILED(hr)) return hr;
  out->reset(new OpcService(std::move(impl)));
  return com::S_OK;
}

uint16_t OpcService::Port() const { return impl_->Port(); }
void OpcService::Stop() { impl_->Stop(); }

}  // namespace host
