#include "platform/com/rpc/server_list.h"

#include <chrono>

#include "platform/com/rpc/channel.h"
#include "platform/com/rpc/opc.grpc.pb.h"
#include "platform/com/rpc/wire.h"
#include "platform/com/server_list.h"

namespace platform::com::rpc {

namespace pb = qar::com;

namespace {

class RemoteServerList final : public IOPCServerList, public std::enable_shared_from_this<RemoteServerList> {
 public:
  RemoteServerList(std::unique_ptr<pb::OpcService::Stub> stub, uint32_t call_timeout_ms)
      : stub_(std::move(stub)), call_timeout_ms_(call_timeout_ms) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCServerList});
  }

  HRESULT EnumClassesOfCategories(ULONG cImplemented, const CATID* rgcatidImpl, ULONG cRequired,
                                  const CATID* rgcatidReq, std::shared_ptr<IEnumGUID>* ppenumClsid) override {
    if (!ppenumClsid || (cImplemented && !rgcatidImpl) || (cRequired && !rgcatidReq)) return E_POINTER;
    ppenumClsid->reset();
    pb::CategoriesRequest req;
    for (ULONG i = 0; i < cImplemented; ++i) req.add_implemented(wire::EncodeGuid(rgcatidImpl[i]));
    for (ULONG i = 0; i < cRequired; ++i) req.add_required(wire::EncodeGuid(rgcatidReq[i]));
    pb::ClassesReply rep;
    HRESULT hr = Call(&pb::OpcService::Stub::EnumClassesOfCategories, req, &rep);
    if (FAILED(hr)) return hr;
    std::vector<GUID> classes;
    for (const std::string& bytes : rep.clsids()) {
      GUID g;
      if (!wire::DecodeGuid(bytes, &g)) return E_FAIL;  // a list that does not decode is no list
      classes.push_back(g);
    }
    *ppenumClsid = std::make_shared<GuidListEnum>(std::move(classes));
    return hr;
  }

  HRESULT GetClassDetails(const CLSID& clsid, std::string* ppszProgID, std::string* ppszUserType) override {
    if (!ppszProgID || !ppszUserType) return E_POINTER;
    pb::ClassRequest req;
    req.set_clsid(wire::EncodeGuid(clsid));
    pb::ClassDetailsReply rep;
    HRESULT hr = Call(&pb::OpcService::Stub::GetClassDetails, req, &rep);
    if (FAILED(hr)) return hr;
    *ppszProgID = rep.prog_id();
    *ppszUserType = rep.user_type();
    return hr;
  }

 private:
  template <class Req, class Rep>
  HRESULT Call(grpc::Status (pb::OpcService::Stub::*method)(grpc::ClientContext*, const Req&, Rep*), const Req& req,
               Rep* rep) {
    grpc::ClientContext ctx;
    ctx.set_deadline(std::chrono::system_clock::now() + std::chrono::milliseconds(call_timeout_ms_));
    grpc::Status st = (stub_.get()->*method)(&ctx, req, rep);
    if (st.ok()) return rep->hr();
    if (st.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED) return RPC_E_TIMEOUT;
    return RPC_E_DISCONNECTED;
  }

  std::unique_ptr<pb::OpcService::Stub> stub_;
  const uint32_t call_timeout_ms_;
};

}  // namespace

HRESULT CreateServerList(const ActivationOptions& options, std::shared_ptr<IOPCServerList>* out,
                         std::string* error_text) {
  if (!out) return E_POINTER;
  out->reset();
  if (IsLocalComputer(options.computer_name)) {
    *out = NewRegistryServerList(platform::Registry(options.registry_file));
    return S_OK;
  }
  std::string error;
  auto fail = [&](HRESULT hr) {
    if (error_text) *error_text = error;
    return hr;
  };
  HostPort service;
  RemoteSecurity security;
  if (HRESULT hr = PrepareRemote(options.remote_config_file, options.computer_name, &service, &security, &error);
      FAILED(hr)) {
    return fail(hr);
  }
  auto stub = pb::OpcService::NewStub(MakeChannel(service.Target(), &security));
  grpc::ClientContext ctx;
  ctx.set_deadline(std::chrono::system_clock::now() + std::chrono::milliseconds(options.call_timeout_ms));
  pb::HResultReply rep;
  grpc::Status st = stub->CreateServerList(&ctx, pb::Empty(), &rep);
  if (!st.ok()) return fail(RemoteFailure(st, security.computer_name, service.Text(), &error));
  if (FAILED(rep.hr())) {
    error = "computer " + security.computer_name + " did not create its server list";
    return fail(rep.hr());
  }
  *out = std::make_shared<RemoteServerList>(std::move(stub), options.call_timeout_ms);
  return S_OK;
}

}  // namespace platform::com::rpc
