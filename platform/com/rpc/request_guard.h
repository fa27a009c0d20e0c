// What the server answers to a request that is no valid message (bytes that do not parse, a
// text field that is not UTF-8): INVALID_ARGUMENT, where the transport library would answer
// UNIMPLEMENTED. The protocol library's complaints about such input are kept off stderr, so
// that no client can fill the server's error output.
#pragma once

#include <grpcpp/support/server_interceptor.h>

namespace platform::com::rpc {

class MalformedRequestAnswer final : public grpc::experimental::ServerInterceptorFactoryInterface {
 public:
  MalformedRequestAnswer();  // also quiets the protocol library's parse complaints, for good
  grpc::experimental::Interceptor* CreateServerInterceptor(grpc::experimental::ServerRpcInfo* info) override;
};

}  // namespace platform::com::rpc
