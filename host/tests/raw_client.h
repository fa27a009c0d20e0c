// For end-to-end tests and benchmarks: a client of the host's raw protocol, past every check of
// the client library, as a careless or hostile program would talk to the host.
#pragma once

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <memory>
#include <string>

#include "host/tests/installed_host.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/opc.grpc.pb.h"
#include "platform/com/rpc/wire.h"

namespace host::testing {

struct RawClient {
  using Stub = qar::com::OpcServer::Stub;
  std::unique_ptr<Stub> stub;
  grpc::ClientContext stream;
  std::unique_ptr<grpc::ClientReader<qar::com::Event>> reader;
  std::string session;  // empty when the host did not take the client

  explicit RawClient(const std::string& target) {
    grpc::ChannelArguments args;
    args.SetMaxSendMessageSize(64 << 20);
    stub = qar::com::OpcServer::NewStub(grpc::CreateCustomChannel(target, grpc::InsecureChannelCredentials(), args));
    qar::com::ConnectRequest req;
    req.set_clsid(platform::com::wire::EncodeGuid(kOstrelClsid));
    reader = stub->Connect(&stream, req);
    qar::com::Event first;
    if (reader->Read(&first)) session = first.connected().session();
  }
  // The client goes: its stream ends, and with it its session.
  ~RawClient() {
    stream.TryCancel();
    qar::com::Event e;
    while (reader->Read(&e)) {
    }
    reader->Finish();
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // One call, given up after `limit`.
  template <class Req, class Rep>
  grpc::Status Call(grpc::Status (Stub::*m)(grpc::ClientContext*, const Req&, Rep*), const Req& req, Rep* rep,
                    std::chrono::seconds limit = std::chrono::seconds(60)) {
    grpc::ClientContext ctx;
    ctx.AddMetadata("qar-session", session);
    ctx.set_deadline(std::chrono::system_clock::now() + limit);
    return (stub.get()->*m)(&ctx, req, rep);
  }
  // An active group; its server handle, 0 when refused.
  uint32_t AddGroup() {
    qar::com::AddGroupRequest add;
    add.set_active(true);
    add.set_requested_update_rate(1000);
    qar::com::AddGroupReply rep;
    return Call(&Stub::AddGroup, add, &rep).ok() && rep.hr() == 0 ? rep.server_group() : 0;
  }
  // AddItems of `n` active items of `group`, client handles 0 to n-1: `id` followed by the
  // item's number, or `id` alone for every item when `numbered` is false.
  static qar::com::ItemsRequest ActiveItems(uint32_t group, int n, const std::string& id, bool numbered = true) {
    qar::com::ItemsRequest items;
    items.set_group(group);
    items.set_count(n);
    for (int i = 0; i < n; ++i) {
      auto* d = items.add_items();
      d->set_item_id(numbered ? id + std::to_string(i) : id);
      d->set_active(true);
      d->set_client_handle(static_cast<uint32_t>(i));
    }
    return items;
  }
  // The group's data callback, to the client's sink 1; whether the server took it.
  bool AdviseData(uint32_t group) {
    qar::com::AdviseRequest advise;
    advise.set_on_group(true);
    advise.set_group(group);
    advise.set_iid(platform::com::wire::EncodeGuid(platform::com::IID_IOPCDataCallback));
    advise.set_sink(1);
    qar::com::AdviseReply advised;
    return Call(&Stub::Advise, advise, &advised).ok() && advised.hr() == 0;
  }
};

}  // namespace host::testing
