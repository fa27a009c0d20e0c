// What the server answers to a request that is no valid message (bytes that do not parse, a
// text field that is not UTF-8): INVALID_ARGUMENT, where the transport library would answer
// UNIMPLEMENTED. The protocol library's complaints about such input are kept off stderr, and
// the transport library's lines about what a peer sent (a failed TLS handshake, a malformed
// HTTP/2 frame) go to the server's error log with repeats counted, so that no client and no
// network peer can fill the server's error output.
#pragma once

#include <grpcpp/support/server_interceptor.h>

#include <functional>
#include <string>

namespace platform::com::rpc {

// Where the transport library's lines about what peers sent go, for the whole process: log,
// where a line that repeats the one before is counted, not written again (the count follows
// with the next other line, or when log is replaced). nullptr: back to stderr as the library
// writes them. Returns an id for StopPeerLines.
int SendPeerLinesTo(std::function<void(const std::string&)> log);
// Back to stderr, when id is still the one set last.
void StopPeerLines(int id);

class MalformedRequestAnswer final : public grpc::experimental::ServerInterceptorFactoryInterface {
 public:
  MalformedRequestAnswer();  // also quiets the protocol library's parse complaints, for good
  grpc::experimental::Interceptor* CreateServerInterceptor(grpc::experimental::ServerRpcInfo* info) override;
};

}  // namespace platform::com::rpc
